#include "pipeline/instance.h"

namespace velvane {
namespace {

constexpr size_t kWavePlaneBytes = (size_t)kWaveLength * kWaveLength * sizeof(float);
constexpr size_t kWaveRowBytes = (size_t)kWaveLength * sizeof(float);
// In allocation order: planeA, planeB, rowA, rowB, rowC.
constexpr size_t kScratchBytes[kScratchBlocks] = {kWavePlaneBytes, kWavePlaneBytes, kWaveRowBytes, kWaveRowBytes,
                                                  kWaveRowBytes};

void releaseScratch(FilterInstance &f)
{
    for (void *&block : f.scratch.raw) {
        if (block)
            f.scratchHeap.release(block);
        block = nullptr;
    }
    f.scratch.work = DotPassWork{};
}

bool allocateScratch(FilterInstance &f)
{
    for (int i = 0; i < kScratchBlocks; ++i) {
        f.scratch.raw[i] = f.scratchHeap.allocate(kScratchBytes[i] + 15);
        if (!f.scratch.raw[i])
            return false;
    }
    DotPassWork &w = f.scratch.work;
    w.planeA = static_cast<float *>(alignUp16(f.scratch.raw[0]));
    w.planeB = static_cast<float *>(alignUp16(f.scratch.raw[1]));
    w.rowA = static_cast<float *>(alignUp16(f.scratch.raw[2]));
    w.rowB = static_cast<float *>(alignUp16(f.scratch.raw[3]));
    w.rowC = static_cast<float *>(alignUp16(f.scratch.raw[4]));
    w.shrink = f.shrinkWork;
    return true;
}

} // namespace

void startInstance(FilterInstance &f, int32_t cpuLevel, unsigned cpuFlags)
{
    f.cpuLevel = cpuLevel;
    kernelsInit(&f.kernels, cpuFlags);
    releaseScratch(f);
    f.startupOutOfMemory = false;
    if (!allocateScratch(f)) {
        // Processing stays off: frames are cleared instead of worked on in
        // missing storage.
        releaseScratch(f);
        f.startupOutOfMemory = cpuLevel == 2;
        f.cpuLevel = 0;
    }
}

void stopInstance(FilterInstance &f)
{
    releaseBandCache(f.cache, f.frameHeap);
    releaseScratch(f);
    f.cpuLevel = 0;
    f.startupOutOfMemory = false;
}

} // namespace velvane
