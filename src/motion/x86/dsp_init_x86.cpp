#include "common/cpu_flags.h"
#include "motion/x86/dsp_x86.h"

namespace velvane {

void motionDspInitX86(MotionDsp *table, unsigned cpuFlags)
{
    if (!(cpuFlags & CPU_SSE2))
        return;
    table->sad16 = sad16Sse2;
    table->compensateRows = compensateRowsSse2;
    table->resolveRow = resolveRowSse2;
    table->halfPixelRow = halfPixelRowSse2;
    if (!(cpuFlags & CPU_AVX2))
        return;
    table->sad16 = sad16Avx2;
    table->compensateRows = compensateRowsAvx2;
    table->resolveRow = resolveRowAvx2;
    table->halfPixelRow = halfPixelRowAvx2;
    if (!(cpuFlags & CPU_AVX512))
        return;
    table->sad16 = sad16Avx512;
    table->compensateRows = compensateRowsAvx512;
    table->resolveRow = resolveRowAvx512;
}

} // namespace velvane
