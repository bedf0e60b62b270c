// The C interface of the library: validation, error codes and messages, and
// the instances, each a StreamFilter.
#include <stdio.h>
#include <string.h>

#include <new>
#include <string>
#include <system_error>

#include "common/cpu_flags.h"
#include "library/frame_io.h"
#include "library/settings_fields.h"
#include "library/settings_table.h"
#include "library/stream_filter.h"
#include "library/thread_pool.h"
#include "pipeline/instance.h"
#include "pipeline/strength.h"
#include "wavelet/dsp.h"
#include "velvane/velvane.h"

struct VelvaneFilter {
    velvane::StreamFilter stream;
    VelvaneSettings settings;
    mutable std::string error; // the getters, const, say why they failed too
    int width, height;
    bool ended = false; // the end of the clip was sent
};

namespace velvane {
namespace {

constexpr int kMinSize = VELVANE_MIN_SIZE;
static_assert(VELVANE_MAX_WIDTH <= kWaveLength && VELVANE_MAX_HEIGHT <= kWaveLength,
              "the dot pass's work memory spans every frame the library takes");

void writeMessage(char *message, size_t size, const std::string &text)
{
    if (message && size > 0)
        snprintf(message, size, "%s", text.c_str());
}

static_assert(kWideThresholdMax == VELVANE_THRESHOLD_MAX, "the header states the library's range");

// Room a later version fills; 0 here, whatever it comes to mean.
std::string reservedProblem(const char *what, const int *reserved, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (reserved[i] != 0)
            return std::string(what) + ".reserved[" + std::to_string(i) + "] is " + std::to_string(reserved[i]) +
                   "; it must be 0 (the setting of a later version of the library, which this one does not know)";
    return std::string();
}

// "VELVANE_STRENGTH_*" of the setting "strength".
std::string choiceConstants(const SettingRow &r)
{
    std::string name = r.name;
    for (char &c : name)
        c = (char)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return "VELVANE_" + name + "_*";
}

std::string settingsProblem(const VelvaneSettings *s)
{
    if (!s)
        return "no settings given";
    // The strength first: it says whether the others may be left to it.
    const SettingRow &strengthRow = *settingRow(&VelvaneSettings::strength);
    const bool strength = s->strength != VELVANE_STRENGTH_CUSTOM;
    for (int pass = 0; pass < 2; pass++)
        for (const SettingRow &r : kSettingRows) {
            if ((pass == 0) != (&r == &strengthRow))
                continue;
            const int v = s->*r.member;
            const std::string name = r.name;
            if (r.fromStrength && v == VELVANE_FROM_STRENGTH) {
                if (!strength)
                    return name + " is VELVANE_FROM_STRENGTH, but no strength is chosen (strength is "
                                  "VELVANE_STRENGTH_CUSTOM)";
                continue;
            }
            if (v >= r.min && v <= r.max)
                continue;
            switch (r.kind) {
            case VELVANE_SETTING_SWITCH: return name + " is " + std::to_string(v) + "; it must be 0 or 1";
            case VELVANE_SETTING_CHOICE:
                return name + " is " + std::to_string(v) + "; it must be one of " + choiceConstants(r) + " (" +
                       std::to_string(r.min) + ".." + std::to_string(r.max) + ")";
            }
            return name + " is " + std::to_string(v) + "; it must lie within " + std::to_string(r.min) + ".." +
                   std::to_string(r.max) + (r.fromStrength && strength ? ", or be VELVANE_FROM_STRENGTH" : "");
        }
    if (s->show == VELVANE_SHOW_DOTS && s->dot_removal == 0)
        return "show is VELVANE_SHOW_DOTS, but dot_removal is 0: the dot pass is off and takes nothing out";
    return reservedProblem("settings", s->reserved, sizeof s->reserved / sizeof s->reserved[0]);
}

// What the size and the strides of a frame say against the instance's.
std::string frameSizeProblem(const VelvaneFrame &f, int width, int height)
{
    if (f.width != width || f.height != height)
        return "the frame is " + std::to_string(f.width) + " x " + std::to_string(f.height) +
               " (its width and height), but the instance filters frames of " + std::to_string(width) + " x " +
               std::to_string(height);
    const int planes = f.format == VELVANE_PIXEL_YC48 ? 1 : 3;
    for (int p = 0; p < planes; p++)
        if (f.stride[p] < 0)
            return "plane " + std::to_string(p) + "'s stride is negative (" + std::to_string((long long)f.stride[p]) +
                   "): bottom-up frames are not taken; give the rows top to bottom";
    return std::string();
}

std::string configProblem(const VelvaneConfig *c)
{
    if (!c)
        return "no configuration given";
    if (c->width < kMinSize || c->height < kMinSize)
        return "frames of " + std::to_string(c->width) + " x " + std::to_string(c->height) +
               " are too small: the filter needs at least " + std::to_string(kMinSize) + " x " +
               std::to_string(kMinSize) + " pixels";
    if (c->width > VELVANE_MAX_WIDTH || c->height > VELVANE_MAX_HEIGHT)
        return "frames of " + std::to_string(c->width) + " x " + std::to_string(c->height) +
               " are larger than the filter's limit of " + std::to_string(VELVANE_MAX_WIDTH) + " x " +
               std::to_string(VELVANE_MAX_HEIGHT) + " (standard-definition video)";
    if (c->threads < 0 || c->threads > kMaxWorkers)
        return "threads is " + std::to_string(c->threads) + "; it must lie within 0.." + std::to_string(kMaxWorkers) +
               " (0: one for each processor thread)";
    const std::string reserved = reservedProblem("config", c->reserved, sizeof c->reserved / sizeof c->reserved[0]);
    return reserved.empty() ? settingsProblem(&c->settings) : reserved;
}

unsigned kernelFlags(unsigned mask)
{
    unsigned flags = cpuSimdFlags();
    if (!(mask & VELVANE_CPU_SSE2))
        flags = 0; // the scalar references: AVX2 kernels are chosen only on top of SSE2 ones
    if (!(mask & VELVANE_CPU_AVX2))
        flags &= ~(unsigned)(CPU_AVX2 | CPU_AVX512); // AVX-512 kernels are chosen only on top of AVX2 ones
    if (!(mask & VELVANE_CPU_AVX512))
        flags &= ~(unsigned)CPU_AVX512;
    return flags;
}

int threadCount(int threads)
{
    if (threads < 0 || threads > kMaxWorkers)
        return 0;
    if (threads > 0)
        return threads;
    const int n = processorThreads();
    return n < kMaxWorkers ? n : kMaxWorkers;
}

int record(VelvaneFilter *f, int status)
{
    f->error = status == VELVANE_OK ? std::string() : f->stream.error();
    return status;
}

// A getter's answer into `out`, which must be given (`what` names it).
template <class T, class Get> int answer(const VelvaneFilter *f, T *out, const char *what, Get get)
{
    if (!f)
        return VELVANE_EINVAL;
    if (!out) {
        f->error = std::string("no place for the ") + what + " given";
        return VELVANE_EINVAL;
    }
    *out = get();
    f->error.clear();
    return VELVANE_OK;
}

} // namespace
} // namespace velvane

using namespace velvane;

extern "C" {

#define VELVANE_STRING(x) #x
#define VELVANE_VERSION_TEXT(a, b, c) VELVANE_STRING(a) "." VELVANE_STRING(b) "." VELVANE_STRING(c)

unsigned velvane_cpu_levels(unsigned cpu_mask)
{
    const unsigned flags = kernelFlags(cpu_mask);
    return ((flags & CPU_SSE2) ? VELVANE_CPU_SSE2 : 0u) | ((flags & CPU_AVX2) ? VELVANE_CPU_AVX2 : 0u) |
           ((flags & CPU_AVX512) ? VELVANE_CPU_AVX512 : 0u);
}

const char *velvane_version(void)
{
    return VELVANE_VERSION_TEXT(VELVANE_VERSION_MAJOR, VELVANE_VERSION_MINOR, VELVANE_VERSION_PATCH);
}

const char *velvane_status_string(int status)
{
    switch (status) {
    case VELVANE_OK: return "success";
    case VELVANE_EAGAIN: return "not now: send or receive frames first";
    case VELVANE_EOF: return "the clip has no more frames";
    case VELVANE_EINVAL: return "invalid argument";
    case VELVANE_ENOMEM: return "out of memory";
    case VELVANE_EUNSUPPORTED: return "not supported by the filter";
    default: return "unknown status";
    }
}

void velvane_default_settings(VelvaneSettings *s)
{
    if (!s)
        return;
    memset(s, 0, sizeof *s);
    for (const SettingRow &r : kSettingRows)
        s->*r.member = r.defaultValue;
}

void velvane_default_config(VelvaneConfig *c)
{
    if (!c)
        return;
    memset(c, 0, sizeof *c);
    c->width = VV_MAX_WIDTH;
    c->height = VV_MAX_HEIGHT;
    c->threads = 1;
    c->cpu_mask = VELVANE_CPU_ALL;
    velvane_default_settings(&c->settings);
}

int velvane_set_strength(VelvaneSettings *s, int strength)
{
    if (!s || strength < VELVANE_STRENGTH_CUSTOM || strength > VELVANE_STRENGTH_AUTO)
        return VELVANE_EINVAL;
    s->strength = strength;
    for (const SettingRow &r : kSettingRows)
        if (r.fromStrength)
            s->*r.member = strength == VELVANE_STRENGTH_CUSTOM ? r.defaultValue : VELVANE_FROM_STRENGTH;
    return VELVANE_OK;
}

int velvane_check_settings(const VelvaneSettings *settings, char *message, size_t size)
{
    const std::string problem = settingsProblem(settings);
    writeMessage(message, size, problem);
    return problem.empty() ? VELVANE_OK : VELVANE_EINVAL;
}

int velvane_open(VelvaneFilter **filter, const VelvaneConfig *config, char *message, size_t size)
{
    if (!filter) {
        writeMessage(message, size, "no place for the instance given");
        return VELVANE_EINVAL;
    }
    *filter = nullptr;
    const std::string problem = configProblem(config);
    if (!problem.empty()) {
        writeMessage(message, size, problem);
        return VELVANE_EINVAL;
    }
    try {
        *filter = new VelvaneFilter{StreamFilter(config->width, config->height, kernelFlags(config->cpu_mask),
                                                 StreamSettings(config->settings), threadCount(config->threads)),
                                    config->settings, std::string(), config->width, config->height};
    } catch (const std::bad_alloc &) {
        writeMessage(message, size, "out of memory");
        return VELVANE_ENOMEM;
    } catch (const std::system_error &e) {
        writeMessage(message, size, std::string("cannot start the filter's threads: ") + e.what());
        return VELVANE_ENOMEM;
    }
    writeMessage(message, size, "");
    return VELVANE_OK;
}

int velvane_send_frame(VelvaneFilter *f, const VelvaneFrame *frame)
{
    if (!f)
        return VELVANE_EINVAL;
    if (!frame && f->ended) {
        f->error = "the end of the clip was sent already";
        return VELVANE_EOF;
    }
    const std::string problem = frame ? frameSizeProblem(*frame, f->width, f->height) : std::string();
    if (!problem.empty()) {
        f->error = "input frame: " + problem;
        return VELVANE_EINVAL;
    }
    try {
        const int status = record(f, f->stream.send(frame));
        if (!frame && status == VELVANE_OK)
            f->ended = true;
        return status;
    } catch (const std::bad_alloc &) {
        f->error = "out of memory";
        return VELVANE_ENOMEM;
    }
}

int velvane_receive_frame(VelvaneFilter *f, VelvaneFrame *frame)
{
    if (!f)
        return VELVANE_EINVAL;
    if (!frame) {
        f->error = "no output frame given";
        return VELVANE_EINVAL;
    }
    // Checked at every call, not only once a frame is ready for it.
    std::string problem = frameSizeProblem(*frame, f->width, f->height);
    if (problem.empty())
        problem = frameProblem(*frame, f->width);
    if (!problem.empty()) {
        f->error = "output frame: " + problem;
        return VELVANE_EINVAL;
    }
    try {
        return record(f, f->stream.receive(*frame));
    } catch (const std::bad_alloc &) {
        f->error = "out of memory";
        return VELVANE_ENOMEM;
    }
}

int velvane_flush(VelvaneFilter *f)
{
    if (!f)
        return VELVANE_EINVAL;
    f->stream.flush();
    f->ended = false;
    return record(f, VELVANE_OK);
}

int velvane_set_settings(VelvaneFilter *f, const VelvaneSettings *settings)
{
    if (!f)
        return VELVANE_EINVAL;
    const std::string problem = settingsProblem(settings);
    if (!problem.empty()) {
        f->error = problem;
        return VELVANE_EINVAL;
    }
    f->settings = *settings;
    f->stream.setSettings(StreamSettings(*settings));
    return record(f, VELVANE_OK);
}


int velvane_get_settings(const VelvaneFilter *f, VelvaneSettings *settings)
{
    return answer(f, settings, "settings", [f] { return f->settings; });
}

int velvane_get_moving(const VelvaneFilter *f, VelvaneMovingReport *report)
{
    return answer(f, report, "report", [f] { return f->stream.movingReport(); });
}

int velvane_get_motion(const VelvaneFilter *f, VelvaneMotionReport *report)
{
    return answer(f, report, "report", [f] {
        const MotionStats m = f->stream.motionStats();
        VelvaneMotionReport r = {};
        r.matched_share = m.matchedShare;
        r.mean_vector = m.meanVector;
        r.noise = m.noise;
        return r;
    });
}

int velvane_get_strength(const VelvaneFilter *f, VelvaneStrengthReport *report)
{
    return answer(f, report, "report", [f] { return f->stream.strengthReport(); });
}

int velvane_thread_count(int threads) { return threadCount(threads); }

int velvane_lookahead(const VelvaneSettings *settings)
{
    return settingsProblem(settings).empty() ? StreamFilter::lookahead(StreamSettings(*settings).motion) : VELVANE_EINVAL;
}

const char *velvane_last_error(const VelvaneFilter *f) { return f ? f->error.c_str() : "no instance given"; }

void velvane_close(VelvaneFilter **f)
{
    if (!f)
        return;
    delete *f;
    *f = nullptr;
}

} // extern "C"
