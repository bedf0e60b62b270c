#include "wavelet/dsp.h"

#include "wavelet/x86/dsp_x86.h"

namespace velvane {

void waveletDspInit(WaveletDsp *table, unsigned cpuFlags)
{
    table->d4Forward = d4ForwardC;
    table->d4Inverse = d4InverseC;
    table->d4OddLowForward = d4OddLowForwardC;
    table->d4OddLowInverse = d4OddLowInverseC;
    table->shrinkColumns = shrinkColumnsC;
    table->dotDifferenceRow = dotDifferenceRowC;
    table->dotWriteBackRow = dotWriteBackRowC;
    table->copyLumaRow = copyLumaRowC;
    table->dotDifferenceLumaRow = dotDifferenceLumaRowC;
    table->dotDifferenceLumasRow = dotDifferenceLumasRowC;
    table->dotDifferencePlanarRow = dotDifferencePlanarRowC;
    table->dotWriteBackMeanRow = dotWriteBackMeanRowC;
    table->dotWriteBackHalvedRow = dotWriteBackHalvedRowC;
    waveletDspInitX86(table, cpuFlags);
}

} // namespace velvane
