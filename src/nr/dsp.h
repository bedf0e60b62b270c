#ifndef VELVANE_NR_DSP_H
#define VELVANE_NR_DSP_H

#include <stddef.h>
#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

// The samples one averaged row reads, each pointing at frame column 0 of a
// band plane row (interleaved y, cb, cr at half scale). The partner rows are
// the other field's row of the same pair of lines, in the low band only.
struct AverageRowArgs {
    const int16_t *lowCur, *lowPrev, *lowNext;
    const int16_t *lowCurPartner, *lowPrevPartner, *lowNextPartner;
    const int16_t *highCur, *highPrev, *highNext;
    int16_t lowThreshold[3];  // y, cb, cr; 0 .. 32767
    int16_t highThreshold[3]; // y, cb, cr; 0 .. 32767
    int32_t usePrevious;      // 0: the previous frame is left out of both passes
    int32_t doubled = 0;      // 1: each result doubled as doubleSamples does it
};

// Both averaging passes over pixels 0 .. pixels - 1 of one row: per component,
// q1 from the low band (neighbours prev, next, cur-partner, prev-partner,
// next-partner in that order), q2 from the high band (prev, next); each sums
// 2 x centre and the neighbours strictly within the threshold, with 16-bit
// saturation after every addition, and takes (float)sum / (float)weight
// rounded to nearest even, saturated. dst = sat16(q1 + q2), shifted left by
// one as a 16-bit value (no saturation) when doubled. Reads the band
// rows at columns 0 .. pixels - 1 only; writes dst[0 .. 3 x pixels - 1] only.
using AverageRowFn = void (*)(int16_t *dst, const AverageRowArgs *a, int32_t pixels);

// samples[i] = samples[i] << 1 as a 16-bit value (no saturation), i < count.
using DoubleSamplesFn = void (*)(int16_t *samples, size_t count);

// row[0 .. count - 1] = black.
using FillPixelsFn = void (*)(YcPixel *row, size_t count, YcPixel black);

// Kernel table of this stage family. Every slot holds the scalar reference
// (suffix C) after init, then the fastest version the CPU flags allow.
struct NrDsp {
    AverageRowFn averageRow;
    DoubleSamplesFn doubleSamples;
    FillPixelsFn fillPixels;
};

void averageRowC(int16_t *dst, const AverageRowArgs *a, int32_t pixels);
void doubleSamplesC(int16_t *samples, size_t count);
void fillPixelsC(YcPixel *row, size_t count, YcPixel black);

void nrDspInit(NrDsp *table, unsigned cpuFlags);

} // namespace velvane

#endif
