#ifndef VELVANE_HOST_MODULE_STATE_H
#define VELVANE_HOST_MODULE_STATE_H

#include <stdint.h>

namespace velvane {

// Processor capability code: only 2 enables processing. 0 until initFilter.
extern int32_t cpuLevel;

// Fixed working storage of the dot-interference reducer, allocated by
// initFilter. raw[] holds the allocator's pointers (for freeing only); the
// named pointers are those rounded up to 16 bytes and are the ones used.
struct ScratchMemory {
    void *raw[5];
    float *wavePlaneA; // 800 x 800 floats
    float *wavePlaneB; // 800 x 800 floats
    float *waveRowA;   // 800 floats
    float *waveRowB;   // 800 floats
    float *waveRowC;   // 800 floats
};
extern ScratchMemory scratch;

constexpr int kWaveLength = 800;

} // namespace velvane

#endif
