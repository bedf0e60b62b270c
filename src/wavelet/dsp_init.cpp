#include "wavelet/dsp.h"

namespace velvane {

WaveletDsp waveletDsp;

void waveletDspInit(WaveletDsp *table, unsigned cpuFlags)
{
    (void)cpuFlags;
    table->placeholder = 0;
}

} // namespace velvane
