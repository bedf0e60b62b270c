#ifndef VELVANE_PIPELINE_DSP_H
#define VELVANE_PIPELINE_DSP_H

#include <stddef.h>
#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

// How adjustColourRow treats a row, chosen once per frame from the settings.
enum ColourMode : int32_t {
    COLOUR_GAINS = 0,      // y gain and offset, cb and cr gains
    COLOUR_ROTATE = 1,     // y as above; cb, cr rotated, scaled and balanced
    COLOUR_ROTATE_411 = 2, // as COLOUR_ROTATE, chroma only where x % 4 == 0
};

// Integer factors of the colour stage. kY, kCb, kCr, kB are 256 + setting;
// offsetY is 4 x the luma offset; hs, hc the truncated hue sine and cosine x 256.
struct ColourFactors {
    int32_t kY, offsetY, kCb, kCr, hs, hc, kB;
    ColourMode mode;
};

// Colour stage on pixels 0 .. width - 1 of one row, in place. Every product is
// 32-bit and shifted on its own; results keep their low 16 bits. Factors lie
// within the track ranges (|k - 256| <= 100, |offsetY| <= 200, |hs| <= 42,
// hc in 252 .. 256, |kB - 256| <= 30). Touches nothing beyond `width`. width >= 0.
using AdjustColourRowFn = void (*)(YcPixel *row, int32_t width, const ColourFactors *f);

// 4:1:1 to 4:2:2 chroma of one row, in place: for x = 0, 4, ... while
// x < width - 4, pixel x + 1 copies the chroma of x and pixels x + 2, x + 3
// take floor((c(x) + c(x + 4)) / 2). Luma and the pixels after the last group
// are untouched; nothing at or beyond `width` is read or written.
using Interpolate411RowFn = void (*)(YcPixel *row, int32_t width);

// samples[i] >>= 1 (arithmetic) for i < count; nothing else is touched.
using HalveSamplesFn = void (*)(int16_t *samples, size_t count);

// One row of the field-aware binomial low-pass. `padded` points at sample 0 of
// a frame row in a padded plane whose rows are `rowPitch` samples apart; for
// i < count, low[i] = s16 >> 4 where s sums, with 16-bit saturation after each
// addition, padded[i + dy * rowPitch + dx] in the order
// (dy, dx) = (-2,-3) (-2,0) (-2,0) (-2,3) (0,-3) (0,-3) (0,0) (0,0) (0,0) (0,0)
// (0,3) (0,3) (2,-3) (2,0) (2,0) (2,3). count is 3 x alignedWidth (>= 12);
// reads stay within those taps, writes within low[0 .. count - 1].
using LowPassRowFn = void (*)(int16_t *low, const int16_t *padded, ptrdiff_t rowPitch, int32_t count);

// high[i] = sat16(high[i] - low[i]) for i < count; nothing else is touched.
using ResidualRowFn = void (*)(int16_t *high, const int16_t *low, int32_t count);

// Kernel table of this stage family. Every slot holds the scalar reference
// (suffix C) after init, then the fastest version the CPU flags allow.
struct PipelineDsp {
    AdjustColourRowFn adjustColourRow;
    Interpolate411RowFn interpolate411Row;
    HalveSamplesFn halveSamples;
    LowPassRowFn lowPassRow;
    ResidualRowFn residualRow;
};

void adjustColourRowC(YcPixel *row, int32_t width, const ColourFactors *f);
void interpolate411RowC(YcPixel *row, int32_t width);
void halveSamplesC(int16_t *samples, size_t count);
void lowPassRowC(int16_t *low, const int16_t *padded, ptrdiff_t rowPitch, int32_t count);
void residualRowC(int16_t *high, const int16_t *low, int32_t count);

void pipelineDspInit(PipelineDsp *table, unsigned cpuFlags);

} // namespace velvane

#endif
