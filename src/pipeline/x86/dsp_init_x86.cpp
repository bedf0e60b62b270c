#include "common/cpu_flags.h"
#include "pipeline/x86/dsp_x86.h"

namespace velvane {

// The 4:1:1 interpolation keeps its scalar version: it is a few 16-bit moves
// per group of four pixels, and the lane shuffles a vector version needs cost
// more than they save (an AVX-512 version with 16-bit permutes took four
// times as long).
void pipelineDspInitX86(PipelineDsp *table, unsigned cpuFlags)
{
    if (!(cpuFlags & CPU_SSE2))
        return;
    table->adjustColourRow = adjustColourRowSse2;
    table->halveSamples = halveSamplesSse2;
    table->lowPassRow = lowPassRowSse2;
    table->residualRow = residualRowSse2;
    if (!(cpuFlags & CPU_AVX2))
        return;
    table->adjustColourRow = adjustColourRowAvx2;
    table->halveSamples = halveSamplesAvx2;
    table->lowPassRow = lowPassRowAvx2;
    table->residualRow = residualRowAvx2;
    if (!(cpuFlags & CPU_AVX512))
        return;
    table->lowPassRow = lowPassRowAvx512;
}

} // namespace velvane
