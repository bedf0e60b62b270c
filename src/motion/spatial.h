// A spatial pass after the averaging along the motion: within each field,
// every sample is pulled towards those of its four neighbours that differ by
// less than a limit set from the noise the motion search measured and the
// number of frames that were averaged, each neighbour weighed by how far
// inside the limit it lies. Where the averaging left next to no noise the
// limit is a fraction of a code value and the picture passes nearly unchanged.
#ifndef VELVANE_MOTION_SPATIAL_H
#define VELVANE_MOTION_SPATIAL_H

#include <stdint.h>

#include "common/tasks.h"
#include "velvane/filter.h"

namespace velvane {

// One row of packed pixels (y, cb, cr samples, so that a pixel's neighbours
// lie 3 samples away), samples i = 0 .. count - 1 of `cur`, with `above` and
// `below` the field's rows next to it. For each sample v = cur[i] and each of
// its four neighbours n (cur[i - 3], cur[i + 3], above[i], below[i]): d = n
// - v, w = (max(0, limit[i] - |d|) x scale[i]) >> 16; then dst[i] = v + the
// nearest integer (ties to even) of (float)(sum of w x d) / (float)(centre +
// sum of w), each a float operation as written. Samples lie within -8192 .. 8191, limits within
// 0 .. 16383, (limit x scale) >> 16 within 0 .. 64, centre within 1 .. 32767.
// Reads 3 samples before and after the span of `cur`.
using SpatialRowFn = void (*)(int16_t *dst, const int16_t *above, const int16_t *cur, const int16_t *below,
                              const int16_t *limit, const uint16_t *scale, int32_t centre, int32_t count);

// Kernel table; every slot holds the scalar reference (suffix C) after init,
// then the fastest version the CPU flags allow.
struct SpatialDsp {
    SpatialRowFn spatialRow;
};

void spatialRowC(int16_t *dst, const int16_t *above, const int16_t *cur, const int16_t *below, const int16_t *limit,
                 const uint16_t *scale, int32_t centre, int32_t count);

void spatialDspInit(SpatialDsp *table, unsigned cpuFlags);

// The limits of one frame, per plane, in samples (16 to an 8-bit code value).
struct SpatialLimits {
    int32_t luma = 0, chroma = 0;
    bool any() const { return luma > 0 || chroma > 0; }
};

class SpatialStage {
public:
    explicit SpatialStage(unsigned cpuFlags);

    // The limits for a frame averaged along the motion: `noise` is the noise
    // the search measured in 8-bit code values (the mean absolute difference
    // of the closest matches), `matchedShare` the share of its neighbours'
    // weight the averaging kept, over `neighbours` frames; `strength` in
    // percent (100 the default).
    static SpatialLimits limits(float noise, float matchedShare, int32_t neighbours, int32_t strength);

    // Writes the filtered `src` into `dst` (pixels 0 .. width - 1 of each
    // row, width at least 2, rows `stride` pixels apart; the two do not
    // overlap), samples within -8192 .. 8191. Every thread count gives the
    // same bytes.
    void filter(const YcPixel *src, YcPixel *dst, int32_t width, int32_t height, int32_t stride,
                const SpatialLimits &limits, const TaskRunner &tasks);

    const SpatialDsp &dsp() const { return dsp_; }

private:
    SpatialDsp dsp_;
};

} // namespace velvane

#endif
