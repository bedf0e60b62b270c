// AVX-512 (F, BW, VL, DQ) version of the averaging kernel: 32 lanes at a
// time, and the neighbour selection in mask registers.
#include "common/x86_avx512.h"
#include "nr/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m512i load(const int16_t *p) { return _mm512_loadu_si512(p); }
inline void store(int16_t *p, __m512i v) { _mm512_storeu_si512(p, v); }

// Adds the lanes of v strictly between lo and hi to sum, with saturation,
// and counts them in weight.
inline void select(__m512i v, __m512i lo, __m512i hi, __m512i &sum, __m512i &weight)
{
    const __mmask32 m = _mm512_mask_cmpgt_epi16_mask(_mm512_cmpgt_epi16_mask(v, lo), hi, v);
    sum = _mm512_mask_adds_epi16(sum, m, sum, v);
    weight = _mm512_mask_add_epi16(weight, m, weight, _mm512_set1_epi16(1));
}

// round-to-even((float)sum / (float)weight) by the reciprocal multiply of the
// AVX2 version (nr_avx2.cpp says why it is exact). The weight is at least 2,
// so every quotient fits in 16 bits. The even and odd lanes go through 32
// bits in place, by shifts rather than shuffles.
inline __m512i quotient(__m512i sum, __m512i weight)
{
    const __m512 reciprocals = _mm512_setr_ps(0.0f, 1.0f, 1.0f / 2, 1.0f / 3, 1.0f / 4, 1.0f / 5, 1.0f / 6, 1.0f / 7,
                                              0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    const __m512i evenSum = _mm512_srai_epi32(_mm512_slli_epi32(sum, 16), 16);
    const __m512i oddSum = _mm512_srai_epi32(sum, 16);
    const __m512i evenWeight = _mm512_and_si512(weight, _mm512_set1_epi32(0xFFFF));
    const __m512i oddWeight = _mm512_srli_epi32(weight, 16);
    const __m512i even = _mm512_cvtps_epi32(
        _mm512_mul_ps(_mm512_cvtepi32_ps(evenSum), _mm512_permutexvar_ps(evenWeight, reciprocals)));
    const __m512i odd = _mm512_cvtps_epi32(
        _mm512_mul_ps(_mm512_cvtepi32_ps(oddSum), _mm512_permutexvar_ps(oddWeight, reciprocals)));
    return _mm512_mask_blend_epi16(0xAAAAAAAAu, even, _mm512_slli_epi32(odd, 16));
}

template <bool usePrevious>
__attribute__((always_inline)) inline __m512i averageVector(const AverageRowArgs *a, ptrdiff_t i, __m512i tLow,
                                                           __m512i tHigh)
{
    const __m512i two = _mm512_set1_epi16(2);
    __m512i ctr = load(a->lowCur + i);
    __m512i lo = _mm512_subs_epi16(ctr, tLow), hi = _mm512_adds_epi16(ctr, tLow);
    __m512i sum = _mm512_adds_epi16(ctr, ctr), weight = two;
    if (usePrevious)
        select(load(a->lowPrev + i), lo, hi, sum, weight);
    select(load(a->lowNext + i), lo, hi, sum, weight);
    select(load(a->lowCurPartner + i), lo, hi, sum, weight);
    if (usePrevious)
        select(load(a->lowPrevPartner + i), lo, hi, sum, weight);
    select(load(a->lowNextPartner + i), lo, hi, sum, weight);
    const __m512i q1 = quotient(sum, weight);

    ctr = load(a->highCur + i);
    lo = _mm512_subs_epi16(ctr, tHigh);
    hi = _mm512_adds_epi16(ctr, tHigh);
    sum = _mm512_adds_epi16(ctr, ctr);
    weight = two;
    if (usePrevious)
        select(load(a->highPrev + i), lo, hi, sum, weight);
    select(load(a->highNext + i), lo, hi, sum, weight);
    return _mm512_adds_epi16(q1, quotient(sum, weight));
}

template <bool usePrevious> void averageRow(int16_t *dst, const AverageRowArgs *a, int32_t pixels)
{
    // 32 pixels are 96 lanes: three vectors, thresholds in three phases.
    int16_t lanes[2][96];
    thresholdLanes(a, lanes[0], lanes[1], 96);
    __m512i tLow[3], tHigh[3];
    for (int r = 0; r < 3; r++) {
        tLow[r] = load(lanes[0] + 32 * r);
        tHigh[r] = load(lanes[1] + 32 * r);
    }
    const ptrdiff_t n = (ptrdiff_t)pixels * 3;
    const __m128i shift = _mm_cvtsi32_si128(a->doubled ? 1 : 0); // doubled: one to the left
    // The last block may overlap the one before it (see the SSE2 version).
    for (ptrdiff_t i = 0;; i += 96) {
        if (i + 96 > n)
            i = n - 96;
        const __m512i r0 = averageVector<usePrevious>(a, i, tLow[0], tHigh[0]);
        const __m512i r1 = averageVector<usePrevious>(a, i + 32, tLow[1], tHigh[1]);
        const __m512i r2 = averageVector<usePrevious>(a, i + 64, tLow[2], tHigh[2]);
        store(dst + i, _mm512_sll_epi16(r0, shift));
        store(dst + i + 32, _mm512_sll_epi16(r1, shift));
        store(dst + i + 64, _mm512_sll_epi16(r2, shift));
        if (i + 96 >= n)
            break;
    }
}

} // namespace

void averageRowAvx512(int16_t *dst, const AverageRowArgs *a, int32_t pixels)
{
    if (pixels < 32)
        averageRowAvx2(dst, a, pixels);
    else if (a->usePrevious)
        averageRow<true>(dst, a, pixels);
    else
        averageRow<false>(dst, a, pixels);
}

} // namespace velvane
