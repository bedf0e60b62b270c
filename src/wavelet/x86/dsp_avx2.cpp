// AVX2 versions of the wavelet kernels: eight outputs at a time along a row,
// eight columns at a time down the planes. Only this file is built with -mavx2.
#include <immintrin.h>

#include "wavelet/x86/column_lanes.h"
#include "wavelet/x86/dsp_x86.h"
#include "wavelet/x86/pixel_rows.h"
#include "wavelet/x86/row_edges.h"

namespace velvane {
namespace {

struct LanesAvx2 {
    using V = __m256;
    static constexpr int kLanes = 8;
    static V load(const float *p) { return _mm256_loadu_ps(p); }
    static void store(float *p, V v) { _mm256_storeu_ps(p, v); }
    static V zero() { return _mm256_setzero_ps(); }
    static V set1(float f) { return _mm256_set1_ps(f); }
    static V add(V a, V b) { return _mm256_add_ps(a, b); }
    static V mul(V a, V b) { return _mm256_mul_ps(a, b); }
    static void halveOpposite(V &dp, V &d)
    {
        const V z = _mm256_setzero_ps();
        const V opp = _mm256_or_ps(_mm256_and_ps(_mm256_cmp_ps(dp, z, _CMP_LT_OQ), _mm256_cmp_ps(d, z, _CMP_GT_OQ)),
                                   _mm256_and_ps(_mm256_cmp_ps(dp, z, _CMP_GT_OQ), _mm256_cmp_ps(d, z, _CMP_LT_OQ)));
        const V half = _mm256_set1_ps(0.5f);
        dp = _mm256_blendv_ps(dp, _mm256_mul_ps(dp, half), opp);
        d = _mm256_blendv_ps(d, _mm256_mul_ps(d, half), opp);
    }
    static __m256d lo(V v) { return _mm256_cvtps_pd(_mm256_castps256_ps128(v)); }
    static __m256d hi(V v) { return _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)); }
    static V join(__m256d l, __m256d h)
    {
        return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(l)), _mm256_cvtpd_ps(h), 1);
    }
    static __m256d dot4d(__m256d x0, __m256d x1, __m256d x2, __m256d x3, double c0, double c1, double c2, double c3)
    {
        __m256d s = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(c0), x0), _mm256_mul_pd(_mm256_set1_pd(c1), x1));
        s = _mm256_add_pd(s, _mm256_mul_pd(_mm256_set1_pd(c2), x2));
        return _mm256_add_pd(s, _mm256_mul_pd(_mm256_set1_pd(c3), x3));
    }
    static V dot4(V x0, V x1, V x2, V x3, double c0, double c1, double c2, double c3)
    {
        return join(dot4d(lo(x0), lo(x1), lo(x2), lo(x3), c0, c1, c2, c3),
                    dot4d(hi(x0), hi(x1), hi(x2), hi(x3), c0, c1, c2, c3));
    }
    static V dot2(V x0, V x1, double c0, double c1)
    {
        const __m256d k0 = _mm256_set1_pd(c0), k1 = _mm256_set1_pd(c1);
        return join(_mm256_add_pd(_mm256_mul_pd(k0, lo(x0)), _mm256_mul_pd(k1, lo(x1))),
                    _mm256_add_pd(_mm256_mul_pd(k0, hi(x0)), _mm256_mul_pd(k1, hi(x1))));
    }
};

inline __m256 sum4(__m256 c0, __m256 x0, __m256 c1, __m256 x1, __m256 c2, __m256 x2, __m256 c3, __m256 x3)
{
    return _mm256_add_ps(
        _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(c0, x0), _mm256_mul_ps(c1, x1)), _mm256_mul_ps(c2, x2)),
        _mm256_mul_ps(c3, x3));
}

// The in-lane even/odd split leaves 64-bit pairs in the order 0, 2, 1, 3.
inline __m256 pairsInOrder(__m256 v)
{
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), _MM_SHUFFLE(3, 1, 2, 0)));
}
inline __m256 evens(__m256 a, __m256 b) { return _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)); }
inline __m256 odds(__m256 a, __m256 b) { return _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)); }

// Outputs k..k+7 of the even-phase analysis, k + 7 <= n/2 - 2.
inline void forward8(const float *x, float *a, float *d, int32_t k)
{
    const __m256 v0 = _mm256_loadu_ps(x + 2 * k), v1 = _mm256_loadu_ps(x + 2 * k + 8);
    const __m256 u0 = _mm256_loadu_ps(x + 2 * k + 2), u1 = _mm256_loadu_ps(x + 2 * k + 10);
    const __m256 e = evens(v0, v1), o = odds(v0, v1), e2 = evens(u0, u1), o2 = odds(u0, u1);
    _mm256_storeu_ps(a + k, pairsInOrder(sum4(_mm256_set1_ps(H0), e, _mm256_set1_ps(H1), o, _mm256_set1_ps(H2), e2,
                                              _mm256_set1_ps(H3), o2)));
    _mm256_storeu_ps(d + k, pairsInOrder(sum4(_mm256_set1_ps(-H2), o, _mm256_set1_ps(H3), e, _mm256_set1_ps(-H0), o2,
                                              _mm256_set1_ps(H1), e2)));
}

// Outputs 2k..2k+15 of the even-phase synthesis, 1 <= k, k + 7 <= m - 1.
inline void inverse8(const float *a, const float *d, float *out, int32_t k)
{
    const __m256 ak = _mm256_loadu_ps(a + k), ap = _mm256_loadu_ps(a + k - 1);
    const __m256 dk = _mm256_loadu_ps(d + k), dp = _mm256_loadu_ps(d + k - 1);
    const __m256 e =
        sum4(_mm256_set1_ps(H0), ak, _mm256_set1_ps(H2), ap, _mm256_set1_ps(H3), dk, _mm256_set1_ps(H1), dp);
    const __m256 o =
        sum4(_mm256_set1_ps(H1), ak, _mm256_set1_ps(H3), ap, _mm256_set1_ps(-H2), dk, _mm256_set1_ps(-H0), dp);
    const __m256 lo = _mm256_unpacklo_ps(e, o), hi = _mm256_unpackhi_ps(e, o);
    _mm256_storeu_ps(out + 2 * k, _mm256_permute2f128_ps(lo, hi, 0x20));
    _mm256_storeu_ps(out + 2 * k + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
}

// Outputs k..k+7 of the odd-phase analysis, k + 7 < n/2 - 4.
inline void oddForward8(const float *x, float *out, int32_t k)
{
    const __m256 w0 = _mm256_loadu_ps(x + 2 * k + 1), w1 = _mm256_loadu_ps(x + 2 * k + 9);
    const __m256 w2 = _mm256_loadu_ps(x + 2 * k + 3), w3 = _mm256_loadu_ps(x + 2 * k + 11);
    _mm256_storeu_ps(out + k, pairsInOrder(sum4(_mm256_set1_ps(H0), evens(w0, w1), _mm256_set1_ps(H1), odds(w0, w1),
                                                _mm256_set1_ps(H2), evens(w2, w3), _mm256_set1_ps(H3), odds(w2, w3))));
}

// Outputs 2j+1..2j+16 of the odd-phase synthesis, 1 <= j, j + 7 < m - 3.
inline void oddInverse8(const float *b, float *out, int32_t j)
{
    const __m256 c = _mm256_loadu_ps(b + j), p = _mm256_loadu_ps(b + j - 1);
    const __m256 o = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(H2), p), _mm256_mul_ps(_mm256_set1_ps(H0), c));
    const __m256 e = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(H3), p), _mm256_mul_ps(_mm256_set1_ps(H1), c));
    const __m256 lo = _mm256_unpacklo_ps(o, e), hi = _mm256_unpackhi_ps(o, e);
    _mm256_storeu_ps(out + 2 * j + 1, _mm256_permute2f128_ps(lo, hi, 0x20));
    _mm256_storeu_ps(out + 2 * j + 9, _mm256_permute2f128_ps(lo, hi, 0x31));
}

// Eight pixels are twelve dwords; dwords 0, 1, 3, 4, 6, 7, 9 and 10 carry
// y0..y7, in the low half for even pixels and the high half for odd ones.
struct EightPixels {
    __m256i x, y; // dwords 0..7 and 4..11
    __m256i z;    // dwords 0, 1, 3, 4, 6, 7, 9, 10
    explicit EightPixels(const YcPixel *p)
        : x(_mm256_loadu_si256((const __m256i *)(const void *)p)),
          y(_mm256_loadu_si256((const __m256i *)(const void *)((const int32_t *)(const void *)p + 4)))
    {
        z = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(x, _mm256_setr_epi32(0, 1, 3, 4, 6, 7, 0, 0)),
                               _mm256_permutevar8x32_epi32(y, _mm256_setr_epi32(0, 0, 0, 0, 0, 0, 5, 6)), 0xC0);
    }
    __m256i luma() const
    {
        return _mm256_madd_epi16(z, _mm256_setr_epi16(1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1));
    }
    // Replaces y0..y7 by the low 16 bits of r's lanes and stores the pixels.
    void storeY(YcPixel *p, __m256i r) const
    {
        const __m256i ys = _mm256_blend_epi16(r, _mm256_slli_epi32(r, 16), 0xAA);
        const __m256i nz = _mm256_blend_epi16(z, ys, 0x99);
        const __m256i nx = _mm256_blend_epi32(
            x, _mm256_permutevar8x32_epi32(nz, _mm256_setr_epi32(0, 1, 0, 2, 3, 0, 4, 5)), 0xDB);
        const __m128i hi = _mm_blend_epi32(_mm256_extracti128_si256(y, 1),
                                           _mm_shuffle_epi32(_mm256_extracti128_si256(nz, 1), _MM_SHUFFLE(0, 3, 2, 0)),
                                           0x6);
        _mm256_storeu_si256((__m256i *)(void *)p, nx);
        _mm_storeu_si128((__m128i *)(void *)((int32_t *)(void *)p + 8), hi);
    }
};

inline __m256i mean8(const YcPixel *prev, const YcPixel *next)
{
    return _mm256_srai_epi32(_mm256_add_epi32(EightPixels(prev).luma(), EightPixels(next).luma()), 1);
}

static_assert(ColumnLanes<LanesAvx2>::kWorkFloats <= kShrinkWorkFloats, "the caller's work area holds one strip");

} // namespace

void d4ForwardAvx2(const float *x, int32_t n, float *out)
{
    const int32_t half = n / 2;
    float *a = out, *d = out + half;
    inGroups<8>(0, half - 1, [&](int32_t k) { forward8(x, a, d, k); }, [&](int32_t k) { forward1(x, n, a, d, k); });
    forward1(x, n, a, d, half - 1);
}

void d4InverseAvx2(const float *a, const float *d, int32_t m, float *out)
{
    inverse1(a, d, m, out, 0);
    inGroups<8>(1, m, [&](int32_t k) { inverse8(a, d, out, k); }, [&](int32_t k) { inverse1(a, d, m, out, k); });
}

void d4OddLowForwardAvx2(const float *x, int32_t n, float *out)
{
    const int32_t half = n / 2;
    inGroups<8>(0, half - 4, [&](int32_t k) { oddForward8(x, out, k); },
              [&](int32_t k) { oddForward1(x, n, out, k, false); });
    for (int32_t k = half - 4; k < half; k++)
        oddForward1(x, n, out, k, true);
}

void d4OddLowInverseAvx2(const float *b, int32_t m, float *out)
{
    oddInverse1(b, m, out, 0, true);
    inGroups<8>(1, m - 3, [&](int32_t j) { oddInverse8(b, out, j); },
              [&](int32_t j) { oddInverse1(b, m, out, j, false); });
    for (int32_t j = m - 3; j < m; j++)
        oddInverse1(b, m, out, j, true);
}

void shrinkColumnsAvx2(float *plane, int32_t column, int32_t count, int32_t h, float *work)
{
    const int32_t eights = count / 8 * 8, fours = (count - eights) / 4 * 4;
    ColumnLanes<LanesAvx2>::shrinkColumns(plane, column, eights, h, work);
    ColumnLanes<LanesSse2>::shrinkColumns(plane, column + eights, fours, h, work);
    ColumnLanes<LanesScalar>::shrinkColumns(plane, column + eights + fours, count - eights - fours, h, work);
}

void dotDifferenceRowAvx2(const YcPixel *prev, YcPixel *cur, const YcPixel *next, int32_t w, float *s)
{
    int32_t j = 0;
    for (; j + 8 <= w; j += 8) {
        const EightPixels c(cur + j);
        const __m256i mean = mean8(prev + j, next + j);
        _mm256_storeu_ps(s + j, _mm256_cvtepi32_ps(_mm256_sub_epi32(c.luma(), mean)));
        c.storeY(cur + j, mean);
    }
    for (; j + 4 <= w; j += 4)
        difference4(prev, cur, next, s, j);
    for (; j < w; j++)
        differencePixel(prev, cur, next, s, j);
}

void copyLumaRowAvx2(const YcPixel *row, int32_t w, int16_t *luma)
{
    int32_t j = 0;
    for (; j + 8 <= w; j += 8) {
        // Sign-extended lumas pack exactly; the pack works within 128-bit
        // halves, so the permute brings the two halves' quadwords together.
        const __m256i y = EightPixels(row + j).luma();
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(y, y), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128((__m128i *)(void *)(luma + j), _mm256_castsi256_si128(packed));
    }
    for (; j + 4 <= w; j += 4)
        copyLuma4(row, luma, j);
    for (; j < w; j++)
        copyLumaPixel(row, luma, j);
}

void dotDifferenceLumaRowAvx2(const int16_t *prevLuma, YcPixel *cur, const YcPixel *next, int32_t w, float *s)
{
    int32_t j = 0;
    for (; j + 8 <= w; j += 8) {
        const EightPixels c(cur + j);
        const __m256i prevY = _mm256_cvtepi16_epi32(_mm_loadu_si128((const __m128i *)(const void *)(prevLuma + j)));
        const __m256i mean = _mm256_srai_epi32(_mm256_add_epi32(prevY, EightPixels(next + j).luma()), 1);
        _mm256_storeu_ps(s + j, _mm256_cvtepi32_ps(_mm256_sub_epi32(c.luma(), mean)));
        c.storeY(cur + j, mean);
    }
    for (; j + 4 <= w; j += 4)
        differenceLuma4(prevLuma, cur, next, s, j);
    for (; j < w; j++)
        differenceLumaPixel(prevLuma, cur, next, s, j);
}

void dotDifferenceLumasRowAvx2(const int16_t *prevLuma, YcPixel *cur, const int16_t *nextLuma, int32_t w, float *s)
{
    int32_t j = 0;
    for (; j + 8 <= w; j += 8) {
        const EightPixels c(cur + j);
        const __m256i prevY = _mm256_cvtepi16_epi32(_mm_loadu_si128((const __m128i *)(const void *)(prevLuma + j)));
        const __m256i nextY = _mm256_cvtepi16_epi32(_mm_loadu_si128((const __m128i *)(const void *)(nextLuma + j)));
        const __m256i mean = _mm256_srai_epi32(_mm256_add_epi32(prevY, nextY), 1);
        _mm256_storeu_ps(s + j, _mm256_cvtepi32_ps(_mm256_sub_epi32(c.luma(), mean)));
        c.storeY(cur + j, mean);
    }
    for (; j + 4 <= w; j += 4)
        differenceLumas4(prevLuma, cur, nextLuma, s, j);
    for (; j < w; j++)
        differenceLumasPixel(prevLuma, cur, nextLuma, s, j);
}

void dotWriteBackRowAvx2(const float *t, int32_t w, YcPixel *cur)
{
    int32_t j = 0;
    for (; j + 8 <= w; j += 8) {
        const EightPixels c(cur + j);
        c.storeY(cur + j, _mm256_add_epi32(c.luma(), _mm256_cvttps_epi32(_mm256_loadu_ps(t + j))));
    }
    for (; j + 4 <= w; j += 4)
        writeBack4(t, cur, j);
    for (; j < w; j++)
        writeBackPixel(t, cur, j);
}

namespace {

inline __m256i luma8(const int16_t *luma)
{
    return _mm256_cvtepi16_epi32(_mm_loadu_si128((const __m128i *)(const void *)luma));
}

} // namespace

void dotDifferencePlanarRowAvx2(const int16_t *prevLuma, const int16_t *curLuma, const int16_t *nextLuma, int32_t w,
                                float *s)
{
    int32_t j = 0;
    for (; j + 8 <= w; j += 8) {
        const __m256i mean = _mm256_srai_epi32(_mm256_add_epi32(luma8(prevLuma + j), luma8(nextLuma + j)), 1);
        _mm256_storeu_ps(s + j, _mm256_cvtepi32_ps(_mm256_sub_epi32(luma8(curLuma + j), mean)));
    }
    for (; j + 4 <= w; j += 4)
        differencePlanar4(prevLuma, curLuma, nextLuma, s, j);
    for (; j < w; j++)
        differencePlanarPixel(prevLuma, curLuma, nextLuma, s, j);
}

void dotWriteBackMeanRowAvx2(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, int32_t w,
                             YcPixel *cur)
{
    int32_t j = 0;
    for (; j + 8 <= w; j += 8) {
        const EightPixels c(cur + j);
        const __m256i mean = _mm256_srai_epi32(_mm256_add_epi32(luma8(prevLuma + j), luma8(nextLuma + j)), 1);
        c.storeY(cur + j, _mm256_add_epi32(mean, _mm256_cvttps_epi32(_mm256_loadu_ps(t + j))));
    }
    for (; j + 4 <= w; j += 4)
        writeBackMean4(t, prevLuma, nextLuma, cur, j);
    for (; j < w; j++)
        writeBackMeanPixel(t, prevLuma, nextLuma, cur, j);
}

namespace {

// Eight pixels are 24 lanes, three 128-bit groups: y0 b0 r0 y1 b1 r1 y2 b2 |
// r2 y3 ... For group g, a byte shuffle that brings luma i of a vector of
// eight to the lanes where the group holds y (zero elsewhere), the same in
// both 128-bit halves, and the mask of those lanes.
// Built at compile time: the plug-in's DLL must carry no guarded statics,
// whose run-time start-up would bring the C++ runtime's locks in with it.
struct LumaPlaces {
    alignas(16) int8_t place[3][16], mask[3][16];
    constexpr LumaPlaces() : place(), mask()
    {
        for (int g = 0; g < 3; g++)
            for (int i = 0; i < 8; i++) {
                const int lane = 8 * g + i, pixel = lane / 3;
                const bool y = lane % 3 == 0;
                place[g][2 * i] = y ? (int8_t)(2 * pixel) : (int8_t)-1;
                place[g][2 * i + 1] = y ? (int8_t)(2 * pixel + 1) : (int8_t)-1;
                mask[g][2 * i] = mask[g][2 * i + 1] = y ? (int8_t)-1 : (int8_t)0;
            }
    }
};
constexpr LumaPlaces kLumaPlaces;

inline __m256i both(const int8_t *bytes) { return _mm256_broadcastsi128_si256(_mm_load_si128((const __m128i *)(const void *)bytes)); }

} // namespace

void dotWriteBackHalvedRowAvx2(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, const YcPixel *src,
                               int32_t w, YcPixel *dst)
{
    const __m256i p0 = both(kLumaPlaces.place[0]), p1 = both(kLumaPlaces.place[1]), p2 = both(kLumaPlaces.place[2]);
    const __m256i m0 = both(kLumaPlaces.mask[0]), m1 = both(kLumaPlaces.mask[1]), m2 = both(kLumaPlaces.mask[2]);
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    int32_t j = 0;
    for (; j + 16 <= w; j += 16) {
        auto luma = [&](int32_t k) {
            const __m256i mean = _mm256_srai_epi32(_mm256_add_epi32(luma8(prevLuma + k), luma8(nextLuma + k)), 1);
            return _mm256_and_si256(_mm256_add_epi32(mean, _mm256_cvttps_epi32(_mm256_loadu_ps(t + k))), low16);
        };
        // The low 16 bits of the sixteen lumas, halved: the packs give
        // pixels 0-3, 8-11 | 4-7, 12-15, the permute 0-7 | 8-15.
        const __m256i y = _mm256_srai_epi16(
            _mm256_permute4x64_epi64(_mm256_packus_epi32(luma(j), luma(j + 8)), _MM_SHUFFLE(3, 1, 2, 0)), 1);
        // Pixels 0 .. 7 in the low halves, 8 .. 15 in the high ones, halved,
        // their y lanes replaced.
        const __m128i *s = (const __m128i *)(const void *)(src + j);
        auto group = [&](int g, __m256i place, __m256i mask) {
            const __m256i v = _mm256_srai_epi16(_mm256_loadu2_m128i(s + 3 + g, s + g), 1);
            return _mm256_blendv_epi8(v, _mm256_shuffle_epi8(y, place), mask);
        };
        const __m256i g0 = group(0, p0, m0), g1 = group(1, p1, m1), g2 = group(2, p2, m2);
        __m256i *d = (__m256i *)(void *)(dst + j);
        _mm256_storeu_si256(d, _mm256_permute2x128_si256(g0, g1, 0x20));
        _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(g2, g0, 0x30));
        _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(g1, g2, 0x31));
    }
    for (; j < w; j++)
        writeBackHalvedPixel(t, prevLuma, nextLuma, src, dst, j);
}

} // namespace velvane
