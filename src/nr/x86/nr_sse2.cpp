// SSE2 versions of the averaging and output kernels.
#include <emmintrin.h>
#include <string.h>

#include "nr/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m128i load(const int16_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline void store(int16_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

// Adds the lanes of v that lie strictly between lo and hi to sum (with
// saturation) and counts them in weight (a true compare is -1).
inline void select(__m128i v, __m128i lo, __m128i hi, __m128i &sum, __m128i &weight)
{
    const __m128i m = _mm_and_si128(_mm_cmpgt_epi16(v, lo), _mm_cmpgt_epi16(hi, v));
    sum = _mm_adds_epi16(sum, _mm_and_si128(v, m));
    weight = _mm_sub_epi16(weight, m);
}

// (float)sum / (float)weight per lane, rounded to nearest even by cvtps2dq
// (the default rounding mode), saturated to 16 bits by the pack.
inline __m128i quotient(__m128i sum, __m128i weight)
{
    const __m128i s0 = _mm_srai_epi32(_mm_unpacklo_epi16(sum, sum), 16);
    const __m128i s1 = _mm_srai_epi32(_mm_unpackhi_epi16(sum, sum), 16);
    const __m128i w0 = _mm_unpacklo_epi16(weight, _mm_setzero_si128());
    const __m128i w1 = _mm_unpackhi_epi16(weight, _mm_setzero_si128());
    const __m128 q0 = _mm_div_ps(_mm_cvtepi32_ps(s0), _mm_cvtepi32_ps(w0));
    const __m128 q1 = _mm_div_ps(_mm_cvtepi32_ps(s1), _mm_cvtepi32_ps(w1));
    return _mm_packs_epi32(_mm_cvtps_epi32(q0), _mm_cvtps_epi32(q1));
}

template <bool usePrevious>
__attribute__((always_inline)) inline __m128i averageVector(const AverageRowArgs *a, ptrdiff_t i, __m128i tLow,
                                                           __m128i tHigh)
{
    const __m128i two = _mm_set1_epi16(2);
    __m128i ctr = load(a->lowCur + i);
    __m128i lo = _mm_subs_epi16(ctr, tLow), hi = _mm_adds_epi16(ctr, tLow);
    __m128i sum = _mm_adds_epi16(ctr, ctr), weight = two;
    if (usePrevious)
        select(load(a->lowPrev + i), lo, hi, sum, weight);
    select(load(a->lowNext + i), lo, hi, sum, weight);
    select(load(a->lowCurPartner + i), lo, hi, sum, weight);
    if (usePrevious)
        select(load(a->lowPrevPartner + i), lo, hi, sum, weight);
    select(load(a->lowNextPartner + i), lo, hi, sum, weight);
    const __m128i q1 = quotient(sum, weight);

    ctr = load(a->highCur + i);
    lo = _mm_subs_epi16(ctr, tHigh);
    hi = _mm_adds_epi16(ctr, tHigh);
    sum = _mm_adds_epi16(ctr, ctr);
    weight = two;
    if (usePrevious)
        select(load(a->highPrev + i), lo, hi, sum, weight);
    select(load(a->highNext + i), lo, hi, sum, weight);
    return _mm_adds_epi16(q1, quotient(sum, weight));
}

template <bool usePrevious> void averageRow(int16_t *dst, const AverageRowArgs *a, int32_t pixels)
{
    // The row pointers in a copy of the arguments that no store can reach,
    // so that they stay in registers across the stores to dst.
    const AverageRowArgs args = *a;
    // Eight pixels are 24 lanes: three vectors whose thresholds follow the
    // y, cb, cr pattern from three phases.
    int16_t lanes[2][24];
    thresholdLanes(a, lanes[0], lanes[1], 24);
    __m128i tLow[3], tHigh[3];
    for (int r = 0; r < 3; r++) {
        tLow[r] = load(lanes[0] + 8 * r);
        tHigh[r] = load(lanes[1] + 8 * r);
    }
    const ptrdiff_t n = (ptrdiff_t)pixels * 3;
    const __m128i shift = _mm_cvtsi32_si128(a->doubled ? 1 : 0); // doubled: one to the left
    // Every lane depends on the sources only, so the last block may overlap
    // the one before it; it starts on a pixel, keeping the threshold phase.
    for (ptrdiff_t i = 0;; i += 24) {
        if (i + 24 > n)
            i = n - 24;
        const __m128i r0 = averageVector<usePrevious>(&args, i, tLow[0], tHigh[0]);
        const __m128i r1 = averageVector<usePrevious>(&args, i + 8, tLow[1], tHigh[1]);
        const __m128i r2 = averageVector<usePrevious>(&args, i + 16, tLow[2], tHigh[2]);
        store(dst + i, _mm_sll_epi16(r0, shift));
        store(dst + i + 8, _mm_sll_epi16(r1, shift));
        store(dst + i + 16, _mm_sll_epi16(r2, shift));
        if (i + 24 >= n)
            break;
    }
}

} // namespace

void averageRowSse2(int16_t *dst, const AverageRowArgs *a, int32_t pixels)
{
    if (pixels < 8)
        averageRowC(dst, a, pixels);
    else if (a->usePrevious)
        averageRow<true>(dst, a, pixels);
    else
        averageRow<false>(dst, a, pixels);
}

void doubleSamplesSse2(int16_t *samples, size_t count)
{
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        store(samples + i, _mm_slli_epi16(load(samples + i), 1));
        store(samples + i + 8, _mm_slli_epi16(load(samples + i + 8), 1));
    }
    for (; i + 8 <= count; i += 8)
        store(samples + i, _mm_slli_epi16(load(samples + i), 1));
    doubleSamplesC(samples + i, count - i);
}

void fillPixelsSse2(YcPixel *row, size_t count, YcPixel black)
{
    // Eight pixels are three vectors of the repeating y, cb, cr pattern.
    int16_t lanes[24];
    for (int k = 0; k < 24; k += 3) {
        lanes[k] = black.y;
        lanes[k + 1] = black.cb;
        lanes[k + 2] = black.cr;
    }
    const __m128i v0 = load(lanes), v1 = load(lanes + 8), v2 = load(lanes + 16);
    int16_t *s = &row->y;
    size_t i = 0;
    for (; i + 8 <= count; i += 8, s += 24) {
        store(s, v0);
        store(s + 8, v1);
        store(s + 16, v2);
    }
    fillPixelsC(row + i, count - i, black);
}

} // namespace velvane
