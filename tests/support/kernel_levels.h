#ifndef VELVANE_TESTS_SUPPORT_KERNEL_LEVELS_H
#define VELVANE_TESTS_SUPPORT_KERNEL_LEVELS_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/cpu_flags.h"
#include "pipeline/kernels.h"

// Runs a test once per kernel level this processor has: the scalar
// references, SSE2, and SSE2 with AVX2.
struct KernelLevel {
    unsigned flags;
    const char *name;
};

inline std::vector<KernelLevel> kernelLevels()
{
    std::vector<KernelLevel> levels = {{0, "C"}};
    const unsigned host = velvane::cpuSimdFlags();
    levels.push_back({velvane::CPU_SSE2, "SSE2"});
    if (host & velvane::CPU_AVX2)
        levels.push_back({velvane::CPU_SSE2 | velvane::CPU_AVX2, "AVX2"});
    if (host & velvane::CPU_AVX512)
        levels.push_back({velvane::CPU_SSE2 | velvane::CPU_AVX2 | velvane::CPU_AVX512, "AVX512"});
    return levels;
}

inline velvane::Kernels levelKernels(unsigned flags)
{
    velvane::Kernels k;
    velvane::kernelsInit(&k, flags);
    return k;
}

class AtEveryLevel : public ::testing::TestWithParam<KernelLevel> {
protected:
    velvane::Kernels kernels = levelKernels(GetParam().flags);
};

inline std::string levelName(const ::testing::TestParamInfo<KernelLevel> &info) { return info.param.name; }

#define INSTANTIATE_AT_EVERY_LEVEL(suite) \
    INSTANTIATE_TEST_SUITE_P(Levels, suite, ::testing::ValuesIn(kernelLevels()), levelName)

#endif
