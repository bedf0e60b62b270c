#include "nr/dsp.h"

#include "nr/x86/dsp_x86.h"

namespace velvane {

void nrDspInit(NrDsp *table, unsigned cpuFlags)
{
    table->averageRow = averageRowC;
    table->doubleSamples = doubleSamplesC;
    table->fillPixels = fillPixelsC;
    nrDspInitX86(table, cpuFlags);
}

} // namespace velvane
