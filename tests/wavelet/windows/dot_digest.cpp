// Prints digests of the wavelet kernels and the dot pass on fixed inputs, at
// every instruction-set level the processor has. Built natively and for
// Windows; the two outputs must be equal byte for byte, and all levels must
// print the same digests.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "common/cpu_flags.h"
#include "wavelet/dot_pass.h"
#include "wavelet/dsp.h"

using namespace velvane;

namespace {

constexpr int32_t N = kWaveLength, M = kWaveLength / 2;

// The pass's work memory, aligned as an instance's start-up aligns it.
alignas(32) float planeA[N * N], planeB[N * N], rows[3][N], shrink[kShrinkWorkFloats];
const DotPassWork work = {planeA, planeB, rows[0], rows[1], rows[2], shrink};

struct Lcg {
    uint64_t s;
    uint32_t next()
    {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return (uint32_t)(s >> 33);
    }
    int32_t range(int32_t lo, int32_t hi) { return lo + (int32_t)(next() % (uint32_t)(hi - lo + 1)); }
};

uint64_t fnv(uint64_t h, const void *p, size_t n)
{
    const unsigned char *b = (const unsigned char *)p;
    for (size_t i = 0; i < n; i++)
        h = (h ^ b[i]) * 1099511628211ull;
    return h;
}

uint64_t kernels(const WaveletDsp &t)
{
    Lcg rng{7};
    alignas(16) static float x[N], o[N];
    uint64_t h = 1469598103934665603ull;
    for (int trial = 0; trial < 50; trial++) {
        for (int32_t i = 0; i < N; i++)
            x[i] = (float)rng.range(-1000000, 1000000) * (trial & 1 ? 1e-3f : 0.37f);
        t.d4Forward(x, N, o);
        h = fnv(h, o, N * 4);
        t.d4Inverse(x, x + M, M, o);
        h = fnv(h, o, N * 4);
        t.d4OddLowForward(x, N, o);
        h = fnv(h, o, M * 4);
        t.d4OddLowInverse(x, M, o);
        h = fnv(h, o, N * 4);
    }
    return h;
}

uint64_t pass(const WaveletDsp &t, int32_t w, int32_t hgt, int kind)
{
    Lcg rng{(uint64_t)(w * 1000 + hgt + kind)};
    const size_t n = (size_t)w * hgt;
    std::vector<YcPixel> f[3];
    for (auto &v : f) {
        v.resize(n);
        for (auto &p : v)
            p = YcPixel{(int16_t)rng.range(0, 4000), (int16_t)rng.range(-500, 500), (int16_t)rng.range(-500, 500)};
    }
    if (kind == 1) // an inverting dot pattern on a still picture
        for (int32_t i = 0; i < hgt; i++)
            for (int32_t j = 0; j < w; j++) {
                const size_t k = (size_t)i * w + j;
                const int pic = 800 + (i * 7 + j * 3) % 900, dot = ((j & 1) ? -25 : 25) * ((i & 2) ? -1 : 1);
                f[0][k].y = f[2][k].y = (int16_t)(pic - dot);
                f[1][k].y = (int16_t)(pic + dot);
            }
    FrameJob job{};
    job.width = w;
    job.height = hgt;
    job.stride = w;
    dotPass(t, work, &job, f[0].data(), f[1].data(), f[2].data());
    return fnv(1469598103934665603ull, f[1].data(), n * sizeof(YcPixel));
}

} // namespace

int main()
{
    __builtin_cpu_init();
    const unsigned levels[4] = {0, CPU_SSE2, CPU_SSE2 | CPU_AVX2, CPU_SSE2 | CPU_AVX2 | CPU_AVX512};
    const unsigned host = cpuSimdFlags();
    const int count = (host & CPU_AVX512) ? 4 : (host & CPU_AVX2) ? 3 : 2;
    int mismatches = 0;
    uint64_t first[4] = {};
    for (int l = 0; l < count; l++) {
        WaveletDsp t;
        waveletDspInit(&t, levels[l]);
        const uint64_t d[4] = {kernels(t), pass(t, 720, 480, 0), pass(t, 720, 480, 1), pass(t, 333, 77, 0)};
        for (int i = 0; i < 4; i++) {
            if (l == 0)
                first[i] = d[i];
            else if (d[i] != first[i])
                mismatches++;
        }
    }
    // Only the C level is printed: the other levels are checked against it here.
    printf("kernels %016llx\npass 720x480 %016llx\npass dots %016llx\npass 333x77 %016llx\nlevels %s\n",
           (unsigned long long)first[0], (unsigned long long)first[1], (unsigned long long)first[2],
           (unsigned long long)first[3], mismatches ? "DIFFER" : "agree");
    return mismatches ? 1 : 0;
}
