#ifndef VELVANE_PIPELINE_COLOUR_H
#define VELVANE_PIPELINE_COLOUR_H

#include <stdint.h>

#include "pipeline/dsp.h"
#include "pipeline/settings.h"
#include "velvane/filter.h"

namespace velvane {

// Luma gain and offset, chroma gains, hue and colour balance, in place over
// the visible width x height of `frame` (rows job->stride pixels apart).
void adjustColour(YcPixel *frame, const FrameJob *job, const FrameSettings &s, const PipelineDsp &dsp);

// The factors adjustColour works with. False when all six colour settings are
// zero: the stage then leaves every sample as it is and `f` is not written.
bool colourFactors(const FrameSettings &s, ColourFactors *f);

// Rebuilds 4:2:2 chroma from 4:1:1 material (real chroma on every fourth pixel).
void interpolateChroma411(YcPixel *frame, const FrameJob *job, const PipelineDsp &dsp);

} // namespace velvane

#endif
