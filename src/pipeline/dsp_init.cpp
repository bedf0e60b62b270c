#include "pipeline/dsp.h"

#include "pipeline/x86/dsp_x86.h"

namespace velvane {

void pipelineDspInit(PipelineDsp *table, unsigned cpuFlags)
{
    table->adjustColourRow = adjustColourRowC;
    table->interpolate411Row = interpolate411RowC;
    table->halveSamples = halveSamplesC;
    table->lowPassRow = lowPassRowC;
    table->residualRow = residualRowC;
    pipelineDspInitX86(table, cpuFlags);
}

} // namespace velvane
