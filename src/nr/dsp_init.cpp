#include "nr/dsp.h"

namespace velvane {

NrDsp nrDsp;

void nrDspInit(NrDsp *table, unsigned cpuFlags)
{
    (void)cpuFlags;
    table->placeholder = 0;
}

} // namespace velvane
