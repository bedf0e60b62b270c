#include "common/cpu_flags.h"
#include "wavelet/x86/dsp_x86.h"

namespace velvane {

void waveletDspInitX86(WaveletDsp *table, unsigned cpuFlags)
{
    (void)table;
    if (!(cpuFlags & CPU_SSE2))
        return;
    // SIMD versions are hooked in here as they land.
    if (!(cpuFlags & CPU_AVX2))
        return;
}

} // namespace velvane
