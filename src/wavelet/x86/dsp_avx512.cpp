// AVX-512 (F, BW, VL, DQ) versions of the wavelet kernels: sixteen outputs at
// a time along a row, sixteen columns at a time down the planes.
#include "common/x86_avx512.h"
#include "wavelet/x86/column_lanes.h"
#include "wavelet/x86/dsp_x86.h"
#include "wavelet/x86/row_edges.h"

namespace velvane {
namespace {

struct LanesAvx512 {
    using V = __m512;
    static constexpr int kLanes = 16;
    static V load(const float *p) { return _mm512_loadu_ps(p); }
    static void store(float *p, V v) { _mm512_storeu_ps(p, v); }
    static V zero() { return _mm512_setzero_ps(); }
    static V set1(float f) { return _mm512_set1_ps(f); }
    static V add(V a, V b) { return _mm512_add_ps(a, b); }
    static V mul(V a, V b) { return _mm512_mul_ps(a, b); }
    static void halveOpposite(V &dp, V &d)
    {
        const V z = _mm512_setzero_ps();
        const __mmask16 opp = (__mmask16)((_mm512_cmp_ps_mask(dp, z, _CMP_LT_OQ) & _mm512_cmp_ps_mask(d, z, _CMP_GT_OQ)) |
                                          (_mm512_cmp_ps_mask(dp, z, _CMP_GT_OQ) & _mm512_cmp_ps_mask(d, z, _CMP_LT_OQ)));
        const V half = _mm512_set1_ps(0.5f);
        dp = _mm512_mask_mul_ps(dp, opp, dp, half);
        d = _mm512_mask_mul_ps(d, opp, d, half);
    }
    static __m512d lo(V v) { return _mm512_cvtps_pd(_mm512_castps512_ps256(v)); }
    static __m512d hi(V v) { return _mm512_cvtps_pd(_mm512_extractf32x8_ps(v, 1)); }
    static V join(__m512d l, __m512d h)
    {
        return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(l)), _mm512_cvtpd_ps(h), 1);
    }
    static __m512d dot4d(__m512d x0, __m512d x1, __m512d x2, __m512d x3, double c0, double c1, double c2, double c3)
    {
        __m512d s = _mm512_add_pd(_mm512_mul_pd(_mm512_set1_pd(c0), x0), _mm512_mul_pd(_mm512_set1_pd(c1), x1));
        s = _mm512_add_pd(s, _mm512_mul_pd(_mm512_set1_pd(c2), x2));
        return _mm512_add_pd(s, _mm512_mul_pd(_mm512_set1_pd(c3), x3));
    }
    static V dot4(V x0, V x1, V x2, V x3, double c0, double c1, double c2, double c3)
    {
        return join(dot4d(lo(x0), lo(x1), lo(x2), lo(x3), c0, c1, c2, c3),
                    dot4d(hi(x0), hi(x1), hi(x2), hi(x3), c0, c1, c2, c3));
    }
    static V dot2(V x0, V x1, double c0, double c1)
    {
        const __m512d k0 = _mm512_set1_pd(c0), k1 = _mm512_set1_pd(c1);
        return join(_mm512_add_pd(_mm512_mul_pd(k0, lo(x0)), _mm512_mul_pd(k1, lo(x1))),
                    _mm512_add_pd(_mm512_mul_pd(k0, hi(x0)), _mm512_mul_pd(k1, hi(x1))));
    }
};

static_assert(ColumnLanes<LanesAvx512>::kWorkFloats <= kShrinkWorkFloats, "the caller's work area holds one strip");

inline __m512 sum4(__m512 c0, __m512 x0, __m512 c1, __m512 x1, __m512 c2, __m512 x2, __m512 c3, __m512 x3)
{
    return _mm512_add_ps(
        _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(c0, x0), _mm512_mul_ps(c1, x1)), _mm512_mul_ps(c2, x2)),
        _mm512_mul_ps(c3, x3));
}
inline __m512 tap(float f) { return _mm512_set1_ps(f); }

// The even and the odd samples of a and b, a's first, in order.
inline __m512 evens(__m512 a, __m512 b)
{
    return _mm512_permutex2var_ps(a, _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30), b);
}
inline __m512 odds(__m512 a, __m512 b)
{
    return _mm512_permutex2var_ps(a, _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31), b);
}
// e0 o0 e1 o1 ... of the first and of the second eight lanes.
inline __m512 interleaveLow(__m512 e, __m512 o)
{
    return _mm512_permutex2var_ps(e, _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23), o);
}
inline __m512 interleaveHigh(__m512 e, __m512 o)
{
    return _mm512_permutex2var_ps(e, _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31),
                                  o);
}

// Outputs k..k+15 of the even-phase analysis, k + 15 <= n/2 - 2.
inline void forward16(const float *x, float *a, float *d, int32_t k)
{
    const __m512 v0 = _mm512_loadu_ps(x + 2 * k), v1 = _mm512_loadu_ps(x + 2 * k + 16);
    const __m512 u0 = _mm512_loadu_ps(x + 2 * k + 2), u1 = _mm512_loadu_ps(x + 2 * k + 18);
    const __m512 e = evens(v0, v1), o = odds(v0, v1), e2 = evens(u0, u1), o2 = odds(u0, u1);
    _mm512_storeu_ps(a + k, sum4(tap(H0), e, tap(H1), o, tap(H2), e2, tap(H3), o2));
    _mm512_storeu_ps(d + k, sum4(tap(-H2), o, tap(H3), e, tap(-H0), o2, tap(H1), e2));
}

// Outputs 2k..2k+31 of the even-phase synthesis, 1 <= k, k + 15 <= m - 1.
inline void inverse16(const float *a, const float *d, float *out, int32_t k)
{
    const __m512 ak = _mm512_loadu_ps(a + k), ap = _mm512_loadu_ps(a + k - 1);
    const __m512 dk = _mm512_loadu_ps(d + k), dp = _mm512_loadu_ps(d + k - 1);
    const __m512 e = sum4(tap(H0), ak, tap(H2), ap, tap(H3), dk, tap(H1), dp);
    const __m512 o = sum4(tap(H1), ak, tap(H3), ap, tap(-H2), dk, tap(-H0), dp);
    _mm512_storeu_ps(out + 2 * k, interleaveLow(e, o));
    _mm512_storeu_ps(out + 2 * k + 16, interleaveHigh(e, o));
}

// Outputs k..k+15 of the odd-phase analysis, k + 15 < n/2 - 4.
inline void oddForward16(const float *x, float *out, int32_t k)
{
    const __m512 w0 = _mm512_loadu_ps(x + 2 * k + 1), w1 = _mm512_loadu_ps(x + 2 * k + 17);
    const __m512 w2 = _mm512_loadu_ps(x + 2 * k + 3), w3 = _mm512_loadu_ps(x + 2 * k + 19);
    _mm512_storeu_ps(out + k, sum4(tap(H0), evens(w0, w1), tap(H1), odds(w0, w1), tap(H2), evens(w2, w3), tap(H3), odds(w2, w3)));
}

// Outputs 2j+1..2j+32 of the odd-phase synthesis, 1 <= j, j + 15 < m - 3.
inline void oddInverse16(const float *b, float *out, int32_t j)
{
    const __m512 c = _mm512_loadu_ps(b + j), p = _mm512_loadu_ps(b + j - 1);
    const __m512 o = _mm512_add_ps(_mm512_mul_ps(tap(H2), p), _mm512_mul_ps(tap(H0), c));
    const __m512 e = _mm512_add_ps(_mm512_mul_ps(tap(H3), p), _mm512_mul_ps(tap(H1), c));
    _mm512_storeu_ps(out + 2 * j + 1, interleaveLow(o, e));
    _mm512_storeu_ps(out + 2 * j + 17, interleaveHigh(o, e));
}

} // namespace

void d4ForwardAvx512(const float *x, int32_t n, float *out)
{
    const int32_t half = n / 2;
    float *a = out, *d = out + half;
    inGroups<16>(0, half - 1, [&](int32_t i) { forward16(x, a, d, i); }, [&](int32_t i) { forward1(x, n, a, d, i); });
    forward1(x, n, a, d, half - 1);
}

void d4InverseAvx512(const float *a, const float *d, int32_t m, float *out)
{
    inverse1(a, d, m, out, 0);
    inGroups<16>(1, m, [&](int32_t i) { inverse16(a, d, out, i); }, [&](int32_t i) { inverse1(a, d, m, out, i); });
}

void d4OddLowForwardAvx512(const float *x, int32_t n, float *out)
{
    const int32_t half = n / 2;
    inGroups<16>(0, half - 4, [&](int32_t i) { oddForward16(x, out, i); },
                 [&](int32_t i) { oddForward1(x, n, out, i, false); });
    for (int32_t i = half - 4; i < half; i++)
        oddForward1(x, n, out, i, true);
}

void d4OddLowInverseAvx512(const float *b, int32_t m, float *out)
{
    oddInverse1(b, m, out, 0, true);
    inGroups<16>(1, m - 3, [&](int32_t j) { oddInverse16(b, out, j); },
                 [&](int32_t j) { oddInverse1(b, m, out, j, false); });
    for (int32_t j = m - 3; j < m; j++)
        oddInverse1(b, m, out, j, true);
}

void shrinkColumnsAvx512(float *plane, int32_t column, int32_t count, int32_t h, float *work)
{
    const int32_t sixteens = count / 16 * 16;
    ColumnLanes<LanesAvx512>::shrinkColumns(plane, column, sixteens, h, work);
    shrinkColumnsAvx2(plane, column + sixteens, count - sixteens, h, work);
}

} // namespace velvane
