#include "motion/spatial.h"

#include <math.h>
#include <stdlib.h>

#include <vector>

#include "motion/x86/spatial_x86.h"

namespace velvane {

void spatialRowC(int16_t *dst, const int16_t *above, const int16_t *cur, const int16_t *below, const int16_t *limit,
                 const uint16_t *scale, int32_t centre, int32_t count)
{
    for (int32_t i = 0; i < count; i++) {
        const int32_t v = cur[i];
        const int32_t n[4] = {cur[i - 3], cur[i + 3], above[i], below[i]};
        int32_t sumW = 0, sumWd = 0;
        for (int32_t k = 0; k < 4; k++) {
            const int32_t d = n[k] - v;
            const int32_t e = limit[i] - abs(d);
            const int32_t w = e > 0 ? (int32_t)(((uint32_t)e * scale[i]) >> 16) : 0;
            sumW += w;
            sumWd += w * d;
        }
        const float q = (float)sumWd / (float)(centre + sumW);
        dst[i] = (int16_t)(v + (int32_t)lrintf(q));
    }
}

void spatialDspInit(SpatialDsp *table, unsigned cpuFlags)
{
    table->spatialRow = spatialRowC;
    spatialDspInitX86(table, cpuFlags);
}

namespace {

// The weight of a neighbour at no difference, and of the sample itself.
constexpr int32_t kNeighbourWeight = 64;
constexpr int32_t kCentreWeight = 64;
// Limits in multiples of the noise left after the averaging, in percent.
constexpr int32_t kLimitPercent = 400;

} // namespace

SpatialStage::SpatialStage(unsigned cpuFlags) { spatialDspInit(&dsp_, cpuFlags); }

SpatialLimits SpatialStage::limits(float noise, float matchedShare, int32_t neighbours, int32_t strength)
{
    SpatialLimits l;
    if (!(noise > 0) || strength <= 0)
        return l;
    // The mean absolute difference of two samples with independent noise of
    // deviation s is 2s / sqrt(pi): the deviation, in samples of 16 to the code value.
    const float deviation = noise * 16.0f * 0.886226925f;
    const float share = matchedShare < 0 ? 0.0f : matchedShare > 1 ? 1.0f : matchedShare;
    const float frames = 1.0f + share * (float)(neighbours > 0 ? neighbours : 0);
    const float left = deviation / sqrtf(frames);
    const float luma = left * (float)kLimitPercent / 100.0f * (float)strength / 100.0f;
    l.luma = (int32_t)lrintf(luma < 4095.0f ? luma : 4095.0f);
    // Chroma noise is often stronger than the luma's (tape): twice the room.
    l.chroma = 2 * l.luma;
    return l;
}

void SpatialStage::filter(const YcPixel *src, YcPixel *dst, int32_t width, int32_t height, int32_t stride,
                          const SpatialLimits &lim, const TaskRunner &tasks)
{
    // The limit and scale of every sample of a row, y, cb, cr by turns.
    const int32_t samples = 3 * width;
    std::vector<int16_t> limit((size_t)samples);
    std::vector<uint16_t> scale((size_t)samples);
    for (int32_t i = 0; i < samples; i++) {
        const int32_t l = i % 3 == 0 ? lim.luma : lim.chroma;
        limit[(size_t)i] = (int16_t)(l < 0 ? 0 : l > 16383 ? 16383 : l);
        const int32_t s = limit[(size_t)i] > 0 ? (kNeighbourWeight << 16) / limit[(size_t)i] : 0;
        scale[(size_t)i] = (uint16_t)(s > 65535 ? 65535 : s);
    }
    const int32_t pieces = sliceCount(height, tasks.workers, 16);
    auto job = [&](int32_t piece, int32_t) {
        const Span span = slice(height, pieces, piece);
        for (int32_t r = span.begin; r < span.end; r++) {
            // The rows of the same field above and below; at the field's
            // ends the row itself stands for the one missing.
            const YcPixel *c = src + (ptrdiff_t)r * stride;
            const YcPixel *a = r >= 2 ? c - 2 * stride : c;
            const YcPixel *b = r + 2 < height ? c + 2 * stride : c;
            YcPixel *o = dst + (ptrdiff_t)r * stride;
            auto s16 = [](const YcPixel *p) { return reinterpret_cast<const int16_t *>(p); };
            dsp_.spatialRow(reinterpret_cast<int16_t *>(o + 1), s16(a + 1), s16(c + 1), s16(b + 1), limit.data() + 3,
                            scale.data() + 3, kCentreWeight, 3 * (width - 2));
            // The first and last pixels: the pixel itself stands for the one
            // beyond the edge.
            for (int side = 0; side < 2; side++) {
                const int32_t x = side ? width - 1 : 0;
                const int32_t l = side ? width - 2 : 0, m = side ? width - 1 : 1;
                const YcPixel row[3] = {c[l], c[x], c[m]};
                spatialRowC(reinterpret_cast<int16_t *>(o + x), s16(a + x), s16(row + 1), s16(b + x), limit.data(),
                            scale.data(), kCentreWeight, 3);
            }
        }
    };
    runTasks(tasks, pieces, job);
}

} // namespace velvane
