#ifndef VELVANE_MOTION_X86_DSP_X86_H
#define VELVANE_MOTION_X86_DSP_X86_H

#include "motion/dsp.h"

namespace velvane {

uint32_t sad16Sse2(const uint8_t *a, ptrdiff_t aStride, const uint8_t *b, ptrdiff_t bStride, int32_t rows);
void sad16x8ManySse2(const uint8_t *cur, ptrdiff_t curStride, const uint8_t *const *refs, ptrdiff_t refStride,
                     int32_t count, uint32_t *sads);
void compensateCellSse2(const CompensateCellArgs *a);

void halfPixelRowSse2(uint8_t *h, uint8_t *v, uint8_t *d, const uint8_t *a, const uint8_t *b, int32_t count);
void halfPixelRowAvx2(uint8_t *h, uint8_t *v, uint8_t *d, const uint8_t *a, const uint8_t *b, int32_t count);

uint32_t sad16Avx2(const uint8_t *a, ptrdiff_t aStride, const uint8_t *b, ptrdiff_t bStride, int32_t rows);
void sad16x8ManyAvx2(const uint8_t *cur, ptrdiff_t curStride, const uint8_t *const *refs, ptrdiff_t refStride,
                     int32_t count, uint32_t *sads);
void compensateCellAvx2(const CompensateCellArgs *a);

uint32_t sad16Avx512(const uint8_t *a, ptrdiff_t aStride, const uint8_t *b, ptrdiff_t bStride, int32_t rows);
void compensateCellAvx512(const CompensateCellArgs *a);

void splitPixelsRowSse2(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, const YcPixel *src, int32_t count);
void splitPixelsRowAvx2(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, const YcPixel *src, int32_t count);
void splitPixelsRowAvx512(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, const YcPixel *src, int32_t count);
void halveRowSse2(uint8_t *dst, const uint8_t *a, const uint8_t *b, int32_t count);
void halveRowAvx2(uint8_t *dst, const uint8_t *a, const uint8_t *b, int32_t count);
void halveRowAvx512(uint8_t *dst, const uint8_t *a, const uint8_t *b, int32_t count);
void mergePixelsRowAvx2(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int32_t count);
void mergePixelsRowAvx512(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int32_t count);

void motionDspInitX86(MotionDsp *table, unsigned cpuFlags);

} // namespace velvane

#endif
