// The module as a careless host drives it. The input chooses the frame
// geometry (stride and cache height included), the clip length, the order of
// frame requests, every setting (values outside the declared ranges too),
// settings changes between frames, size changes, hosts that refuse the cache
// size, answer null or say the filter is off, repeated init and exit, and
// settings-window messages. Every frame the host serves and every frame it
// passes is a heap block of exactly stride x height pixels, freed as soon as
// the host no longer promises it, so the sanitizers see any stray access.
// The module must return 1 from every call, and once the host behaves again
// a frame must be filtered (the module says so), come out the same as from a
// freshly started module, and the same from the scalar kernels as from the
// vector kernels the input chose.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "common/cpu_flags.h"
#include "embedded_host.h"
#include "fuzz_input.h"
#include "host/module_state.h"
#include "os/window_ops.h"
#include "velvane/filter.h"

using namespace velvane;

namespace {

struct Geometry {
    int32_t width = 1, height = 1, stride = 1, maxHeight = 1, frameCount = 0;
};

// Mostly small frames, which run fast; one time in four any size up to a
// little past the largest frame the filter takes. Strides from a few pixels
// short of the width to well past it.
Geometry readGeometry(fuzz::Input &in)
{
    Geometry g;
    if (in.u8() % 4 != 3) {
        g.width = in.range(1, 80);
        g.height = in.range(1, 40);
    } else {
        g.width = in.range(1, VV_MAX_WIDTH + 40);
        g.height = in.range(1, VV_MAX_HEIGHT + 40);
    }
    g.stride = std::max(1, g.width + in.range(-4, 19));
    g.maxHeight = std::max(1, g.height + in.range(-2, 5));
    g.frameCount = in.range(0, 7);
    return g;
}

uint64_t mix64(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

int16_t extreme(int16_t v) { return v < 0 ? INT16_MIN : INT16_MAX; }

// Frame m of the clip, the same whenever it is asked for.
struct Clip {
    uint8_t kind = 0;
    uint32_t seed = 0;

    void fill(YcPixel *p, size_t samples, int32_t m) const
    {
        uint64_t s = mix64(seed ^ ((uint64_t)(uint32_t)m << 32));
        for (size_t i = 0; i < samples; i++) {
            s = mix64(s);
            const int16_t a = (int16_t)s, b = (int16_t)(s >> 16), c = (int16_t)(s >> 32);
            switch (kind & 3) {
            case 0: // within the host's scale
                p[i] = {(int16_t)((uint16_t)a % 4097), (int16_t)((uint16_t)b % 4097 - 2048),
                        (int16_t)((uint16_t)c % 4097 - 2048)};
                break;
            case 1: // the extremes of the sample type
                p[i] = {extreme(a), extreme(b), extreme(c)};
                break;
            case 2: // anything at all
                p[i] = {a, b, c};
                break;
            default: // a still picture with a little noise, which the filter averages
                p[i] = {(int16_t)(1024 + m * 3 + (a & 15)), (int16_t)(-200 + (b & 7)), (int16_t)(300 + (c & 7))};
                break;
            }
        }
    }
};

// The host's frame store: one served frame at a time, valid until the next
// request or the end of the call.
struct Served {
    YcPixel *frame = nullptr;
    void drop()
    {
        free(frame);
        frame = nullptr;
    }
    ~Served() { drop(); }
};

int32_t readSetting(fuzz::Input &in, int32_t lo, int32_t hi, int32_t def)
{
    switch (in.u8() & 7) {
    case 0: case 1: case 2: case 3:
        return in.range(lo, hi);
    case 4:
        return def;
    case 5:
        return in.flag() ? lo - in.range(1, 300) : hi + in.range(1, 300);
    case 6:
        return (int16_t)in.u16();
    default:
        return in.i32();
    }
}

void readSettings(fuzz::Input &in, const FilterDescriptor *fd, EmbeddedHost &host)
{
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        host.track[i] = readSetting(in, fd->trackMinima[i], fd->trackMaxima[i], fd->trackDefaults[i]);
    for (int i = 0; i < VV_CHECK_COUNT; i++) {
        const uint8_t b = in.u8();
        host.check[i] = b < 224 ? (b & 1) : in.i32();
    }
}

class Session {
public:
    Session(FilterDescriptor *fd, const Geometry &g, const Clip &clip)
        : g_(g), clip_(clip), host_(g.width, g.height, g.stride, g.maxHeight)
    {
        host_.recordCalls = false;
        host_.copyServedFrames = false;
        host_.attach(fd);
        host_.setFrameSource([this](int32_t m) { return serve(m); }, g.frameCount);
    }

    EmbeddedHost &host() { return host_; }
    const Geometry &geometry() const { return g_; }

    void setGeometry(const Geometry &g)
    {
        g_ = g;
        host_.setGeometry(g.width, g.height, g.stride, g.maxHeight);
        host_.setFrameCount(g.frameCount);
    }

    size_t samples() const { return (size_t)g_.stride * (size_t)g_.height; }

    // Renders frame n as a host does: the buffer holds the source frame (or
    // black outside the clip) and is filtered in place.
    std::vector<YcPixel> render(int32_t n)
    {
        const size_t count = samples();
        YcPixel *buffer = static_cast<YcPixel *>(malloc(count * sizeof(YcPixel)));
        FUZZ_CHECK(buffer != nullptr);
        if (n >= 0 && n < g_.frameCount)
            clip_.fill(buffer, count, n);
        else
            memset(buffer, 0, count * sizeof(YcPixel));
        FUZZ_CHECK(host_.renderInPlace(n, buffer) == 1);
        served_.drop(); // the host's promise ends with the call
        std::vector<YcPixel> out(buffer, buffer + count);
        free(buffer);
        return out;
    }

private:
    const YcPixel *serve(int32_t m)
    {
        served_.drop();
        if (m < 0 || m >= g_.frameCount)
            return nullptr;
        served_.frame = static_cast<YcPixel *>(malloc(samples() * sizeof(YcPixel)));
        FUZZ_CHECK(served_.frame != nullptr);
        clip_.fill(served_.frame, samples(), m);
        return served_.frame;
    }

    Geometry g_;
    Clip clip_;
    Served served_;
    EmbeddedHost host_;
};

// The kernels the module runs: the scalar references, SSE2, or AVX2 where
// the processor has it. Start-up picks the best; the input may pick another.
unsigned readKernelLevel(fuzz::Input &in)
{
    const unsigned best = cpuSimdFlags();
    switch (in.u8() % 3) {
    case 0: return 0;
    case 1: return best & CPU_SSE2;
    default: return best;
    }
}

// Starts the module on the chosen kernels.
void start(EmbeddedHost &host, unsigned kernels)
{
    FUZZ_CHECK(host.init() == 1);
    kernelsInit(&moduleInstance.kernels, kernels);
}

bool sameSamples(const std::vector<YcPixel> &a, const std::vector<YcPixel> &b)
{
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(YcPixel)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    FilterDescriptor *fd = GetFilterTable();
    Clip clip;
    clip.kind = in.u8();
    clip.seed = in.u32();
    Session s(fd, readGeometry(in), clip);
    EmbeddedHost &host = s.host();
    readSettings(in, fd, host);

    const unsigned kernels = readKernelLevel(in);
    start(host, kernels);
    FUZZ_CHECK(host.update() == 1);
    int32_t last = 0;
    for (int op = 0; op < 12 && !in.empty(); op++) {
        switch (in.u8() % 9) {
        case 0: case 1: case 2: // a frame, now and then one outside the clip
            last = in.range(-2, s.geometry().frameCount + 1);
            s.render(last);
            break;
        case 3: // new settings, with or without telling the module
            readSettings(in, fd, host);
            if (in.flag())
                FUZZ_CHECK(host.update() == 1);
            break;
        case 4:
            s.setGeometry(readGeometry(in));
            break;
        case 5: { // a host that misbehaves
            host.refuseCacheSize = in.flag();
            host.filterActive = in.range(-1, 2);
            host.nullFrames.clear();
            for (int k = in.range(0, 3); k > 0; k--)
                host.nullFrames.insert(in.range(-1, 7));
            break;
        }
        case 6: // lifecycle out of order
            switch (in.u8() & 3) {
            case 0: FUZZ_CHECK(host.exit() == 1); break;
            case 1: FUZZ_CHECK(host.exit() == 1); FUZZ_CHECK(host.exit() == 1); break;
            case 2: start(host, kernels); break;
            default: FUZZ_CHECK(host.exit() == 1); start(host, kernels); break;
            }
            break;
        case 7: { // the settings window
            static const uint32_t messages[] = {VV_MSG_WINDOW_INIT, VV_MSG_WINDOW_EXIT, kWmCommand, kWmCommand};
            const uint8_t k = in.u8() & 3;
            const uintptr_t wparam = k == 2 ? (uintptr_t)VV_CACHE_RESET_ID : in.u16();
            fd->settingsWindowProc(nullptr, messages[k], wparam, 0, nullptr, fd);
            break;
        }
        default: // forward playback over the clip
            for (int32_t n = 0; n < std::min(s.geometry().frameCount, 4); n++)
                s.render(last = n);
            break;
        }
    }

    // A well-behaved host again: the next frame is the one a freshly started
    // module gives, on these kernels and on the scalar ones.
    host.refuseCacheSize = false;
    host.filterActive = 1;
    host.nullFrames.clear();
    if (s.geometry().frameCount > 0) {
        const int32_t n = std::min(std::max(last, 0), s.geometry().frameCount - 1);
        start(host, kernels);
        FUZZ_CHECK(host.update() == 1);
        const std::vector<YcPixel> carriedOn = s.render(n);
        // And the module says it filtered it, unless the filter does not take the size.
        const Geometry &g = s.geometry();
        const bool supported = g.width >= 4 && g.height >= 4 && g.width <= VV_MAX_WIDTH &&
                               g.height <= VV_MAX_HEIGHT && g.stride >= g.width;
        FUZZ_CHECK(moduleInstance.lastOutcome == (supported ? FrameOutcome::Filtered : FrameOutcome::Unsupported));
        FUZZ_CHECK(host.exit() == 1);
        start(host, kernels);
        FUZZ_CHECK(host.update() == 1);
        FUZZ_CHECK(sameSamples(carriedOn, s.render(n)));
        if (kernels != 0) {
            FUZZ_CHECK(host.exit() == 1);
            start(host, 0);
            FUZZ_CHECK(host.update() == 1);
            FUZZ_CHECK(sameSamples(carriedOn, s.render(n)));
        }
    }
    fd->settingsWindowProc(nullptr, VV_MSG_WINDOW_EXIT, 0, 0, nullptr, fd);
    clearRecordedWindowCalls();
    FUZZ_CHECK(host.exit() == 1);
    return 0;
}
