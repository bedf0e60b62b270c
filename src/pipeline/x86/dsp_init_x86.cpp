#include "common/cpu_flags.h"
#include "pipeline/x86/dsp_x86.h"

namespace velvane {

void pipelineDspInitX86(PipelineDsp *table, unsigned cpuFlags)
{
    if (!(cpuFlags & CPU_SSE2))
        return;
    table->adjustColourRow = adjustColourRowSse2;
    table->interpolate411Row = interpolate411RowSse2;
    table->halveSamples = halveSamplesSse2;
    table->lowPassRow = lowPassRowSse2;
    table->residualRow = residualRowSse2;
    if (!(cpuFlags & CPU_AVX2))
        return;
    table->adjustColourRow = adjustColourRowAvx2;
    table->interpolate411Row = interpolate411RowAvx2;
    table->halveSamples = halveSamplesAvx2;
    table->lowPassRow = lowPassRowAvx2;
    table->residualRow = residualRowAvx2;
}

} // namespace velvane
