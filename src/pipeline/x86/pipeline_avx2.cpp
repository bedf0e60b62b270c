// AVX2 versions of the colour, 4:1:1, halving and band split kernels.
#include <immintrin.h>

#include "pipeline/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
inline void store(void *p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }
inline __m256i select(__m256i mask, __m256i a, __m256i b) { return _mm256_blendv_epi8(b, a, mask); }

inline __m256i mulShift8(__m256i v, __m256i k)
{
    return _mm256_or_si256(_mm256_srli_epi16(_mm256_mullo_epi16(v, k), 8),
                           _mm256_slli_epi16(_mm256_mulhi_epi16(v, k), 8));
}

// d * k for 32-bit d with |d| < 2^19; kPair holds k and 16 k (see SSE2).
inline __m256i mul32(__m256i d, __m256i kPair)
{
    const __m256i split = _mm256_or_si256(_mm256_and_si256(d, _mm256_set1_epi32(15)),
                                          _mm256_slli_epi32(_mm256_srai_epi32(d, 4), 16));
    return _mm256_madd_epi16(split, kPair);
}

// Lanes of the sequence v, vn shifted down by one 16-bit (32-bit) lane, and
// of vp, v shifted up, across the 128-bit halves.
inline __m256i next16(__m256i v, __m256i vn) { return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, vn, 0x21), v, 2); }
inline __m256i prev16(__m256i vp, __m256i v) { return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(vp, v, 0x21), 14); }
inline __m256i next32(__m256i v, __m256i vn) { return _mm256_alignr_epi8(_mm256_permute2x128_si256(v, vn, 0x21), v, 4); }
inline __m256i prev32(__m256i vp, __m256i v) { return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(vp, v, 0x21), 12); }

inline __m256i widenLo(__m256i v) { return _mm256_cvtepi16_epi32(_mm256_castsi256_si128(v)); }
inline __m256i widenHi(__m256i v) { return _mm256_cvtepi16_epi32(_mm256_extracti128_si256(v, 1)); }
inline __m256i low16(__m256i v) { return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16); }
inline __m256i narrow(__m256i lo, __m256i hi) { return _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8); }

// Lane constants for blocks of sixteen pixels: 48 lanes of 16 bits (three
// vectors) and of 32 bits (six vectors).
struct ColourLanes {
    __m256i gain[3], offset[3], isY[3], isCb[3], isCr[3], rotated[3];
    __m256i negCb32[6], isCb32[6], isCr32[6], kPair32[6];
    __m256i hc, hs, kBPair;

    explicit ColourLanes(const ColourFactors *f)
    {
        int16_t g[48], o[48], y[48], cb[48], cr[48], rot[48];
        int32_t n32[48], cb32[48], cr32[48], k32[48];
        for (int i = 0; i < 48; i++) {
            const int c = i % 3, pixel = i / 3;
            g[i] = (int16_t)(c == 0 ? f->kY : c == 1 ? f->kCb : f->kCr);
            o[i] = (int16_t)(c == 0 ? f->offsetY : 0);
            y[i] = (int16_t)(c == 0 ? -1 : 0);
            cb[i] = (int16_t)(c == 1 ? -1 : 0);
            cr[i] = (int16_t)(c == 2 ? -1 : 0);
            rot[i] = (int16_t)(c != 0 && (f->mode == COLOUR_ROTATE || pixel % 4 == 0) ? -1 : 0);
            n32[i] = cb32[i] = c == 1 ? -1 : 0;
            cr32[i] = c == 2 ? -1 : 0;
            const int32_t k = c == 1 ? f->kCb : c == 2 ? f->kCr : 0;
            k32[i] = (int32_t)((uint32_t)(uint16_t)k | ((uint32_t)(uint16_t)(16 * k) << 16));
        }
        for (int r = 0; r < 3; r++) {
            gain[r] = load(g + 16 * r);
            offset[r] = load(o + 16 * r);
            isY[r] = load(y + 16 * r);
            isCb[r] = load(cb + 16 * r);
            isCr[r] = load(cr + 16 * r);
            rotated[r] = load(rot + 16 * r);
        }
        for (int j = 0; j < 6; j++) {
            negCb32[j] = load(n32 + 8 * j);
            isCb32[j] = load(cb32 + 8 * j);
            isCr32[j] = load(cr32 + 8 * j);
            kPair32[j] = load(k32 + 8 * j);
        }
        hc = _mm256_set1_epi16((int16_t)f->hc);
        hs = _mm256_set1_epi16((int16_t)f->hs);
        kBPair = _mm256_set1_epi32((int32_t)((uint32_t)(uint16_t)f->kB | ((uint32_t)(uint16_t)(16 * f->kB) << 16)));
    }
};

// Sixteen pixels; the lane logic is that of the SSE2 version.
inline void rotateBlock(int16_t *s, const ColourLanes &c)
{
    const __m256i zero = _mm256_setzero_si256();
    __m256i v[3], a32[6], b32[6], e32[6], f32[6], r32[6];
    for (int r = 0; r < 3; r++)
        v[r] = load(s + 16 * r);
    for (int r = 0; r < 3; r++) {
        const __m256i next = next16(v[r], r < 2 ? v[r + 1] : zero);
        const __m256i prev = prev16(r > 0 ? v[r - 1] : zero, v[r]);
        const __m256i other = _mm256_or_si256(_mm256_and_si256(next, c.isCb[r]), _mm256_and_si256(prev, c.isCr[r]));
        const __m256i a = mulShift8(v[r], c.hc);
        const __m256i b = mulShift8(other, c.hs);
        a32[2 * r] = widenLo(a);
        a32[2 * r + 1] = widenHi(a);
        b32[2 * r] = widenLo(b);
        b32[2 * r + 1] = widenHi(b);
    }
    for (int j = 0; j < 6; j++) {
        const __m256i b = _mm256_sub_epi32(_mm256_xor_si256(b32[j], c.negCb32[j]), c.negCb32[j]);
        const __m256i w = _mm256_srai_epi32(mul32(_mm256_add_epi32(a32[j], b), c.kPair32[j]), 8);
        e32[j] = _mm256_srai_epi32(mul32(w, c.kBPair), 8);
        f32[j] = _mm256_sub_epi32(w, e32[j]);
    }
    for (int j = 0; j < 6; j++) {
        const __m256i next = next32(f32[j], j < 5 ? f32[j + 1] : zero);
        const __m256i prev = prev32(j > 0 ? f32[j - 1] : zero, f32[j]);
        const __m256i partner = _mm256_or_si256(_mm256_and_si256(next, c.isCb32[j]), _mm256_and_si256(prev, c.isCr32[j]));
        r32[j] = low16(_mm256_add_epi32(partner, e32[j]));
    }
    __m256i out[3];
    for (int r = 0; r < 3; r++) {
        const __m256i gains = _mm256_add_epi16(mulShift8(v[r], c.gain[r]), c.offset[r]);
        const __m256i rot = narrow(r32[2 * r], r32[2 * r + 1]);
        out[r] = select(c.isY[r], gains, select(c.rotated[r], rot, v[r]));
    }
    for (int r = 0; r < 3; r++)
        store(s + 16 * r, out[r]);
}

inline __m256i floorMean(__m256i a, __m256i b)
{
    return _mm256_add_epi16(_mm256_and_si256(a, b), _mm256_srai_epi16(_mm256_xor_si256(a, b), 1));
}

} // namespace

void adjustColourRowAvx2(YcPixel *row, int32_t width, const ColourFactors *f)
{
    const ColourLanes c(f);
    int16_t *s = &row->y;
    int32_t x = 0;
    if (f->mode == COLOUR_GAINS) {
        for (; x + 16 <= width; x += 16, s += 48)
            for (int r = 0; r < 3; r++)
                store(s + 16 * r, _mm256_add_epi16(mulShift8(load(s + 16 * r), c.gain[r]), c.offset[r]));
    } else {
        for (; x + 16 <= width; x += 16, s += 48)
            rotateBlock(s, c);
    }
    adjustColourRowSse2(row + x, width - x, f); // x is a multiple of 16
}

void interpolate411RowAvx2(YcPixel *row, int32_t width)
{
    // Blocks of four groups (pixels x .. x + 15); see the SSE2 version.
    alignas(32) static const int16_t copyMask[48] = {
        0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0};
    alignas(32) static const int16_t nearMask[48] = {
        0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0};
    alignas(32) static const int16_t farMask[48] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1};
    int32_t x = 0;
    if (width >= 22) {
        interpolate411RowC(row, 5);
        x = 4;
        // The block reads up to pixel x + 17; its fourth group must be real.
        for (; x + 18 <= width; x += 16) {
            int16_t *s = &row[x].y;
            __m256i out[3];
            for (int r = 0; r < 3; r++) {
                const int16_t *p = s + 16 * r;
                const __m256i copy = load(copyMask + 16 * r), nearM = load(nearMask + 16 * r),
                              farM = load(farMask + 16 * r);
                const __m256i left = select(nearM, load(p - 6), load(p - 9));
                const __m256i right = select(nearM, load(p + 6), load(p + 3));
                const __m256i mean = floorMean(left, right);
                out[r] = select(copy, load(p - 3), select(_mm256_or_si256(nearM, farM), mean, load(p)));
            }
            for (int r = 0; r < 3; r++)
                store(s + 16 * r, out[r]);
        }
    }
    interpolate411RowSse2(row + x, width - x);
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
