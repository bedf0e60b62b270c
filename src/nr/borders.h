#ifndef VELVANE_NR_BORDERS_H
#define VELVANE_NR_BORDERS_H

#include <stdint.h>

#include "pipeline/settings.h"
#include "velvane/filter.h"

namespace velvane {

// Border widths and the processed rows [firstRow, endRow) of one frame, shared
// by the averaging and the output stage. Borders count only when they are
// switched on; negative widths count as 0, and every width is clipped to
// the frame, so that no fill leaves rows 0 .. h - 1 or columns 0 .. w - 1.
// When top + bottom reaches h no row is processed.
struct FrameBorders {
    int32_t top, bottom, left, right;
    int32_t firstRow, endRow;
};

FrameBorders frameBorders(const FrameJob *job, const FrameSettings &s);

} // namespace velvane

#endif
