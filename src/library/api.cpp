// The C interface of the library: validation, error codes and messages, and
// the instances, each a StreamFilter.
#include <stdio.h>
#include <string.h>

#include <new>
#include <string>
#include <system_error>

#include "common/cpu_flags.h"
#include "library/settings_fields.h"
#include "library/stream_filter.h"
#include "library/thread_pool.h"
#include "pipeline/instance.h"
#include "pipeline/settings.h"
#include "velvane/velvane.h"

struct VelvaneFilter {
    velvane::StreamFilter stream;
    VelvaneSettings settings;
    std::string error;
};

namespace velvane {
namespace {

constexpr int kMinSize = 4;

void writeMessage(char *message, size_t size, const std::string &text)
{
    if (message && size > 0)
        snprintf(message, size, "%s", text.c_str());
}

std::string settingsProblem(const VelvaneSettings *s)
{
    if (!s)
        return "no settings given";
    for (int i = 0; i < VV_TRACK_COUNT; i++) {
        const int v = s->*kTrackFields[i].member;
        if (v < kTrackMinima[i] || v > kTrackMaxima[i])
            return std::string(kTrackFields[i].name) + " is " + std::to_string(v) + "; it must lie within " +
                   std::to_string(kTrackMinima[i]) + ".." + std::to_string(kTrackMaxima[i]);
    }
    for (const SettingsField &f : kCheckFields) {
        const int v = s->*f.member;
        if (v != 0 && v != 1)
            return std::string(f.name) + " is " + std::to_string(v) + "; it must be 0 or 1";
    }
    return std::string();
}

FrameSettings frameSettings(const VelvaneSettings &s)
{
    int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        track[i] = s.*kTrackFields[i].member;
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        check[i] = s.*kCheckFields[i].member;
    return settingsFromArrays(track, check);
}

std::string configProblem(const VelvaneConfig *c)
{
    if (!c)
        return "no configuration given";
    if (c->width < kMinSize || c->height < kMinSize)
        return "frames of " + std::to_string(c->width) + " x " + std::to_string(c->height) +
               " are too small: the filter needs at least " + std::to_string(kMinSize) + " x " +
               std::to_string(kMinSize) + " pixels";
    if (c->width > VV_MAX_WIDTH || c->height > VV_MAX_HEIGHT)
        return "frames of " + std::to_string(c->width) + " x " + std::to_string(c->height) +
               " are larger than the filter's limit of " + std::to_string((int)VV_MAX_WIDTH) + " x " +
               std::to_string((int)VV_MAX_HEIGHT);
    if (c->threads < 0 || c->threads > kMaxWorkers)
        return "threads is " + std::to_string(c->threads) + "; it must lie within 0.." + std::to_string(kMaxWorkers) +
               " (0: one for each processor thread)";
    return settingsProblem(&c->settings);
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

} // namespace
} // namespace velvane

using namespace velvane;

extern "C" {

#define VELVANE_STRING(x) #x
#define VELVANE_VERSION_TEXT(a, b, c) VELVANE_STRING(a) "." VELVANE_STRING(b) "." VELVANE_STRING(c)

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
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        s->*kTrackFields[i].member = kTrackDefaults[i];
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        s->*kCheckFields[i].member = kCheckDefaults[i];
    // Frames in a library's hands are 4:2:2; the plug-in's host delivers 4:1:1 material.
    s->interpolate_411 = 0;
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
                                                 frameSettings(config->settings), threadCount(config->threads)),
                                    config->settings, std::string()};
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
    try {
        return record(f, f->stream.send(frame));
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
    return record(f, f->stream.receive(*frame));
}

int velvane_flush(VelvaneFilter *f)
{
    if (!f)
        return VELVANE_EINVAL;
    f->stream.flush();
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
    f->stream.setSettings(frameSettings(*settings));
    return record(f, VELVANE_OK);
}

int velvane_get_settings(const VelvaneFilter *f, VelvaneSettings *settings)
{
    if (!f || !settings)
        return VELVANE_EINVAL;
    *settings = f->settings;
    return VELVANE_OK;
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
