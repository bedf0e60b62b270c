#include "common/cpu_flags.h"
#include "motion/x86/spatial_x86.h"

namespace velvane {

void spatialDspInitX86(SpatialDsp *table, unsigned cpuFlags)
{
    if (!(cpuFlags & CPU_SSE2))
        return;
    table->spatialRow = spatialRowSse2;
    if (!(cpuFlags & CPU_AVX2))
        return;
    table->spatialRow = spatialRowAvx2;
    if (!(cpuFlags & CPU_AVX512))
        return;
    table->spatialRow = spatialRowAvx512;
}

} // namespace velvane
