#ifndef VELVANE_HOST_MODULE_STATE_H
#define VELVANE_HOST_MODULE_STATE_H

#include <stddef.h>
#include <stdint.h>

namespace velvane {

// Processor capability code: only 2 enables processing. 0 until initFilter.
extern int32_t cpuLevel;

// How the latest processFrame call ended. The host interface has no way to
// say it; a host built together with the module (the command line) reads it
// here to tell its user.
enum class FrameOutcome : int32_t {
    Filtered,      // averaged and written
    NotStarted,    // cleared: processing off (before initFilter, after exitFilter, no SSE2)
    OutOfMemory,   // cleared or left as passed: working memory could not be allocated
    Unsupported,   // cleared: too large, too small, or rows that overlap
    MissingFrames, // left as passed: no frame buffer, a refused frame cache, or a frame not served
};
extern FrameOutcome lastFrameOutcome;
// Set when initFilter could not allocate its working storage (processing then stays off).
extern bool startupOutOfMemory;

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

// Rounds a block's address up to the next multiple of 16.
inline void *alignUp16(void *p) { return reinterpret_cast<void *>((reinterpret_cast<uintptr_t>(p) + 15) & ~(uintptr_t)15); }

// Where the scratch blocks come from: the general-purpose heap. Tests put an
// allocator that fails in its place. A failed allocation leaves cpuLevel 0
// (processing off) and no scratch.
struct ScratchHeap {
    void *(*allocate)(size_t bytes);
    void (*release)(void *block);
};
extern ScratchHeap scratchHeap;

// Where the band cache's planes and each frame's temporaries come from: the
// general-purpose heap. Tests put an allocator that fails in its place. A
// failed allocation leaves the frame as the host passed it.
struct FrameHeap {
    void *(*allocate)(size_t bytes);
    void *(*reallocate)(void *block, size_t bytes);
    void (*release)(void *block);
};
extern FrameHeap frameHeap;

// The settings window's "Cache Reset" button and its font, from the newest
// window-init message; the font is null again once deleted.
struct SettingsWindowHandles {
    void *cacheResetButton;
    void *cacheResetFont;
};
extern SettingsWindowHandles settingsWindow;

} // namespace velvane

#endif
