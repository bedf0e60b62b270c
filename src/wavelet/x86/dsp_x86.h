#ifndef VELVANE_WAVELET_X86_DSP_X86_H
#define VELVANE_WAVELET_X86_DSP_X86_H

#include "wavelet/dsp.h"

namespace velvane {

void d4ForwardSse2(const float *x, int32_t n, float *out);
void d4InverseSse2(const float *a, const float *d, int32_t m, float *out);
void d4OddLowForwardSse2(const float *x, int32_t n, float *out);
void d4OddLowInverseSse2(const float *b, int32_t m, float *out);
void shrinkColumnsSse2(float *plane, int32_t column, int32_t count, int32_t h, float *work);
void dotDifferenceRowSse2(const YcPixel *prev, YcPixel *cur, const YcPixel *next, int32_t w, float *s);
void dotWriteBackRowSse2(const float *t, int32_t w, YcPixel *cur);
void copyLumaRowSse2(const YcPixel *row, int32_t w, int16_t *luma);
void dotDifferenceLumaRowSse2(const int16_t *prevLuma, YcPixel *cur, const YcPixel *next, int32_t w, float *s);
void dotDifferenceLumasRowSse2(const int16_t *prevLuma, YcPixel *cur, const int16_t *nextLuma, int32_t w, float *s);
void dotDifferencePlanarRowSse2(const int16_t *prevLuma, const int16_t *curLuma, const int16_t *nextLuma, int32_t w,
                                float *s);
void dotWriteBackMeanRowSse2(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, int32_t w,
                             YcPixel *cur);
void dotWriteBackHalvedRowSse2(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, const YcPixel *src,
                               int32_t w, YcPixel *dst);

void d4ForwardAvx2(const float *x, int32_t n, float *out);
void d4InverseAvx2(const float *a, const float *d, int32_t m, float *out);
void d4OddLowForwardAvx2(const float *x, int32_t n, float *out);
void d4OddLowInverseAvx2(const float *b, int32_t m, float *out);
void shrinkColumnsAvx2(float *plane, int32_t column, int32_t count, int32_t h, float *work);
void dotDifferenceRowAvx2(const YcPixel *prev, YcPixel *cur, const YcPixel *next, int32_t w, float *s);
void dotWriteBackRowAvx2(const float *t, int32_t w, YcPixel *cur);
void copyLumaRowAvx2(const YcPixel *row, int32_t w, int16_t *luma);
void dotDifferenceLumaRowAvx2(const int16_t *prevLuma, YcPixel *cur, const YcPixel *next, int32_t w, float *s);
void dotDifferenceLumasRowAvx2(const int16_t *prevLuma, YcPixel *cur, const int16_t *nextLuma, int32_t w, float *s);
void dotDifferencePlanarRowAvx2(const int16_t *prevLuma, const int16_t *curLuma, const int16_t *nextLuma, int32_t w,
                                float *s);
void dotWriteBackMeanRowAvx2(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, int32_t w,
                             YcPixel *cur);
void dotWriteBackHalvedRowAvx2(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, const YcPixel *src,
                               int32_t w, YcPixel *dst);


void d4ForwardAvx512(const float *x, int32_t n, float *out);
void d4InverseAvx512(const float *a, const float *d, int32_t m, float *out);
void d4OddLowForwardAvx512(const float *x, int32_t n, float *out);
void d4OddLowInverseAvx512(const float *b, int32_t m, float *out);
void shrinkColumnsAvx512(float *plane, int32_t column, int32_t count, int32_t h, float *work);

// Raises the table to the SSE2 versions, then to the AVX2 ones, as the flags allow.
void waveletDspInitX86(WaveletDsp *table, unsigned cpuFlags);

} // namespace velvane

#endif
