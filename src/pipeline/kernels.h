#ifndef VELVANE_PIPELINE_KERNELS_H
#define VELVANE_PIPELINE_KERNELS_H

#include "nr/dsp.h"
#include "pipeline/dsp.h"
#include "wavelet/dsp.h"

namespace velvane {

// The kernel tables of every stage family, chosen once for a processor.
struct Kernels {
    PipelineDsp pipeline;
    NrDsp nr;
    WaveletDsp wavelet;
};

// Fills every table for the given CPU flags (common/cpu_flags.h): the scalar
// references first, then the fastest versions the flags allow.
void kernelsInit(Kernels *k, unsigned cpuFlags);

} // namespace velvane

#endif
