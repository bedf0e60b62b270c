#include "common/cpu_flags.h"
#include "motion/x86/dsp_x86.h"

namespace velvane {

void motionDspInitX86(MotionDsp *table, unsigned cpuFlags)
{
    if (!(cpuFlags & CPU_SSE2))
        return;
    table->sad16 = sad16Sse2;
    table->sad16x8Many = sad16x8ManySse2;
    table->compensateCell = compensateCellSse2;
    table->halfPixelRow = halfPixelRowSse2;
    table->splitPixelsRow = splitPixelsRowSse2;
    table->halveRow = halveRowSse2;
    // mergePixelsRow stays C below AVX2: without a byte shuffle the interleave
    // of three planes costs as many instructions as the scalar loop.
    if (!(cpuFlags & CPU_AVX2))
        return;
    table->sad16 = sad16Avx2;
    table->sad16x8Many = sad16x8ManyAvx2;
    table->compensateCell = compensateCellAvx2;
    table->halfPixelRow = halfPixelRowAvx2;
    table->splitPixelsRow = splitPixelsRowAvx2;
    table->halveRow = halveRowAvx2;
    table->mergePixelsRow = mergePixelsRowAvx2;
    if (!(cpuFlags & CPU_AVX512))
        return;
    table->sad16 = sad16Avx512;
    // sad16x8Many stays AVX2: four rows of 16 in one register need three inserts
    // a candidate where two rows need one, and measured slower.
    table->compensateCell = compensateCellAvx512;
    table->splitPixelsRow = splitPixelsRowAvx512;
    table->halveRow = halveRowAvx512;
    table->mergePixelsRow = mergePixelsRowAvx512;
}

} // namespace velvane
