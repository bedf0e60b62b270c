#include "pipeline/instance.h"

namespace velvane {
namespace {

constexpr size_t kWavePlaneBytes = (size_t)kWaveLength * kWaveLength * sizeof(float);
constexpr size_t kWaveRowBytes = (size_t)kWaveLength * sizeof(float);
// In allocation order: planeA, planeB, rowA, rowB, rowC.
constexpr size_t kScratchBytes[kScratchBlocks] = {kWavePlaneBytes, kWavePlaneBytes, kWaveRowBytes, kWaveRowBytes,
                                                  kWaveRowBytes};

// A worker's block: rowA, rowB, rowC and the shrink area, 32-byte aligned.
constexpr size_t kWorkerFloats = 3 * (size_t)kWaveLength + kShrinkWorkFloats;
constexpr size_t kWorkerBytes = kWorkerFloats * sizeof(float) + 31;

float *workerFloats(void *block)
{
    return reinterpret_cast<float *>((reinterpret_cast<uintptr_t>(block) + 31) & ~(uintptr_t)31);
}

void releaseScratch(FilterInstance &f)
{
    for (void *&block : f.workerBlocks) {
        if (block)
            f.scratchHeap.release(block);
        block = nullptr;
    }
    f.workers = 1;
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

bool allocateWorkers(FilterInstance &f, int32_t workers)
{
    for (int32_t i = 1; i < workers; ++i)
        if (!(f.workerBlocks[i - 1] = f.scratchHeap.allocate(kWorkerBytes)))
            return false;
    f.workers = workers;
    return true;
}

} // namespace

DotPassWork workerDotWork(const FilterInstance &f, int32_t worker)
{
    DotPassWork w = f.scratch.work;
    if (worker <= 0 || worker >= f.workers)
        return w;
    float *p = workerFloats(f.workerBlocks[worker - 1]);
    w.rowA = p;
    w.rowB = p + kWaveLength;
    w.rowC = p + 2 * kWaveLength;
    w.shrink = p + 3 * kWaveLength;
    return w;
}

void startInstance(FilterInstance &f, int32_t cpuLevel, unsigned cpuFlags, int32_t workers)
{
    f.cpuLevel = cpuLevel;
    kernelsInit(&f.kernels, cpuFlags);
    releaseScratch(f);
    f.startupOutOfMemory = false;
    workers = workers < 1 ? 1 : workers > kMaxWorkers ? kMaxWorkers : workers;
    if (!allocateScratch(f) || !allocateWorkers(f, workers)) {
        // Processing stays off: frames are cleared instead of worked on in
        // missing storage.
        releaseScratch(f);
        f.startupOutOfMemory = cpuLevel == kProcessingCpuLevel;
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
