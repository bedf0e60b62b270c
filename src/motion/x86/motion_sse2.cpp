// SSE2 versions of the motion kernels.
#include <emmintrin.h>

#include "motion/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
inline void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }

// Eight predicted samples of one plane from `r` (see CompensateRowsArgs).
inline __m128i predict(const int16_t *r, ptrdiff_t below, int fracX, int fracY, __m128i round, __m128i shift)
{
    __m128i s = load(r);
    if (fracX)
        s = _mm_add_epi16(s, load(r + 1));
    if (fracY) {
        s = _mm_add_epi16(s, load(r + below));
        if (fracX)
            s = _mm_add_epi16(s, load(r + below + 1));
    }
    return _mm_sra_epi16(_mm_add_epi16(s, round), shift);
}

// acc[0 .. 3] += w x p and acc[4 .. 7] likewise, in 32 bits (= with `set`).
inline void accumulate(int32_t *acc, __m128i w, __m128i p, bool set)
{
    const __m128i lo = _mm_mullo_epi16(w, p), hi = _mm_mulhi_epi16(w, p);
    const __m128i a = _mm_unpacklo_epi16(lo, hi), b = _mm_unpackhi_epi16(lo, hi);
    store(acc, set ? a : _mm_add_epi32(load(acc), a));
    store(acc + 4, set ? b : _mm_add_epi32(load(acc + 4), b));
}

} // namespace

uint32_t sad16Sse2(const uint8_t *a, ptrdiff_t aStride, const uint8_t *b, ptrdiff_t bStride, int32_t rows)
{
    __m128i sum = _mm_setzero_si128();
    for (int32_t r = 0; r < rows; r++, a += aStride, b += bStride)
        sum = _mm_add_epi32(sum, _mm_sad_epu8(load(a), load(b)));
    return (uint32_t)(_mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_srli_si128(sum, 8)));
}

void sad16x8ManySse2(const uint8_t *cur, ptrdiff_t curStride, const uint8_t *const *refs, ptrdiff_t refStride,
                     int32_t count, uint32_t *sads)
{
    __m128i c[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; r++)
        c[r] = load(cur + r * curStride);
    for (int32_t k = 0; k < count; k++) {
        const uint8_t *b = refs[k];
        __m128i sum = _mm_sad_epu8(c[0], load(b));
#pragma GCC unroll 8
        for (int r = 1; r < 8; r++)
            sum = _mm_add_epi32(sum, _mm_sad_epu8(c[r], load(b + r * refStride)));
        sads[k] = (uint32_t)(_mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_srli_si128(sum, 8)));
    }
}

namespace {

// One row, the fractions and the store mode fixed.
template <int FX, int FY, bool SET>
__attribute__((always_inline)) inline void compensateRow(const CompensateRowsArgs *a, int16_t left, int16_t right)
{
    const bool set = SET;
    const __m128i leftV = _mm_set1_epi16(left), rightV = _mm_set1_epi16(right);
    const int shiftBits = (FX ? 1 : 0) + (FY ? 1 : 0);
    const __m128i round = _mm_set1_epi16((int16_t)(shiftBits ? 1 << (shiftBits - 1) : 0));
    const __m128i shift = _mm_cvtsi32_si128(shiftBits);
    const __m128i gate = _mm_set1_epi16(a->gate), gate2 = _mm_set1_epi16((int16_t)(2 * a->gate));
    const __m128i cgate = _mm_set1_epi16(a->chromaGate), cgate2 = _mm_set1_epi16((int16_t)(2 * a->chromaGate));
    for (int half = 0; half < 16; half += 8) {
        __m128i p[3];
        #pragma GCC unroll 3
        for (int c = 0; c < 3; c++)
            p[c] = predict(a->ref[c] + half, a->refStride, FX, FY, round, shift);
        __m128i d[3];
        #pragma GCC unroll 3
        for (int c = 0; c < 3; c++) {
            const __m128i diff = _mm_sub_epi16(p[c], load(a->cur[c] + half));
            d[c] = _mm_max_epi16(diff, _mm_sub_epi16(_mm_setzero_si128(), diff));
        }
        const __m128i e = _mm_max_epi16(d[1], d[2]);
        const __m128i weight = _mm_add_epi16(_mm_mullo_epi16(load(kWindowLeft + half), leftV),
                                             _mm_mullo_epi16(load(kWindowRight + half), rightV));
        const __m128i over = _mm_or_si128(_mm_cmpgt_epi16(d[0], gate), _mm_cmpgt_epi16(e, cgate));
        const __m128i far = _mm_or_si128(_mm_cmpgt_epi16(d[0], gate2), _mm_cmpgt_epi16(e, cgate2));
        const __m128i w = _mm_andnot_si128(far, _mm_or_si128(_mm_andnot_si128(over, weight),
                                                             _mm_and_si128(over, _mm_srai_epi16(weight, 1))));
        #pragma GCC unroll 3
        for (int c = 0; c < 3; c++)
            accumulate(a->acc[c] + half, w, p[c], set);
        int32_t *ws = a->wsum + half;
        const __m128i w0 = _mm_unpacklo_epi16(w, _mm_setzero_si128()), w1 = _mm_unpackhi_epi16(w, _mm_setzero_si128());
        store(ws, set ? w0 : _mm_add_epi32(load(ws), w0));
        store(ws + 4, set ? w1 : _mm_add_epi32(load(ws + 4), w1));
    }
}

template <int FX, int FY, bool SET> void compensateRowsFixed(const CompensateRowsArgs *a)
{
    forEachCompensatedRow(a, compensateRow<FX, FY, SET>);
}

} // namespace

void compensateRowsSse2(const CompensateRowsArgs *a)
{
    static constexpr CompensateRowsFn kFixed[8] = {
        compensateRowsFixed<0, 0, false>, compensateRowsFixed<1, 0, false>, compensateRowsFixed<0, 1, false>,
        compensateRowsFixed<1, 1, false>, compensateRowsFixed<0, 0, true>,  compensateRowsFixed<1, 0, true>,
        compensateRowsFixed<0, 1, true>,  compensateRowsFixed<1, 1, true>};
    kFixed[(a->fracX ? 1 : 0) + (a->fracY ? 2 : 0) + (a->store ? 4 : 0)](a);
}

void resolveRowSse2(int16_t *dst, const int16_t *cur, const int32_t *acc, const int32_t *wsum, int32_t curWeight,
                    int32_t count)
{
    const __m128i weight = _mm_set1_epi32(curWeight); // (curWeight, 0) pairs: the low half multiplies
    const __m128 one = _mm_set1_ps(1.0f);
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i c = load(cur + i);
        const __m128i c0 = _mm_unpacklo_epi16(c, _mm_setzero_si128()), c1 = _mm_unpackhi_epi16(c, _mm_setzero_si128());
        const __m128i n0 = _mm_add_epi32(_mm_madd_epi16(c0, weight), load(acc + i));
        const __m128i n1 = _mm_add_epi32(_mm_madd_epi16(c1, weight), load(acc + i + 4));
        const __m128 r0 = _mm_div_ps(one, _mm_cvtepi32_ps(_mm_add_epi32(weight, load(wsum + i))));
        const __m128 r1 = _mm_div_ps(one, _mm_cvtepi32_ps(_mm_add_epi32(weight, load(wsum + i + 4))));
        const __m128i q0 = _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(n0), r0));
        const __m128i q1 = _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(n1), r1));
        store(dst + i, _mm_packs_epi32(q0, q1));
    }
    if (i < count)
        resolveRowC(dst + i, cur + i, acc + i, wsum + i, curWeight, count - i);
}

void halfPixelRowSse2(uint8_t *h, uint8_t *v, uint8_t *d, const uint8_t *a, const uint8_t *b, int32_t count)
{
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    int32_t x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m128i a0 = load(a + x), a1 = load(a + x + 1), b0 = load(b + x), b1 = load(b + x + 1);
        store(h + x, _mm_avg_epu8(a0, a1));
        store(v + x, _mm_avg_epu8(a0, b0));
        const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a0, zero), _mm_unpacklo_epi8(a1, zero)),
                                         _mm_add_epi16(_mm_unpacklo_epi8(b0, zero), _mm_unpacklo_epi8(b1, zero)));
        const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a0, zero), _mm_unpackhi_epi8(a1, zero)),
                                         _mm_add_epi16(_mm_unpackhi_epi8(b0, zero), _mm_unpackhi_epi8(b1, zero)));
        store(d + x, _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(lo, two), 2), _mm_srli_epi16(_mm_add_epi16(hi, two), 2)));
    }
    if (x < count)
        halfPixelRowC(h + x, v + x, d + x, a + x, b + x, count - x);
}

// Clamps eight luma samples and stores them with their search samples.
namespace {
inline void splitStore(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, __m128i vy, __m128i vb, __m128i vr)
{
    const __m128i lo = _mm_set1_epi16(kMotionSampleMin), hi = _mm_set1_epi16(kMotionSampleMax);
    vy = _mm_max_epi16(_mm_min_epi16(vy, hi), lo);
    store(y, vy);
    store(cb, _mm_max_epi16(_mm_min_epi16(vb, hi), lo));
    store(cr, _mm_max_epi16(_mm_min_epi16(vr, hi), lo));
    const __m128i s = _mm_srai_epi16(_mm_add_epi16(vy, _mm_set1_epi16(8)), 4);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(search), _mm_packus_epi16(s, s));
}
} // namespace

void splitPixelsRowSse2(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, const YcPixel *src, int32_t count)
{
    int32_t x = 0;
    for (; x + 8 <= count; x += 8) {
        // No byte shuffle below SSSE3: the 16-bit inserts gather each plane.
        const YcPixel *p = src + x;
        const __m128i vy = _mm_setr_epi16(p[0].y, p[1].y, p[2].y, p[3].y, p[4].y, p[5].y, p[6].y, p[7].y);
        const __m128i vb = _mm_setr_epi16(p[0].cb, p[1].cb, p[2].cb, p[3].cb, p[4].cb, p[5].cb, p[6].cb, p[7].cb);
        const __m128i vr = _mm_setr_epi16(p[0].cr, p[1].cr, p[2].cr, p[3].cr, p[4].cr, p[5].cr, p[6].cr, p[7].cr);
        splitStore(y + x, cb + x, cr + x, search + x, vy, vb, vr);
    }
    if (x < count)
        splitPixelsRowC(y + x, cb + x, cr + x, search + x, src + x, count - x);
}

void halveRowSse2(uint8_t *dst, const uint8_t *a, const uint8_t *b, int32_t count)
{
    const __m128i low = _mm_set1_epi16(0xFF), two = _mm_set1_epi16(2);
    int32_t x = 0;
    for (; x + 16 <= count; x += 16) {
        __m128i half[2];
        for (int h = 0; h < 2; h++) {
            // Each 16-bit lane holds a pair across: its low byte plus its high one.
            const __m128i ra = load(a + 2 * x + 16 * h), rb = load(b + 2 * x + 16 * h);
            const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_and_si128(ra, low), _mm_srli_epi16(ra, 8)),
                                              _mm_add_epi16(_mm_and_si128(rb, low), _mm_srli_epi16(rb, 8)));
            half[h] = _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
        }
        store(dst + x, _mm_packus_epi16(half[0], half[1]));
    }
    if (x < count)
        halveRowC(dst + x, a + 2 * x, b + 2 * x, count - x);
}

} // namespace velvane
