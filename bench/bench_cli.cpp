// The command-line host's own share of the work: frame conversion both ways
// (scalar reference and the kernels in use) and a whole stream filtered from
// memory to memory.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "y4m/convert.h"
#include "run/filter_run.h"

using namespace velvane;

namespace {

const Y4mFormat &format422()
{
    static const Y4mFormat f = parseStreamHeader("YUV4MPEG2 W720 H480 F30000:1001 It A10:11 C422");
    return f;
}

std::vector<uint8_t> noiseFrame(const Y4mFormat &f)
{
    std::mt19937 rng(1);
    std::vector<uint8_t> raw(f.frameBytes());
    for (auto &b : raw)
        b = (uint8_t)(16 + rng() % 220);
    return raw;
}

// Whole frames through the library's conversions, as the command converts
// them (checkasm --bench times each kernel against its C reference).
void BM_ToHost422(benchmark::State &state)
{
    const Y4mFormat &f = format422();
    std::vector<uint8_t> raw = noiseFrame(f);
    std::vector<YcPixel> host((size_t)f.width * f.height);
    FrameConverter conv(f, f.width);
    for (auto _ : state) {
        conv.toHost(raw.data(), true, host.data());
        benchmark::DoNotOptimize(host.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_FromHost422(benchmark::State &state)
{
    const Y4mFormat &f = format422();
    std::vector<uint8_t> raw = noiseFrame(f);
    std::vector<YcPixel> host((size_t)f.width * f.height);
    FrameConverter conv(f, f.width);
    conv.toHost(raw.data(), true, host.data());
    for (auto _ : state) {
        conv.fromHost(host.data(), true, raw.data());
        benchmark::DoNotOptimize(raw.data());
    }
    state.SetItemsProcessed(state.iterations());
}


// 720 x 480 4:2:2 frames through the plug-in with its defaults, read and
// written in memory: frames per second of the whole command minus the disk.
void BM_FilterStream422(benchmark::State &state)
{
    const Y4mFormat &f = format422();
    const int frames = 30;
    std::string stream = formatStreamHeader(f) + "\n";
    std::vector<uint8_t> raw = noiseFrame(f);
    for (int n = 0; n < frames; n++) {
        stream += "FRAME\n";
        stream.append((const char *)raw.data(), raw.size());
    }
    for (auto _ : state) {
        FILE *in = fmemopen(&stream[0], stream.size(), "rb");
        char *buf = nullptr;
        size_t len = 0;
        FILE *out = open_memstream(&buf, &len);
        FilterRun run;
        filterStream(GetFilterTable(), in, "in", out, "out", run);
        fclose(out);
        fclose(in);
        free(buf);
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

} // namespace

BENCHMARK(BM_ToHost422);
BENCHMARK(BM_FromHost422);
BENCHMARK(BM_FilterStream422)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
