// What automatic strength costs at 720 x 480: the noise measure, once per
// scene on its first three frames, and the scene signature, on every frame
// (the filtering itself takes a few milliseconds a frame: bench_frame_path).
#include <math.h>

#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "pipeline/noise_level.h"

namespace {

using namespace velvane;

constexpr int W = 720, H = 480;

// Three frames of a gradient with grain of 4 code values, on the host's scale.
const std::vector<std::vector<YcPixel>> &frames()
{
    static std::vector<std::vector<YcPixel>> f;
    if (f.empty()) {
        std::mt19937 rng(1);
        std::normal_distribution<float> grain(0, 4);
        f.assign(3, std::vector<YcPixel>((size_t)W * H));
        for (auto &frame : f)
            for (int y = 0; y < H; y++)
                for (int x = 0; x < W; x++)
                    frame[(size_t)y * W + x] = YcPixel{(int16_t)(16 * lrintf(60 + x / 8 + grain(rng))),
                                                       (int16_t)(16 * lrintf(grain(rng))), 0};
    }
    return f;
}

void measure(benchmark::State &state)
{
    const YcPixel *f[3] = {frames()[0].data(), frames()[1].data(), frames()[2].data()};
    for (auto _ : state)
        benchmark::DoNotOptimize(measureNoise(f, 3, W, H, W));
}
BENCHMARK(measure)->Name("measureNoise/3 frames")->Unit(benchmark::kMillisecond);

void signature(benchmark::State &state)
{
    SceneSignature s;
    for (auto _ : state) {
        sceneSignature(frames()[0].data(), W, H, W, &s);
        benchmark::DoNotOptimize(s);
    }
}
BENCHMARK(signature)->Name("sceneSignature/1 frame")->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
