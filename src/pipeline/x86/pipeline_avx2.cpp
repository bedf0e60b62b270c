// AVX2 versions of the colour, halving and band split kernels.
#include <immintrin.h>
#include <string.h>

#include "pipeline/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
inline void store(void *p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }
inline __m256i mulShift8(__m256i v, __m256i k)
{
    return _mm256_or_si256(_mm256_srli_epi16(_mm256_mullo_epi16(v, k), 8),
                           _mm256_slli_epi16(_mm256_mulhi_epi16(v, k), 8));
}

// Chroma of eight pixels `step` pixels apart, gathered as (cb, cr) pairs
// into 32-bit lanes, rotated, scaled and balanced; the results come back as
// pairs holding the low 16 bits of each. Reads the original samples only.
inline __m256i rotatePairs(const int16_t *s, __m256i offsets, const ColourFactors *f)
{
    const __m256i pairs = _mm256_i32gather_epi32(reinterpret_cast<const int *>(s + 1), offsets, 1);
    const __m256i cb = _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16);
    const __m256i cr = _mm256_srai_epi32(pairs, 16);
    const __m256i hc = _mm256_set1_epi32(f->hc), hs = _mm256_set1_epi32(f->hs), kB = _mm256_set1_epi32(f->kB);
    auto shifted = [](__m256i a, __m256i b) { return _mm256_srai_epi32(_mm256_mullo_epi32(a, b), 8); };
    const __m256i u = shifted(_mm256_sub_epi32(shifted(cb, hc), shifted(cr, hs)), _mm256_set1_epi32(f->kCb));
    const __m256i v = shifted(_mm256_add_epi32(shifted(cr, hc), shifted(cb, hs)), _mm256_set1_epi32(f->kCr));
    const __m256i ub = shifted(u, kB), vb = shifted(v, kB);
    const __m256i cbOut = _mm256_add_epi32(_mm256_sub_epi32(v, vb), ub);
    const __m256i crOut = _mm256_add_epi32(_mm256_sub_epi32(u, ub), vb);
    return _mm256_or_si256(_mm256_and_si256(cbOut, _mm256_set1_epi32(0xFFFF)), _mm256_slli_epi32(crOut, 16));
}

// Writes eight (cb, cr) pairs `step` pixels apart.
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
    int16_t g[48], o[48], keep[48];
    for (int i = 0; i < 48; i++) {
        const int c = i % 3;
        g[i] = (int16_t)(c == 0 ? f->kY : c == 1 ? f->kCb : f->kCr);
        o[i] = (int16_t)(c == 0 ? f->offsetY : 0);
        keep[i] = (int16_t)(c == 0 || f->mode == COLOUR_GAINS ? 0 : -1); // chroma left to the rotation
    }
    __m256i gain[3], offset[3], original[3];
    for (int r = 0; r < 3; r++) {
        gain[r] = load(g + 16 * r);
        offset[r] = load(o + 16 * r);
        original[r] = load(keep + 16 * r);
    }
    // Sixteen pixels (three vectors) per step in the gains mode and with the
    // rotation of every pixel; 32 pixels (six vectors, eight 4:1:1 anchors)
    // with the rotation of every fourth. The rotation gathers the chroma
    // before the luma is stored and writes its pairs over the kept chroma.
    const int block = f->mode == COLOUR_ROTATE_411 ? 32 : 16;
    const int step = f->mode == COLOUR_ROTATE_411 ? 4 : 1;
    const __m256i offsets = _mm256_mullo_epi32(_mm256_setr_epi32(0, 6, 12, 18, 24, 30, 36, 42), _mm256_set1_epi32(step));
    int32_t x = 0;
    if (f->mode == COLOUR_GAINS) {
        for (int16_t *s = &row->y; x + 16 <= width; x += 16, s += 48) {
            store(s, _mm256_add_epi16(mulShift8(load(s), gain[0]), offset[0]));
            store(s + 16, _mm256_add_epi16(mulShift8(load(s + 16), gain[1]), offset[1]));
            store(s + 32, _mm256_add_epi16(mulShift8(load(s + 32), gain[2]), offset[2]));
        }
    }
    for (; f->mode != COLOUR_GAINS && x + block <= width; x += block) {
        int16_t *s = &row[x].y;
        __m256i pairs[2] = {_mm256_setzero_si256(), _mm256_setzero_si256()};
        pairs[0] = rotatePairs(s, offsets, f);
        if (f->mode == COLOUR_ROTATE)
            pairs[1] = rotatePairs(s + 24, offsets, f);
        for (int r = 0; r < block * 3 / 16; r++) {
            const __m256i v = load(s + 16 * r);
            const __m256i adjusted = _mm256_add_epi16(mulShift8(v, gain[r % 3]), offset[r % 3]);
            store(s + 16 * r, _mm256_blendv_epi8(adjusted, v, original[r % 3]));
        }
        if (f->mode == COLOUR_ROTATE) {
            storePairs(row + x, pairs[0], 1);
            storePairs(row + x + 8, pairs[1], 1);
        } else if (f->mode == COLOUR_ROTATE_411) {
            storePairs(row + x, pairs[0], 4);
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
