#include "library/convert_kernels.h"

#include <string.h>

#include <algorithm>

#include "common/cpu_flags.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velvane {

void interleaveRowC(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int n)
{
    for (int i = 0; i < n; i++) {
        dst[i].y = y[i];
        dst[i].cb = cb[i];
        dst[i].cr = cr[i];
    }
}

void deinterleaveRowC(int16_t *y, int16_t *cb, int16_t *cr, const YcPixel *src, int n)
{
    for (int i = 0; i < n; i++) {
        y[i] = src[i].y;
        cb[i] = src[i].cb;
        cr[i] = src[i].cr;
    }
}

void lumaToHost8C(int16_t *dst, const uint8_t *src, int n)
{
    for (int i = 0; i < n; i++)
        dst[i] = (int16_t)(src[i] << 4);
}

void chromaToHost8C(int16_t *dst, const uint8_t *src, int n)
{
    for (int i = 0; i < n; i++)
        dst[i] = (int16_t)((src[i] - 128) * 16);
}

void lumaFromHost8C(uint8_t *dst, const int16_t *src, int n)
{
    for (int i = 0; i < n; i++)
        dst[i] = (uint8_t)std::clamp((src[i] + 8) >> 4, 0, 255);
}

void chromaFromHost8C(uint8_t *dst, const int16_t *src, int n)
{
    for (int i = 0; i < n; i++)
        dst[i] = (uint8_t)std::clamp(((src[i] + 8) >> 4) + 128, 0, 255);
}

void upsampleCosited2C(int16_t *dst, const int16_t *c, int n)
{
    for (int k = 0; k < n; k++) {
        dst[2 * k] = c[k];
        dst[2 * k + 1] = (int16_t)((c[k] + c[k + 1]) >> 1);
    }
}

void downsampleCosited2C(int16_t *dst, const int16_t *row, int n)
{
    for (int k = 0; k < n; k++)
        dst[k] = row[2 * k];
}

void planarToPixels8From(YcPixel *dst, int16_t *luma, const uint8_t *y, const uint8_t *cb, const uint8_t *cr,
                         int begin, int width)
{
    const int cw = (width + 1) / 2;
    for (int i = begin; i < width; i++) {
        const int k = i >> 1;
        dst[i].y = (int16_t)(y[i] << 4);
        if ((i & 1) == 0 || k + 1 == cw) { // on a sample, or past the last one
            dst[i].cb = (int16_t)((cb[k] - 128) * 16);
            dst[i].cr = (int16_t)((cr[k] - 128) * 16);
        } else { // the floored mean of two host samples, 16 (a - 128) and 16 (b - 128)
            dst[i].cb = (int16_t)((cb[k] + cb[k + 1] - 256) * 8);
            dst[i].cr = (int16_t)((cr[k] + cr[k + 1] - 256) * 8);
        }
        if (luma)
            luma[i] = dst[i].y;
    }
}

void planarToPixels8C(YcPixel *dst, int16_t *luma, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, int width)
{
    planarToPixels8From(dst, luma, y, cb, cr, 0, width);
}

void pixelsToPlanar8From(uint8_t *y, uint8_t *cb, uint8_t *cr, const YcPixel *src, int begin, int width)
{
    for (int i = begin; i < width; i++) {
        y[i] = (uint8_t)std::clamp((src[i].y + 8) >> 4, 0, 255);
        if ((i & 1) == 0) {
            cb[i >> 1] = (uint8_t)std::clamp(((src[i].cb + 8) >> 4) + 128, 0, 255);
            cr[i >> 1] = (uint8_t)std::clamp(((src[i].cr + 8) >> 4) + 128, 0, 255);
        }
    }
}

void pixelsToPlanar8C(uint8_t *y, uint8_t *cb, uint8_t *cr, const YcPixel *src, int width)
{
    pixelsToPlanar8From(y, cb, cr, src, 0, width);
}

#if defined(__SSE2__)

// Eight pixels at a time, each built as a 64-bit {y, cb, cr, spare} lane
// group and stored 8 bytes wide at 6-byte steps: the spare lane of one store
// is overwritten by the next pixel. The last store of a group reaches two
// bytes into pixel i + 8, so the vector loop stops while that pixel still
// belongs to the row, and the scalar tail finishes it.
void interleaveRowSse2(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int n)
{
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 8 < n; i += 8) {
        __m128i vy = _mm_loadu_si128((const __m128i *)(y + i));
        __m128i vb = _mm_loadu_si128((const __m128i *)(cb + i));
        __m128i vr = _mm_loadu_si128((const __m128i *)(cr + i));
        __m128i yb0 = _mm_unpacklo_epi16(vy, vb);
        __m128i yb1 = _mm_unpackhi_epi16(vy, vb);
        __m128i r0 = _mm_unpacklo_epi16(vr, zero);
        __m128i r1 = _mm_unpackhi_epi16(vr, zero);
        __m128i p01 = _mm_unpacklo_epi32(yb0, r0);
        __m128i p23 = _mm_unpackhi_epi32(yb0, r0);
        __m128i p45 = _mm_unpacklo_epi32(yb1, r1);
        __m128i p67 = _mm_unpackhi_epi32(yb1, r1);
        char *d = (char *)(dst + i);
        _mm_storel_epi64((__m128i *)(d + 0), p01);
        _mm_storel_epi64((__m128i *)(d + 6), _mm_srli_si128(p01, 8));
        _mm_storel_epi64((__m128i *)(d + 12), p23);
        _mm_storel_epi64((__m128i *)(d + 18), _mm_srli_si128(p23, 8));
        _mm_storel_epi64((__m128i *)(d + 24), p45);
        _mm_storel_epi64((__m128i *)(d + 30), _mm_srli_si128(p45, 8));
        _mm_storel_epi64((__m128i *)(d + 36), p67);
        _mm_storel_epi64((__m128i *)(d + 42), _mm_srli_si128(p67, 8));
    }
    interleaveRowC(dst + i, y + i, cb + i, cr + i, n - i);
}

// Loads each pixel 8 bytes wide (its three samples and the next pixel's luma,
// hence the same loop bound as above) and transposes four 4-lane groups.
void deinterleaveRowSse2(int16_t *y, int16_t *cb, int16_t *cr, const YcPixel *src, int n)
{
    int i = 0;
    for (; i + 8 < n; i += 8) {
        const char *s = (const char *)(src + i);
        __m128i q0 = _mm_unpacklo_epi64(_mm_loadl_epi64((const __m128i *)(s + 0)),
                                        _mm_loadl_epi64((const __m128i *)(s + 6)));
        __m128i q1 = _mm_unpacklo_epi64(_mm_loadl_epi64((const __m128i *)(s + 12)),
                                        _mm_loadl_epi64((const __m128i *)(s + 18)));
        __m128i q2 = _mm_unpacklo_epi64(_mm_loadl_epi64((const __m128i *)(s + 24)),
                                        _mm_loadl_epi64((const __m128i *)(s + 30)));
        __m128i q3 = _mm_unpacklo_epi64(_mm_loadl_epi64((const __m128i *)(s + 36)),
                                        _mm_loadl_epi64((const __m128i *)(s + 42)));
        // q0 = y0 b0 r0 x y1 b1 r1 x, q1 = pixels 2 and 3, ...
        __m128i t0 = _mm_unpacklo_epi16(q0, q1); // y0 y2 b0 b2 r0 r2 x x
        __m128i t1 = _mm_unpackhi_epi16(q0, q1); // y1 y3 b1 b3 r1 r3 x x
        __m128i t2 = _mm_unpacklo_epi16(q2, q3);
        __m128i t3 = _mm_unpackhi_epi16(q2, q3);
        __m128i s0 = _mm_unpacklo_epi16(t0, t1); // y0 y1 y2 y3 b0 b1 b2 b3
        __m128i s1 = _mm_unpackhi_epi16(t0, t1); // r0 r1 r2 r3 x x x x
        __m128i s2 = _mm_unpacklo_epi16(t2, t3);
        __m128i s3 = _mm_unpackhi_epi16(t2, t3);
        _mm_storeu_si128((__m128i *)(y + i), _mm_unpacklo_epi64(s0, s2));
        _mm_storeu_si128((__m128i *)(cb + i), _mm_unpackhi_epi64(s0, s2));
        _mm_storeu_si128((__m128i *)(cr + i), _mm_unpacklo_epi64(s1, s3));
    }
    deinterleaveRowC(y + i, cb + i, cr + i, src + i, n - i);
}

void lumaToHost8Sse2(int16_t *dst, const uint8_t *src, int n)
{
    const __m128i zero = _mm_setzero_si128();
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(src + i));
        _mm_storeu_si128((__m128i *)(dst + i), _mm_slli_epi16(_mm_unpacklo_epi8(v, zero), 4));
        _mm_storeu_si128((__m128i *)(dst + i + 8), _mm_slli_epi16(_mm_unpackhi_epi8(v, zero), 4));
    }
    lumaToHost8C(dst + i, src + i, n - i);
}

void chromaToHost8Sse2(int16_t *dst, const uint8_t *src, int n)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128 * 16);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(src + i));
        __m128i lo = _mm_sub_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(v, zero), 4), bias);
        __m128i hi = _mm_sub_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(v, zero), 4), bias);
        _mm_storeu_si128((__m128i *)(dst + i), lo);
        _mm_storeu_si128((__m128i *)(dst + i + 8), hi);
    }
    chromaToHost8C(dst + i, src + i, n - i);
}

// The saturating add only changes samples within 8 of 32767, whose result
// clamps to 255 either way.
void lumaFromHost8Sse2(uint8_t *dst, const int16_t *src, int n)
{
    const __m128i round = _mm_set1_epi16(8);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i a = _mm_srai_epi16(_mm_adds_epi16(_mm_loadu_si128((const __m128i *)(src + i)), round), 4);
        __m128i b = _mm_srai_epi16(_mm_adds_epi16(_mm_loadu_si128((const __m128i *)(src + i + 8)), round), 4);
        _mm_storeu_si128((__m128i *)(dst + i), _mm_packus_epi16(a, b));
    }
    lumaFromHost8C(dst + i, src + i, n - i);
}

void chromaFromHost8Sse2(uint8_t *dst, const int16_t *src, int n)
{
    const __m128i round = _mm_set1_epi16(8);
    const __m128i bias = _mm_set1_epi16(128);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i a = _mm_srai_epi16(_mm_adds_epi16(_mm_loadu_si128((const __m128i *)(src + i)), round), 4);
        __m128i b = _mm_srai_epi16(_mm_adds_epi16(_mm_loadu_si128((const __m128i *)(src + i + 8)), round), 4);
        _mm_storeu_si128((__m128i *)(dst + i), _mm_packus_epi16(_mm_add_epi16(a, bias), _mm_add_epi16(b, bias)));
    }
    chromaFromHost8C(dst + i, src + i, n - i);
}

// The mean without a 17-bit sum: floor(a / 2) + floor(b / 2), plus one when
// both are odd, is floor((a + b) / 2) for every pair of 16-bit values.
void upsampleCosited2Sse2(int16_t *dst, const int16_t *c, int n)
{
    const __m128i one = _mm_set1_epi16(1);
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        __m128i a = _mm_loadu_si128((const __m128i *)(c + k));
        __m128i b = _mm_loadu_si128((const __m128i *)(c + k + 1));
        __m128i mean = _mm_add_epi16(_mm_add_epi16(_mm_srai_epi16(a, 1), _mm_srai_epi16(b, 1)),
                                     _mm_and_si128(_mm_and_si128(a, b), one));
        _mm_storeu_si128((__m128i *)(dst + 2 * k), _mm_unpacklo_epi16(a, mean));
        _mm_storeu_si128((__m128i *)(dst + 2 * k + 8), _mm_unpackhi_epi16(a, mean));
    }
    upsampleCosited2C(dst + 2 * k, c + k, n - k);
}

void downsampleCosited2Sse2(int16_t *dst, const int16_t *row, int n)
{
    int k = 0;
    // Each step loads row[2k] .. row[2k + 15]; the last sample needed is
    // row[2n - 2], so the vector steps stop one short of it.
    for (; k + 8 < n; k += 8) {
        __m128i a = _mm_loadu_si128((const __m128i *)(row + 2 * k));
        __m128i b = _mm_loadu_si128((const __m128i *)(row + 2 * k + 8));
        a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
        b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
        _mm_storeu_si128((__m128i *)(dst + k), _mm_packs_epi32(a, b));
    }
    downsampleCosited2C(dst + k, row + 2 * k, n - k);
}

namespace {

// Eight pixels' samples, stored 8 bytes wide at 6-byte steps from pixel 0
// on as {y, cb, cr, spare} groups (interleaveRowSse2's p01 .. p67): the last
// store reaches two bytes into pixel 8, which must belong to the row.
inline void storePixels8(YcPixel *dst, __m128i vy, __m128i vb, __m128i vr)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i yb0 = _mm_unpacklo_epi16(vy, vb), yb1 = _mm_unpackhi_epi16(vy, vb);
    const __m128i r0 = _mm_unpacklo_epi16(vr, zero), r1 = _mm_unpackhi_epi16(vr, zero);
    char *d = (char *)dst;
    auto put = [d](int at, __m128i p) {
        _mm_storel_epi64((__m128i *)(d + at), p);
        double high; // through a copy: the address need not be aligned
        _mm_storeh_pd(&high, _mm_castsi128_pd(p));
        memcpy(d + at + 6, &high, 8);
    };
    put(0, _mm_unpacklo_epi32(yb0, r0));
    put(12, _mm_unpackhi_epi32(yb0, r0));
    put(24, _mm_unpacklo_epi32(yb1, r1));
    put(36, _mm_unpackhi_epi32(yb1, r1));
}

// Chroma of eight pixels from the four co-sited samples at c[0 .. 3] and the
// one after them: 16 (a - 128) on a sample, 8 (a + b - 256) between two, that
// is 8 times (a0 + a0, a0 + a1, a1 + a1, ...) less 2048.
inline __m128i upsample8Sse2(const uint8_t *c)
{
    const __m128i zero = _mm_setzero_si128();
    int32_t a4, b4;
    memcpy(&a4, c, 4);
    memcpy(&b4, c + 1, 4);
    const __m128i a = _mm_cvtsi32_si128(a4), b = _mm_cvtsi32_si128(b4);
    const __m128i twice = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, a), zero);
    const __m128i pairs = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
    return _mm_sub_epi16(_mm_slli_epi16(_mm_add_epi16(twice, pairs), 3), _mm_set1_epi16(2048));
}

} // namespace

void planarToPixels8Sse2(YcPixel *dst, int16_t *luma, const uint8_t *y, const uint8_t *cb, const uint8_t *cr,
                         int width)
{
    const __m128i zero = _mm_setzero_si128();
    int x = 0;
    // Eight pixels read the chroma sample after their four, and store two
    // bytes into pixel x + 8: both lie within the row while x + 10 <= width.
    for (; x + 10 <= width; x += 8) {
        const __m128i vy = _mm_slli_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64((const __m128i *)(y + x)), zero), 4);
        storePixels8(dst + x, vy, upsample8Sse2(cb + x / 2), upsample8Sse2(cr + x / 2));
        if (luma)
            _mm_storeu_si128((__m128i *)(luma + x), vy);
    }
    planarToPixels8From(dst, luma, y, cb, cr, x, width);
}

void pixelsToPlanar8Sse2(uint8_t *y, uint8_t *cb, uint8_t *cr, const YcPixel *src, int width)
{
    const __m128i round = _mm_set1_epi16(8), bias = _mm_set1_epi16(128);
    int x = 0;
    // The loads of deinterleaveRowSse2 reach two bytes into pixel x + 8; the
    // last eight pixels of a row load their last pixel from two bytes before
    // it instead and shift those out.
    for (; x + 8 <= width; x += 8) {
        const char *s = (const char *)(src + x);
        auto pair = [s](int at) {
            double high; // through a copy: the address need not be aligned
            memcpy(&high, s + at + 6, 8);
            return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64((const __m128i *)(s + at))), &high));
        };
        // q0 = y0 b0 r0 x y1 b1 r1 x, q1 = pixels 2 and 3, ...
        const __m128i q0 = pair(0), q1 = pair(12), q2 = pair(24);
        const __m128i q3 = x + 8 < width ? pair(36)
                                         : _mm_unpacklo_epi64(_mm_loadl_epi64((const __m128i *)(s + 36)),
                                                              _mm_srli_epi64(_mm_loadl_epi64((const __m128i *)(s + 40)), 16));
        const __m128i t0 = _mm_unpacklo_epi16(q0, q1), t1 = _mm_unpackhi_epi16(q0, q1);
        const __m128i t2 = _mm_unpacklo_epi16(q2, q3), t3 = _mm_unpackhi_epi16(q2, q3);
        const __m128i s0 = _mm_unpacklo_epi16(t0, t1), s1 = _mm_unpackhi_epi16(t0, t1); // y0-3 b0-3, r0-3 x
        const __m128i s2 = _mm_unpacklo_epi16(t2, t3), s3 = _mm_unpackhi_epi16(t2, t3);
        const __m128i vy = _mm_srai_epi16(_mm_adds_epi16(_mm_unpacklo_epi64(s0, s2), round), 4);
        // The chroma of the even pixels, from the low halves of the dwords
        // of b0-7 and r0-7, sign-extended and packed: b0 b2 b4 b6 r0 r2 r4 r6.
        auto even = [](__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); };
        const __m128i c = _mm_packs_epi32(even(_mm_unpackhi_epi64(s0, s2)), even(_mm_unpacklo_epi64(s1, s3)));
        const __m128i vc = _mm_add_epi16(_mm_srai_epi16(_mm_adds_epi16(c, round), 4), bias);
        const __m128i bytes = _mm_packus_epi16(vy, vc); // y x 8, cb x 4, cr x 4
        _mm_storel_epi64((__m128i *)(y + x), bytes);
        const int32_t b = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 8)), r = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 12));
        memcpy(cb + x / 2, &b, 4);
        memcpy(cr + x / 2, &r, 4);
    }
    pixelsToPlanar8From(y, cb, cr, src, x, width);
}

#endif

const ConvertKernels &convertKernelsC()
{
    static const ConvertKernels k = {interleaveRowC,    deinterleaveRowC,    lumaToHost8C,
                                     chromaToHost8C,    lumaFromHost8C,      chromaFromHost8C,
                                     upsampleCosited2C, downsampleCosited2C, planarToPixels8C,
                                     pixelsToPlanar8C};
    return k;
}

const ConvertKernels &convertKernels()
{
#if defined(__SSE2__)
    static const ConvertKernels k = {interleaveRowSse2,    deinterleaveRowSse2,    lumaToHost8Sse2,
                                     chromaToHost8Sse2,    lumaFromHost8Sse2,      chromaFromHost8Sse2,
                                     upsampleCosited2Sse2, downsampleCosited2Sse2, planarToPixels8Sse2,
                                     pixelsToPlanar8Sse2};
    return k;
#else
    return convertKernelsC();
#endif
}

const ConvertKernels &convertKernels(unsigned cpuFlags)
{
    if (cpuFlags & CPU_AVX2) {
        static const ConvertKernels k = [] {
            ConvertKernels t = convertKernels();
            t.planarToPixels8 = planarToPixels8Avx2;
            t.pixelsToPlanar8 = pixelsToPlanar8Avx2;
            return t;
        }();
        return k;
    }
    return cpuFlags & CPU_SSE2 ? convertKernels() : convertKernelsC();
}

namespace {

inline int load16(const uint8_t *p, int i) { return p[2 * i] | (p[2 * i + 1] << 8); }
inline void store16(uint8_t *p, int i, int v)
{
    p[2 * i] = (uint8_t)v;
    p[2 * i + 1] = (uint8_t)(v >> 8);
}

} // namespace

void lumaToHost(int16_t *dst, const uint8_t *src, int n, int depth)
{
    if (depth == 8)
        return convertKernels().lumaToHost8(dst, src, n);
    if (depth == 16) {
        for (int i = 0; i < n; i++)
            dst[i] = (int16_t)((load16(src, i) + 8) >> 4);
        return;
    }
    // A sample above the depth's largest value is broken input: it counts as
    // that largest value instead of wrapping round the host's scale.
    const int shift = 12 - depth, maxv = (1 << depth) - 1;
    for (int i = 0; i < n; i++)
        dst[i] = (int16_t)(std::min(load16(src, i), maxv) << shift);
}

void chromaToHost(int16_t *dst, const uint8_t *src, int n, int depth)
{
    if (depth == 8)
        return convertKernels().chromaToHost8(dst, src, n);
    const int mid = 1 << (depth - 1);
    if (depth == 16) {
        for (int i = 0; i < n; i++)
            dst[i] = (int16_t)((load16(src, i) - mid + 8) >> 4);
        return;
    }
    const int scale = 1 << (12 - depth), maxv = (1 << depth) - 1;
    for (int i = 0; i < n; i++)
        dst[i] = (int16_t)((std::min(load16(src, i), maxv) - mid) * scale);
}

void lumaFromHost(uint8_t *dst, const int16_t *src, int n, int depth)
{
    if (depth == 8)
        return convertKernels().lumaFromHost8(dst, src, n);
    const int maxv = (1 << depth) - 1;
    if (depth == 16) {
        for (int i = 0; i < n; i++)
            store16(dst, i, std::clamp(src[i] * 16, 0, maxv));
        return;
    }
    const int shift = 12 - depth;
    const int half = shift ? 1 << (shift - 1) : 0;
    for (int i = 0; i < n; i++)
        store16(dst, i, std::clamp((src[i] + half) >> shift, 0, maxv));
}

void chromaFromHost(uint8_t *dst, const int16_t *src, int n, int depth)
{
    if (depth == 8)
        return convertKernels().chromaFromHost8(dst, src, n);
    const int maxv = (1 << depth) - 1;
    const int mid = 1 << (depth - 1);
    if (depth == 16) {
        for (int i = 0; i < n; i++)
            store16(dst, i, std::clamp(src[i] * 16 + mid, 0, maxv));
        return;
    }
    const int shift = 12 - depth;
    const int half = shift ? 1 << (shift - 1) : 0;
    for (int i = 0; i < n; i++)
        store16(dst, i, std::clamp(((src[i] + half) >> shift) + mid, 0, maxv));
}

void upsampleCositedRow(const ConvertKernels &k, int16_t *dst, const int16_t *c, int width)
{
    const int cw = (width + 1) / 2;
    k.upsampleCosited2(dst, c, cw - 1);
    dst[2 * (cw - 1)] = c[cw - 1];
    if (2 * cw <= width)
        dst[2 * cw - 1] = c[cw - 1];
}

} // namespace velvane
