// AVX-512 (F, BW, VL, DQ) versions of the wavelet kernels: sixteen columns at
// a time down the planes.
// GCC 12 takes the intrinsics' deliberately undefined pass-through operands
// for uninitialised variables.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "wavelet/x86/column_lanes.h"
#include "wavelet/x86/dsp_x86.h"

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

} // namespace

void shrinkColumnsAvx512(float *plane, int32_t column, int32_t count, int32_t h, float *work)
{
    const int32_t sixteens = count / 16 * 16;
    ColumnLanes<LanesAvx512>::shrinkColumns(plane, column, sixteens, h, work);
    shrinkColumnsAvx2(plane, column + sixteens, count - sixteens, h, work);
}

} // namespace velvane
