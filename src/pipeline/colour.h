#ifndef VELVANE_PIPELINE_COLOUR_H
#define VELVANE_PIPELINE_COLOUR_H

#include <stdint.h>

#include "pipeline/dsp.h"
#include "velvane/filter.h"

namespace velvane {

// Luma gain and offset, chroma gains, hue and colour balance, in place over
// the visible width x height of `frame` (rows job->stride pixels apart).
void adjustColour(YcPixel *frame, const FrameJob *job, const int32_t *trackValues, const int32_t *checkValues);

// The factors adjustColour works with. False when all six colour tracks are
// zero: the stage then leaves every sample as it is and `f` is not written.
bool colourFactors(const int32_t *trackValues, const int32_t *checkValues, ColourFactors *f);

// Rebuilds 4:2:2 chroma from 4:1:1 material (real chroma on every fourth pixel).
void interpolateChroma411(YcPixel *frame, const FrameJob *job);

} // namespace velvane

#endif
