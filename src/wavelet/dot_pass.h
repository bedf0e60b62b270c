#ifndef VELVANE_WAVELET_DOT_PASS_H
#define VELVANE_WAVELET_DOT_PASS_H

#include "velvane/filter.h"

namespace velvane {

// Removes dot interference from the luma of `cur` (width x height of `job`,
// rows job->stride pixels apart) using its neighbours in time. prev and next
// are only read, and only through their sum. Uses the scratch memory.
void dotPass(const FrameJob *job, const YcPixel *prev, YcPixel *cur, const YcPixel *next);

} // namespace velvane

#endif
