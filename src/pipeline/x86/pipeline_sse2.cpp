// SSE2 versions of the colour, halving and band split kernels.
#include <emmintrin.h>

#include "pipeline/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
inline void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }

// Low 16 bits of (v * k) >> 8 with a 32-bit product: bits 8 to 23.
inline __m128i mulShift8(__m128i v, __m128i k)
{
    return _mm_or_si128(_mm_srli_epi16(_mm_mullo_epi16(v, k), 8), _mm_slli_epi16(_mm_mulhi_epi16(v, k), 8));
}

} // namespace

void adjustColourRowSse2(YcPixel *row, int32_t width, const ColourFactors *f)
{
    int32_t x = 0;
    // The hue rotation needs 32-bit products of paired lanes, which SSE2
    // cannot form faster than the scalar code; only the gains are vectorised.
    if (f->mode == COLOUR_GAINS) {
        // Eight pixels are three vectors of the y, cb, cr pattern.
        int16_t g[24], o[24];
        for (int i = 0; i < 24; i++) {
            const int c = i % 3;
            g[i] = (int16_t)(c == 0 ? f->kY : c == 1 ? f->kCb : f->kCr);
            o[i] = (int16_t)(c == 0 ? f->offsetY : 0);
        }
        const __m128i g0 = load(g), g1 = load(g + 8), g2 = load(g + 16);
        const __m128i o0 = load(o), o1 = load(o + 8), o2 = load(o + 16);
        int16_t *s = &row->y;
        for (; x + 8 <= width; x += 8, s += 24) {
            store(s, _mm_add_epi16(mulShift8(load(s), g0), o0));
            store(s + 8, _mm_add_epi16(mulShift8(load(s + 8), g1), o1));
            store(s + 16, _mm_add_epi16(mulShift8(load(s + 16), g2), o2));
        }
    }
    adjustColourRowC(row + x, width - x, f);
}

void halveSamplesSse2(int16_t *samples, size_t count)
{
    if (count < 8) {
        halveSamplesC(samples, count);
        return;
    }
    // The last vector, taken from the untouched samples, may overlap.
    const __m128i last = _mm_srai_epi16(load(samples + count - 8), 1);
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        store(samples + i, _mm_srai_epi16(load(samples + i), 1));
        store(samples + i + 8, _mm_srai_epi16(load(samples + i + 8), 1));
    }
    if (i + 8 <= count)
        store(samples + i, _mm_srai_epi16(load(samples + i), 1));
    store(samples + count - 8, last);
}

void lowPassRowSse2(int16_t *low, const int16_t *padded, ptrdiff_t rowPitch, int32_t count)
{
    const int16_t *above = padded - 2 * rowPitch, *below = padded + 2 * rowPitch;
    // Each output depends on the plane only: the last vector may overlap.
    for (int32_t i = 0;; i += 8) {
        if (i + 8 > count)
            i = count - 8;
        __m128i s = load(above + i - 3);
        const __m128i a0 = load(above + i);
        s = _mm_adds_epi16(s, a0);
        s = _mm_adds_epi16(s, a0);
        s = _mm_adds_epi16(s, load(above + i + 3));
        const __m128i cl = load(padded + i - 3), c0 = load(padded + i), cr = load(padded + i + 3);
        s = _mm_adds_epi16(s, cl);
        s = _mm_adds_epi16(s, cl);
        s = _mm_adds_epi16(s, c0);
        s = _mm_adds_epi16(s, c0);
        s = _mm_adds_epi16(s, c0);
        s = _mm_adds_epi16(s, c0);
        s = _mm_adds_epi16(s, cr);
        s = _mm_adds_epi16(s, cr);
        const __m128i b0 = load(below + i);
        s = _mm_adds_epi16(s, load(below + i - 3));
        s = _mm_adds_epi16(s, b0);
        s = _mm_adds_epi16(s, b0);
        s = _mm_adds_epi16(s, load(below + i + 3));
        store(low + i, _mm_srai_epi16(s, 4));
        if (i + 8 >= count)
            break;
    }
}

void residualRowSse2(int16_t *high, const int16_t *low, int32_t count)
{
    const __m128i last = _mm_subs_epi16(load(high + count - 8), load(low + count - 8));
    int32_t i = 0;
    for (; i + 8 <= count; i += 8)
        store(high + i, _mm_subs_epi16(load(high + i), load(low + i)));
    store(high + count - 8, last);
}

} // namespace velvane
