#ifndef VELVANE_MOTION_X86_SPATIAL_X86_H
#define VELVANE_MOTION_X86_SPATIAL_X86_H

#include "motion/spatial.h"

namespace velvane {

void spatialRowSse2(int16_t *dst, const int16_t *above, const int16_t *cur, const int16_t *below,
                    const int16_t *limit, const uint16_t *scale, int32_t centre, int32_t count);
void spatialRowAvx2(int16_t *dst, const int16_t *above, const int16_t *cur, const int16_t *below,
                    const int16_t *limit, const uint16_t *scale, int32_t centre, int32_t count);
void spatialRowAvx512(int16_t *dst, const int16_t *above, const int16_t *cur, const int16_t *below,
                      const int16_t *limit, const uint16_t *scale, int32_t centre, int32_t count);

void spatialDspInitX86(SpatialDsp *table, unsigned cpuFlags);

} // namespace velvane

#endif
