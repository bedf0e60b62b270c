// The native library's per-frame calls at 720 x 480 with its default settings
// (dot pass on): one frame sent and one received, in steady playback, at 1
// and 2 threads, for the filter's own pixels and for planar 8-bit 4:2:2; and
// the receiving call alone, the one that filters (the sending call copies the
// frame in).
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "velvane/velvane.hpp"

namespace {

constexpr int W = 720, H = 480;

// The filter's own pixel (VELVANE_PIXEL_YC48).
struct YcPixel {
    int16_t y, cb, cr;
};

// Four frames of noisy moving content with a dot pattern that inverts every frame.
std::vector<std::vector<YcPixel>> packedClip()
{
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0, 30);
    std::vector<std::vector<YcPixel>> clip(4, std::vector<YcPixel>((size_t)W * H));
    for (int n = 0; n < 4; n++)
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                const int dot = ((x + y / 2 + n) & 1) ? 48 : -48;
                clip[n][(size_t)y * W + x] =
                    YcPixel{(int16_t)(1600 + 6 * ((x + 3 * n + y) % 251) + dot + noise(rng)),
                            (int16_t)(150 + noise(rng)), (int16_t)(-250 + noise(rng))};
            }
    return clip;
}

struct Planar {
    std::vector<uint8_t> y, cb, cr;
    VelvaneFrame frame()
    {
        VelvaneFrame f = {};
        f.format = VELVANE_PIXEL_YUV422P8;
        f.width = W;
        f.height = H;
        f.data[0] = y.data();
        f.data[1] = cb.data();
        f.data[2] = cr.data();
        f.stride[0] = W;
        f.stride[1] = f.stride[2] = W / 2;
        return f;
    }
};

Planar planarFrame(const std::vector<YcPixel> &p)
{
    Planar f{std::vector<uint8_t>((size_t)W * H), std::vector<uint8_t>((size_t)W / 2 * H),
             std::vector<uint8_t>((size_t)W / 2 * H)};
    auto byte = [](int v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (size_t i = 0; i < p.size(); i++) {
        f.y[i] = byte(p[i].y / 16);
        if (i % 2 == 0) {
            f.cb[i / 2] = byte(p[i].cb / 16 + 128);
            f.cr[i / 2] = byte(p[i].cr / 16 + 128);
        }
    }
    return f;
}

void perFrame(benchmark::State &st, int format, bool receiveAlone)
{
    VelvaneConfig c;
    velvane_default_config(&c);
    c.width = W;
    c.height = H;
    c.threads = (int)st.range(0);
    velvane::Filter filter(c);

    auto clip = packedClip();
    std::vector<Planar> planar;
    for (auto &f : clip)
        planar.push_back(planarFrame(f));
    std::vector<YcPixel> outPixels((size_t)W * H);
    Planar outPlanar = planarFrame(outPixels);
    auto input = [&](size_t n) {
        if (format == VELVANE_PIXEL_YC48) {
            VelvaneFrame f = {};
            f.format = VELVANE_PIXEL_YC48;
            f.width = W;
            f.height = H;
            f.data[0] = clip[n % 4].data();
            f.stride[0] = W * (ptrdiff_t)sizeof(YcPixel);
            return f;
        }
        return planar[n % 4].frame();
    };
    VelvaneFrame out = input(0);
    if (format == VELVANE_PIXEL_YC48)
        out.data[0] = outPixels.data();
    else
        out = outPlanar.frame();

    size_t n = 0;
    while (!filter.receive(out))
        filter.send(input(n++));
    for (auto _ : st) {
        if (receiveAlone)
            st.PauseTiming();
        filter.send(input(n++));
        if (receiveAlone)
            st.ResumeTiming();
        filter.receive(out);
        benchmark::ClobberMemory();
    }
    st.counters["fps"] = benchmark::Counter((double)st.iterations(), benchmark::Counter::kIsRate);
}

const int registered = [] {
    for (int threads : {1, 2}) {
        benchmark::RegisterBenchmark("perFrame/720x480/yc48", perFrame, (int)VELVANE_PIXEL_YC48, false)
            ->Arg(threads)
            ->ArgName("threads")
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark("perFrame/720x480/yuv422p8", perFrame, (int)VELVANE_PIXEL_YUV422P8, false)
            ->Arg(threads)
            ->ArgName("threads")
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark("receive/720x480/yc48", perFrame, (int)VELVANE_PIXEL_YC48, true)
            ->Arg(threads)
            ->ArgName("threads")
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }
    return 0;
}();

} // namespace

BENCHMARK_MAIN();
