#ifndef VELVANE_TESTS_WAVELET_WAVELET_TEST_SUPPORT_H
#define VELVANE_TESTS_WAVELET_WAVELET_TEST_SUPPORT_H

#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/cpu_flags.h"
#include "pipeline/instance.h"
#include "wavelet/dsp.h"

namespace velvane::test {

// The reducer's work memory, allocated as an instance's start-up does (15
// bytes over, rounded up to 16) and freed again.
class ScratchGuard {
public:
    ScratchGuard() { startInstance(*f_, 2, 0); }
    ~ScratchGuard() { stopInstance(*f_); }
    ScratchGuard(const ScratchGuard &) = delete;
    ScratchGuard &operator=(const ScratchGuard &) = delete;
    DotPassWork &work() { return f_->scratch.work; }

private:
    std::unique_ptr<FilterInstance> f_{new FilterInstance};
};

// A 16-byte aligned float array.
struct AlignedFloats {
    explicit AlignedFloats(size_t n) : raw(calloc(n * sizeof(float) + 15, 1)), p((float *)alignUp16(raw)), size(n) {}
    ~AlignedFloats() { free(raw); }
    AlignedFloats(const AlignedFloats &) = delete;
    AlignedFloats &operator=(const AlignedFloats &) = delete;
    float &operator[](size_t i) { return p[i]; }
    void *raw;
    float *p;
    size_t size;
};

// Tests run once per kernel level: C, SSE2, AVX2, AVX-512 (skipped where missing).
class LevelTest : public ::testing::TestWithParam<unsigned> {
protected:
    void SetUp() override
    {
        if ((GetParam() & cpuSimdFlags()) != GetParam())
            GTEST_SKIP() << "instruction set not available";
        waveletDspInit(&dsp, GetParam());
    }
    WaveletDsp dsp{};
};

inline std::string levelName(const ::testing::TestParamInfo<unsigned> &info)
{
    return info.param == 0                ? "C"
           : (info.param & CPU_AVX512) ? "AVX512"
           : (info.param & CPU_AVX2)   ? "AVX2"
                                        : "SSE2";
}

#define VELVANE_INSTANTIATE_LEVELS(suite)                                                                    \
    INSTANTIATE_TEST_SUITE_P(Levels, suite,                                                                  \
                             ::testing::Values(0u, (unsigned)velvane::CPU_SSE2,                              \
                                               (unsigned)(velvane::CPU_SSE2 | velvane::CPU_AVX2),            \
                                               (unsigned)(velvane::CPU_SSE2 | velvane::CPU_AVX2 |            \
                                                          velvane::CPU_AVX512)),                             \
                             velvane::test::levelName)

} // namespace velvane::test

#endif
