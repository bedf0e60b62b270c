// AVX-512 versions of the motion kernels: four rows of a block at once, and
// a compensated row's sums in one register per plane.
#include "common/x86_avx512.h"

#include "motion/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
inline __m128i load128(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
inline __m512i load512(const void *p) { return _mm512_loadu_si512(p); }
inline void store512(void *p, __m512i v) { _mm512_storeu_si512(p, v); }

inline __m512i fourRows(const uint8_t *p, ptrdiff_t stride)
{
    __m512i v = _mm512_castsi128_si512(load128(p));
    v = _mm512_inserti32x4(v, load128(p + stride), 1);
    v = _mm512_inserti32x4(v, load128(p + 2 * stride), 2);
    return _mm512_inserti32x4(v, load128(p + 3 * stride), 3);
}

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

uint32_t sad16Avx512(const uint8_t *a, ptrdiff_t aStride, const uint8_t *b, ptrdiff_t bStride, int32_t rows)
{
    __m512i sum = _mm512_setzero_si512();
    int32_t r = 0;
    for (; r + 4 <= rows; r += 4, a += 4 * aStride, b += 4 * bStride)
        sum = _mm512_add_epi64(sum, _mm512_sad_epu8(fourRows(a, aStride), fourRows(b, bStride)));
    uint32_t total = (uint32_t)_mm512_reduce_add_epi64(sum);
    if (r < rows)
        total += sad16Avx2(a, aStride, b, bStride, rows - r);
    return total;
}

namespace {

// One row's sums over the passes, 32 bits each, in order.
struct RowSums {
    __m512i acc[3];
    __m512i wsum;
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
    const __mmask16 over = _mm256_cmpgt_epi16_mask(d, g.gate) | _mm256_cmpgt_epi16_mask(e, g.chroma);
    const __mmask16 near = _mm256_cmple_epi16_mask(d, g.gate2) & _mm256_cmple_epi16_mask(e, g.chroma2);
    const __m256i w = _mm256_maskz_mov_epi16(near, _mm256_mask_srai_epi16(window, over, window, 1));
    // The weight zero-extended and each sample sign-extended: the pair
    // products' high halves multiply 0.
    const __m512i w32 = _mm512_cvtepu16_epi32(w);
#pragma GCC unroll 3
    for (int c = 0; c < 3; c++)
        s.acc[c] = _mm512_add_epi32(s.acc[c], _mm512_madd_epi16(w32, _mm512_cvtepi16_epi32(p[c])));
    s.wsum = _mm512_add_epi32(s.wsum, w32);
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

void compensateCellAvx512(const CompensateCellArgs *a)
{
    const PassesByFraction by(a);
    const Gates g = {_mm256_set1_epi16(a->gate), _mm256_set1_epi16((int16_t)(2 * a->gate)),
                     _mm256_set1_epi16(a->chromaGate), _mm256_set1_epi16((int16_t)(2 * a->chromaGate))};
    const __m256i left = load(kWindowLeft), right = load(kWindowRight);
    // (curWeight, 0) pairs: the low half multiplies.
    const __m512i weight = _mm512_set1_epi32(a->curWeight);
    const __m512 one = _mm512_set1_ps(1.0f);
    for (int32_t r = 0; r < a->rows; r++) {
        __m256i cur[3];
        for (int c = 0; c < 3; c++) {
            cur[c] = load(a->cur[c] + r * a->curStride);
            _mm_prefetch(reinterpret_cast<const char *>(a->cur[c] + r * a->curStride + 32), _MM_HINT_T0);
        }
        RowSums s;
        for (int c = 0; c < 3; c++)
            s.acc[c] = _mm512_setzero_si512();
        s.wsum = _mm512_setzero_si512();
        // The passes of each pair of fractions in turn (the sums do not
        // depend on their order), so that the sums stay in registers.
        addPasses<0, 0>(s, a, by, r, cur, left, right, g);
        addPasses<1, 0>(s, a, by, r, cur, left, right, g);
        addPasses<0, 1>(s, a, by, r, cur, left, right, g);
        addPasses<1, 1>(s, a, by, r, cur, left, right, g);
        const __m512 reciprocal = _mm512_div_ps(one, _mm512_cvtepi32_ps(_mm512_add_epi32(weight, s.wsum)));
        for (int c = 0; c < 3; c++) {
            const __m512i n = _mm512_add_epi32(_mm512_madd_epi16(_mm512_cvtepi16_epi32(cur[c]), weight), s.acc[c]);
            const __m512i q = _mm512_cvtps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(n), reciprocal));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(a->dst[c] + r * a->dstStride), _mm512_cvtsepi32_epi16(q));
        }
    }
}

namespace {

// Indices gathering one plane from 32 packed pixels (96 samples in three
// registers): sample 3j + plane of the first two registers, then of the third
// for the lanes that lie there.
struct SplitIndex {
    int16_t first[3][32], third[3][32];
    uint32_t inThird[3];
    constexpr SplitIndex() : first(), third(), inThird()
    {
        for (int plane = 0; plane < 3; plane++)
            for (int j = 0; j < 32; j++) {
                const int sample = 3 * j + plane;
                first[plane][j] = (int16_t)(sample < 64 ? sample : 0);
                third[plane][j] = (int16_t)(sample < 64 ? 0 : sample - 64);
                if (sample >= 64)
                    inThird[plane] |= 1u << j;
            }
    }
};
constexpr SplitIndex kSplitIndex;

} // namespace

void splitPixelsRowAvx512(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, const YcPixel *src, int32_t count)
{
    const __m512i lo = _mm512_set1_epi16(kMotionSampleMin), hi = _mm512_set1_epi16(kMotionSampleMax);
    int16_t *out[3] = {y, cb, cr};
    int32_t x = 0;
    for (; x + 32 <= count; x += 32) {
        const int16_t *p = reinterpret_cast<const int16_t *>(src + x);
        const __m512i a = load512(p), b = load512(p + 32), c = load512(p + 64);
        __m512i v[3];
        for (int plane = 0; plane < 3; plane++) {
            const __m512i g = _mm512_mask_permutexvar_epi16(
                _mm512_permutex2var_epi16(a, load512(kSplitIndex.first[plane]), b), kSplitIndex.inThird[plane],
                load512(kSplitIndex.third[plane]), c);
            v[plane] = _mm512_max_epi16(_mm512_min_epi16(g, hi), lo);
            store512(out[plane] + x, v[plane]);
        }
        const __m512i s = _mm512_srai_epi16(_mm512_add_epi16(v[0], _mm512_set1_epi16(8)), 4);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(search + x),
                            _mm512_cvtusepi16_epi8(_mm512_max_epi16(s, _mm512_setzero_si512())));
    }
    if (x < count)
        splitPixelsRowAvx2(y + x, cb + x, cr + x, search + x, src + x, count - x);
}

void halveRowAvx512(uint8_t *dst, const uint8_t *a, const uint8_t *b, int32_t count)
{
    const __m512i one = _mm512_set1_epi8(1), two = _mm512_set1_epi16(2);
    int32_t x = 0;
    for (; x + 32 <= count; x += 32) {
        const __m512i sum = _mm512_add_epi16(_mm512_maddubs_epi16(load512(a + 2 * x), one),
                                             _mm512_maddubs_epi16(load512(b + 2 * x), one));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + x),
                            _mm512_cvtepi16_epi8(_mm512_srli_epi16(_mm512_add_epi16(sum, two), 2)));
    }
    if (x < count)
        halveRowAvx2(dst + x, a + 2 * x, b + 2 * x, count - x);
}

namespace {

// Indices placing 32 pixels' samples in three registers: sample s of the
// packed row is plane s % 3 of pixel s / 3; y and cb through a two-register
// permute, cr over it where it lies.
struct MergeIndex {
    int16_t yb[3][32], r[3][32];
    uint32_t isCr[3];
    constexpr MergeIndex() : yb(), r(), isCr()
    {
        for (int reg = 0; reg < 3; reg++)
            for (int j = 0; j < 32; j++) {
                const int sample = 32 * reg + j, pixel = sample / 3, plane = sample % 3;
                yb[reg][j] = (int16_t)(plane == 1 ? 32 + pixel : pixel);
                r[reg][j] = (int16_t)pixel;
                if (plane == 2)
                    isCr[reg] |= 1u << j;
            }
    }
};
constexpr MergeIndex kMergeIndex;

} // namespace

void mergePixelsRowAvx512(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int32_t count)
{
    int32_t x = 0;
    for (; x + 32 <= count; x += 32) {
        const __m512i vy = load512(y + x), vb = load512(cb + x), vr = load512(cr + x);
        int16_t *d = reinterpret_cast<int16_t *>(dst + x);
#pragma GCC unroll 3
        for (int reg = 0; reg < 3; reg++)
            store512(d + 32 * reg,
                     _mm512_mask_permutexvar_epi16(_mm512_permutex2var_epi16(vy, load512(kMergeIndex.yb[reg]), vb),
                                                   kMergeIndex.isCr[reg], load512(kMergeIndex.r[reg]), vr));
    }
    if (x < count)
        mergePixelsRowAvx2(dst + x, y + x, cb + x, cr + x, count - x);
}

} // namespace velvane
