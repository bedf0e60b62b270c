#ifndef VELVANE_PIPELINE_INSTANCE_H
#define VELVANE_PIPELINE_INSTANCE_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "pipeline/band_cache.h"
#include "pipeline/kernels.h"
#include "wavelet/dot_pass.h"

namespace velvane {

// How a frame ended (filterFrame's result), or a step of it: a slot's
// rebuild gives Filtered when the slot holds its frame.
enum class FrameOutcome : int32_t {
    Filtered,      // averaged and written
    NotStarted,    // cleared: processing off (not started, stopped, or no SSE2)
    OutOfMemory,   // cleared or left as passed: working memory could not be allocated
    Unsupported,   // cleared: too large, too small, or rows that overlap
    MissingFrames, // left as passed: no frame buffer, a refused frame cache, or a frame not served
};

// Where the dot pass's work memory comes from: the general-purpose heap, or in
// tests an allocator that fails on purpose.
struct ScratchHeap {
    void *(*allocate)(size_t bytes);
    void (*release)(void *block);
};

constexpr int kScratchBlocks = 5;

// Workers one instance can keep work memory for (the library's thread limit).
constexpr int32_t kMaxWorkers = 64;

// The dot pass's work memory: five blocks from the scratch heap, each rounded
// up to 16 bytes for use, in the order planeA, planeB, rowA, rowB, rowC.
struct ScratchMemory {
    void *raw[kScratchBlocks]; // as the heap returned them, for freeing only
    DotPassWork work;
};

// The capability level at which an instance processes frames (SSE2, which
// every kernel level builds on); at any other, frames are cleared.
constexpr int32_t kProcessingCpuLevel = 2;

// Everything one filter carries from frame to frame. Any number of instances
// may exist at once; each is used by one thread at a time. Constant-
// initialised, so a static instance needs no constructor at load time.
struct FilterInstance {
    int32_t cpuLevel = 0; // only kProcessingCpuLevel processes frames; 0 until started
    // Larger frames are cleared. The work memory spans up to kWaveLength.
    int32_t maxWidth = VV_MAX_WIDTH, maxHeight = VV_MAX_HEIGHT;
    Kernels kernels = {};
    ScratchMemory scratch = {};
    BandCache cache = kEmptyBandCache;
    FrameOutcome lastOutcome = FrameOutcome::NotStarted; // what filterFrame last returned
    bool startupOutOfMemory = false; // the work memory could not be allocated at start
    ScratchHeap scratchHeap = {malloc, free};
    FrameHeap frameHeap = {malloc, realloc, free};
    alignas(32) float shrinkWork[kShrinkWorkFloats] = {};
    // Workers 1 .. workers - 1 each have their own dot-pass rows and column
    // shrink area, in one block from the scratch heap; worker 0 uses `scratch`.
    int32_t workers = 1;
    void *workerBlocks[kMaxWorkers - 1] = {};
};

// The dot pass's work memory of worker w: the instance's planes, and the rows
// and shrink area of that worker alone.
DotPassWork workerDotWork(const FilterInstance &f, int32_t worker);

// Rounds a block's address up to the next multiple of 16.
inline void *alignUp16(void *p) { return reinterpret_cast<void *>((reinterpret_cast<uintptr_t>(p) + 15) & ~(uintptr_t)15); }

// Starts processing at capability level `cpuLevel` with the kernels `cpuFlags`
// allow, and allocates the work memory for `workers` (1 .. kMaxWorkers) jobs
// at once. When an allocation fails, processing stays off (cpuLevel 0) and
// startupOutOfMemory says why. Starting again frees the first blocks.
void startInstance(FilterInstance &f, int32_t cpuLevel, unsigned cpuFlags, int32_t workers = 1);

// Frees the band planes and the work memory; a later frame is cleared, not processed.
void stopInstance(FilterInstance &f);

} // namespace velvane

#endif
