#include "common/cpu_flags.h"
#include "nr/x86/dsp_x86.h"

namespace velvane {

void nrDspInitX86(NrDsp *table, unsigned cpuFlags)
{
    if (!(cpuFlags & CPU_SSE2))
        return;
    table->averageRow = averageRowSse2;
    table->doubleSamples = doubleSamplesSse2;
    table->fillPixels = fillPixelsSse2;
    if (!(cpuFlags & CPU_AVX2))
        return;
    table->averageRow = averageRowAvx2;
    table->doubleSamples = doubleSamplesAvx2;
    if (!(cpuFlags & CPU_AVX512))
        return;
    table->averageRow = averageRowAvx512;
}

} // namespace velvane
