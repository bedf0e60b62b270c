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

// Which outputs of each step of the column shrink can differ from +0. A
// column is zero below row h, and every transform maps +0 inputs to +0 (a
// product with a negative tap gives -0, but each sum has a +0 term, so it
// comes out +0). For h up to kShortColumn the support of each step is its
// first few hundred outputs plus a few next to the wrap; only those are
// computed, the rest of the work buffers stays +0 from the clearing done
// before the first strip. Longer columns are computed in full.
constexpr int32_t kShortColumn = 760;

struct LiveRanges {
    // Ends of the leading runs and starts of the trailing ones, per step.
    int32_t fwd1End, fwd1Wrap; // a, d of the column
    int32_t oddInvEnd, oddInvBoundary; // its delayed low-pass part
    int32_t fwd2End, fwd2Wrap; // a', d' (and the pairs tested for halving)
    int32_t inv1End, inv1Wrap; // the delayed low-pass part again
    int32_t oddFwdEnd;         // the new approximations (boundary four always)

    explicit LiveRanges(int32_t h)
    {
        constexpr int32_t M = kWaveLength / 2;
        if (h > kShortColumn) {
            fwd1End = fwd2End = inv1End = M;
            fwd1Wrap = fwd2Wrap = inv1Wrap = M;
            oddInvEnd = M - 3;
            oddInvBoundary = M - 3;
            oddFwdEnd = M - 4;
        } else {
            const int32_t k1 = (h - 1) / 2; // last pair that reads a row below h
            fwd1End = k1 + 1;
            fwd1Wrap = M - 1;
            oddInvEnd = k1 + 2;
            oddInvBoundary = M - 1;
            fwd2End = k1 + 3;
            fwd2Wrap = M - 2;
            inv1End = k1 + 4;
            inv1Wrap = M - 2;
            oddFwdEnd = k1 + 4;
        }
    }
};

// The transforms of wavelet_c.cpp with every sample a vector of lanes, and
// the two-phase shrink of one strip of kLanes columns built from them.
template <class T> struct ColumnLanes {
    using V = typename T::V;
    static constexpr int32_t N = kWaveLength, M = kWaveLength / 2, L = T::kLanes;

    static V at(const float *buf, int32_t i) { return T::load(buf + (ptrdiff_t)i * L); }
    static void put(float *buf, int32_t i, V v) { T::store(buf + (ptrdiff_t)i * L, v); }

    static void forwardPair(const float *x, float *out, int32_t k, int32_t i2, int32_t i3)
    {
        const V x0 = at(x, 2 * k), x1 = at(x, 2 * k + 1), x2 = at(x, i2), x3 = at(x, i3);
        const V a = T::add(T::add(T::add(T::mul(T::set1(kD4H0), x0), T::mul(T::set1(kD4H1), x1)),
                                  T::mul(T::set1(kD4H2), x2)),
                           T::mul(T::set1(kD4H3), x3));
        const V d = T::add(T::add(T::add(T::mul(T::set1(-kD4H2), x1), T::mul(T::set1(kD4H3), x0)),
                                  T::mul(T::set1(-kD4H0), x3)),
                           T::mul(T::set1(kD4H1), x2));
        put(out, k, a);
        put(out, M + k, d);
    }
    // Pairs [0, end) and [wrap, M); the last one reads round the end.
    static void forward(const float *x, float *out, int32_t end, int32_t wrap)
    {
        const int32_t interior = end < M - 1 ? end : M - 1;
        for (int32_t k = 0; k < interior; k++)
            forwardPair(x, out, k, 2 * k + 2, 2 * k + 3);
        for (int32_t k = wrap > interior ? wrap : interior; k < M - 1; k++)
            forwardPair(x, out, k, 2 * k + 2, 2 * k + 3);
        forwardPair(x, out, M - 1, 0, 1);
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
    // Pairs [0, end) and [wrap, M); the first one reads round the end.
    static void inverse(const float *a, const float *d, float *out, int32_t end, int32_t wrap)
    {
        inversePair(a, d, out, 0, M - 1);
        for (int32_t k = 1; k < end; k++)
            inversePair(a, d, out, k, k - 1);
        for (int32_t k = wrap > end ? wrap : (end > 1 ? end : 1); k < M; k++)
            inversePair(a, d, out, k, k - 1);
    }

    // Outputs [0, end) in single precision, the last four in double.
    static void oddForward(const float *x, float *out, int32_t end)
    {
        for (int32_t k = 0; k < end; k++) {
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

    // j = 0 in double, [1, end) in single, [boundary, M) in double.
    static void oddInverse(const float *b, float *out, int32_t end, int32_t boundary)
    {
        auto twoInDouble = [&](int32_t j) {
            const V p = at(b, j == 0 ? M - 1 : j - 1), c = at(b, j);
            put(out, 2 * j + 1, T::dot2(p, c, kD4H2, kD4H0));
            put(out, (2 * j + 2) % N, T::dot2(p, c, kD4H3, kD4H1));
        };
        twoInDouble(0);
        for (int32_t j = 1; j < end; j++) {
            const V p = at(b, j - 1), c = at(b, j);
            put(out, 2 * j + 1, T::add(T::mul(T::set1(kD4H2), p), T::mul(T::set1(kD4H0), c)));
            put(out, 2 * j + 2, T::add(T::mul(T::set1(kD4H3), p), T::mul(T::set1(kD4H1), c)));
        }
        for (int32_t j = boundary; j < M; j++)
            twoInDouble(j);
    }

    static void halvePairs(float *dPrime, float *d, int32_t k)
    {
        V dp = at(dPrime, k), dk = at(d, k);
        T::halveOpposite(dp, dk);
        put(dPrime, k, dp);
        put(d, k, dk);
    }

    // The first analysis reads the column straight from the plane: rows at
    // and below h are zero.
    static V sample(const float *col, int32_t h, int32_t i)
    {
        return i < h ? T::load(col + (ptrdiff_t)i * N) : T::zero();
    }
    static void forwardColumn(const float *col, int32_t h, float *out, int32_t end, int32_t wrap)
    {
        auto pair = [&](int32_t k, V x0, V x1, V x2, V x3) {
            put(out, k, T::add(T::add(T::add(T::mul(T::set1(kD4H0), x0), T::mul(T::set1(kD4H1), x1)),
                                      T::mul(T::set1(kD4H2), x2)),
                               T::mul(T::set1(kD4H3), x3)));
            put(out, M + k, T::add(T::add(T::add(T::mul(T::set1(-kD4H2), x1), T::mul(T::set1(kD4H3), x0)),
                                          T::mul(T::set1(-kD4H0), x3)),
                                   T::mul(T::set1(kD4H1), x2)));
        };
        const int32_t interior = end < M - 1 ? end : M - 1;
        const int32_t inside = h >= 4 ? (h - 4) / 2 + 1 : 0; // pairs whose four rows are all above h
        int32_t k = 0;
        for (const float *p = col; k < interior && k < inside; k++, p += 2 * N)
            pair(k, T::load(p), T::load(p + N), T::load(p + 2 * N), T::load(p + 3 * N));
        auto slow = [&](int32_t k) {
            pair(k, sample(col, h, 2 * k), sample(col, h, 2 * k + 1), sample(col, h, 2 * k + 2),
                 sample(col, h, 2 * k + 3));
        };
        for (; k < interior; k++)
            slow(k);
        for (k = wrap > interior ? wrap : interior; k < M - 1; k++)
            slow(k);
        pair(M - 1, sample(col, h, N - 2), sample(col, h, N - 1), sample(col, h, 0), sample(col, h, 1));
    }

    // The second analysis, halving each detail pair d'[k], d[k] of opposite
    // signs as soon as d'[k] is known.
    static void forwardShrink(const float *x, float *out, float *d, int32_t end, int32_t wrap)
    {
        auto pair = [&](int32_t k, int32_t i2, int32_t i3) {
            forwardPair(x, out, k, i2, i3);
            halvePairs(out + M * L, d, k);
        };
        const int32_t interior = end < M - 1 ? end : M - 1;
        for (int32_t k = 0; k < interior; k++)
            pair(k, 2 * k + 2, 2 * k + 3);
        for (int32_t k = wrap > interior ? wrap : interior; k < M - 1; k++)
            pair(k, 2 * k + 2, 2 * k + 3);
        pair(M - 1, 0, 1);
    }

    // The last synthesis writes rows 0..h-1 of the column straight back.
    static void inverseColumn(const float *a, const float *d, float *col, int32_t h)
    {
        auto pair = [&](int32_t k, int32_t p) {
            const V ak = at(a, k), ap = at(a, p), dk = at(d, k), dpv = at(d, p);
            T::store(col + (ptrdiff_t)(2 * k) * N,
                     T::add(T::add(T::add(T::mul(T::set1(kD4H0), ak), T::mul(T::set1(kD4H2), ap)),
                                   T::mul(T::set1(kD4H3), dk)),
                            T::mul(T::set1(kD4H1), dpv)));
            if (2 * k + 1 < h)
                T::store(col + (ptrdiff_t)(2 * k + 1) * N,
                         T::add(T::add(T::add(T::mul(T::set1(kD4H1), ak), T::mul(T::set1(kD4H3), ap)),
                                       T::mul(T::set1(-kD4H2), dk)),
                                T::mul(T::set1(-kD4H0), dpv)));
        };
        pair(0, M - 1);
        for (int32_t k = 1; 2 * k < h; k++)
            pair(k, k - 1);
    }

    // Work buffers of one lane width: each step writes a buffer of its own,
    // so that what a strip leaves behind is only ever in the live ranges.
    struct Work {
        float *ad, *low, *apdp, *low2, *a2; // N, N, N, N and M samples of L lanes
        static constexpr size_t kFloats = (size_t)(4 * N + M) * L;
        explicit Work(float *base)
            : ad(base), low(base + N * L), apdp(base + 2 * N * L), low2(base + 3 * N * L), a2(base + 4 * N * L)
        {
        }
    };

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

    // A column of at most kShortColumn rows with the steps after the first
    // analysis fused, so that only the two coefficient buffers are stored:
    // the delayed low-pass parts and the new approximations live in
    // registers. Each value is formed exactly as in the separate steps; the
    // samples those steps leave at +0 are read as +0 or formed from +0.
    static void shrinkStripShort(float *plane, int32_t column, int32_t h, const LiveRanges &live, const Work &w)
    {
        float *col = plane + column;
        forwardColumn(col, h, w.ad, live.fwd1End, live.fwd1Wrap);
        const float *a = w.ad;
        float *d = w.ad + M * L, *ap = w.apdp, *dp = w.apdp + M * L;

        // Delayed low-pass part (odd-phase synthesis of a) feeding the second
        // analysis and the halving, pair by pair.
        auto analyse = [&](int32_t k, V x0, V x1, V x2, V x3) {
            V apk = T::add(T::add(T::add(T::mul(T::set1(kD4H0), x0), T::mul(T::set1(kD4H1), x1)),
                                  T::mul(T::set1(kD4H2), x2)),
                           T::mul(T::set1(kD4H3), x3));
            V dpk = T::add(T::add(T::add(T::mul(T::set1(-kD4H2), x1), T::mul(T::set1(kD4H3), x0)),
                                  T::mul(T::set1(-kD4H0), x3)),
                           T::mul(T::set1(kD4H1), x2));
            V dk = at(d, k);
            T::halveOpposite(dpk, dk);
            put(ap, k, apk);
            put(dp, k, dpk);
            put(d, k, dk);
        };
        const V aEnd = at(a, M - 1), aEnd2 = at(a, M - 2);
        const V lowZero = T::dot2(aEnd2, aEnd, kD4H3, kD4H1); // out[0] of j = m-1
        const V lowLast = T::dot2(aEnd2, aEnd, kD4H2, kD4H0); // out[n-1]
        const V lowOne = T::dot2(aEnd, at(a, 0), kD4H2, kD4H0);
        V l0 = lowZero, l1 = lowOne, l2 = T::dot2(aEnd, at(a, 0), kD4H3, kD4H1);
        V l3 = T::add(T::mul(T::set1(kD4H2), at(a, 0)), T::mul(T::set1(kD4H0), at(a, 1)));
        analyse(0, l0, l1, l2, l3);
        l0 = l2;
        l1 = l3;
        for (int32_t k = 1; k < live.fwd2End; k++) {
            const V ak = at(a, k);
            l2 = T::add(T::mul(T::set1(kD4H3), at(a, k - 1)), T::mul(T::set1(kD4H1), ak));
            l3 = T::add(T::mul(T::set1(kD4H2), ak), T::mul(T::set1(kD4H0), at(a, k + 1)));
            analyse(k, l0, l1, l2, l3);
            l0 = l2;
            l1 = l3;
        }
        analyse(M - 2, T::zero(), T::zero(), T::zero(), lowLast);
        analyse(M - 1, T::zero(), lowLast, lowZero, lowOne);

        // Delayed low-pass part again, its odd-phase analysis (the new
        // approximations) and the synthesis of the column, row pair by row pair.
        auto pairE = [&](int32_t k, int32_t p) { return evenOut(at(ap, k), at(ap, p), at(dp, k), at(dp, p)); };
        auto pairO = [&](int32_t k, int32_t p) { return oddOut(at(ap, k), at(ap, p), at(dp, k), at(dp, p)); };
        V e1 = pairE(1, 0), o1 = pairO(1, 0), o0 = pairO(0, M - 1);
        const V e0 = pairE(0, M - 1);
        V aPrev = T::dot4(pairO(M - 1, M - 2), e0, o0, e1, kD4H0, kD4H1, kD4H2, kD4H3); // new a[m-1]
        V dPrev = at(d, M - 1);
        for (int32_t k = 0; 2 * k < h; k++) {
            const V e2 = pairE(k + 2, k + 1), o2 = pairO(k + 2, k + 1);
            const V ak = T::add(T::add(T::add(T::mul(T::set1(kD4H0), o0), T::mul(T::set1(kD4H1), e1)),
                                       T::mul(T::set1(kD4H2), o1)),
                                T::mul(T::set1(kD4H3), e2));
            const V dk = at(d, k);
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

    // The work buffers must hold +0 outside the live ranges of `live`: clear
    // them before the first strip of a call.
    static void shrinkStrip(float *plane, int32_t column, int32_t h, const LiveRanges &live, const Work &w)
    {
        if (h <= kShortColumn) {
            shrinkStripShort(plane, column, h, live, w);
            return;
        }
        float *col = plane + column;
        forwardColumn(col, h, w.ad, live.fwd1End, live.fwd1Wrap);
        oddInverse(w.ad, w.low, live.oddInvEnd, live.oddInvBoundary);
        forwardShrink(w.low, w.apdp, w.ad + M * L, live.fwd2End, live.fwd2Wrap);
        inverse(w.apdp, w.apdp + M * L, w.low2, live.inv1End, live.inv1Wrap);
        oddForward(w.low2, w.a2, live.oddFwdEnd);
        inverseColumn(w.a2, w.ad + M * L, col, h);
    }
};

} // namespace
} // namespace velvane

#endif
