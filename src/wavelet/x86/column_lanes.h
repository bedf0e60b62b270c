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

#include <algorithm>

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

// Columns of at most this many rows take the fused path of ColumnLanes.
constexpr int32_t kShortColumn = 760;

// The two-phase shrink of one strip of kLanes columns, each lane doing the
// arithmetic of twoPhaseShrink (wavelet_c.cpp) on its own column.
template <class T> struct ColumnLanes {
    using V = typename T::V;
    static constexpr int32_t N = kWaveLength, M = kWaveLength / 2, L = T::kLanes;

    // Work buffers hold samples of L lanes, sample i at i * L.
    static V at(const float *buf, int32_t i) { return T::load(buf + (ptrdiff_t)i * L); }
    static void put(float *buf, int32_t i, V v) { T::store(buf + (ptrdiff_t)i * L, v); }

    static V approx(V x0, V x1, V x2, V x3)
    {
        return T::add(T::add(T::add(T::mul(T::set1(kD4H0), x0), T::mul(T::set1(kD4H1), x1)),
                             T::mul(T::set1(kD4H2), x2)),
                      T::mul(T::set1(kD4H3), x3));
    }
    static V detail(V x0, V x1, V x2, V x3)
    {
        return T::add(T::add(T::add(T::mul(T::set1(-kD4H2), x1), T::mul(T::set1(kD4H3), x0)),
                             T::mul(T::set1(-kD4H0), x3)),
                      T::mul(T::set1(kD4H1), x2));
    }
    static V evenOut(V ak, V ap, V dk, V dp)
    {
        return T::add(T::add(T::add(T::mul(T::set1(kD4H0), ak), T::mul(T::set1(kD4H2), ap)),
                             T::mul(T::set1(kD4H3), dk)),
                      T::mul(T::set1(kD4H1), dp));
    }
    static V oddOut(V ak, V ap, V dk, V dp)
    {
        return T::add(T::add(T::add(T::mul(T::set1(kD4H1), ak), T::mul(T::set1(kD4H3), ap)),
                             T::mul(T::set1(-kD4H2), dk)),
                      T::mul(T::set1(-kD4H0), dp));
    }
    // d4OddLowInverse: out[2j+1] from (b[j-1], b[j]), and out[2j+2].
    static V lowOdd(V p, V c) { return T::add(T::mul(T::set1(kD4H2), p), T::mul(T::set1(kD4H0), c)); }
    static V lowEven(V p, V c) { return T::add(T::mul(T::set1(kD4H3), p), T::mul(T::set1(kD4H1), c)); }

    // Column row i, zero at and below h.
    static V sample(const float *col, int32_t h, int32_t i)
    {
        return i < h ? T::load(col + (ptrdiff_t)i * N) : T::zero();
    }

    // d4Forward of the zero-padded column, pairs [0, end) and the pair across
    // the wrap, read straight from the plane.
    static void forwardColumn(const float *col, int32_t h, float *out, int32_t end)
    {
        auto pair = [&](int32_t k, V x0, V x1, V x2, V x3) {
            put(out, k, approx(x0, x1, x2, x3));
            put(out, M + k, detail(x0, x1, x2, x3));
        };
        const int32_t inside = h >= 4 ? (h - 4) / 2 + 1 : 0; // pairs whose four rows all lie within the column
        int32_t k = 0;
        for (const float *p = col; k < end && k < inside; k++, p += 2 * N)
            pair(k, T::load(p), T::load(p + N), T::load(p + 2 * N), T::load(p + 3 * N));
        for (; k < end && k < M - 1; k++)
            pair(k, sample(col, h, 2 * k), sample(col, h, 2 * k + 1), sample(col, h, 2 * k + 2),
                 sample(col, h, 2 * k + 3));
        pair(M - 1, sample(col, h, N - 2), sample(col, h, N - 1), sample(col, h, 0), sample(col, h, 1));
    }

    // Halves d'[k] and d[k] where they have opposite signs, and stores a'[k],
    // d'[k] and d[k].
    static void storeShrunk(float *apdp, float *d, int32_t k, V apk, V dpk)
    {
        V dk = at(d, k);
        T::halveOpposite(dpk, dk);
        put(apdp, k, apk);
        put(apdp, M + k, dpk);
        put(d, k, dk);
    }

    // A column of at most kShortColumn rows. Below row h it is zero, and each
    // transform maps +0 inputs to +0 (a product with a negative tap is -0,
    // but every sum has a +0 term): only the first k1 + 1 pairs of its
    // coefficients and the pair across the wrap can be non-zero
    // (k1 = (h - 1) / 2), and a few more after each later step. The steps
    // after the first analysis run fused, pair by pair, with the delayed
    // low-pass parts and the new approximations kept in registers; the
    // buffers ad and apdp must hold +0 outside what this writes (cleared
    // before the first strip of a call). Where the separate steps would read
    // a sample left at +0 this reads +0 or forms it from +0, so every value
    // is the one the steps give.
    static void shrinkShort(float *col, int32_t h, float *ad, float *apdp)
    {
        const int32_t k1 = (h - 1) / 2; // last pair starting within the column
        forwardColumn(col, h, ad, k1 + 1);
        const float *a = ad;
        float *d = ad + M * L;

        // Delayed low-pass part l (d4OddLowInverse of a): l[0], l[1], l[2] and
        // l[n-1] are its double-precision boundary outputs, l[n-4..n-2] are +0.
        // Its analysis a', d' (pairs 0..k1+2 and the last two) and the halving.
        const V aEnd = at(a, M - 1), aEnd2 = at(a, M - 2), a0 = at(a, 0);
        const V lZero = T::dot2(aEnd2, aEnd, kD4H3, kD4H1), lLast = T::dot2(aEnd2, aEnd, kD4H2, kD4H0);
        const V lOne = T::dot2(aEnd, a0, kD4H2, kD4H0);
        V l0 = lZero, l1 = lOne, l2 = T::dot2(aEnd, a0, kD4H3, kD4H1), l3 = lowOdd(a0, at(a, 1));
        for (int32_t k = 0;;) {
            storeShrunk(apdp, d, k, approx(l0, l1, l2, l3), detail(l0, l1, l2, l3));
            if (++k >= k1 + 3)
                break;
            const V ak = at(a, k);
            l0 = l2;
            l1 = l3;
            l2 = lowEven(at(a, k - 1), ak);
            l3 = lowOdd(ak, at(a, k + 1));
        }
        const V z = T::zero();
        storeShrunk(apdp, d, M - 2, approx(z, z, z, lLast), detail(z, z, z, lLast));
        storeShrunk(apdp, d, M - 1, approx(z, lLast, lZero, lOne), detail(z, lLast, lZero, lOne));

        // The delayed low-pass part again (d4Inverse of a', d'), its odd-phase
        // analysis (the new approximations) and the synthesis of the column,
        // row pair by row pair, straight into the plane.
        const float *ap = apdp, *dp = apdp + M * L;
        auto pairEven = [&](int32_t k, int32_t p) { return evenOut(at(ap, k), at(ap, p), at(dp, k), at(dp, p)); };
        auto pairOdd = [&](int32_t k, int32_t p) { return oddOut(at(ap, k), at(ap, p), at(dp, k), at(dp, p)); };
        const V e0 = pairEven(0, M - 1);
        V o0 = pairOdd(0, M - 1), e1 = pairEven(1, 0), o1 = pairOdd(1, 0);
        V aPrev = T::dot4(pairOdd(M - 1, M - 2), e0, o0, e1, kD4H0, kD4H1, kD4H2, kD4H3); // new a[m-1]
        V dPrev = at(d, M - 1);
        for (int32_t k = 0; 2 * k < h; k++) {
            const V e2 = pairEven(k + 2, k + 1), o2 = pairOdd(k + 2, k + 1);
            const V ak = approx(o0, e1, o1, e2), dk = at(d, k);
            T::store(col + (ptrdiff_t)(2 * k) * N, evenOut(ak, aPrev, dk, dPrev));
            if (2 * k + 1 < h)
                T::store(col + (ptrdiff_t)(2 * k + 1) * N, oddOut(ak, aPrev, dk, dPrev));
            o0 = o1;
            e1 = e2;
            o1 = o2;
            aPrev = ak;
            dPrev = dk;
        }
    }

    // A longer column, step by step over full-length work buffers.
    static void shrinkLong(float *col, int32_t h, float *ad, float *apdp, float *low, float *a2)
    {
        forwardColumn(col, h, ad, M - 1);
        auto lowPair = [&](int32_t j, bool inDouble) {
            const V p = at(ad, j == 0 ? M - 1 : j - 1), c = at(ad, j);
            put(low, 2 * j + 1, inDouble ? T::dot2(p, c, kD4H2, kD4H0) : lowOdd(p, c));
            put(low, (2 * j + 2) % N, inDouble ? T::dot2(p, c, kD4H3, kD4H1) : lowEven(p, c));
        };
        for (int32_t j = 0; j < M; j++)
            lowPair(j, j == 0 || j >= M - 3);
        for (int32_t k = 0; k < M; k++) {
            const V x0 = at(low, 2 * k), x1 = at(low, 2 * k + 1), x2 = at(low, (2 * k + 2) % N),
                    x3 = at(low, (2 * k + 3) % N);
            storeShrunk(apdp, ad + M * L, k, approx(x0, x1, x2, x3), detail(x0, x1, x2, x3));
        }
        for (int32_t k = 0; k < M; k++) {
            const int32_t p = k == 0 ? M - 1 : k - 1;
            const V ak = at(apdp, k), apv = at(apdp, p), dk = at(apdp, M + k), dpv = at(apdp, M + p);
            put(low, 2 * k, evenOut(ak, apv, dk, dpv));
            put(low, 2 * k + 1, oddOut(ak, apv, dk, dpv));
        }
        for (int32_t k = 0; k < M; k++) {
            const V x1 = at(low, (2 * k + 1) % N), x2 = at(low, (2 * k + 2) % N), x3 = at(low, (2 * k + 3) % N),
                    x4 = at(low, (2 * k + 4) % N);
            put(a2, k, k < M - 4 ? approx(x1, x2, x3, x4) : T::dot4(x1, x2, x3, x4, kD4H0, kD4H1, kD4H2, kD4H3));
        }
        const float *d = ad + M * L;
        for (int32_t k = 0; 2 * k < h; k++) {
            const int32_t p = k == 0 ? M - 1 : k - 1;
            const V ak = at(a2, k), apv = at(a2, p), dk = at(d, k), dpv = at(d, p);
            T::store(col + (ptrdiff_t)(2 * k) * N, evenOut(ak, apv, dk, dpv));
            if (2 * k + 1 < h)
                T::store(col + (ptrdiff_t)(2 * k + 1) * N, oddOut(ak, apv, dk, dpv));
        }
    }

    // Work buffers: ad and apdp of N samples, low of N, a2 of M.
    static constexpr size_t kWorkFloats = (size_t)(3 * N + M) * L;

    // Shrinks columns column..column+count-1 (count a multiple of L) of the
    // plane; work holds kWorkFloats floats.
    static void shrinkColumns(float *plane, int32_t column, int32_t count, int32_t h, float *work)
    {
        if (count <= 0)
            return;
        float *ad = work, *apdp = work + N * L, *low = work + 2 * N * L, *a2 = work + 3 * N * L;
        if (h <= kShortColumn)
            std::fill_n(work, 2 * N * L, 0.0f);
        for (int32_t c = column; c < column + count; c += L) {
            if (h <= kShortColumn)
                shrinkShort(plane + c, h, ad, apdp);
            else
                shrinkLong(plane + c, h, ad, apdp, low, a2);
        }
    }
};

} // namespace
} // namespace velvane

#endif
