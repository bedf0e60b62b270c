// AVX2 versions of the motion kernels.
#include <immintrin.h>

#include "motion/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
inline void store(void *p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }
inline __m128i load128(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }

// The 16 predicted samples of one plane from `r` (see CompensateCellArgs).
template <int FX, int FY> inline __m256i predict(const int16_t *r, ptrdiff_t below)
{
    __m256i s = load(r);
    if (FX)
        s = _mm256_add_epi16(s, load(r + 1));
    if (FY) {
        s = _mm256_add_epi16(s, load(r + below));
        if (FX)
            s = _mm256_add_epi16(s, load(r + below + 1));
    }
    if (FX + FY == 2)
        return _mm256_srai_epi16(_mm256_add_epi16(s, _mm256_set1_epi16(2)), 2);
    if (FX + FY == 1)
        return _mm256_srai_epi16(_mm256_add_epi16(s, _mm256_set1_epi16(1)), 1);
    return s;
}

} // namespace

uint32_t sad16Avx2(const uint8_t *a, ptrdiff_t aStride, const uint8_t *b, ptrdiff_t bStride, int32_t rows)
{
    __m256i sum = _mm256_setzero_si256();
    int32_t r = 0;
    for (; r + 2 <= rows; r += 2, a += 2 * aStride, b += 2 * bStride) {
        const __m256i x = _mm256_inserti128_si256(_mm256_castsi128_si256(load128(a)), load128(a + aStride), 1);
        const __m256i y = _mm256_inserti128_si256(_mm256_castsi128_si256(load128(b)), load128(b + bStride), 1);
        sum = _mm256_add_epi32(sum, _mm256_sad_epu8(x, y));
    }
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    if (r < rows)
        s = _mm_add_epi32(s, _mm_sad_epu8(load128(a), load128(b)));
    return (uint32_t)(_mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
}

namespace {

inline __m256i twoRows(const uint8_t *p, ptrdiff_t stride)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load128(p)), load128(p + stride), 1);
}

} // namespace

void sad16x8ManyAvx2(const uint8_t *cur, ptrdiff_t curStride, const uint8_t *const *refs, ptrdiff_t refStride,
                     int32_t count, uint32_t *sads)
{
    // Written out so that the block stays in registers.
    const __m256i c0 = twoRows(cur, curStride), c1 = twoRows(cur + 2 * curStride, curStride);
    const __m256i c2 = twoRows(cur + 4 * curStride, curStride), c3 = twoRows(cur + 6 * curStride, curStride);
    auto blockSad = [&](const uint8_t *b) {
        const __m256i s01 = _mm256_add_epi32(_mm256_sad_epu8(c0, twoRows(b, refStride)),
                                             _mm256_sad_epu8(c1, twoRows(b + 2 * refStride, refStride)));
        const __m256i s23 = _mm256_add_epi32(_mm256_sad_epu8(c2, twoRows(b + 4 * refStride, refStride)),
                                             _mm256_sad_epu8(c3, twoRows(b + 6 * refStride, refStride)));
        return _mm256_add_epi32(s01, s23); // four partial sums, in the low half of each 64-bit lane
    };
    int32_t k = 0;
    for (; k + 2 <= count; k += 2) {
        // Two candidates' partial sums folded together: lanes 0 and 2 hold the two totals.
        const __m256i a = blockSad(refs[k]), b = blockSad(refs[k + 1]);
        const __m256i ab = _mm256_add_epi32(_mm256_unpacklo_epi64(a, b), _mm256_unpackhi_epi64(a, b));
        const __m128i t = _mm_add_epi32(_mm256_castsi256_si128(ab), _mm256_extracti128_si256(ab, 1));
        sads[k] = (uint32_t)_mm_cvtsi128_si32(t);
        sads[k + 1] = (uint32_t)_mm_extract_epi32(t, 2);
    }
    for (; k < count; k++) {
        const uint8_t *b = refs[k];
        const __m256i s01 = _mm256_add_epi32(_mm256_sad_epu8(c0, twoRows(b, refStride)),
                                             _mm256_sad_epu8(c1, twoRows(b + 2 * refStride, refStride)));
        const __m256i s23 = _mm256_add_epi32(_mm256_sad_epu8(c2, twoRows(b + 4 * refStride, refStride)),
                                             _mm256_sad_epu8(c3, twoRows(b + 6 * refStride, refStride)));
        const __m256i sum = _mm256_add_epi32(s01, s23);
        const __m128i s = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        sads[k] = (uint32_t)_mm_cvtsi128_si32(_mm_add_epi32(s, _mm_srli_si128(s, 8)));
    }
}

namespace {

// One row's sums over the passes, 32 bits each, in the order the 16-bit
// unpacks leave them: [0] holds pixels 0 .. 3 and 8 .. 11, [1] 4 .. 7 and
// 12 .. 15.
struct RowSums {
    __m256i acc[3][2];
    __m256i wsum[2];
};

struct Gates {
    __m256i gate, gate2, chroma, chroma2;
};

template <int FX, int FY>
__attribute__((always_inline)) inline void addPass(RowSums &s, const CellPass &pass, ptrdiff_t row, ptrdiff_t below,
                                                  const __m256i cur[3], __m256i window, const Gates &g)
{
    __m256i p[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; c++) {
        p[c] = predict<FX, FY>(pass.ref[c] + row, below);
        // The cell two on along the row mostly takes the same vector.
        _mm_prefetch(reinterpret_cast<const char *>(pass.ref[c] + row + 32), _MM_HINT_T0);
    }
    const __m256i d = _mm256_abs_epi16(_mm256_sub_epi16(p[0], cur[0]));
    const __m256i e = _mm256_max_epi16(_mm256_abs_epi16(_mm256_sub_epi16(p[1], cur[1])),
                                       _mm256_abs_epi16(_mm256_sub_epi16(p[2], cur[2])));
    const __m256i over = _mm256_or_si256(_mm256_cmpgt_epi16(d, g.gate), _mm256_cmpgt_epi16(e, g.chroma));
    const __m256i far = _mm256_or_si256(_mm256_cmpgt_epi16(d, g.gate2), _mm256_cmpgt_epi16(e, g.chroma2));
    const __m256i w = _mm256_andnot_si256(far, _mm256_blendv_epi8(window, _mm256_srai_epi16(window, 1), over));
#pragma GCC unroll 3
    for (int c = 0; c < 3; c++) {
        const __m256i lo = _mm256_mullo_epi16(w, p[c]), hi = _mm256_mulhi_epi16(w, p[c]);
        s.acc[c][0] = _mm256_add_epi32(s.acc[c][0], _mm256_unpacklo_epi16(lo, hi));
        s.acc[c][1] = _mm256_add_epi32(s.acc[c][1], _mm256_unpackhi_epi16(lo, hi));
    }
    s.wsum[0] = _mm256_add_epi32(s.wsum[0], _mm256_unpacklo_epi16(w, _mm256_setzero_si256()));
    s.wsum[1] = _mm256_add_epi32(s.wsum[1], _mm256_unpackhi_epi16(w, _mm256_setzero_si256()));
}

template <int FX, int FY>
__attribute__((always_inline)) inline void addPasses(RowSums &s, const CompensateCellArgs *a,
                                                    const PassesByFraction &by, int32_t r, const __m256i cur[3],
                                                    __m256i left, __m256i right, const Gates &g)
{
    const int f = FX + 2 * FY;
    for (int32_t k = by.begin[f]; k < by.begin[f + 1]; k++) {
        const CellPass &pass = a->passes[by.order[k]];
        int16_t l, rt;
        windowFactors(pass, r, &l, &rt);
        const __m256i window = _mm256_add_epi16(_mm256_mullo_epi16(left, _mm256_set1_epi16(l)),
                                                _mm256_mullo_epi16(right, _mm256_set1_epi16(rt)));
        addPass<FX, FY>(s, pass, r * a->refStride, a->refStride, cur, window, g);
    }
}

} // namespace

void compensateCellAvx2(const CompensateCellArgs *a)
{
    const PassesByFraction by(a);
    const Gates g = {_mm256_set1_epi16(a->gate), _mm256_set1_epi16((int16_t)(2 * a->gate)),
                     _mm256_set1_epi16(a->chromaGate), _mm256_set1_epi16((int16_t)(2 * a->chromaGate))};
    const __m256i left = load(kWindowLeft), right = load(kWindowRight);
    const __m256i weight16 = _mm256_set1_epi16((int16_t)a->curWeight), weight32 = _mm256_set1_epi32(a->curWeight);
    const __m256 one = _mm256_set1_ps(1.0f);
    for (int32_t r = 0; r < a->rows; r++) {
        __m256i cur[3];
        for (int c = 0; c < 3; c++) {
            cur[c] = load(a->cur[c] + r * a->curStride);
            _mm_prefetch(reinterpret_cast<const char *>(a->cur[c] + r * a->curStride + 32), _MM_HINT_T0);
        }
        RowSums s;
        for (int c = 0; c < 3; c++)
            s.acc[c][0] = s.acc[c][1] = _mm256_setzero_si256();
        s.wsum[0] = s.wsum[1] = _mm256_setzero_si256();
        // The passes of each pair of fractions in turn (the sums do not
        // depend on their order), so that the sums stay in registers.
        addPasses<0, 0>(s, a, by, r, cur, left, right, g);
        addPasses<1, 0>(s, a, by, r, cur, left, right, g);
        addPasses<0, 1>(s, a, by, r, cur, left, right, g);
        addPasses<1, 1>(s, a, by, r, cur, left, right, g);
        const __m256 r0 = _mm256_div_ps(one, _mm256_cvtepi32_ps(_mm256_add_epi32(weight32, s.wsum[0])));
        const __m256 r1 = _mm256_div_ps(one, _mm256_cvtepi32_ps(_mm256_add_epi32(weight32, s.wsum[1])));
        for (int c = 0; c < 3; c++) {
            const __m256i lo = _mm256_mullo_epi16(cur[c], weight16), hi = _mm256_mulhi_epi16(cur[c], weight16);
            const __m256i n0 = _mm256_add_epi32(_mm256_unpacklo_epi16(lo, hi), s.acc[c][0]);
            const __m256i n1 = _mm256_add_epi32(_mm256_unpackhi_epi16(lo, hi), s.acc[c][1]);
            const __m256i q0 = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(n0), r0));
            const __m256i q1 = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(n1), r1));
            // The pack works within 128-bit halves, as the unpacks did: the pixels come back in order.
            store(a->dst[c] + r * a->dstStride, _mm256_packs_epi32(q0, q1));
        }
    }
}

void halfPixelRowAvx2(uint8_t *h, uint8_t *v, uint8_t *d, const uint8_t *a, const uint8_t *b, int32_t count)
{
    const __m256i zero = _mm256_setzero_si256(), two = _mm256_set1_epi16(2);
    int32_t x = 0;
    for (; x + 32 <= count; x += 32) {
        const __m256i a0 = load(a + x), a1 = load(a + x + 1), b0 = load(b + x), b1 = load(b + x + 1);
        store(h + x, _mm256_avg_epu8(a0, a1));
        store(v + x, _mm256_avg_epu8(a0, b0));
        // Unpacks and the pack work within 128-bit halves alike: the bytes come back in place.
        const __m256i lo = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_unpacklo_epi8(a0, zero), _mm256_unpacklo_epi8(a1, zero)),
            _mm256_add_epi16(_mm256_unpacklo_epi8(b0, zero), _mm256_unpacklo_epi8(b1, zero)));
        const __m256i hi = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_unpackhi_epi8(a0, zero), _mm256_unpackhi_epi8(a1, zero)),
            _mm256_add_epi16(_mm256_unpackhi_epi8(b0, zero), _mm256_unpackhi_epi8(b1, zero)));
        store(d + x, _mm256_packus_epi16(_mm256_srli_epi16(_mm256_add_epi16(lo, two), 2),
                                         _mm256_srli_epi16(_mm256_add_epi16(hi, two), 2)));
    }
    if (x < count)
        halfPixelRowSse2(h + x, v + x, d + x, a + x, b + x, count - x);
}

namespace {

// Byte shuffles gathering one plane from eight packed pixels (48 bytes in
// three registers a, b, c): the 16-bit lanes of each register that hold the
// plane, moved to their place in the row, the others zeroed.
struct SplitMasks {
    int8_t m[3][3][16]; // plane, register, byte
    constexpr SplitMasks() : m()
    {
        for (int plane = 0; plane < 3; plane++)
            for (int reg = 0; reg < 3; reg++)
                for (int lane = 0; lane < 8; lane++) {
                    const int sample = 3 * lane + plane; // its 16-bit lane among the 24
                    const bool here = sample / 8 == reg;
                    m[plane][reg][2 * lane] = here ? (int8_t)(2 * (sample % 8)) : (int8_t)-128;
                    m[plane][reg][2 * lane + 1] = here ? (int8_t)(2 * (sample % 8) + 1) : (int8_t)-128;
                }
    }
};
constexpr SplitMasks kSplit;

inline __m256i mask256(const int8_t *m) { return _mm256_broadcastsi128_si256(load128(m)); }

inline __m256i twoHalves(const void *lo, const void *hi)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load128(lo)), load128(hi), 1);
}

} // namespace

void splitPixelsRowAvx2(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, const YcPixel *src, int32_t count)
{
    __m256i m[3][3];
    for (int plane = 0; plane < 3; plane++)
        for (int reg = 0; reg < 3; reg++)
            m[plane][reg] = mask256(kSplit.m[plane][reg]);
    const __m256i lo = _mm256_set1_epi16(kMotionSampleMin), hi = _mm256_set1_epi16(kMotionSampleMax);
    int16_t *out[3] = {y, cb, cr};
    int32_t x = 0;
    for (; x + 16 <= count; x += 16) {
        // Pixels x .. x + 7 in the low halves, x + 8 .. x + 15 in the high ones.
        const uint8_t *p = reinterpret_cast<const uint8_t *>(src + x);
        const __m256i a = twoHalves(p, p + 48), b = twoHalves(p + 16, p + 64), c = twoHalves(p + 32, p + 80);
        __m256i v[3];
        for (int plane = 0; plane < 3; plane++) {
            const __m256i g = _mm256_or_si256(
                _mm256_or_si256(_mm256_shuffle_epi8(a, m[plane][0]), _mm256_shuffle_epi8(b, m[plane][1])),
                _mm256_shuffle_epi8(c, m[plane][2]));
            v[plane] = _mm256_max_epi16(_mm256_min_epi16(g, hi), lo);
            store(out[plane] + x, v[plane]);
        }
        const __m256i s = _mm256_srai_epi16(_mm256_add_epi16(v[0], _mm256_set1_epi16(8)), 4);
        const __m256i bytes = _mm256_packus_epi16(s, s); // 0..7 8..15 in the low 8 bytes of each half
        _mm_storeu_si128(reinterpret_cast<__m128i *>(search + x),
                         _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08)));
    }
    if (x < count)
        splitPixelsRowSse2(y + x, cb + x, cr + x, search + x, src + x, count - x);
}

void halveRowAvx2(uint8_t *dst, const uint8_t *a, const uint8_t *b, int32_t count)
{
    const __m256i one = _mm256_set1_epi8(1), two = _mm256_set1_epi16(2);
    int32_t x = 0;
    for (; x + 32 <= count; x += 32) {
        __m256i half[2];
        for (int h = 0; h < 2; h++) {
            const __m256i sum = _mm256_add_epi16(_mm256_maddubs_epi16(load(a + 2 * x + 32 * h), one),
                                                 _mm256_maddubs_epi16(load(b + 2 * x + 32 * h), one));
            half[h] = _mm256_srli_epi16(_mm256_add_epi16(sum, two), 2);
        }
        // The pack works within 128-bit halves: put the quarters back in order.
        store(dst + x, _mm256_permute4x64_epi64(_mm256_packus_epi16(half[0], half[1]), 0xD8));
    }
    if (x < count)
        halveRowSse2(dst + x, a + 2 * x, b + 2 * x, count - x);
}

namespace {

// Byte shuffles placing eight samples of one plane in the 48 bytes of eight
// packed pixels (three registers), the other planes' bytes zeroed.
struct MergeMasks {
    int8_t m[3][3][16]; // register, plane, byte
    constexpr MergeMasks() : m()
    {
        for (int reg = 0; reg < 3; reg++)
            for (int plane = 0; plane < 3; plane++)
                for (int lane = 0; lane < 8; lane++) {
                    const int sample = 8 * reg + lane, pixel = sample / 3;
                    const bool here = sample % 3 == plane;
                    m[reg][plane][2 * lane] = here ? (int8_t)(2 * pixel) : (int8_t)-128;
                    m[reg][plane][2 * lane + 1] = here ? (int8_t)(2 * pixel + 1) : (int8_t)-128;
                }
    }
};
constexpr MergeMasks kMerge;

} // namespace

void mergePixelsRowAvx2(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int32_t count)
{
    __m256i m[3][3];
    for (int reg = 0; reg < 3; reg++)
        for (int plane = 0; plane < 3; plane++)
            m[reg][plane] = mask256(kMerge.m[reg][plane]);
    int32_t x = 0;
    for (; x + 16 <= count; x += 16) {
        // Pixels x .. x + 7 in the low halves, x + 8 .. x + 15 in the high ones.
        const __m256i vy = load(y + x), vb = load(cb + x), vr = load(cr + x);
        __m256i o[3];
#pragma GCC unroll 3
        for (int reg = 0; reg < 3; reg++)
            o[reg] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(vy, m[reg][0]), _mm256_shuffle_epi8(vb, m[reg][1])),
                                     _mm256_shuffle_epi8(vr, m[reg][2]));
        uint8_t *d = reinterpret_cast<uint8_t *>(dst + x);
        store(d, _mm256_permute2x128_si256(o[0], o[1], 0x20));
        store(d + 32, _mm256_permute2x128_si256(o[2], o[0], 0x30));
        store(d + 64, _mm256_permute2x128_si256(o[1], o[2], 0x31));
    }
    if (x < count)
        mergePixelsRowC(dst + x, y + x, cb + x, cr + x, count - x);
}

} // namespace velvane
