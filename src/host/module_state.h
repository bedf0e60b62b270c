#ifndef VELVANE_HOST_MODULE_STATE_H
#define VELVANE_HOST_MODULE_STATE_H

#include <stddef.h>
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

// The settings window's "Cache Reset" button and its font, from the newest
// window-init message; the font is null again once deleted.
struct SettingsWindowHandles {
    void *cacheResetButton;
    void *cacheResetFont;
};
extern SettingsWindowHandles settingsWindow;

} // namespace velvane

#endif
