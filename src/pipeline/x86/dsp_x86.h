#ifndef VELVANE_PIPELINE_X86_DSP_X86_H
#define VELVANE_PIPELINE_X86_DSP_X86_H

#include "pipeline/dsp.h"

namespace velvane {

void adjustColourRowSse2(YcPixel *row, int32_t width, const ColourFactors *f);
void halveSamplesSse2(int16_t *samples, size_t count);
void lowPassRowSse2(int16_t *low, const int16_t *padded, ptrdiff_t rowPitch, int32_t count);
void residualRowSse2(int16_t *high, const int16_t *low, int32_t count);

void adjustColourRowAvx2(YcPixel *row, int32_t width, const ColourFactors *f);
void halveSamplesAvx2(int16_t *samples, size_t count);
void lowPassRowAvx2(int16_t *low, const int16_t *padded, ptrdiff_t rowPitch, int32_t count);
void residualRowAvx2(int16_t *high, const int16_t *low, int32_t count);

void lowPassRowAvx512(int16_t *low, const int16_t *padded, ptrdiff_t rowPitch, int32_t count);

void pipelineDspInitX86(PipelineDsp *table, unsigned cpuFlags);

} // namespace velvane

#endif
