// SSE2 versions of the motion kernels.
#include <emmintrin.h>

#include "motion/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
inline void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }

// Eight predicted samples of one plane from `r` (see CompensateCellArgs).
template <int FX, int FY> inline __m128i predict(const int16_t *r, ptrdiff_t below)
{
    __m128i s = load(r);
    if (FX)
        s = _mm_add_epi16(s, load(r + 1));
    if (FY) {
        s = _mm_add_epi16(s, load(r + below));
        if (FX)
            s = _mm_add_epi16(s, load(r + below + 1));
    }
    if (FX + FY == 2)
        return _mm_srai_epi16(_mm_add_epi16(s, _mm_set1_epi16(2)), 2);
    if (FX + FY == 1)
        return _mm_srai_epi16(_mm_add_epi16(s, _mm_set1_epi16(1)), 1);
    return s;
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

// Eight pixels' sums over the passes, 32 bits each: [0] pixels 0 .. 3, [1] 4 .. 7.
struct HalfSums {
    __m128i acc[3][2];
    __m128i wsum[2];
};

struct Gates {
    __m128i gate, gate2, chroma, chroma2;
};

inline __m128i absDiff(__m128i a, __m128i b)
{
    const __m128i d = _mm_sub_epi16(a, b);
    return _mm_max_epi16(d, _mm_sub_epi16(_mm_setzero_si128(), d));
}

template <int FX, int FY>
__attribute__((always_inline)) inline void addPass(HalfSums &s, const int16_t *const ref[3], ptrdiff_t at,
                                                  ptrdiff_t below, const __m128i cur[3], __m128i window,
                                                  const Gates &g)
{
    __m128i p[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; c++) {
        p[c] = predict<FX, FY>(ref[c] + at, below);
        // The cell two on along the row mostly takes the same vector.
        _mm_prefetch(reinterpret_cast<const char *>(ref[c] + at + 32), _MM_HINT_T0);
    }
    const __m128i d = absDiff(p[0], cur[0]);
    const __m128i e = _mm_max_epi16(absDiff(p[1], cur[1]), absDiff(p[2], cur[2]));
    const __m128i over = _mm_or_si128(_mm_cmpgt_epi16(d, g.gate), _mm_cmpgt_epi16(e, g.chroma));
    const __m128i far = _mm_or_si128(_mm_cmpgt_epi16(d, g.gate2), _mm_cmpgt_epi16(e, g.chroma2));
    const __m128i w = _mm_andnot_si128(far, _mm_or_si128(_mm_andnot_si128(over, window),
                                                         _mm_and_si128(over, _mm_srai_epi16(window, 1))));
#pragma GCC unroll 3
    for (int c = 0; c < 3; c++) {
        const __m128i lo = _mm_mullo_epi16(w, p[c]), hi = _mm_mulhi_epi16(w, p[c]);
        s.acc[c][0] = _mm_add_epi32(s.acc[c][0], _mm_unpacklo_epi16(lo, hi));
        s.acc[c][1] = _mm_add_epi32(s.acc[c][1], _mm_unpackhi_epi16(lo, hi));
    }
    s.wsum[0] = _mm_add_epi32(s.wsum[0], _mm_unpacklo_epi16(w, _mm_setzero_si128()));
    s.wsum[1] = _mm_add_epi32(s.wsum[1], _mm_unpackhi_epi16(w, _mm_setzero_si128()));
}

template <int FX, int FY>
__attribute__((always_inline)) inline void addPasses(HalfSums &s, const CompensateCellArgs *a,
                                                    const PassesByFraction &by, int32_t r, int half,
                                                    const __m128i cur[3], __m128i left, __m128i right, const Gates &g)
{
    const int f = FX + 2 * FY;
    for (int32_t k = by.begin[f]; k < by.begin[f + 1]; k++) {
        const CellPass &pass = a->passes[by.order[k]];
        int16_t l, rt;
        windowFactors(pass, r, &l, &rt);
        const __m128i window = _mm_add_epi16(_mm_mullo_epi16(left, _mm_set1_epi16(l)),
                                             _mm_mullo_epi16(right, _mm_set1_epi16(rt)));
        addPass<FX, FY>(s, pass.ref, r * a->refStride + half, a->refStride, cur, window, g);
    }
}

} // namespace

void compensateCellSse2(const CompensateCellArgs *a)
{
    const PassesByFraction by(a);
    const Gates g = {_mm_set1_epi16(a->gate), _mm_set1_epi16((int16_t)(2 * a->gate)), _mm_set1_epi16(a->chromaGate),
                     _mm_set1_epi16((int16_t)(2 * a->chromaGate))};
    // (curWeight, 0) pairs: the low half multiplies.
    const __m128i weight = _mm_set1_epi32(a->curWeight);
    const __m128 one = _mm_set1_ps(1.0f);
    // Eight pixels at a time, so that the sums stay in registers.
    for (int half = 0; half < 16; half += 8) {
        const __m128i left = load(kWindowLeft + half), right = load(kWindowRight + half);
        for (int32_t r = 0; r < a->rows; r++) {
            __m128i cur[3];
            for (int c = 0; c < 3; c++) {
                cur[c] = load(a->cur[c] + r * a->curStride + half);
                _mm_prefetch(reinterpret_cast<const char *>(a->cur[c] + r * a->curStride + half + 32), _MM_HINT_T0);
            }
            HalfSums s;
            for (int c = 0; c < 3; c++)
                s.acc[c][0] = s.acc[c][1] = _mm_setzero_si128();
            s.wsum[0] = s.wsum[1] = _mm_setzero_si128();
            // The passes of each pair of fractions in turn (the sums do not
            // depend on their order), so that the sums stay in registers.
            addPasses<0, 0>(s, a, by, r, half, cur, left, right, g);
            addPasses<1, 0>(s, a, by, r, half, cur, left, right, g);
            addPasses<0, 1>(s, a, by, r, half, cur, left, right, g);
            addPasses<1, 1>(s, a, by, r, half, cur, left, right, g);
            __m128 reciprocal[2];
            for (int q = 0; q < 2; q++)
                reciprocal[q] = _mm_div_ps(one, _mm_cvtepi32_ps(_mm_add_epi32(weight, s.wsum[q])));
            for (int c = 0; c < 3; c++) {
                const __m128i n0 = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cur[c], _mm_setzero_si128()), weight),
                                                 s.acc[c][0]);
                const __m128i n1 = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cur[c], _mm_setzero_si128()), weight),
                                                 s.acc[c][1]);
                const __m128i q0 = _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(n0), reciprocal[0]));
                const __m128i q1 = _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(n1), reciprocal[1]));
                store(a->dst[c] + r * a->dstStride + half, _mm_packs_epi32(q0, q1));
            }
        }
    }
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
