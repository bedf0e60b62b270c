#ifndef VELVANE_NR_AVERAGE_H
#define VELVANE_NR_AVERAGE_H

#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

// Threshold-selective averaging of the cached bands of frames n - 1, n, n + 1
// into the processed rows of job->frame, at half scale. Reads the band cache.
void selectiveAverage(const FrameJob *job, const int32_t *trackValues, const int32_t *checkValues);

} // namespace velvane

#endif
