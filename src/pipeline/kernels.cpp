#include "pipeline/kernels.h"

namespace velvane {

void kernelsInit(Kernels *k, unsigned cpuFlags)
{
    pipelineDspInit(&k->pipeline, cpuFlags);
    nrDspInit(&k->nr, cpuFlags);
    waveletDspInit(&k->wavelet, cpuFlags);
}

} // namespace velvane
