#ifndef VELVANE_NR_OUTPUT_H
#define VELVANE_NR_OUTPUT_H

#include <stdint.h>

#include "nr/borders.h"
#include "nr/dsp.h"
#include "pipeline/settings.h"
#include "velvane/filter.h"

namespace velvane {

// Doubles the processed rows back to the host's scale and draws the black borders.
void finishOutput(const FrameJob *job, const FrameSettings &s, const NrDsp &dsp);

// finishOutput without the doubling, for rows selectiveAverageDoubled has
// doubled already: the black borders alone.
void finishOutputBorders(const FrameJob *job, const FrameSettings &s, const NrDsp &dsp);

// finishOutputBorders for row r alone (b from frameBorders): black across the
// stride outside the processed rows, the side borders within them.
void finishBorderRow(const FrameJob *job, const FrameSettings &s, const FrameBorders &b, const NrDsp &dsp, int32_t r);

} // namespace velvane

#endif
