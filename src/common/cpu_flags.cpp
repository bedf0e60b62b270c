#include "common/cpu_flags.h"

#include "nr/dsp.h"
#include "pipeline/dsp.h"
#include "wavelet/dsp.h"

namespace velvane {

unsigned cpuSimdFlags()
{
    unsigned flags = CPU_SSE2;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        flags |= CPU_AVX2;
    return flags;
}

void selectKernels(unsigned flags)
{
    pipelineDspInit(&pipelineDsp, flags);
    nrDspInit(&nrDsp, flags);
    waveletDspInit(&waveletDsp, flags);
}

} // namespace velvane
