// Seeing what the filter takes out of a frame.
#ifndef VELVANE_PIPELINE_REMOVED_VIEW_H
#define VELVANE_PIPELINE_REMOVED_VIEW_H

#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

// How much the difference is magnified: grain of a few code values and dots of
// a dozen stay clear of the ends of the range.
constexpr int32_t kRemovedGain = 4;

// Overwrites `output` with what went from `input` to it, per component:
// mid-grey (luma 128 of 8-bit video, neutral chroma) plus kRemovedGain times
// input minus output, saturated to 16 bits. Both frames are width x height,
// rows `stride` pixels apart.
void removedView(const YcPixel *input, YcPixel *output, int32_t width, int32_t height, int32_t stride);

} // namespace velvane

#endif
