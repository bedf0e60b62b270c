#include "common/cpu_flags.h"

namespace velvane {

unsigned cpuSimdFlags()
{
    unsigned flags = CPU_SSE2;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        flags |= CPU_AVX2;
    if ((flags & CPU_AVX2) && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
        flags |= CPU_AVX512;
    return flags;
}

} // namespace velvane
