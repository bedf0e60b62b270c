// AVX2 versions of the averaging and output kernels.
#include <immintrin.h>

#include "nr/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m256i load(const int16_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
inline void store(int16_t *p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }

inline void select(__m256i v, __m256i lo, __m256i hi, __m256i &sum, __m256i &weight)
{
    const __m256i m = _mm256_and_si256(_mm256_cmpgt_epi16(v, lo), _mm256_cmpgt_epi16(hi, v));
    sum = _mm256_adds_epi16(sum, _mm256_and_si256(v, m));
    weight = _mm256_sub_epi16(weight, m);
}

// round-to-even((float)sum / (float)weight) by a multiply instead of a
// division. With r the single-precision reciprocal of the weight (2 to 7),
// r = (1 + d) / w with |d| < 2^-24; the product sum x r then lies within 2^-9
// of the exact quotient, and a quotient that is not a half lies at least 1/14
// from one, so both round to the same integer. Halves arise for weights 2, 4
// (exact reciprocals) and 6, where d = 2^-25.0: the product lies within a
// quarter unit in the last place of the half, which is a float, and rounds to
// it. checkasm compares every sum of every weight with the division. The
// unpacks and the pack work within 128-bit halves alike, so the lanes come
// back in their places. One unpack serves both: each dword holds the weight
// in its low half, whose three low bits pick the reciprocal, and the sum in
// its high half, which the arithmetic shift brings down with its sign.
__attribute__((always_inline)) inline __m256i quotient(__m256i sum, __m256i weight)
{
    const __m256 reciprocals = _mm256_setr_ps(0.0f, 1.0f, 1.0f / 2, 1.0f / 3, 1.0f / 4, 1.0f / 5, 1.0f / 6, 1.0f / 7);
    const __m256i x0 = _mm256_unpacklo_epi16(weight, sum), x1 = _mm256_unpackhi_epi16(weight, sum);
    const __m256 q0 =
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srai_epi32(x0, 16)), _mm256_permutevar8x32_ps(reciprocals, x0));
    const __m256 q1 =
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srai_epi32(x1, 16)), _mm256_permutevar8x32_ps(reciprocals, x1));
    return _mm256_packs_epi32(_mm256_cvtps_epi32(q0), _mm256_cvtps_epi32(q1));
}

template <bool usePrevious>
__attribute__((always_inline)) inline __m256i averageVector(const AverageRowArgs *a, ptrdiff_t i, __m256i tLow,
                                                           __m256i tHigh)
{
    const __m256i two = _mm256_set1_epi16(2);
    __m256i ctr = load(a->lowCur + i);
    __m256i lo = _mm256_subs_epi16(ctr, tLow), hi = _mm256_adds_epi16(ctr, tLow);
    __m256i sum = _mm256_adds_epi16(ctr, ctr), weight = two;
    if (usePrevious)
        select(load(a->lowPrev + i), lo, hi, sum, weight);
    select(load(a->lowNext + i), lo, hi, sum, weight);
    select(load(a->lowCurPartner + i), lo, hi, sum, weight);
    if (usePrevious)
        select(load(a->lowPrevPartner + i), lo, hi, sum, weight);
    select(load(a->lowNextPartner + i), lo, hi, sum, weight);
    const __m256i q1 = quotient(sum, weight);

    ctr = load(a->highCur + i);
    lo = _mm256_subs_epi16(ctr, tHigh);
    hi = _mm256_adds_epi16(ctr, tHigh);
    sum = _mm256_adds_epi16(ctr, ctr);
    weight = two;
    if (usePrevious)
        select(load(a->highPrev + i), lo, hi, sum, weight);
    select(load(a->highNext + i), lo, hi, sum, weight);
    return _mm256_adds_epi16(q1, quotient(sum, weight));
}

template <bool usePrevious> void averageRow(int16_t *dst, const AverageRowArgs *a, int32_t pixels)
{
    // The row pointers in a copy of the arguments that no store can reach,
    // so that they stay in registers across the stores to dst.
    const AverageRowArgs args = *a;
    // Sixteen pixels are 48 lanes: three vectors, thresholds in three phases.
    int16_t lanes[2][48];
    thresholdLanes(a, lanes[0], lanes[1], 48);
    __m256i tLow[3], tHigh[3];
    for (int r = 0; r < 3; r++) {
        tLow[r] = load(lanes[0] + 16 * r);
        tHigh[r] = load(lanes[1] + 16 * r);
    }
    const ptrdiff_t n = (ptrdiff_t)pixels * 3;
    const __m128i shift = _mm_cvtsi32_si128(a->doubled ? 1 : 0); // doubled: one to the left
    // The last block may overlap the one before it (see the SSE2 version).
    for (ptrdiff_t i = 0;; i += 48) {
        if (i + 48 > n)
            i = n - 48;
        const __m256i r0 = averageVector<usePrevious>(&args, i, tLow[0], tHigh[0]);
        const __m256i r1 = averageVector<usePrevious>(&args, i + 16, tLow[1], tHigh[1]);
        const __m256i r2 = averageVector<usePrevious>(&args, i + 32, tLow[2], tHigh[2]);
        store(dst + i, _mm256_sll_epi16(r0, shift));
        store(dst + i + 16, _mm256_sll_epi16(r1, shift));
        store(dst + i + 32, _mm256_sll_epi16(r2, shift));
        if (i + 48 >= n)
            break;
    }
}

} // namespace

void averageRowAvx2(int16_t *dst, const AverageRowArgs *a, int32_t pixels)
{
    if (pixels < 16)
        averageRowSse2(dst, a, pixels);
    else if (a->usePrevious)
        averageRow<true>(dst, a, pixels);
    else
        averageRow<false>(dst, a, pixels);
}

void doubleSamplesAvx2(int16_t *samples, size_t count)
{
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        store(samples + i, _mm256_slli_epi16(load(samples + i), 1));
        store(samples + i + 16, _mm256_slli_epi16(load(samples + i + 16), 1));
    }
    doubleSamplesSse2(samples + i, count - i);
}

} // namespace velvane
