// The averaging along the motion at 720 x 576 (PAL), planar 8-bit 4:2:2 in
// and out, one thread: one frame sent and one received in steady playback,
// for each radius (0: the filter without it). The clip pans a textured
// picture 2.5 pixels a field with noise of 5 code values, 16 frames looped
// (the loop is a scene cut every 16 frames). The kernel level is the
// processor's, or --cpu-mask-like through VELVANE_BENCH_CPU (c, sse2, avx2).
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "velvane/velvane.hpp"

namespace {

constexpr int W = 720, H = 576, kFrames = 16;

struct Planar {
    std::vector<uint8_t> bytes = std::vector<uint8_t>((size_t)W * H * 2);
    VelvaneFrame frame()
    {
        VelvaneFrame f = {};
        f.format = VELVANE_PIXEL_YUV422P8;
        f.width = W;
        f.height = H;
        f.data[0] = bytes.data();
        f.data[1] = bytes.data() + (size_t)W * H;
        f.data[2] = bytes.data() + (size_t)W * H * 3 / 2;
        f.stride[0] = W;
        f.stride[1] = f.stride[2] = W / 2;
        return f;
    }
};

std::vector<Planar> panClip()
{
    std::mt19937 rng(9);
    std::normal_distribution<double> noise(0, 5);
    std::vector<Planar> clip(kFrames);
    auto byte = [](double v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : lrint(v)); };
    for (int n = 0; n < kFrames; n++) {
        uint8_t *y = clip[n].bytes.data(), *cb = y + W * H, *cr = cb + W * H / 2;
        for (int r = 0; r < H; r++) {
            const double t = 2 * n + (r & 1), dx = 2.5 * t;
            for (int x = 0; x < W; x++) {
                const double u = x + dx;
                y[r * W + x] = byte(120 + 50 * sin(u * 0.11) * cos(r * 0.07) + 30 * sin(u * 0.31 + r * 0.05) +
                                    noise(rng));
                if (!(x & 1)) {
                    cb[r * W / 2 + x / 2] = byte(128 + 20 * sin(u * 0.02) + noise(rng));
                    cr[r * W / 2 + x / 2] = byte(128 + 20 * cos(r * 0.03) + noise(rng));
                }
            }
        }
    }
    return clip;
}

unsigned cpuMask()
{
    const char *level = getenv("VELVANE_BENCH_CPU");
    if (!level)
        return VELVANE_CPU_ALL;
    const std::string l = level;
    return l == "c" ? 0u : l == "sse2" ? VELVANE_CPU_SSE2 : l == "avx2" ? VELVANE_CPU_SSE2 | VELVANE_CPU_AVX2 : VELVANE_CPU_ALL;
}

void perFrame(benchmark::State &st)
{
    VelvaneConfig c;
    velvane_default_config(&c);
    c.width = W;
    c.height = H;
    c.threads = 1;
    c.cpu_mask = cpuMask();
    c.settings.mc_radius = (int)st.range(0);
    velvane::Filter filter(c);
    static std::vector<Planar> clip = panClip();
    Planar out;
    VelvaneFrame of = out.frame();
    size_t n = 0;
    while (!filter.receive(of))
        filter.send(clip[n++ % kFrames].frame());
    for (auto _ : st) {
        filter.send(clip[n++ % kFrames].frame());
        filter.receive(of);
        benchmark::ClobberMemory();
    }
    st.counters["fps"] = benchmark::Counter((double)st.iterations(), benchmark::Counter::kIsRate);
}

const int registered = [] {
    for (int radius : {0, 1, 2, 3})
        benchmark::RegisterBenchmark("alongMotion/720x576/yuv422p8", perFrame)
            ->Arg(radius)
            ->ArgName("radius")
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    return 0;
}();

} // namespace

BENCHMARK_MAIN();
