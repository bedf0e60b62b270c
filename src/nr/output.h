#ifndef VELVANE_NR_OUTPUT_H
#define VELVANE_NR_OUTPUT_H

#include <stdint.h>

#include "nr/dsp.h"
#include "pipeline/settings.h"
#include "velvane/filter.h"

namespace velvane {

// Doubles the processed rows back to the host's scale and draws the black borders.
void finishOutput(const FrameJob *job, const FrameSettings &s, const NrDsp &dsp);

// finishOutput without the doubling, for rows selectiveAverageDoubled has
// doubled already: the black borders alone.
void finishOutputBorders(const FrameJob *job, const FrameSettings &s, const NrDsp &dsp);

} // namespace velvane

#endif
