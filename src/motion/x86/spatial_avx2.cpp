// AVX2 version of the spatial pass's kernel.
#include <immintrin.h>

#include "motion/x86/spatial_x86.h"

namespace velvane {
namespace {

inline __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
inline void store(void *p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }

} // namespace

void spatialRowAvx2(int16_t *dst, const int16_t *above, const int16_t *cur, const int16_t *below,
                     const int16_t *limit, const uint16_t *scale, int32_t centre, int32_t count)
{
    const __m256i zero = _mm256_setzero_si256(), middle = _mm256_set1_epi16((int16_t)centre);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i v = load(cur + i), limits = load(limit + i), scales = load(scale + i);
        __m256i sumW = zero, accLo = zero, accHi = zero;
        // Weight and difference of one neighbour.
        auto weigh = [&](const int16_t *p, __m256i &d) {
            d = _mm256_sub_epi16(load(p), v);
            const __m256i w = _mm256_mulhi_epu16(_mm256_subs_epu16(limits, _mm256_abs_epi16(d)), scales);
            sumW = _mm256_add_epi16(sumW, w);
            return w;
        };
        // Two neighbours' products summed in 32 bits; unpacks work within
        // 128-bit lanes as the pack at the end does.
        auto pair = [&](const int16_t *p, const int16_t *q) {
            __m256i d0, d1;
            const __m256i w0 = weigh(p, d0), w1 = weigh(q, d1);
            accLo = _mm256_add_epi32(accLo, _mm256_madd_epi16(_mm256_unpacklo_epi16(w0, w1), _mm256_unpacklo_epi16(d0, d1)));
            accHi = _mm256_add_epi32(accHi, _mm256_madd_epi16(_mm256_unpackhi_epi16(w0, w1), _mm256_unpackhi_epi16(d0, d1)));
        };
        pair(cur + i - 3, cur + i + 3);
        pair(above + i, below + i);
        // The weights' sum with the centre's is at most 33023: unsigned.
        const __m256i den = _mm256_add_epi16(sumW, middle);
        const __m256 denLo = _mm256_cvtepi32_ps(_mm256_unpacklo_epi16(den, zero));
        const __m256 denHi = _mm256_cvtepi32_ps(_mm256_unpackhi_epi16(den, zero));
        const __m256i qLo = _mm256_cvtps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(accLo), denLo));
        const __m256i qHi = _mm256_cvtps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(accHi), denHi));
        store(dst + i, _mm256_add_epi16(v, _mm256_packs_epi32(qLo, qHi)));
    }
    if (i < count)
        spatialRowSse2(dst + i, above + i, cur + i, below + i, limit + i, scale + i, centre, count - i);
}

} // namespace velvane
