#include "common/cpu_flags.h"
#include "motion/x86/dsp_x86.h"

namespace velvane {

void motionDspInitX86(MotionDsp *table, unsigned cpuFlags)
{
    if (!(cpuFlags & CPU_SSE2))
        return;
    (void)table;
}

} // namespace velvane
