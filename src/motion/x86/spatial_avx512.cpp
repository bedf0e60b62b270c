// AVX-512 version of the spatial pass's kernel.
#include "common/x86_avx512.h"

#include "motion/x86/spatial_x86.h"

namespace velvane {
namespace {

inline __m512i load(const void *p) { return _mm512_loadu_si512(p); }
inline void store(void *p, __m512i v) { _mm512_storeu_si512(p, v); }

} // namespace

void spatialRowAvx512(int16_t *dst, const int16_t *above, const int16_t *cur, const int16_t *below,
                       const int16_t *limit, const uint16_t *scale, int32_t centre, int32_t count)
{
    const __m512i zero = _mm512_setzero_si512(), middle = _mm512_set1_epi16((int16_t)centre);
    int32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m512i v = load(cur + i), limits = load(limit + i), scales = load(scale + i);
        __m512i sumW = zero, accLo = zero, accHi = zero;
        // Weight and difference of one neighbour.
        auto weigh = [&](const int16_t *p, __m512i &d) {
            d = _mm512_sub_epi16(load(p), v);
            const __m512i w = _mm512_mulhi_epu16(_mm512_subs_epu16(limits, _mm512_abs_epi16(d)), scales);
            sumW = _mm512_add_epi16(sumW, w);
            return w;
        };
        // Two neighbours' products summed in 32 bits; unpacks work within
        // 128-bit lanes as the pack at the end does.
        auto pair = [&](const int16_t *p, const int16_t *q) {
            __m512i d0, d1;
            const __m512i w0 = weigh(p, d0), w1 = weigh(q, d1);
            accLo = _mm512_add_epi32(accLo, _mm512_madd_epi16(_mm512_unpacklo_epi16(w0, w1), _mm512_unpacklo_epi16(d0, d1)));
            accHi = _mm512_add_epi32(accHi, _mm512_madd_epi16(_mm512_unpackhi_epi16(w0, w1), _mm512_unpackhi_epi16(d0, d1)));
        };
        pair(cur + i - 3, cur + i + 3);
        pair(above + i, below + i);
        // The weights' sum with the centre's is at most 33023: unsigned.
        const __m512i den = _mm512_add_epi16(sumW, middle);
        const __m512 denLo = _mm512_cvtepi32_ps(_mm512_unpacklo_epi16(den, zero));
        const __m512 denHi = _mm512_cvtepi32_ps(_mm512_unpackhi_epi16(den, zero));
        const __m512i qLo = _mm512_cvtps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(accLo), denLo));
        const __m512i qHi = _mm512_cvtps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(accHi), denHi));
        store(dst + i, _mm512_add_epi16(v, _mm512_packs_epi32(qLo, qHi)));
    }
    if (i < count)
        spatialRowAvx2(dst + i, above + i, cur + i, below + i, limit + i, scale + i, centre, count - i);
}

} // namespace velvane
