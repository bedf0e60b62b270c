// Two-phase column shrink, several neighbouring columns at once: one column
// per lane, so every transform runs down whole plane rows and each lane does
// exactly the arithmetic of the scalar twoPhaseShrink. Included by the ISA
// files only; everything here has internal linkage, so each ISA file keeps
// its own copy.
#ifndef VELVANE_WAVELET_X86_COLUMN_LANES_H
#define VELVANE_WAVELET_X86_COLUMN_LANES_H

#include <emmintrin.h>
#include <stddef.h>
#include <stdint.h>

#include "host/module_state.h"
#include "wavelet/dsp.h"

namespace velvane {
namespace {

// Lane traits: V, kLanes, load/store (unaligned), zero, set1, add, mul,
// halveOpposite (both halved where their product is negative), and the
// double-precision sums rounded once: dot4 = ((c0 x0 + c1 x1) + c2 x2) + c3 x3,
// dot2 = c0 x0 + c1 x1.

struct LanesScalar {
    using V = float;
    static constexpr int kLanes = 1;
    static V load(const float *p) { return *p; }
    static void store(float *p, V v) { *p = v; }
    static V zero() { return 0.0f; }
    static V set1(float f) { return f; }
    static V add(V a, V b) { return a + b; }
    static V mul(V a, V b) { return a * b; }
    static void halveOpposite(V &dp, V &d)
    {
        if ((double)dp * (double)d < 0.0) {
            dp *= 0.5f;
            d *= 0.5f;
        }
    }
    static V dot4(V x0, V x1, V x2, V x3, double c0, double c1, double c2, double c3)
    {
        return (float)(((c0 * x0 + c1 * x1) + c2 * x2) + c3 * x3);
    }
    static V dot2(V x0, V x1, double c0, double c1) { return (float)(c0 * x0 + c1 * x1); }
};

struct LanesSse2 {
    using V = __m128;
    static constexpr int kLanes = 4;
    static V load(const float *p) { return _mm_loadu_ps(p); }
    static void store(float *p, V v) { _mm_storeu_ps(p, v); }
    static V zero() { return _mm_setzero_ps(); }
    static V set1(float f) { return _mm_set1_ps(f); }
    static V add(V a, V b) { return _mm_add_ps(a, b); }
    static V mul(V a, V b) { return _mm_mul_ps(a, b); }
    // The exact product is negative exactly when one factor is below zero and
    // the other above it (NaN is neither, as in the double comparison).
    static void halveOpposite(V &dp, V &d)
    {
        const V z = _mm_setzero_ps();
        const V opp = _mm_or_ps(_mm_and_ps(_mm_cmplt_ps(dp, z), _mm_cmpgt_ps(d, z)),
                                _mm_and_ps(_mm_cmpgt_ps(dp, z), _mm_cmplt_ps(d, z)));
        const V half = _mm_set1_ps(0.5f);
        dp = _mm_or_ps(_mm_and_ps(opp, _mm_mul_ps(dp, half)), _mm_andnot_ps(opp, dp));
        d = _mm_or_ps(_mm_and_ps(opp, _mm_mul_ps(d, half)), _mm_andnot_ps(opp, d));
    }
    static __m128d lo(V v) { return _mm_cvtps_pd(v); }
    static __m128d hi(V v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }
    static V join(__m128d l, __m128d h) { return _mm_movelh_ps(_mm_cvtpd_ps(l), _mm_cvtpd_ps(h)); }
    static __m128d dot4d(__m128d x0, __m128d x1, __m128d x2, __m128d x3, double c0, double c1, double c2, double c3)
    {
        __m128d s = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(c0), x0), _mm_mul_pd(_mm_set1_pd(c1), x1));
        s = _mm_add_pd(s, _mm_mul_pd(_mm_set1_pd(c2), x2));
        return _mm_add_pd(s, _mm_mul_pd(_mm_set1_pd(c3), x3));
    }
    static V dot4(V x0, V x1, V x2, V x3, double c0, double c1, double c2, double c3)
    {
        return join(dot4d(lo(x0), lo(x1), lo(x2), lo(x3), c0, c1, c2, c3),
                    dot4d(hi(x0), hi(x1), hi(x2), hi(x3), c0, c1, c2, c3));
    }
    static V dot2(V x0, V x1, double c0, double c1)
    {
        const __m128d k0 = _mm_set1_pd(c0), k1 = _mm_set1_pd(c1);
        return join(_mm_add_pd(_mm_mul_pd(k0, lo(x0)), _mm_mul_pd(k1, lo(x1))),
                    _mm_add_pd(_mm_mul_pd(k0, hi(x0)), _mm_mul_pd(k1, hi(x1))));
    }
};

// The transforms of wavelet_c.cpp with every sample a vector of lanes, and
// the two-phase shrink of one strip of kLanes columns built from them.
template <class T> struct ColumnLanes {
    using V = typename T::V;
    static constexpr int32_t N = kWaveLength, M = kWaveLength / 2, L = T::kLanes;

    static V at(const float *buf, int32_t i) { return T::load(buf + (ptrdiff_t)i * L); }
    static void put(float *buf, int32_t i, V v) { T::store(buf + (ptrdiff_t)i * L, v); }

    static void forwardPair(const float *x, float *out, int32_t k, int32_t i0, int32_t i1, int32_t i2, int32_t i3)
    {
        const V x0 = at(x, i0), x1 = at(x, i1), x2 = at(x, i2), x3 = at(x, i3);
        const V a = T::add(T::add(T::add(T::mul(T::set1(kD4H0), x0), T::mul(T::set1(kD4H1), x1)),
                                  T::mul(T::set1(kD4H2), x2)),
                           T::mul(T::set1(kD4H3), x3));
        const V d = T::add(T::add(T::add(T::mul(T::set1(-kD4H2), x1), T::mul(T::set1(kD4H3), x0)),
                                  T::mul(T::set1(-kD4H0), x3)),
                           T::mul(T::set1(kD4H1), x2));
        put(out, k, a);
        put(out, M + k, d);
    }
    static void forward(const float *x, float *out)
    {
        for (int32_t k = 0; k < M - 1; k++)
            forwardPair(x, out, k, 2 * k, 2 * k + 1, 2 * k + 2, 2 * k + 3);
        forwardPair(x, out, M - 1, N - 2, N - 1, 0, 1);
    }

    static void inversePair(const float *a, const float *d, float *out, int32_t k, int32_t p)
    {
        const V ak = at(a, k), ap = at(a, p), dk = at(d, k), dpv = at(d, p);
        const V e = T::add(T::add(T::add(T::mul(T::set1(kD4H0), ak), T::mul(T::set1(kD4H2), ap)),
                                  T::mul(T::set1(kD4H3), dk)),
                           T::mul(T::set1(kD4H1), dpv));
        const V o = T::add(T::add(T::add(T::mul(T::set1(kD4H1), ak), T::mul(T::set1(kD4H3), ap)),
                                  T::mul(T::set1(-kD4H2), dk)),
                           T::mul(T::set1(-kD4H0), dpv));
        put(out, 2 * k, e);
        put(out, 2 * k + 1, o);
    }
    static void inverse(const float *a, const float *d, float *out)
    {
        inversePair(a, d, out, 0, M - 1);
        for (int32_t k = 1; k < M; k++)
            inversePair(a, d, out, k, k - 1);
    }

    static void oddForward(const float *x, float *out)
    {
        for (int32_t k = 0; k < M - 4; k++) {
            const V s = T::add(T::add(T::add(T::mul(T::set1(kD4H0), at(x, 2 * k + 1)),
                                             T::mul(T::set1(kD4H1), at(x, 2 * k + 2))),
                                      T::mul(T::set1(kD4H2), at(x, 2 * k + 3))),
                               T::mul(T::set1(kD4H3), at(x, 2 * k + 4)));
            put(out, k, s);
        }
        for (int32_t k = M - 4; k < M; k++)
            put(out, k,
                T::dot4(at(x, (2 * k + 1) % N), at(x, (2 * k + 2) % N), at(x, (2 * k + 3) % N),
                        at(x, (2 * k + 4) % N), kD4H0, kD4H1, kD4H2, kD4H3));
    }

    static void oddInverse(const float *b, float *out)
    {
        auto boundary = [&](int32_t j) {
            const V p = at(b, j == 0 ? M - 1 : j - 1), c = at(b, j);
            put(out, 2 * j + 1, T::dot2(p, c, kD4H2, kD4H0));
            put(out, (2 * j + 2) % N, T::dot2(p, c, kD4H3, kD4H1));
        };
        boundary(0);
        for (int32_t j = 1; j < M - 3; j++) {
            const V p = at(b, j - 1), c = at(b, j);
            put(out, 2 * j + 1, T::add(T::mul(T::set1(kD4H2), p), T::mul(T::set1(kD4H0), c)));
            put(out, 2 * j + 2, T::add(T::mul(T::set1(kD4H3), p), T::mul(T::set1(kD4H1), c)));
        }
        for (int32_t j = M - 3; j < M; j++)
            boundary(j);
    }

    // work: 3 x N x L floats.
    static void shrinkStrip(float *plane, int32_t column, int32_t h, float *work)
    {
        float *rowA = work, *rowB = work + N * L, *rowC = work + 2 * N * L;
        const float *src = plane + column;
        for (int32_t i = 0; i < h; i++)
            put(rowB, i, T::load(src + (ptrdiff_t)i * N));
        for (int32_t i = h; i < N; i++)
            put(rowB, i, T::zero());
        forward(rowB, rowC);
        oddInverse(rowC, rowA);
        forward(rowA, rowB);
        for (int32_t k = 0; k < M; k++) {
            V dp = at(rowB, M + k), d = at(rowC, M + k);
            T::halveOpposite(dp, d);
            put(rowB, M + k, dp);
            put(rowC, M + k, d);
        }
        inverse(rowB, rowB + M * L, rowA);
        oddForward(rowA, rowC);
        inverse(rowC, rowC + M * L, rowB);
        float *dst = plane + column;
        for (int32_t i = 0; i < h; i++)
            T::store(dst + (ptrdiff_t)i * N, at(rowB, i));
    }
};

} // namespace
} // namespace velvane

#endif
