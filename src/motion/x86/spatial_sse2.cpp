// SSE2 version of the spatial pass's kernel.
#include <immintrin.h>

#include "motion/x86/spatial_x86.h"

namespace velvane {
namespace {

inline __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
inline void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }

} // namespace

void spatialRowSse2(int16_t *dst, const int16_t *above, const int16_t *cur, const int16_t *below,
                     const int16_t *limit, const uint16_t *scale, int32_t centre, int32_t count)
{
    const __m128i zero = _mm_setzero_si128(), middle = _mm_set1_epi16((int16_t)centre);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i v = load(cur + i), limits = load(limit + i), scales = load(scale + i);
        __m128i sumW = zero, accLo = zero, accHi = zero;
        // Weight and difference of one neighbour.
        auto weigh = [&](const int16_t *p, __m128i &d) {
            d = _mm_sub_epi16(load(p), v);
            const __m128i w = _mm_mulhi_epu16(_mm_subs_epu16(limits, _mm_max_epi16(d, _mm_sub_epi16(zero, d))), scales);
            sumW = _mm_add_epi16(sumW, w);
            return w;
        };
        // Two neighbours' products summed in 32 bits; unpacks work within
        // 128-bit lanes as the pack at the end does.
        auto pair = [&](const int16_t *p, const int16_t *q) {
            __m128i d0, d1;
            const __m128i w0 = weigh(p, d0), w1 = weigh(q, d1);
            accLo = _mm_add_epi32(accLo, _mm_madd_epi16(_mm_unpacklo_epi16(w0, w1), _mm_unpacklo_epi16(d0, d1)));
            accHi = _mm_add_epi32(accHi, _mm_madd_epi16(_mm_unpackhi_epi16(w0, w1), _mm_unpackhi_epi16(d0, d1)));
        };
        pair(cur + i - 3, cur + i + 3);
        pair(above + i, below + i);
        // The weights' sum with the centre's is at most 33023: unsigned.
        const __m128i den = _mm_add_epi16(sumW, middle);
        const __m128 denLo = _mm_cvtepi32_ps(_mm_unpacklo_epi16(den, zero));
        const __m128 denHi = _mm_cvtepi32_ps(_mm_unpackhi_epi16(den, zero));
        const __m128i qLo = _mm_cvtps_epi32(_mm_div_ps(_mm_cvtepi32_ps(accLo), denLo));
        const __m128i qHi = _mm_cvtps_epi32(_mm_div_ps(_mm_cvtepi32_ps(accHi), denHi));
        store(dst + i, _mm_add_epi16(v, _mm_packs_epi32(qLo, qHi)));
    }
    if (i < count)
        spatialRowC(dst + i, above + i, cur + i, below + i, limit + i, scale + i, centre, count - i);
}

} // namespace velvane
