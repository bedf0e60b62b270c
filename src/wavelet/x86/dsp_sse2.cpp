// SSE2 versions of the wavelet kernels: four outputs at a time along a row,
// four columns at a time down the planes.
#include <emmintrin.h>

#include "wavelet/x86/column_lanes.h"
#include "wavelet/x86/dsp_x86.h"
#include "wavelet/x86/pixel_rows.h"
#include "wavelet/x86/row_edges.h"

namespace velvane {
namespace {

inline __m128 sum4(__m128 c0, __m128 x0, __m128 c1, __m128 x1, __m128 c2, __m128 x2, __m128 c3, __m128 x3)
{
    return _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(c0, x0), _mm_mul_ps(c1, x1)), _mm_mul_ps(c2, x2)),
                      _mm_mul_ps(c3, x3));
}

// Outputs k..k+3 of the even-phase analysis, k + 3 <= n/2 - 2.
inline void forward4(const float *x, float *a, float *d, int32_t k)
{
    const __m128 v0 = _mm_loadu_ps(x + 2 * k), v1 = _mm_loadu_ps(x + 2 * k + 4);
    const __m128 u0 = _mm_loadu_ps(x + 2 * k + 2), u1 = _mm_loadu_ps(x + 2 * k + 6);
    const __m128 e = _mm_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 o = _mm_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 e2 = _mm_shuffle_ps(u0, u1, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 o2 = _mm_shuffle_ps(u0, u1, _MM_SHUFFLE(3, 1, 3, 1));
    _mm_storeu_ps(a + k, sum4(_mm_set1_ps(H0), e, _mm_set1_ps(H1), o, _mm_set1_ps(H2), e2, _mm_set1_ps(H3), o2));
    _mm_storeu_ps(d + k, sum4(_mm_set1_ps(-H2), o, _mm_set1_ps(H3), e, _mm_set1_ps(-H0), o2, _mm_set1_ps(H1), e2));
}

// Outputs 2k..2k+7 of the even-phase synthesis, 1 <= k, k + 3 <= m - 1.
inline void inverse4(const float *a, const float *d, float *out, int32_t k)
{
    const __m128 ak = _mm_loadu_ps(a + k), ap = _mm_loadu_ps(a + k - 1);
    const __m128 dk = _mm_loadu_ps(d + k), dp = _mm_loadu_ps(d + k - 1);
    const __m128 e = sum4(_mm_set1_ps(H0), ak, _mm_set1_ps(H2), ap, _mm_set1_ps(H3), dk, _mm_set1_ps(H1), dp);
    const __m128 o = sum4(_mm_set1_ps(H1), ak, _mm_set1_ps(H3), ap, _mm_set1_ps(-H2), dk, _mm_set1_ps(-H0), dp);
    _mm_storeu_ps(out + 2 * k, _mm_unpacklo_ps(e, o));
    _mm_storeu_ps(out + 2 * k + 4, _mm_unpackhi_ps(e, o));
}

// Outputs k..k+3 of the odd-phase analysis, k + 3 < n/2 - 4.
inline void oddForward4(const float *x, float *out, int32_t k)
{
    const __m128 w0 = _mm_loadu_ps(x + 2 * k + 1), w1 = _mm_loadu_ps(x + 2 * k + 5);
    const __m128 w2 = _mm_loadu_ps(x + 2 * k + 3), w3 = _mm_loadu_ps(x + 2 * k + 7);
    const __m128 o1 = _mm_shuffle_ps(w0, w1, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 e2 = _mm_shuffle_ps(w0, w1, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 o3 = _mm_shuffle_ps(w2, w3, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 e4 = _mm_shuffle_ps(w2, w3, _MM_SHUFFLE(3, 1, 3, 1));
    _mm_storeu_ps(out + k, sum4(_mm_set1_ps(H0), o1, _mm_set1_ps(H1), e2, _mm_set1_ps(H2), o3, _mm_set1_ps(H3), e4));
}

// Outputs 2j+1..2j+8 of the odd-phase synthesis, 1 <= j, j + 3 < m - 3.
inline void oddInverse4(const float *b, float *out, int32_t j)
{
    const __m128 c = _mm_loadu_ps(b + j), p = _mm_loadu_ps(b + j - 1);
    const __m128 o = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(H2), p), _mm_mul_ps(_mm_set1_ps(H0), c));
    const __m128 e = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(H3), p), _mm_mul_ps(_mm_set1_ps(H1), c));
    _mm_storeu_ps(out + 2 * j + 1, _mm_unpacklo_ps(o, e));
    _mm_storeu_ps(out + 2 * j + 5, _mm_unpackhi_ps(o, e));
}

static_assert(ColumnLanes<LanesSse2>::kWorkFloats <= kShrinkWorkFloats, "the caller's work area holds one strip");

} // namespace

void d4ForwardSse2(const float *x, int32_t n, float *out)
{
    const int32_t half = n / 2;
    float *a = out, *d = out + half;
    inGroups<4>(0, half - 1, [&](int32_t k) { forward4(x, a, d, k); }, [&](int32_t k) { forward1(x, n, a, d, k); });
    forward1(x, n, a, d, half - 1);
}

void d4InverseSse2(const float *a, const float *d, int32_t m, float *out)
{
    inverse1(a, d, m, out, 0);
    inGroups<4>(1, m, [&](int32_t k) { inverse4(a, d, out, k); }, [&](int32_t k) { inverse1(a, d, m, out, k); });
}

void d4OddLowForwardSse2(const float *x, int32_t n, float *out)
{
    const int32_t half = n / 2;
    inGroups<4>(0, half - 4, [&](int32_t k) { oddForward4(x, out, k); },
              [&](int32_t k) { oddForward1(x, n, out, k, false); });
    for (int32_t k = half - 4; k < half; k++)
        oddForward1(x, n, out, k, true);
}

void d4OddLowInverseSse2(const float *b, int32_t m, float *out)
{
    oddInverse1(b, m, out, 0, true);
    inGroups<4>(1, m - 3, [&](int32_t j) { oddInverse4(b, out, j); },
              [&](int32_t j) { oddInverse1(b, m, out, j, false); });
    for (int32_t j = m - 3; j < m; j++)
        oddInverse1(b, m, out, j, true);
}

void shrinkColumnsSse2(float *plane, int32_t column, int32_t count, int32_t h, float *work)
{
    const int32_t vectors = count / 4 * 4;
    ColumnLanes<LanesSse2>::shrinkColumns(plane, column, vectors, h, work);
    ColumnLanes<LanesScalar>::shrinkColumns(plane, column + vectors, count - vectors, h, work);
}

void dotDifferenceRowSse2(const YcPixel *prev, YcPixel *cur, const YcPixel *next, int32_t w, float *s)
{
    int32_t j = 0;
    for (; j + 4 <= w; j += 4)
        difference4(prev, cur, next, s, j);
    for (; j < w; j++)
        differencePixel(prev, cur, next, s, j);
}

void copyLumaRowSse2(const YcPixel *row, int32_t w, int16_t *luma)
{
    int32_t j = 0;
    for (; j + 4 <= w; j += 4)
        copyLuma4(row, luma, j);
    for (; j < w; j++)
        copyLumaPixel(row, luma, j);
}

void dotDifferenceLumaRowSse2(const int16_t *prevLuma, YcPixel *cur, const YcPixel *next, int32_t w, float *s)
{
    int32_t j = 0;
    for (; j + 4 <= w; j += 4)
        differenceLuma4(prevLuma, cur, next, s, j);
    for (; j < w; j++)
        differenceLumaPixel(prevLuma, cur, next, s, j);
}

void dotDifferenceLumasRowSse2(const int16_t *prevLuma, YcPixel *cur, const int16_t *nextLuma, int32_t w, float *s)
{
    int32_t j = 0;
    for (; j + 4 <= w; j += 4)
        differenceLumas4(prevLuma, cur, nextLuma, s, j);
    for (; j < w; j++)
        differenceLumasPixel(prevLuma, cur, nextLuma, s, j);
}

void dotDifferencePlanarRowSse2(const int16_t *prevLuma, const int16_t *curLuma, const int16_t *nextLuma, int32_t w,
                                float *s)
{
    // Eight at a time: the mean in 16 bits, (a & b) + ((a ^ b) >> 1), then
    // the difference, which takes 17, in dwords.
    auto widen = [](__m128i v, bool high) {
        return high ? _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16) : _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
    };
    int32_t j = 0;
    for (; j + 8 <= w; j += 8) {
        const __m128i a = _mm_loadu_si128((const __m128i *)(const void *)(prevLuma + j));
        const __m128i b = _mm_loadu_si128((const __m128i *)(const void *)(nextLuma + j));
        const __m128i c = _mm_loadu_si128((const __m128i *)(const void *)(curLuma + j));
        const __m128i mean = _mm_add_epi16(_mm_and_si128(a, b), _mm_srai_epi16(_mm_xor_si128(a, b), 1));
        _mm_storeu_ps(s + j, _mm_cvtepi32_ps(_mm_sub_epi32(widen(c, false), widen(mean, false))));
        _mm_storeu_ps(s + j + 4, _mm_cvtepi32_ps(_mm_sub_epi32(widen(c, true), widen(mean, true))));
    }
    for (; j + 4 <= w; j += 4)
        differencePlanar4(prevLuma, curLuma, nextLuma, s, j);
    for (; j < w; j++)
        differencePlanarPixel(prevLuma, curLuma, nextLuma, s, j);
}

void dotWriteBackMeanRowSse2(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, int32_t w,
                             YcPixel *cur)
{
    int32_t j = 0;
    for (; j + 4 <= w; j += 4)
        writeBackMean4(t, prevLuma, nextLuma, cur, j);
    for (; j < w; j++)
        writeBackMeanPixel(t, prevLuma, nextLuma, cur, j);
}

void dotWriteBackHalvedRowSse2(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, const YcPixel *src,
                               int32_t w, YcPixel *dst)
{
    auto low16 = [](__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); };
    int32_t j = 0;
    for (; j + 8 <= w; j += 8) {
        // The neighbours' mean in 16 bits: (a & b) + ((a ^ b) >> 1) is
        // floor((a + b) / 2); the new luma's low 16 bits are those of the
        // mean plus those of the truncated t, sign-extended and packed.
        const __m128i a = _mm_loadu_si128((const __m128i *)(const void *)(prevLuma + j));
        const __m128i b = _mm_loadu_si128((const __m128i *)(const void *)(nextLuma + j));
        const __m128i mean = _mm_add_epi16(_mm_and_si128(a, b), _mm_srai_epi16(_mm_xor_si128(a, b), 1));
        const __m128i tt = _mm_packs_epi32(low16(_mm_cvttps_epi32(_mm_loadu_ps(t + j))),
                                           low16(_mm_cvttps_epi32(_mm_loadu_ps(t + j + 4))));
        const __m128i y = _mm_srai_epi16(_mm_add_epi16(mean, tt), 1);
        // The eight pixels halved, their y lanes (0, 3, ..., 21) replaced.
        const __m128i *s = (const __m128i *)(const void *)(src + j);
        __m128i v0 = _mm_srai_epi16(_mm_loadu_si128(s), 1), v1 = _mm_srai_epi16(_mm_loadu_si128(s + 1), 1),
                v2 = _mm_srai_epi16(_mm_loadu_si128(s + 2), 1);
        v0 = _mm_insert_epi16(v0, _mm_extract_epi16(y, 0), 0);
        v0 = _mm_insert_epi16(v0, _mm_extract_epi16(y, 1), 3);
        v0 = _mm_insert_epi16(v0, _mm_extract_epi16(y, 2), 6);
        v1 = _mm_insert_epi16(v1, _mm_extract_epi16(y, 3), 1);
        v1 = _mm_insert_epi16(v1, _mm_extract_epi16(y, 4), 4);
        v1 = _mm_insert_epi16(v1, _mm_extract_epi16(y, 5), 7);
        v2 = _mm_insert_epi16(v2, _mm_extract_epi16(y, 6), 2);
        v2 = _mm_insert_epi16(v2, _mm_extract_epi16(y, 7), 5);
        __m128i *d = (__m128i *)(void *)(dst + j);
        _mm_storeu_si128(d, v0);
        _mm_storeu_si128(d + 1, v1);
        _mm_storeu_si128(d + 2, v2);
    }
    for (; j < w; j++)
        writeBackHalvedPixel(t, prevLuma, nextLuma, src, dst, j);
}

void dotWriteBackRowSse2(const float *t, int32_t w, YcPixel *cur)
{
    int32_t j = 0;
    for (; j + 4 <= w; j += 4)
        writeBack4(t, cur, j);
    for (; j < w; j++)
        writeBackPixel(t, cur, j);
}

} // namespace velvane
