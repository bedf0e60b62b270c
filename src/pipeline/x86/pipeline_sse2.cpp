// SSE2 versions of the colour, 4:1:1, halving and band split kernels.
#include <emmintrin.h>

#include "pipeline/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
inline void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }
inline __m128i select(__m128i mask, __m128i a, __m128i b)
{
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Low 16 bits of (v * k) >> 8 with a 32-bit product: bits 8 to 23.
inline __m128i mulShift8(__m128i v, __m128i k)
{
    return _mm_or_si128(_mm_srli_epi16(_mm_mullo_epi16(v, k), 8), _mm_slli_epi16(_mm_mulhi_epi16(v, k), 8));
}

// d * k for 32-bit d with |d| < 2^19 and |16 k| < 2^15: d = 16 hi + lo with
// lo in 0 .. 15, and kPair holds k and 16 k in the low and high halves.
inline __m128i mul32(__m128i d, __m128i kPair)
{
    const __m128i split = _mm_or_si128(_mm_and_si128(d, _mm_set1_epi32(15)), _mm_slli_epi32(_mm_srai_epi32(d, 4), 16));
    return _mm_madd_epi16(split, kPair);
}

inline __m128i widenLo(__m128i v) { return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16); }
inline __m128i widenHi(__m128i v) { return _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16); }
inline __m128i low16(__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); }

// Lane constants for blocks of eight pixels: 24 lanes of 16 bits (three
// vectors) and the same 24 lanes widened to 32 bits (six vectors).
struct ColourLanes {
    __m128i gain[3], offset[3], isY[3], isCb[3], isCr[3], rotated[3];
    __m128i negCb32[6], isCb32[6], isCr32[6], kPair32[6];
    __m128i hc, hs, kBPair;

    explicit ColourLanes(const ColourFactors *f)
    {
        int16_t g[24], o[24], y[24], cb[24], cr[24], rot[24];
        int32_t n32[24], cb32[24], cr32[24], k32[24];
        for (int i = 0; i < 24; i++) {
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
            gain[r] = load(g + 8 * r);
            offset[r] = load(o + 8 * r);
            isY[r] = load(y + 8 * r);
            isCb[r] = load(cb + 8 * r);
            isCr[r] = load(cr + 8 * r);
            rotated[r] = load(rot + 8 * r);
        }
        for (int j = 0; j < 6; j++) {
            negCb32[j] = load(n32 + 4 * j);
            isCb32[j] = load(cb32 + 4 * j);
            isCr32[j] = load(cr32 + 4 * j);
            kPair32[j] = load(k32 + 4 * j);
        }
        hc = _mm_set1_epi16((int16_t)f->hc);
        hs = _mm_set1_epi16((int16_t)f->hs);
        kBPair = _mm_set1_epi32((int32_t)((uint32_t)(uint16_t)f->kB | ((uint32_t)(uint16_t)(16 * f->kB) << 16)));
    }
};

// Eight pixels: luma gain and offset on the y lanes, and the rotation,
// gains and balance on the chroma lanes chosen by `rotated`. The partner of
// a cb lane is the cr lane after it and the other way round.
inline void rotateBlock(int16_t *s, const ColourLanes &c)
{
    __m128i v[3], out[3], a32[6], b32[6], e32[6], f32[6];
    for (int r = 0; r < 3; r++)
        v[r] = load(s + 8 * r);
    for (int r = 0; r < 3; r++) {
        const __m128i after = r < 2 ? _mm_slli_si128(v[r + 1], 14) : _mm_setzero_si128();
        const __m128i before = r > 0 ? _mm_srli_si128(v[r - 1], 14) : _mm_setzero_si128();
        const __m128i next = _mm_or_si128(_mm_srli_si128(v[r], 2), after);
        const __m128i prev = _mm_or_si128(_mm_slli_si128(v[r], 2), before);
        const __m128i other = _mm_or_si128(_mm_and_si128(next, c.isCb[r]), _mm_and_si128(prev, c.isCr[r]));
        const __m128i a = mulShift8(v[r], c.hc);  // (self * hc) >> 8
        const __m128i b = mulShift8(other, c.hs); // (partner * hs) >> 8
        a32[2 * r] = widenLo(a);
        a32[2 * r + 1] = widenHi(a);
        b32[2 * r] = widenLo(b);
        b32[2 * r + 1] = widenHi(b);
    }
    for (int j = 0; j < 6; j++) {
        // cb lanes subtract the partner's term, cr lanes add it.
        const __m128i b = _mm_sub_epi32(_mm_xor_si128(b32[j], c.negCb32[j]), c.negCb32[j]);
        const __m128i w = _mm_srai_epi32(mul32(_mm_add_epi32(a32[j], b), c.kPair32[j]), 8); // u or v
        e32[j] = _mm_srai_epi32(mul32(w, c.kBPair), 8);
        f32[j] = _mm_sub_epi32(w, e32[j]);
    }
    __m128i r32[6];
    for (int j = 0; j < 6; j++) {
        const __m128i after = j < 5 ? _mm_slli_si128(f32[j + 1], 12) : _mm_setzero_si128();
        const __m128i before = j > 0 ? _mm_srli_si128(f32[j - 1], 12) : _mm_setzero_si128();
        const __m128i next = _mm_or_si128(_mm_srli_si128(f32[j], 4), after);
        const __m128i prev = _mm_or_si128(_mm_slli_si128(f32[j], 4), before);
        const __m128i partner = _mm_or_si128(_mm_and_si128(next, c.isCb32[j]), _mm_and_si128(prev, c.isCr32[j]));
        r32[j] = low16(_mm_add_epi32(partner, e32[j]));
    }
    for (int r = 0; r < 3; r++) {
        const __m128i gains = _mm_add_epi16(mulShift8(v[r], c.gain[r]), c.offset[r]);
        const __m128i rot = _mm_packs_epi32(r32[2 * r], r32[2 * r + 1]);
        out[r] = select(c.isY[r], gains, select(c.rotated[r], rot, v[r]));
    }
    for (int r = 0; r < 3; r++)
        store(s + 8 * r, out[r]);
}

// Floor of the mean of two signed lanes, without overflow.
inline __m128i floorMean(__m128i a, __m128i b)
{
    return _mm_add_epi16(_mm_and_si128(a, b), _mm_srai_epi16(_mm_xor_si128(a, b), 1));
}

} // namespace

void adjustColourRowSse2(YcPixel *row, int32_t width, const ColourFactors *f)
{
    const ColourLanes c(f);
    int16_t *s = &row->y;
    int32_t x = 0;
    if (f->mode == COLOUR_GAINS) {
        for (; x + 8 <= width; x += 8, s += 24)
            for (int r = 0; r < 3; r++)
                store(s + 8 * r, _mm_add_epi16(mulShift8(load(s + 8 * r), c.gain[r]), c.offset[r]));
    } else {
        for (; x + 8 <= width; x += 8, s += 24)
            rotateBlock(s, c);
    }
    // x is a multiple of 8, so the 4:1:1 phase carries over.
    adjustColourRowC(row + x, width - x, f);
}

void interpolate411RowSse2(YcPixel *row, int32_t width)
{
    // Blocks of two groups (pixels x .. x + 7, x a multiple of 4, x >= 4 so
    // that the look-back stays in the row) built lane by lane from shifted
    // loads: pixel x + 1 takes chroma 3 lanes back; pixels x + 2 and x + 3
    // average the anchors 6 and 9 lanes back with those 6 and 3 lanes ahead.
    // Only anchor lanes are read from the shifted loads, and anchors are never
    // written, so the in-place order does not matter. The block reads up to
    // pixel x + 9 and needs its second group to be a real one.
    alignas(16) static const int16_t copyMask[24] = {0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0,
                                                     0, 0, 0, 0, -1, -1, 0, 0, 0, 0, 0, 0};
    alignas(16) static const int16_t nearMask[24] = {0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0,
                                                     0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0};
    alignas(16) static const int16_t farMask[24] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1,
                                                    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1};
    int32_t x = 0;
    if (width >= 14) {
        interpolate411RowC(row, 5); // the first group, pixels 0 .. 4
        x = 4;
        for (; x + 10 <= width; x += 8) {
            int16_t *s = &row[x].y;
            __m128i out[3];
            for (int r = 0; r < 3; r++) {
                const int16_t *p = s + 8 * r;
                const __m128i copy = load(copyMask + 8 * r), nearM = load(nearMask + 8 * r),
                              farM = load(farMask + 8 * r);
                const __m128i left = select(nearM, load(p - 6), load(p - 9));
                const __m128i right = select(nearM, load(p + 6), load(p + 3));
                const __m128i mean = floorMean(left, right);
                out[r] = select(copy, load(p - 3), select(_mm_or_si128(nearM, farM), mean, load(p)));
            }
            for (int r = 0; r < 3; r++)
                store(s + 8 * r, out[r]);
        }
    }
    interpolate411RowC(row + x, width - x);
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
