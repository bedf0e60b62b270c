#ifndef VELVANE_PIPELINE_BAND_SPLIT_H
#define VELVANE_PIPELINE_BAND_SPLIT_H

#include <stdint.h>

#include "pipeline/dsp.h"
#include "velvane/filter.h"

namespace velvane {

// Arithmetic shift right by one of every sample of stride x height pixels.
void halveSamples(YcPixel *frame, int32_t stride, int32_t height, const PipelineDsp &dsp);

// Reads the padded copy from `highBand`, writes the field-aware binomial
// low-pass into `lowBand` and the residual over `highBand`, for the frame
// cells of planes laid out as in band_cache.h.
void splitBands(YcPixel *lowBand, YcPixel *highBand, int32_t alignedWidth, int32_t alignedHeight,
                const PipelineDsp &dsp);

} // namespace velvane

#endif
