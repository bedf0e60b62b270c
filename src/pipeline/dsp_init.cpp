#include "pipeline/dsp.h"

namespace velvane {

PipelineDsp pipelineDsp;

void pipelineDspInit(PipelineDsp *table, unsigned cpuFlags)
{
    (void)cpuFlags;
    table->placeholder = 0;
}

} // namespace velvane
