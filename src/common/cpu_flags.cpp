#include "common/cpu_flags.h"

namespace velvane {

unsigned cpuSimdFlags()
{
    unsigned flags = CPU_SSE2;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        flags |= CPU_AVX2;
    return flags;
}

} // namespace velvane
