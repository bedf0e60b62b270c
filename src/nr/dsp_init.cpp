#include "nr/dsp.h"

namespace velvane {

NrDsp nrDsp = {averageRowC, doubleSamplesC, fillPixelsC};

void nrDspInit(NrDsp *table, unsigned cpuFlags)
{
    (void)cpuFlags;
    table->averageRow = averageRowC;
    table->doubleSamples = doubleSamplesC;
    table->fillPixels = fillPixelsC;
}

} // namespace velvane
