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
    int32_t inv2End;           // the output, rows 0..h-1

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
        inv2End = (h + 1) / 2;
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

    // Work buffers of one lane width: each step writes a buffer of its own,
    // so that what a strip leaves behind is only ever in the live ranges.
    struct Work {
        float *x, *ad, *low, *apdp, *low2, *a2; // N, N, N, N, N and M samples of L lanes
        static constexpr size_t kFloats = (size_t)(5 * N + M) * L;
        explicit Work(float *base)
            : x(base), ad(base + N * L), low(base + 2 * N * L), apdp(base + 3 * N * L), low2(base + 4 * N * L),
              a2(base + 5 * N * L)
        {
        }
    };

    // The work buffers must hold +0 outside the live ranges of `live`: clear
    // them before the first strip of a call.
    static void shrinkStrip(float *plane, int32_t column, int32_t h, const LiveRanges &live, const Work &w)
    {
        const float *src = plane + column;
        for (int32_t i = 0; i < h; i++)
            put(w.x, i, T::load(src + (ptrdiff_t)i * N));
        forward(w.x, w.ad, live.fwd1End, live.fwd1Wrap);
        oddInverse(w.ad, w.low, live.oddInvEnd, live.oddInvBoundary);
        forward(w.low, w.apdp, live.fwd2End, live.fwd2Wrap);
        for (int32_t k = 0; k < live.fwd2End; k++)
            halvePairs(w.apdp + M * L, w.ad + M * L, k);
        for (int32_t k = live.fwd2Wrap > live.fwd2End ? live.fwd2Wrap : live.fwd2End; k < M; k++)
            halvePairs(w.apdp + M * L, w.ad + M * L, k);
        inverse(w.apdp, w.apdp + M * L, w.low2, live.inv1End, live.inv1Wrap);
        oddForward(w.low2, w.a2, live.oddFwdEnd);
        // The column goes to the start of low2, which the next strip rewrites
        // before reading (x must keep its zeros below row h).
        inverse(w.a2, w.ad + M * L, w.low2, live.inv2End, M);
        float *dst = plane + column;
        for (int32_t i = 0; i < h; i++)
            T::store(dst + (ptrdiff_t)i * N, at(w.low2, i));
    }
};

} // namespace
} // namespace velvane

#endif
