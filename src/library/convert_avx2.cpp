// AVX2 versions of the one-pass conversions between 8-bit 4:2:2 planes and
// rows of YcPixel.
#include <immintrin.h>

#include "library/convert_kernels.h"

namespace velvane {
namespace {

// A byte shuffle that moves 16-bit lane src[i] to lane i of each 128-bit
// half (-1: zero), the same in both halves.
__m256i lanes16(const int8_t (&src)[8])
{
    alignas(16) int8_t b[16];
    for (int i = 0; i < 8; i++) {
        b[2 * i] = src[i] < 0 ? -1 : (int8_t)(2 * src[i]);
        b[2 * i + 1] = src[i] < 0 ? -1 : (int8_t)(2 * src[i] + 1);
    }
    const __m128i m = _mm_load_si128(reinterpret_cast<const __m128i *>(b));
    return _mm256_broadcastsi128_si256(m);
}

// Eight pixels are 24 lanes, three 128-bit groups: y0 b0 r0 y1 b1 r1 y2 b2 |
// r2 y3 b3 r3 y4 b4 r4 y5 | b5 r5 y6 b6 r6 y7 b7 r7. Component c of pixel p
// lies at lane (3 p + c) mod 8 of its group, and no two pixels of one
// component share that lane: one shuffle of each component puts every sample
// at its lane for whichever group holds it, and the groups are blends of the
// three shuffled vectors. In group g, lane l holds component (8 g + l) mod 3:
// these are the lanes of cb and of cr in each group, as blend masks.
constexpr int kCb0 = 0x92, kCb1 = 0x24, kCb2 = 0x49; // lanes 1, 4, 7 | 2, 5 | 0, 3, 6
constexpr int kCr0 = 0x24, kCr1 = 0x49, kCr2 = 0x92;

// The shuffles: lane l of component c's vector gets the pixel p with
// (3 p + c) mod 8 = l.
struct Layout {
    __m256i toLanes[3];
    Layout()
    {
        for (int c = 0; c < 3; c++) {
            int8_t from[8];
            for (int p = 0; p < 8; p++)
                from[(3 * p + c) % 8] = (int8_t)p;
            toLanes[c] = lanes16(from);
        }
    }
};

// The reverse: blends of the groups hold every luma, and every even pixel's
// cb and cr, at those lanes; these shuffles bring pixels 0 .. 7's luma, and
// the even pixels' cb (lanes 0 .. 3) and cr (lanes 4 .. 7), into order.
struct Gather {
    __m256i toY, toC;
    Gather()
    {
        int8_t y[8], c[8];
        for (int i = 0; i < 8; i++) {
            y[i] = (int8_t)(3 * i % 8);
            c[i] = (int8_t)(i < 4 ? (6 * i + 1) % 8 : (6 * (i - 4) + 2) % 8);
        }
        toY = lanes16(y);
        toC = lanes16(c);
    }
};

// Chroma of sixteen pixels, eight per 128-bit half, from the eight co-sited
// samples at c[0 .. 7] and the one after them: 8 times (a0 + a0, a0 + a1,
// a1 + a1, ...) less 2048; or, for the last sixteen of an even row, from
// c[0 .. 7] alone, the last pixel repeating c[7] (the mean of c[7] and itself).
template <bool last> inline __m256i upsample16(const uint8_t *c)
{
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(c));
    const __m128i b = last ? _mm_shuffle_epi8(a, _mm_setr_epi8(1, 2, 3, 4, 5, 6, 7, 7, 0, 0, 0, 0, 0, 0, 0, 0))
                           : _mm_loadl_epi64(reinterpret_cast<const __m128i *>(c + 1));
    const __m256i twice = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(a, a));
    const __m256i pairs = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(a, b));
    return _mm256_sub_epi16(_mm256_slli_epi16(_mm256_add_epi16(twice, pairs), 3), _mm256_set1_epi16(2048));
}

} // namespace

void planarToPixels8Avx2(YcPixel *dst, int16_t *luma, const uint8_t *y, const uint8_t *cb, const uint8_t *cr,
                         int width)
{
    static const Layout layout;
    const __m256i toY = layout.toLanes[0], toB = layout.toLanes[1], toR = layout.toLanes[2];
    auto block = [&](int x, __m256i vb, __m256i vr) {
        const __m256i vy =
            _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + x))), 4);
        // Pixels 0 .. 7 in the low halves, 8 .. 15 in the high ones.
        const __m256i sy = _mm256_shuffle_epi8(vy, toY), sb = _mm256_shuffle_epi8(vb, toB),
                      sr = _mm256_shuffle_epi8(vr, toR);
        const __m256i g0 = _mm256_blend_epi16(_mm256_blend_epi16(sy, sb, kCb0), sr, kCr0);
        const __m256i g1 = _mm256_blend_epi16(_mm256_blend_epi16(sy, sb, kCb1), sr, kCr1);
        const __m256i g2 = _mm256_blend_epi16(_mm256_blend_epi16(sy, sb, kCb2), sr, kCr2);
        __m256i *d = reinterpret_cast<__m256i *>(dst + x);
        _mm256_storeu_si256(d, _mm256_permute2x128_si256(g0, g1, 0x20));
        _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(g2, g0, 0x30));
        _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(g1, g2, 0x31));
        if (luma)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(luma + x), vy);
    };
    int x = 0;
    // Sixteen pixels read the chroma sample after their eight, which lies
    // within the row while x + 17 < width + width % 2; the last sixteen of an
    // even row repeat their last sample instead.
    for (; x + 17 < width + width % 2; x += 16)
        block(x, upsample16<false>(cb + x / 2), upsample16<false>(cr + x / 2));
    if (x + 16 == width) {
        block(x, upsample16<true>(cb + x / 2), upsample16<true>(cr + x / 2));
        return;
    }
    planarToPixels8Sse2(dst + x, luma ? luma + x : nullptr, y + x, cb + x / 2, cr + x / 2, width - x);
}

void pixelsToPlanar8Avx2(uint8_t *y, uint8_t *cb, uint8_t *cr, const YcPixel *src, int width)
{
    static const Gather gather;
    const __m256i toY = gather.toY, toC = gather.toC;
    const __m256i round = _mm256_set1_epi16(8), bias = _mm256_set1_epi16(128);
    // Dwords of the packed bytes: y of pixels 0 - 7 (0, 1), chroma (2, 3),
    // y of 8 - 15 (4, 5), chroma (6, 7); cb and cr alternate in the chroma.
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i *s = reinterpret_cast<const __m128i *>(src + x);
        // Pixels 0 .. 7 in the low halves, 8 .. 15 in the high ones.
        const __m256i g0 = _mm256_loadu2_m128i(s + 3, s), g1 = _mm256_loadu2_m128i(s + 4, s + 1),
                      g2 = _mm256_loadu2_m128i(s + 5, s + 2);
        // The lumas: lanes 0, 3, 6 of group 0, 1, 4, 7 of group 1, 2, 5 of
        // group 2.
        const __m256i ys = _mm256_blend_epi16(_mm256_blend_epi16(g0, g1, 0x92), g2, 0x24);
        // The even pixels' chroma: cb0, cb2, cr0 from group 0 (lanes 1, 7,
        // 2), cr2, cb4, cr4 from group 1 (lanes 0, 5, 6), cb6, cr6 from
        // group 2 (lanes 3, 4).
        const __m256i cs = _mm256_blend_epi16(_mm256_blend_epi16(g0, g1, 0x61), g2, 0x18);
        const __m256i vy = _mm256_srai_epi16(_mm256_adds_epi16(_mm256_shuffle_epi8(ys, toY), round), 4);
        const __m256i vc =
            _mm256_add_epi16(_mm256_srai_epi16(_mm256_adds_epi16(_mm256_shuffle_epi8(cs, toC), round), 4), bias);
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(vy, vc), order);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(y + x), _mm256_castsi256_si128(bytes));
        const __m128i c = _mm256_extracti128_si256(bytes, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(cb + x / 2), c);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(cr + x / 2), _mm_unpackhi_epi64(c, c));
    }
    pixelsToPlanar8Sse2(y + x, cb + x / 2, cr + x / 2, src + x, width - x);
}

} // namespace velvane
