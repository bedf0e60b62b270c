#include "pipeline/band_split.h"

#include "pipeline/band_cache.h"
#include "pipeline/dsp.h"

namespace velvane {
namespace {

inline int32_t sat16(int32_t v) { return v < -32768 ? -32768 : v > 32767 ? 32767 : v; }

} // namespace

void halveSamplesC(int16_t *samples, size_t count)
{
    for (size_t i = 0; i < count; i++)
        samples[i] = (int16_t)(samples[i] >> 1);
}

void lowPassRowC(int16_t *low, const int16_t *padded, ptrdiff_t rowPitch, int32_t count)
{
    for (int32_t i = 0; i < count; i++) {
        const int16_t *above = padded + i - 2 * rowPitch;
        const int16_t *centre = padded + i;
        const int16_t *below = padded + i + 2 * rowPitch;
        // Sixteen terms, each added with saturation, in this exact order.
        const int16_t terms[16] = {above[-3], above[0],  above[0],  above[3],  centre[-3], centre[-3],
                                   centre[0], centre[0], centre[0], centre[0], centre[3],  centre[3],
                                   below[-3], below[0],  below[0],  below[3]};
        int32_t s = terms[0];
        for (int k = 1; k < 16; k++)
            s = sat16(s + terms[k]);
        low[i] = (int16_t)(s >> 4);
    }
}

void residualRowC(int16_t *high, const int16_t *low, int32_t count)
{
    for (int32_t i = 0; i < count; i++)
        high[i] = (int16_t)sat16(high[i] - low[i]);
}

void halveSamples(YcPixel *frame, int32_t stride, int32_t height, const PipelineDsp &dsp)
{
    if (stride <= 0 || height <= 0)
        return;
    dsp.halveSamples(&frame->y, (size_t)stride * (size_t)height * 3);
}

void splitBands(YcPixel *lowBand, YcPixel *highBand, int32_t alignedWidth, int32_t alignedHeight,
                const PipelineDsp &dsp)
{
    const int32_t paddedWidth = alignedWidth + 4;
    const ptrdiff_t pitch = (ptrdiff_t)paddedWidth * 3;
    const int32_t count = alignedWidth * 3;
    // The residual of row y - 2 may overwrite the padded copy once the low
    // band of row y exists: no later low-pass row reads row y - 2 any more.
    for (int32_t y = 0; y < alignedHeight; y++) {
        dsp.lowPassRow(&bandRow(lowBand, paddedWidth, y)->y, &bandRow(highBand, paddedWidth, y)->y, pitch,
                               count);
        if (y >= 2)
            dsp.residualRow(&bandRow(highBand, paddedWidth, y - 2)->y, &bandRow(lowBand, paddedWidth, y - 2)->y,
                            count);
    }
    for (int32_t y = alignedHeight - 2 < 0 ? 0 : alignedHeight - 2; y < alignedHeight; y++)
        dsp.residualRow(&bandRow(highBand, paddedWidth, y)->y, &bandRow(lowBand, paddedWidth, y)->y, count);
}

} // namespace velvane
