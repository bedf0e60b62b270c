// Luma rows of YcPixel frames for the dot pass, four pixels at a time with
// SSE2, plus the one-pixel step for what is left of a row. Included by the
// ISA files only; everything here has internal linkage.
#ifndef VELVANE_WAVELET_X86_PIXEL_ROWS_H
#define VELVANE_WAVELET_X86_PIXEL_ROWS_H

#include <emmintrin.h>
#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {
namespace {

inline int32_t truncateToInt(float f)
{
    if (f >= -2147483648.0f && f < 2147483648.0f)
        return (int32_t)f;
    return INT32_MIN;
}

inline void differencePixel(const YcPixel *prev, YcPixel *cur, const YcPixel *next, float *s, int32_t j)
{
    const int32_t mean = ((int32_t)prev[j].y + (int32_t)next[j].y) >> 1;
    s[j] = (float)((int32_t)cur[j].y - mean);
    cur[j].y = (int16_t)mean;
}

inline void writeBackPixel(const float *t, YcPixel *cur, int32_t j)
{
    cur[j].y = (int16_t)(uint16_t)((uint32_t)(int32_t)cur[j].y + (uint32_t)truncateToInt(t[j]));
}

// Four pixels are six dwords; dwords 0, 1, 3 and 4 carry y0 in their low
// half, y1 in their high half, y2 low and y3 high.
struct FourPixels {
    __m128 a, b; // dwords 0..3 and 2..5
    __m128i z;   // dwords 0, 1, 3, 4
    explicit FourPixels(const YcPixel *p)
        : a(_mm_loadu_ps((const float *)(const void *)p)), b(_mm_loadu_ps((const float *)(const void *)p + 2))
    {
        const __m128 t = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 2, 3, 3));
        z = _mm_castps_si128(_mm_shuffle_ps(a, t, _MM_SHUFFLE(2, 0, 1, 0)));
    }
    // y0..y3 sign-extended: each dword's y times 1 plus its other half times 0.
    __m128i y() const { return _mm_madd_epi16(z, _mm_set_epi16(1, 0, 0, 1, 1, 0, 0, 1)); }
    // Replaces y0..y3 by the low 16 bits of r's lanes and stores the pixels.
    void storeY(YcPixel *p, __m128i r) const
    {
        const __m128i lowY = _mm_set_epi32(0, 0xFFFF, 0, 0xFFFF), highY = _mm_set_epi32(-65536, 0, -65536, 0);
        const __m128i ys = _mm_or_si128(_mm_and_si128(r, lowY), _mm_and_si128(_mm_slli_epi32(r, 16), highY));
        const __m128 nz = _mm_castsi128_ps(_mm_or_si128(_mm_andnot_si128(_mm_or_si128(lowY, highY), z), ys));
        const __m128 t = _mm_shuffle_ps(a, nz, _MM_SHUFFLE(2, 2, 2, 2));
        _mm_storeu_ps((float *)(void *)p, _mm_shuffle_ps(nz, t, _MM_SHUFFLE(2, 0, 1, 0)));
        _mm_storeh_pi((__m64 *)(void *)((float *)(void *)p + 4), _mm_unpackhi_ps(nz, b));
    }
};

inline __m128i mean4(const YcPixel *prev, const YcPixel *next)
{
    return _mm_srai_epi32(_mm_add_epi32(FourPixels(prev).y(), FourPixels(next).y()), 1);
}

inline void difference4(const YcPixel *prev, YcPixel *cur, const YcPixel *next, float *s, int32_t j)
{
    const FourPixels c(cur + j);
    const __m128i mean = mean4(prev + j, next + j);
    _mm_storeu_ps(s + j, _mm_cvtepi32_ps(_mm_sub_epi32(c.y(), mean)));
    c.storeY(cur + j, mean);
}

inline void copyLumaPixel(const YcPixel *row, int16_t *luma, int32_t j) { luma[j] = row[j].y; }

inline void copyLuma4(const YcPixel *row, int16_t *luma, int32_t j)
{
    const __m128i y = FourPixels(row + j).y(); // sign-extended, so the pack is exact
    _mm_storel_epi64((__m128i *)(void *)(luma + j), _mm_packs_epi32(y, y));
}

// Four sign-extended lumas from 16-bit samples.
inline __m128i luma4(const int16_t *luma)
{
    const __m128i v = _mm_loadl_epi64((const __m128i *)(const void *)luma);
    return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
}

inline void differenceLumaPixel(const int16_t *prevLuma, YcPixel *cur, const YcPixel *next, float *s, int32_t j)
{
    const int32_t mean = ((int32_t)prevLuma[j] + (int32_t)next[j].y) >> 1;
    s[j] = (float)((int32_t)cur[j].y - mean);
    cur[j].y = (int16_t)mean;
}

inline void differenceLuma4(const int16_t *prevLuma, YcPixel *cur, const YcPixel *next, float *s, int32_t j)
{
    const FourPixels c(cur + j);
    const __m128i mean = _mm_srai_epi32(_mm_add_epi32(luma4(prevLuma + j), FourPixels(next + j).y()), 1);
    _mm_storeu_ps(s + j, _mm_cvtepi32_ps(_mm_sub_epi32(c.y(), mean)));
    c.storeY(cur + j, mean);
}

inline void differenceLumasPixel(const int16_t *prevLuma, YcPixel *cur, const int16_t *nextLuma, float *s, int32_t j)
{
    const int32_t mean = ((int32_t)prevLuma[j] + (int32_t)nextLuma[j]) >> 1;
    s[j] = (float)((int32_t)cur[j].y - mean);
    cur[j].y = (int16_t)mean;
}

inline void differenceLumas4(const int16_t *prevLuma, YcPixel *cur, const int16_t *nextLuma, float *s, int32_t j)
{
    const FourPixels c(cur + j);
    const __m128i mean = _mm_srai_epi32(_mm_add_epi32(luma4(prevLuma + j), luma4(nextLuma + j)), 1);
    _mm_storeu_ps(s + j, _mm_cvtepi32_ps(_mm_sub_epi32(c.y(), mean)));
    c.storeY(cur + j, mean);
}

inline void writeBack4(const float *t, YcPixel *cur, int32_t j)
{
    const FourPixels c(cur + j);
    c.storeY(cur + j, _mm_add_epi32(c.y(), _mm_cvttps_epi32(_mm_loadu_ps(t + j))));
}

inline int32_t lumaMean(const int16_t *prevLuma, const int16_t *nextLuma, int32_t j)
{
    return ((int32_t)prevLuma[j] + (int32_t)nextLuma[j]) >> 1;
}

inline void differencePlanarPixel(const int16_t *prevLuma, const int16_t *curLuma, const int16_t *nextLuma, float *s,
                                  int32_t j)
{
    s[j] = (float)((int32_t)curLuma[j] - lumaMean(prevLuma, nextLuma, j));
}

inline void differencePlanar4(const int16_t *prevLuma, const int16_t *curLuma, const int16_t *nextLuma, float *s,
                              int32_t j)
{
    const __m128i mean = _mm_srai_epi32(_mm_add_epi32(luma4(prevLuma + j), luma4(nextLuma + j)), 1);
    _mm_storeu_ps(s + j, _mm_cvtepi32_ps(_mm_sub_epi32(luma4(curLuma + j), mean)));
}

inline void writeBackMeanPixel(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, YcPixel *cur,
                               int32_t j)
{
    cur[j].y = (int16_t)(uint16_t)((uint32_t)lumaMean(prevLuma, nextLuma, j) + (uint32_t)truncateToInt(t[j]));
}

inline void writeBackMean4(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, YcPixel *cur, int32_t j)
{
    const FourPixels c(cur + j);
    const __m128i mean = _mm_srai_epi32(_mm_add_epi32(luma4(prevLuma + j), luma4(nextLuma + j)), 1);
    c.storeY(cur + j, _mm_add_epi32(mean, _mm_cvttps_epi32(_mm_loadu_ps(t + j))));
}

inline void writeBackHalvedPixel(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, const YcPixel *src,
                                 YcPixel *dst, int32_t j)
{
    const int16_t y =
        (int16_t)(uint16_t)((uint32_t)lumaMean(prevLuma, nextLuma, j) + (uint32_t)truncateToInt(t[j]));
    dst[j] = YcPixel{(int16_t)(y >> 1), (int16_t)(src[j].cb >> 1), (int16_t)(src[j].cr >> 1)};
}

} // namespace
} // namespace velvane

#endif
