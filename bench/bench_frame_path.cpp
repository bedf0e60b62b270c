// Frame path at 720 x 480: every colour, band split, averaging and output
// kernel at each instruction-set level, and processFrame in steady forward
// playback (one rebuild per call) with the dot pass off.
//   build/bench/bench_frame_path [--benchmark_filter=...]
#include <string.h>

#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/cpu_flags.h"
#include "embedded_host.h"
#include "host/entry_points.h"
#include "host/module_state.h"
#include "nr/dsp.h"
#include "pipeline/dsp.h"

namespace {

using namespace velvane;

constexpr int32_t kWidth = 720, kHeight = 480, kPadded = kWidth + 4;

// Levels as benchmark arguments: 0 = C, 1 = SSE2, 3 = SSE2 + AVX2.
bool levelAvailable(benchmark::State &state)
{
    const unsigned flags = (unsigned)state.range(0);
    if ((flags & cpuSimdFlags()) != flags) {
        state.SkipWithError("instruction set not available");
        return false;
    }
    return true;
}

// The kernel table of the level the benchmark's first argument names.
bool kernels(benchmark::State &state, PipelineDsp &dsp)
{
    if (!levelAvailable(state))
        return false;
    pipelineDspInit(&dsp, (unsigned)state.range(0));
    return true;
}

bool kernels(benchmark::State &state, NrDsp &dsp)
{
    if (!levelAvailable(state))
        return false;
    nrDspInit(&dsp, (unsigned)state.range(0));
    return true;
}

void levels(benchmark::internal::Benchmark *b)
{
    b->ArgName("isa")->Arg(0)->Arg(CPU_SSE2)->Arg(CPU_SSE2 | CPU_AVX2)->Unit(benchmark::kMicrosecond);
}

std::vector<YcPixel> noisyFrame(int32_t pixels, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 40.0f);
    std::vector<YcPixel> f((size_t)pixels);
    for (size_t i = 0; i < f.size(); i++) {
        const int x = (int)(i % kWidth), y = (int)(i / kWidth);
        f[i] = YcPixel{(int16_t)(256 + (x * 5 + y * 3) % 3500 + noise(rng)), (int16_t)((x - 360) * 2 + noise(rng)),
                       (int16_t)((y - 240) * 3 + noise(rng))};
    }
    return f;
}

void BM_adjustColour(benchmark::State &state)
{
    PipelineDsp dsp;
    if (!kernels(state, dsp))
        return;
    std::vector<YcPixel> frame = noisyFrame(kWidth * kHeight, 1);
    ColourFactors f = {256 + 20, 4 * 5, 256 + 30, 256 - 30, 0, 256, 256, COLOUR_GAINS};
    if (state.range(1) != 0) {
        f.hs = 28; // hue 20
        f.hc = 254;
        f.kB = 256 + 10;
        f.mode = state.range(1) == 1 ? COLOUR_ROTATE : COLOUR_ROTATE_411;
    }
    for (auto _ : state)
        for (int32_t y = 0; y < kHeight; y++)
            dsp.adjustColourRow(frame.data() + (size_t)y * kWidth, kWidth, &f);
}
BENCHMARK(BM_adjustColour)
    ->ArgNames({"isa", "mode"})
    ->ArgsProduct({{0, CPU_SSE2, CPU_SSE2 | CPU_AVX2}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);

void BM_interpolateChroma411(benchmark::State &state)
{
    PipelineDsp dsp;
    if (!kernels(state, dsp))
        return;
    std::vector<YcPixel> frame = noisyFrame(kWidth * kHeight, 2);
    for (auto _ : state)
        for (int32_t y = 0; y < kHeight; y++)
            dsp.interpolate411Row(frame.data() + (size_t)y * kWidth, kWidth);
}
BENCHMARK(BM_interpolateChroma411)->Apply(levels);

void BM_halveSamples(benchmark::State &state)
{
    PipelineDsp dsp;
    if (!kernels(state, dsp))
        return;
    std::vector<YcPixel> frame = noisyFrame(kWidth * kHeight, 3);
    for (auto _ : state)
        dsp.halveSamples(&frame[0].y, frame.size() * 3);
}
BENCHMARK(BM_halveSamples)->Apply(levels);

struct Planes {
    std::vector<YcPixel> low, high;
    Planes() : low((size_t)(kHeight + 4) * kPadded), high(low.size())
    {
        std::vector<YcPixel> f = noisyFrame((int32_t)high.size(), 4);
        for (size_t i = 0; i < high.size(); i++)
            high[i] = YcPixel{(int16_t)(f[i].y >> 1), (int16_t)(f[i].cb >> 1), (int16_t)(f[i].cr >> 1)};
        low = high;
    }
    int16_t *row(std::vector<YcPixel> &plane, int32_t y) { return &plane[(size_t)(y + 2) * kPadded + 2].y; }
};

void BM_lowPass(benchmark::State &state)
{
    PipelineDsp dsp;
    if (!kernels(state, dsp))
        return;
    Planes p;
    for (auto _ : state)
        for (int32_t y = 0; y < kHeight; y++)
            dsp.lowPassRow(p.row(p.low, y), p.row(p.high, y), kPadded * 3, kWidth * 3);
}
BENCHMARK(BM_lowPass)->Apply(levels);

void BM_residual(benchmark::State &state)
{
    PipelineDsp dsp;
    if (!kernels(state, dsp))
        return;
    Planes p;
    for (auto _ : state)
        for (int32_t y = 0; y < kHeight; y++)
            dsp.residualRow(p.row(p.high, y), p.row(p.low, y), kWidth * 3);
}
BENCHMARK(BM_residual)->Apply(levels);

void BM_averageRows(benchmark::State &state)
{
    NrDsp dsp;
    if (!kernels(state, dsp))
        return;
    Planes cur, prev, next;
    std::vector<YcPixel> frame((size_t)kWidth * kHeight);
    AverageRowArgs a;
    for (int k = 0; k < 3; k++) {
        a.lowThreshold[k] = 40; // the default tracks, 10
        a.highThreshold[k] = k == 0 ? 80 : 40;
    }
    a.usePrevious = 1;
    for (auto _ : state)
        for (int32_t y = 0; y < kHeight; y++) {
            const int32_t p = y ^ 1;
            a.lowCur = cur.row(cur.low, y);
            a.lowPrev = prev.row(prev.low, y);
            a.lowNext = next.row(next.low, y);
            a.lowCurPartner = cur.row(cur.low, p);
            a.lowPrevPartner = prev.row(prev.low, p);
            a.lowNextPartner = next.row(next.low, p);
            a.highCur = cur.row(cur.high, y);
            a.highPrev = prev.row(prev.high, y);
            a.highNext = next.row(next.high, y);
            dsp.averageRow(&frame[(size_t)y * kWidth].y, &a, kWidth);
        }
}
BENCHMARK(BM_averageRows)->Apply(levels);

void BM_doubleSamples(benchmark::State &state)
{
    NrDsp dsp;
    if (!kernels(state, dsp))
        return;
    std::vector<YcPixel> frame = noisyFrame(kWidth * kHeight, 5);
    for (auto _ : state)
        dsp.doubleSamples(&frame[0].y, frame.size() * 3);
}
BENCHMARK(BM_doubleSamples)->Apply(levels);

void BM_fillPixels(benchmark::State &state)
{
    NrDsp dsp;
    if (!kernels(state, dsp))
        return;
    std::vector<YcPixel> frame((size_t)kWidth * kHeight);
    const YcPixel black = {256, 0, 0};
    for (auto _ : state)
        dsp.fillPixels(frame.data(), frame.size(), black);
}
BENCHMARK(BM_fillPixels)->Apply(levels);

// processFrame through the embedded host, rendering frames in order so that
// every call rebuilds one frame. The source cycles through eight noisy frames.
void BM_processFrame(benchmark::State &state)
{
    if (!levelAvailable(state))
        return;
    std::vector<std::vector<YcPixel>> sources;
    for (uint32_t s = 0; s < 8; s++)
        sources.push_back(noisyFrame(kWidth * kHeight, 10 + s));
    EmbeddedHost host(kWidth, kHeight);
    host.attach(GetFilterTable());
    // Measure the filter, not the stand-in host: a real host serves frames from
    // its own cache without copying them, and keeps no call log.
    host.copyServedFrames = false;
    host.recordCalls = false;
    host.init();
    kernelsInit(&moduleInstance.kernels, (unsigned)state.range(0));
    host.setFrameSource([&](int32_t n) { return sources[(size_t)n % sources.size()].data(); }, 1 << 30);
    host.check[CHECK_DOT] = 0;
    if (state.range(1)) { // colour tracks in use
        host.track[TRACK_GAIN_Y] = 10;
        host.track[TRACK_HUE] = 15;
        host.track[TRACK_BALANCE] = 5;
    }
    host.update();
    std::vector<YcPixel> out((size_t)kWidth * kHeight);
    int32_t n = 0;
    host.renderInPlace(n++, out.data()); // fills the cache
    for (auto _ : state)
        host.renderInPlace(n++, out.data());
    state.counters["fps"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
    host.exit();
}
BENCHMARK(BM_processFrame)
    ->ArgNames({"isa", "colour"})
    ->ArgsProduct({{0, CPU_SSE2, CPU_SSE2 | CPU_AVX2}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
