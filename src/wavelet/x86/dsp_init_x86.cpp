#include "common/cpu_flags.h"
#include "wavelet/x86/dsp_x86.h"

namespace velvane {

void waveletDspInitX86(WaveletDsp *table, unsigned cpuFlags)
{
    if (!(cpuFlags & CPU_SSE2))
        return;
    table->d4Forward = d4ForwardSse2;
    table->d4Inverse = d4InverseSse2;
    table->d4OddLowForward = d4OddLowForwardSse2;
    table->d4OddLowInverse = d4OddLowInverseSse2;
    table->shrinkColumns = shrinkColumnsSse2;
    table->dotDifferenceRow = dotDifferenceRowSse2;
    table->dotWriteBackRow = dotWriteBackRowSse2;
    table->copyLumaRow = copyLumaRowSse2;
    table->dotDifferenceLumaRow = dotDifferenceLumaRowSse2;
    table->dotDifferenceLumasRow = dotDifferenceLumasRowSse2;
    table->dotDifferencePlanarRow = dotDifferencePlanarRowSse2;
    table->dotWriteBackMeanRow = dotWriteBackMeanRowSse2;
    table->dotWriteBackHalvedRow = dotWriteBackHalvedRowSse2;
    if (!(cpuFlags & CPU_AVX2))
        return;
    table->d4Forward = d4ForwardAvx2;
    table->d4Inverse = d4InverseAvx2;
    table->d4OddLowForward = d4OddLowForwardAvx2;
    table->d4OddLowInverse = d4OddLowInverseAvx2;
    table->shrinkColumns = shrinkColumnsAvx2;
    table->dotDifferenceRow = dotDifferenceRowAvx2;
    table->dotWriteBackRow = dotWriteBackRowAvx2;
    table->copyLumaRow = copyLumaRowAvx2;
    table->dotDifferenceLumaRow = dotDifferenceLumaRowAvx2;
    table->dotDifferenceLumasRow = dotDifferenceLumasRowAvx2;
    table->dotDifferencePlanarRow = dotDifferencePlanarRowAvx2;
    table->dotWriteBackMeanRow = dotWriteBackMeanRowAvx2;
    table->dotWriteBackHalvedRow = dotWriteBackHalvedRowAvx2;
    if (!(cpuFlags & CPU_AVX512))
        return;
    table->d4Forward = d4ForwardAvx512;
    table->d4Inverse = d4InverseAvx512;
    table->d4OddLowForward = d4OddLowForwardAvx512;
    table->d4OddLowInverse = d4OddLowInverseAvx512;
    table->shrinkColumns = shrinkColumnsAvx512;
}

} // namespace velvane
