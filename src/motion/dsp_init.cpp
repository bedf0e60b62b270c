#include "motion/dsp.h"

#include "motion/x86/dsp_x86.h"

namespace velvane {

void motionDspInit(MotionDsp *table, unsigned cpuFlags)
{
    table->sad16 = sad16C;
    table->sad16x8Many = sad16x8ManyC;
    table->compensateCell = compensateCellC;
    table->halfPixelRow = halfPixelRowC;
    table->splitPixelsRow = splitPixelsRowC;
    table->halveRow = halveRowC;
    table->mergePixelsRow = mergePixelsRowC;
    motionDspInitX86(table, cpuFlags);
}

} // namespace velvane
