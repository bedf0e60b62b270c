#include "pipeline/band_cache.h"

#include <stdlib.h>
#include <string.h>

namespace velvane {

void invalidateBandCache(BandCache &bandCache)
{
    for (int s = 0; s < kCacheSlots; s++)
        bandCache.slotTag[s] = -1;
}

void releaseBandCache(BandCache &bandCache, const FrameHeap &frameHeap)
{
    for (int s = 0; s < kCacheSlots; s++) {
        frameHeap.release(bandCache.lowBand[s]);
        frameHeap.release(bandCache.highBand[s]);
        bandCache.lowBand[s] = nullptr;
        bandCache.highBand[s] = nullptr;
    }
    bandCache.alignedWidth = bandCache.paddedWidth = bandCache.alignedHeight = -1;
    invalidateBandCache(bandCache);
}

bool ensureCacheGeometry(BandCache &bandCache, const FrameHeap &frameHeap, int32_t width, int32_t height)
{
    const int32_t alignedWidth = (width + 3) & 0xFFFC;
    const int32_t alignedHeight = (height + 1) & 0xFFFE;
    if (alignedWidth == bandCache.alignedWidth && alignedHeight == bandCache.alignedHeight)
        return true;

    bandCache.alignedWidth = alignedWidth;
    bandCache.alignedHeight = alignedHeight;
    bandCache.paddedWidth = alignedWidth + 4;
    const size_t bytes = (size_t)(alignedHeight + 4) * (size_t)bandCache.paddedWidth * sizeof(YcPixel);
    for (int s = 0; s < kCacheSlots; s++) {
        YcPixel **planes[2] = {&bandCache.lowBand[s], &bandCache.highBand[s]};
        for (YcPixel **plane : planes) {
            void *resized = frameHeap.reallocate(*plane, bytes);
            if (!resized) {
                // Without all ten planes there is no cache: forget the
                // geometry so that the next frame tries again.
                releaseBandCache(bandCache, frameHeap);
                return false;
            }
            *plane = static_cast<YcPixel *>(resized);
        }
        bandCache.slotTag[s] = -1;
    }
    return true;
}

void fillPaddedCopy(const YcPixel *src, int32_t stride, int32_t height, YcPixel *plane, int32_t alignedWidth,
                    int32_t alignedHeight)
{
    const int32_t paddedWidth = alignedWidth + 4;
    for (int32_t row = 0; row < alignedHeight + 4; row++) {
        // Rows -2 and -1 mirror within their field; the two rows below the
        // frame repeat rows alignedHeight - 3 and alignedHeight - 2.
        int32_t q;
        if (row < 2)
            q = row + 2;
        else if (row < alignedHeight + 2)
            q = row - 2;
        else
            q = row - 5;
        if (q >= height) // odd height: the row below the last comes from the same field
            q = height - 2;

        const YcPixel *s = src + (intptr_t)q * stride;
        YcPixel *d = plane + (intptr_t)row * paddedWidth;
        d[0] = s[2];
        d[1] = s[1];
        memcpy(d + 2, s, (size_t)alignedWidth * sizeof(YcPixel));
        d[alignedWidth + 2] = s[alignedWidth - 2];
        d[alignedWidth + 3] = s[alignedWidth - 3];
    }
}

} // namespace velvane
