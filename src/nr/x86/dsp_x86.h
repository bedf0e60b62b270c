#ifndef VELVANE_NR_X86_DSP_X86_H
#define VELVANE_NR_X86_DSP_X86_H

#include "nr/dsp.h"

namespace velvane {

void averageRowSse2(int16_t *dst, const AverageRowArgs *a, int32_t pixels);
void doubleSamplesSse2(int16_t *samples, size_t count);
void fillPixelsSse2(YcPixel *row, size_t count, YcPixel black);

void averageRowAvx2(int16_t *dst, const AverageRowArgs *a, int32_t pixels);
void doubleSamplesAvx2(int16_t *samples, size_t count);

void averageRowAvx512(int16_t *dst, const AverageRowArgs *a, int32_t pixels);

void nrDspInitX86(NrDsp *table, unsigned cpuFlags);

// The thresholds of `a` in the y, cb, cr pattern across `count` lanes (a
// multiple of 3), low band into low, high band into high. Filled three at a
// time: the kernels are called for short runs of a row, and build it often.
inline void thresholdLanes(const AverageRowArgs *a, int16_t *low, int16_t *high, int count)
{
    for (int k = 0; k < count; k += 3)
        for (int c = 0; c < 3; c++) {
            low[k + c] = a->lowThreshold[c];
            high[k + c] = a->highThreshold[c];
        }
}

} // namespace velvane

#endif
