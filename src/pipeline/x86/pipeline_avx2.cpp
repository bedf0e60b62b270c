// AVX2 versions of the colour, halving and band split kernels.
#include <immintrin.h>
#include <string.h>

#include "pipeline/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
inline void store(void *p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }
// Low 16 bits of (v * k) >> 8 for k = 256 + g, |g| <= 127: v * 256 is a
// multiple of 256, so this is v + ((v * g) >> 8), and (v * g) >> 8 is the
// high half of v * (g << 8). The argument is g << 8.
inline __m256i gainShift8(__m256i v, __m256i gShifted) { return _mm256_add_epi16(v, _mm256_mulhi_epi16(v, gShifted)); }

// The chroma pairs come from plain loads, not gathers: a gather is slow on
// many AVX2 processors (microcoded on older AMD, slowed by microcode on Intel
// parts with gather data sampling mitigations), and qemu-user 7.2 reads a
// gather indexed by ymm4 as if it had no index, which the emulated kernel
// levels' test runs into whenever the compiler picks that register.

// Two 16-byte loads, the first into the low half.
inline __m256i load2(const int16_t *low, const int16_t *high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i *>(high)), 1);
}

// The (cb, cr) pairs of pixels 0 .. 7 from `s` (the y of pixel 0) as 32-bit
// lanes, in pixel order; reads samples 1 .. 23 only. Pixels 4 q .. 4 q + 3
// fill one 128-bit half: a load at the cb of pixel 4 q holds the pairs of
// the first three 6 bytes apart (a byte shuffle packs them), and one at the
// cb of pixel 4 q + 1 holds the fourth pair at its last 32-bit lane.
inline __m256i pairsOfEight(const int16_t *s)
{
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 3, 6, 7, 8, 9, 12, 13, 14, 15, -1, -1, -1, -1, //
                                          0, 1, 2, 3, 6, 7, 8, 9, 12, 13, 14, 15, -1, -1, -1, -1);
    const __m256i first = _mm256_shuffle_epi8(load2(s + 1, s + 13), pack);
    return _mm256_blend_epi32(first, load2(s + 4, s + 16), 0x88);
}

// The (cb, cr) pairs of the eight 4:1:1 anchors among 32 pixels from `s`
// (pixels 0, 4, ..., 28) as 32-bit lanes; reads samples 1 .. 86 only. Anchor
// 4 h + d comes from a load placed so that its pair falls in lane d of half h.
inline __m256i anchorPairs(const int16_t *s)
{
    __m256i pairs = load2(s + 1, s + 49);
    pairs = _mm256_blend_epi32(pairs, load2(s + 11, s + 59), 0x22);
    pairs = _mm256_blend_epi32(pairs, load2(s + 21, s + 69), 0x44);
    return _mm256_blend_epi32(pairs, load2(s + 31, s + 79), 0x88);
}

// Eight (cb, cr) pairs in 32-bit lanes rotated, scaled and balanced; the
// results come back as pairs of their low 16 bits.
inline __m256i rotatePairs(__m256i pairs, const ColourFactors *f)
{
    // The 16 x 16-bit products straight from the pairs: (cb, cr) . (k, 0)
    // is cb k, (cb, cr) . (0, k) is cr k.
    auto onCb = [](int32_t k) { return _mm256_set1_epi32((int32_t)(uint16_t)k); };
    auto onCr = [](int32_t k) { return _mm256_set1_epi32((int32_t)((uint32_t)(uint16_t)k << 16)); };
    auto shift8 = [](__m256i v) { return _mm256_srai_epi32(v, 8); };
    const __m256i cbHc = shift8(_mm256_madd_epi16(pairs, onCb(f->hc)));
    const __m256i crHs = shift8(_mm256_madd_epi16(pairs, onCr(f->hs)));
    const __m256i crHc = shift8(_mm256_madd_epi16(pairs, onCr(f->hc)));
    const __m256i cbHs = shift8(_mm256_madd_epi16(pairs, onCb(f->hs)));
    // The rotated values reach 17 bits: 32-bit products from here on.
    const __m256i u = shift8(_mm256_mullo_epi32(_mm256_sub_epi32(cbHc, crHs), _mm256_set1_epi32(f->kCb)));
    const __m256i v = shift8(_mm256_mullo_epi32(_mm256_add_epi32(crHc, cbHs), _mm256_set1_epi32(f->kCr)));
    const __m256i kB = _mm256_set1_epi32(f->kB);
    const __m256i ub = shift8(_mm256_mullo_epi32(u, kB)), vb = shift8(_mm256_mullo_epi32(v, kB));
    const __m256i cbOut = _mm256_add_epi32(_mm256_sub_epi32(v, vb), ub);
    const __m256i crOut = _mm256_add_epi32(_mm256_sub_epi32(u, ub), vb);
    return _mm256_or_si256(_mm256_and_si256(cbOut, _mm256_set1_epi32(0xFFFF)), _mm256_slli_epi32(crOut, 16));
}

// Writes eight (cb, cr) pairs, `step` pixels apart.
inline void storePairs(YcPixel *p, __m256i pairs, int step)
{
    alignas(32) uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), pairs);
    for (int i = 0; i < 8; i++)
        memcpy(&p[i * step].cb, &lanes[i], 4);
}

} // namespace

void adjustColourRowAvx2(YcPixel *row, int32_t width, const ColourFactors *f)
{
    // Sixteen pixels are three vectors of the y, cb, cr pattern, starting at
    // lanes 0, 16 and 32: phases 0, 1 and 2.
    // Gains as (k - 256) << 8 for gainShift8.
    const int16_t gY = (int16_t)((f->kY - 256) * 256), gCb = (int16_t)((f->kCb - 256) * 256),
                  gCr = (int16_t)((f->kCr - 256) * 256), oY = (int16_t)f->offsetY;
    const __m256i gain[3] = {
        _mm256_setr_epi16(gY, gCb, gCr, gY, gCb, gCr, gY, gCb, gCr, gY, gCb, gCr, gY, gCb, gCr, gY),
        _mm256_setr_epi16(gCb, gCr, gY, gCb, gCr, gY, gCb, gCr, gY, gCb, gCr, gY, gCb, gCr, gY, gCb),
        _mm256_setr_epi16(gCr, gY, gCb, gCr, gY, gCb, gCr, gY, gCb, gCr, gY, gCb, gCr, gY, gCb, gCr)};
    const __m256i offset[3] = {
        _mm256_setr_epi16(oY, 0, 0, oY, 0, 0, oY, 0, 0, oY, 0, 0, oY, 0, 0, oY),
        _mm256_setr_epi16(0, 0, oY, 0, 0, oY, 0, 0, oY, 0, 0, oY, 0, 0, oY, 0),
        _mm256_setr_epi16(0, oY, 0, 0, oY, 0, 0, oY, 0, 0, oY, 0, 0, oY, 0, 0)};
    // The chroma lanes, which the rotation fills: every lane but the luma.
    const __m256i ones = _mm256_set1_epi16(-1);
    const __m256i lumaMark[3] = {
        _mm256_setr_epi16(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1),
        _mm256_setr_epi16(0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0),
        _mm256_setr_epi16(0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0)};
    __m256i isChroma[3];
    for (int r = 0; r < 3; r++)
        isChroma[r] = _mm256_xor_si256(lumaMark[r], ones);
    int32_t x = 0;
    if (f->mode == COLOUR_GAINS) {
        // Sixteen pixels, three vectors, per step.
        for (int16_t *s = &row->y; x + 16 <= width; x += 16, s += 48) {
            store(s, _mm256_add_epi16(gainShift8(load(s), gain[0]), offset[0]));
            store(s + 16, _mm256_add_epi16(gainShift8(load(s + 16), gain[1]), offset[1]));
            store(s + 32, _mm256_add_epi16(gainShift8(load(s + 32), gain[2]), offset[2]));
        }
    } else if (f->mode == COLOUR_ROTATE) {
        // Sixteen pixels per step: their chroma pairs, packed and rotated,
        // are spread back to byte offsets 6 i + 2 of the three vectors. A
        // dword permute brings the pairs of each 128-bit half into that half
        // (pixels 0-2 | 2-4, 5-7 | 8-10, 10-12 | 13-15) and a byte shuffle
        // puts them in place; the luma lanes come from the gains.
        const __m256i spread0 = _mm256_setr_epi32(0, 1, 2, 0, 2, 3, 4, 0);
        const __m256i spread1 = _mm256_setr_epi32(1, 2, 3, 0, 4, 5, 6, 4);
        const __m256i spread2 = _mm256_setr_epi32(2, 3, 4, 0, 5, 6, 7, 0);
        const __m128i a = _mm_setr_epi8(-1, -1, 0, 1, 2, 3, -1, -1, 4, 5, 6, 7, -1, -1, 8, 9);
        const __m128i b = _mm_setr_epi8(2, 3, -1, -1, 4, 5, 6, 7, -1, -1, 8, 9, 10, 11, -1, -1);
        const __m128i c = _mm_setr_epi8(0, 1, 2, 3, -1, -1, 4, 5, 6, 7, -1, -1, 8, 9, 10, 11);
        const __m256i place0 = _mm256_setr_m128i(a, b), place1 = _mm256_setr_m128i(c, a),
                      place2 = _mm256_setr_m128i(b, c);
        for (int16_t *s = &row->y; x + 16 <= width; x += 16, s += 48) {
            const __m256i p0 = rotatePairs(pairsOfEight(s), f), p1 = rotatePairs(pairsOfEight(s + 24), f);
            __m256i spread[3];
            spread[0] = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(p0, spread0), place0);
            spread[1] = _mm256_shuffle_epi8(
                _mm256_permutevar8x32_epi32(_mm256_permute2x128_si256(p0, p1, 0x21), spread1), place1);
            spread[2] = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(p1, spread2), place2);
            for (int r = 0; r < 3; r++) {
                const __m256i adjusted = _mm256_add_epi16(gainShift8(load(s + 16 * r), gain[r]), offset[r]);
                store(s + 16 * r, _mm256_blendv_epi8(adjusted, spread[r], isChroma[r]));
            }
        }
    } else {
        // 32 pixels per step: the luma of all, the chroma of the eight
        // 4:1:1 anchors, loaded before the luma is stored and written
        // back over the chroma the other pixels keep.
        for (; x + 32 <= width; x += 32) {
            int16_t *s = &row[x].y;
            const __m256i pairs = rotatePairs(anchorPairs(s), f);
            for (int r = 0; r < 6; r++) {
                const __m256i v = load(s + 16 * r);
                const __m256i adjusted = _mm256_add_epi16(gainShift8(v, gain[r % 3]), offset[r % 3]);
                store(s + 16 * r, _mm256_blendv_epi8(adjusted, v, isChroma[r % 3]));
            }
            storePairs(row + x, pairs, 4);
        }
    }
    adjustColourRowSse2(row + x, width - x, f); // x is a multiple of 16
}

void halveSamplesAvx2(int16_t *samples, size_t count)
{
    if (count < 16) {
        halveSamplesSse2(samples, count);
        return;
    }
    const __m256i last = _mm256_srai_epi16(load(samples + count - 16), 1);
    size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        store(samples + i, _mm256_srai_epi16(load(samples + i), 1));
        store(samples + i + 16, _mm256_srai_epi16(load(samples + i + 16), 1));
    }
    if (i + 16 <= count)
        store(samples + i, _mm256_srai_epi16(load(samples + i), 1));
    store(samples + count - 16, last);
}

void lowPassRowAvx2(int16_t *low, const int16_t *padded, ptrdiff_t rowPitch, int32_t count)
{
    if (count < 16) {
        lowPassRowSse2(low, padded, rowPitch, count);
        return;
    }
    const int16_t *above = padded - 2 * rowPitch, *below = padded + 2 * rowPitch;
    for (int32_t i = 0;; i += 16) {
        if (i + 16 > count)
            i = count - 16;
        __m256i s = load(above + i - 3);
        const __m256i a0 = load(above + i);
        s = _mm256_adds_epi16(s, a0);
        s = _mm256_adds_epi16(s, a0);
        s = _mm256_adds_epi16(s, load(above + i + 3));
        const __m256i cl = load(padded + i - 3), c0 = load(padded + i), cr = load(padded + i + 3);
        s = _mm256_adds_epi16(s, cl);
        s = _mm256_adds_epi16(s, cl);
        s = _mm256_adds_epi16(s, c0);
        s = _mm256_adds_epi16(s, c0);
        s = _mm256_adds_epi16(s, c0);
        s = _mm256_adds_epi16(s, c0);
        s = _mm256_adds_epi16(s, cr);
        s = _mm256_adds_epi16(s, cr);
        const __m256i b0 = load(below + i);
        s = _mm256_adds_epi16(s, load(below + i - 3));
        s = _mm256_adds_epi16(s, b0);
        s = _mm256_adds_epi16(s, b0);
        s = _mm256_adds_epi16(s, load(below + i + 3));
        store(low + i, _mm256_srai_epi16(s, 4));
        if (i + 16 >= count)
            break;
    }
}

void residualRowAvx2(int16_t *high, const int16_t *low, int32_t count)
{
    if (count < 16) {
        residualRowSse2(high, low, count);
        return;
    }
    const __m256i last = _mm256_subs_epi16(load(high + count - 16), load(low + count - 16));
    int32_t i = 0;
    for (; i + 16 <= count; i += 16)
        store(high + i, _mm256_subs_epi16(load(high + i), load(low + i)));
    store(high + count - 16, last);
}

} // namespace velvane
