#ifndef VELVANE_PIPELINE_BAND_CACHE_H
#define VELVANE_PIPELINE_BAND_CACHE_H

#include <stddef.h>
#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

constexpr int kCacheSlots = 5;

// Low and high band planes of up to five source frames, frame m in slot m % 5.
// A plane is (alignedHeight + 4) rows of paddedWidth cells at half scale; frame
// pixel (x, y) sits in cell (y + 2, x + 2), with a two-cell border all round.
struct BandCache {
    int32_t slotTag[kCacheSlots]; // frame held, -1 = empty
    YcPixel *lowBand[kCacheSlots];
    YcPixel *highBand[kCacheSlots];
    int32_t alignedWidth;  // (width + 3) & ~3, -1 = no geometry yet
    int32_t paddedWidth;   // alignedWidth + 4
    int32_t alignedHeight; // (height + 1) & ~1
};

// No geometry yet, every slot empty, no planes.
constexpr BandCache kEmptyBandCache = {{-1, -1, -1, -1, -1}, {}, {}, -1, -1, -1};

// Where the cache's planes and each frame's temporaries come from: the
// general-purpose heap, or in tests an allocator that fails on purpose.
struct FrameHeap {
    void *(*allocate)(size_t bytes);
    void *(*reallocate)(void *block, size_t bytes);
    void (*release)(void *block);
};

inline int32_t cacheSlotOf(int32_t frame) { return frame % kCacheSlots; }
inline YcPixel *bandRow(YcPixel *plane, int32_t paddedWidth, int32_t frameRow)
{
    return plane + (intptr_t)(frameRow + 2) * paddedWidth + 2;
}

// Empties every slot; planes and geometry stay.
void invalidateBandCache(BandCache &cache);

// Reallocates the ten planes and empties the slots when the aligned size
// differs from the cached one. Returns false when the planes could not be
// allocated: the cache then has no geometry and nothing may be processed.
bool ensureCacheGeometry(BandCache &cache, const FrameHeap &heap, int32_t width, int32_t height);

// Frees the ten planes and forgets the geometry.
void releaseBandCache(BandCache &cache, const FrameHeap &heap);

// Writes every cell of `plane` (border included) from the halved frame `src`
// (rows `stride` pixels apart, `height` rows). Columns mirror about the first
// and last column, the top two rows mirror within their field, the bottom two
// rows repeat rows alignedHeight - 3 and alignedHeight - 2. For an odd height
// the missing last row is taken from row height - 2, the nearest row of the
// same field. Needs stride >= alignedWidth and width, height >= 4.
void fillPaddedCopy(const YcPixel *src, int32_t stride, int32_t height, YcPixel *plane, int32_t alignedWidth,
                    int32_t alignedHeight);

} // namespace velvane

#endif
