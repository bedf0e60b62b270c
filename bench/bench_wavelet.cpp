// Dot-interference reducer at 720 x 480: each kernel, the column shrink over
// the 400 detail columns of one plane, and the whole pass, at every
// instruction-set level this processor has (C is the scalar reference); then
// processFrame with the default settings, dot pass on and off, at the level
// start-up picks.
#include <stdlib.h>

#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/cpu_flags.h"
#include "embedded_host.h"
#include "host/entry_points.h"
#include "host/module_state.h"
#include "wavelet/dot_pass.h"
#include "wavelet/dsp.h"

namespace {

using namespace velvane;

constexpr int32_t N = kWaveLength, M = kWaveLength / 2, W = 720, H = 480;

struct Level {
    const char *name;
    unsigned flags;
};
const Level levels[] = {
    {"C", 0}, {"SSE2", CPU_SSE2}, {"AVX2", CPU_SSE2 | CPU_AVX2}, {"AVX512", CPU_SSE2 | CPU_AVX2 | CPU_AVX512}};

// Work memory as an instance's start-up allocates it, for the life of the program.
const DotPassWork &work()
{
    static FilterInstance instance;
    if (!instance.scratch.work.planeA)
        startInstance(instance, 2, 0);
    return instance.scratch.work;
}

WaveletDsp table(unsigned flags)
{
    WaveletDsp t;
    waveletDspInit(&t, flags);
    return t;
}

struct Row {
    float *p;
    explicit Row(size_t n) : p((float *)aligned_alloc(32, n * sizeof(float)))
    {
        std::mt19937 rng(1);
        for (size_t i = 0; i < n; i++)
            p[i] = (float)((int)(rng() % 200) - 100);
    }
    ~Row() { free(p); }
};

void kernelBench(benchmark::State &st, unsigned flags, int which)
{
    const WaveletDsp t = table(flags);
    Row x(N), out(N);
    for (auto _ : st) {
        switch (which) {
        case 0: t.d4Forward(x.p, N, out.p); break;
        case 1: t.d4Inverse(x.p, x.p + M, M, out.p); break;
        case 2: t.d4OddLowForward(x.p, N, out.p); break;
        default: t.d4OddLowInverse(x.p, M, out.p); break;
        }
        benchmark::DoNotOptimize(out.p[0]);
        benchmark::ClobberMemory();
    }
}

void shrinkBench(benchmark::State &st, unsigned flags)
{
    const WaveletDsp t = table(flags);
    Row plane((size_t)N * N);
    for (auto _ : st) {
        t.shrinkColumns(plane.p, M, M, H, work().shrink);
        benchmark::ClobberMemory();
    }
}

struct Frames {
    std::vector<YcPixel> prev, cur, next;
    FrameJob job{};
    Frames() : prev((size_t)W * H), cur((size_t)W * H), next((size_t)W * H)
    {
        std::mt19937 rng(2);
        for (int32_t i = 0; i < H; i++)
            for (int32_t j = 0; j < W; j++) {
                const size_t k = (size_t)i * W + j;
                const int pic = 400 + (i + 2 * j) % 300 + (int)(rng() % 9);
                const int dot = ((j & 1) ? -12 : 12) * ((i & 2) ? -1 : 1);
                prev[k] = next[k] = YcPixel{(int16_t)(pic - dot), 0, 0};
                cur[k] = YcPixel{(int16_t)(pic + dot), 5, -5};
            }
        job.width = W;
        job.height = H;
        job.stride = W;
        job.maxHeight = H;
    }
};

void dotPassBench(benchmark::State &st, unsigned flags)
{
    const WaveletDsp t = table(flags);
    Frames f;
    const std::vector<YcPixel> original = f.cur;
    for (auto _ : st) {
        st.PauseTiming();
        f.cur = original;
        st.ResumeTiming();
        dotPass(t, work(), &f.job, f.prev.data(), f.cur.data(), f.next.data());
        benchmark::ClobberMemory();
    }
    st.counters["fps"] = benchmark::Counter((double)st.iterations(), benchmark::Counter::kIsRate);
}

// The whole filter in steady forward playback, as the host drives it: each
// call renders frame n, and the cache rebuilds only frame n + 1. The source
// alternates between two frames whose dot pattern is inverted, for ever.
void processFrameBench(benchmark::State &st, int32_t dotCheck)
{
    Frames f;
    EmbeddedHost host(W, H);
    host.attach(GetFilterTable());
    // Measure the filter, not the stand-in host: a real host serves frames from
    // its own cache without copying them, and keeps no call log.
    host.copyServedFrames = false;
    host.recordCalls = false;
    host.init();
    host.check[CHECK_DOT] = dotCheck;
    host.setFrameSource([&](int32_t n) -> const YcPixel * { return (n & 1) ? f.prev.data() : f.cur.data(); },
                        1 << 30);
    std::vector<YcPixel> out((size_t)W * H);
    int32_t n = 0;
    host.renderInPlace(n++, out.data()); // fills the cache
    for (auto _ : st) {
        host.renderInPlace(n++, out.data());
        benchmark::ClobberMemory();
    }
    st.counters["fps"] = benchmark::Counter((double)st.iterations(), benchmark::Counter::kIsRate);
    host.exit();
}

int registerAll()
{
    const unsigned host = cpuSimdFlags();
    const char *kernels[] = {"d4Forward", "d4Inverse", "d4OddLowForward", "d4OddLowInverse"};
    for (const Level &lv : levels) {
        if ((lv.flags & host) != lv.flags)
            continue;
        for (int k = 0; k < 4; k++)
            benchmark::RegisterBenchmark((std::string(kernels[k]) + "/800/" + lv.name).c_str(), kernelBench,
                                         lv.flags, k);
        benchmark::RegisterBenchmark((std::string("shrinkColumns/400x480/") + lv.name).c_str(), shrinkBench,
                                     lv.flags)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("dotPass/720x480/") + lv.name).c_str(), dotPassBench, lv.flags)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("processFrame/720x480/forward/dotOn", processFrameBench, 1)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("processFrame/720x480/forward/dotOff", processFrameBench, 0)
        ->Unit(benchmark::kMicrosecond);
    return 0;
}
const int registered = registerAll();

} // namespace

BENCHMARK_MAIN();
