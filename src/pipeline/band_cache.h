#ifndef VELVANE_PIPELINE_BAND_CACHE_H
#define VELVANE_PIPELINE_BAND_CACHE_H

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

extern BandCache bandCache;

inline int32_t cacheSlotOf(int32_t frame) { return frame % kCacheSlots; }
inline YcPixel *bandRow(YcPixel *plane, int32_t paddedWidth, int32_t frameRow)
{
    return plane + (intptr_t)(frameRow + 2) * paddedWidth + 2;
}

// Empties every slot; planes and geometry stay.
void invalidateBandCache();

// Reallocates the ten planes and empties the slots when the aligned size
// differs from the cached one. Returns false when the planes could not be
// allocated: the cache then has no geometry and nothing may be processed.
bool ensureCacheGeometry(int32_t width, int32_t height);

// Frees the ten planes and forgets the geometry.
void releaseBandCache();

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
