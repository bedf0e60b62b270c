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
// r2 y3 b3 r3 y4 b4 r4 y5 | b5 r5 y6 b6 r6 y7 b7 r7. For group g and each of
// y, cb, cr, which pixel's sample goes to each lane.
struct Layout {
    __m256i fromY[3], fromB[3], fromR[3];
    Layout()
    {
        for (int g = 0; g < 3; g++) {
            int8_t y[8], b[8], r[8];
            for (int i = 0; i < 8; i++) {
                const int lane = 8 * g + i, pixel = lane / 3, component = lane % 3;
                y[i] = component == 0 ? (int8_t)pixel : -1;
                b[i] = component == 1 ? (int8_t)pixel : -1;
                r[i] = component == 2 ? (int8_t)pixel : -1;
            }
            fromY[g] = lanes16(y);
            fromB[g] = lanes16(b);
            fromR[g] = lanes16(r);
        }
    }
};

// The reverse: from group g, the lanes of pixels 0 .. 7's luma, and of the
// even pixels' cb (lanes 0 .. 3) and cr (lanes 4 .. 7).
struct Gather {
    __m256i toY[3], toC[3];
    Gather()
    {
        for (int g = 0; g < 3; g++) {
            int8_t y[8], c[8];
            for (int i = 0; i < 8; i++) {
                const int yLane = 3 * i - 8 * g;
                const int cLane = (i < 4 ? 3 * (2 * i) + 1 : 3 * (2 * (i - 4)) + 2) - 8 * g;
                y[i] = yLane >= 0 && yLane < 8 ? (int8_t)yLane : -1;
                c[i] = cLane >= 0 && cLane < 8 ? (int8_t)cLane : -1;
            }
            toY[g] = lanes16(y);
            toC[g] = lanes16(c);
        }
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
    const __m256i y0 = layout.fromY[0], y1 = layout.fromY[1], y2 = layout.fromY[2];
    const __m256i b0 = layout.fromB[0], b1 = layout.fromB[1], b2 = layout.fromB[2];
    const __m256i r0 = layout.fromR[0], r1 = layout.fromR[1], r2 = layout.fromR[2];
    auto group = [](__m256i vy, __m256i vb, __m256i vr, __m256i my, __m256i mb, __m256i mr) {
        return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(vy, my), _mm256_shuffle_epi8(vb, mb)),
                               _mm256_shuffle_epi8(vr, mr));
    };
    auto block = [&](int x, __m256i vb, __m256i vr) {
        const __m256i vy =
            _mm256_slli_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(y + x))), 4);
        // Pixels 0 .. 7 in the low halves, 8 .. 15 in the high ones.
        const __m256i g0 = group(vy, vb, vr, y0, b0, r0), g1 = group(vy, vb, vr, y1, b1, r1),
                      g2 = group(vy, vb, vr, y2, b2, r2);
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
    const __m256i y0 = gather.toY[0], y1 = gather.toY[1], y2 = gather.toY[2];
    const __m256i c0 = gather.toC[0], c1 = gather.toC[1], c2 = gather.toC[2];
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
        auto collect = [&](__m256i m0, __m256i m1, __m256i m2) {
            return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(g0, m0), _mm256_shuffle_epi8(g1, m1)),
                                   _mm256_shuffle_epi8(g2, m2));
        };
        const __m256i vy = _mm256_srai_epi16(_mm256_adds_epi16(collect(y0, y1, y2), round), 4);
        const __m256i vc = _mm256_add_epi16(_mm256_srai_epi16(_mm256_adds_epi16(collect(c0, c1, c2), round), 4), bias);
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(vy, vc), order);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(y + x), _mm256_castsi256_si128(bytes));
        const __m128i c = _mm256_extracti128_si256(bytes, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(cb + x / 2), c);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(cr + x / 2), _mm_unpackhi_epi64(c, c));
    }
    pixelsToPlanar8Sse2(y + x, cb + x / 2, cr + x / 2, src + x, width - x);
}

} // namespace velvane
