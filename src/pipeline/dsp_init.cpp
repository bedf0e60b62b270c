#include "pipeline/dsp.h"

namespace velvane {

PipelineDsp pipelineDsp = {adjustColourRowC, interpolate411RowC, halveSamplesC, lowPassRowC, residualRowC};

void pipelineDspInit(PipelineDsp *table, unsigned cpuFlags)
{
    (void)cpuFlags;
    table->adjustColourRow = adjustColourRowC;
    table->interpolate411Row = interpolate411RowC;
    table->halveSamples = halveSamplesC;
    table->lowPassRow = lowPassRowC;
    table->residualRow = residualRowC;
}

} // namespace velvane
