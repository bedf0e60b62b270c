// SSE2 versions of the colour, halving and band split kernels.
#include <emmintrin.h>

#include "pipeline/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
inline void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }

// Low 16 bits of (v * k) >> 8 for k = 256 + g, |g| <= 127: v * 256 is a
// multiple of 256, so this is v + ((v * g) >> 8), and (v * g) >> 8 is the
// high half of v * (g << 8). The argument is g << 8.
inline __m128i gainShift8(__m128i v, __m128i gShifted) { return _mm_add_epi16(v, _mm_mulhi_epi16(v, gShifted)); }

} // namespace

void adjustColourRowSse2(YcPixel *row, int32_t width, const ColourFactors *f)
{
    int32_t x = 0;
    // The hue rotation needs 32-bit products of paired lanes, which SSE2
    // cannot form faster than the scalar code; only the gains are vectorised.
    if (f->mode == COLOUR_GAINS) {
        // Eight pixels are three vectors of the y, cb, cr pattern, starting
        // at lanes 0, 8 and 16: phases 0, 2 and 1.
        // Gains as (k - 256) << 8 for gainShift8.
        const int16_t gY = (int16_t)((f->kY - 256) * 256), gCb = (int16_t)((f->kCb - 256) * 256),
                  gCr = (int16_t)((f->kCr - 256) * 256), oY = (int16_t)f->offsetY;
        const __m128i g0 = _mm_setr_epi16(gY, gCb, gCr, gY, gCb, gCr, gY, gCb);
        const __m128i g1 = _mm_setr_epi16(gCr, gY, gCb, gCr, gY, gCb, gCr, gY);
        const __m128i g2 = _mm_setr_epi16(gCb, gCr, gY, gCb, gCr, gY, gCb, gCr);
        const __m128i o0 = _mm_setr_epi16(oY, 0, 0, oY, 0, 0, oY, 0);
        const __m128i o1 = _mm_setr_epi16(0, oY, 0, 0, oY, 0, 0, oY);
        const __m128i o2 = _mm_setr_epi16(0, 0, oY, 0, 0, oY, 0, 0);
        int16_t *s = &row->y;
        for (; x + 8 <= width; x += 8, s += 24) {
            store(s, _mm_add_epi16(gainShift8(load(s), g0), o0));
            store(s + 8, _mm_add_epi16(gainShift8(load(s + 8), g1), o1));
            store(s + 16, _mm_add_epi16(gainShift8(load(s + 16), g2), o2));
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
