#ifndef VELVANE_MOTION_X86_DSP_X86_H
#define VELVANE_MOTION_X86_DSP_X86_H

#include "motion/dsp.h"

namespace velvane {

void motionDspInitX86(MotionDsp *table, unsigned cpuFlags);

} // namespace velvane

#endif
