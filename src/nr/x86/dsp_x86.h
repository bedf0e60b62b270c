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

} // namespace velvane

#endif
