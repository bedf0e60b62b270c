#ifndef VELVANE_PIPELINE_DSP_H
#define VELVANE_PIPELINE_DSP_H

namespace velvane {

// Kernel table of this stage family. Every slot holds the scalar reference
// (suffix C) after init, then the fastest version the CPU flags allow.
struct PipelineDsp {
    int placeholder; // replaced by the kernel slots
};

// Module-wide table, written once at start-up by selectKernels().
extern PipelineDsp pipelineDsp;

void pipelineDspInit(PipelineDsp *table, unsigned cpuFlags);

} // namespace velvane

#endif
