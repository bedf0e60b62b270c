// AVX-512 (F, BW, VL, DQ) version of the band split's low-pass.
#include "common/x86_avx512.h"
#include "pipeline/x86/dsp_x86.h"

namespace velvane {
namespace {

inline __m512i load(const int16_t *p) { return _mm512_loadu_si512(p); }

} // namespace

void lowPassRowAvx512(int16_t *low, const int16_t *padded, ptrdiff_t rowPitch, int32_t count)
{
    if (count < 32) {
        lowPassRowAvx2(low, padded, rowPitch, count);
        return;
    }
    const int16_t *above = padded - 2 * rowPitch, *below = padded + 2 * rowPitch;
    for (int32_t i = 0;; i += 32) {
        if (i + 32 > count)
            i = count - 32;
        // Sixteen terms added with saturation in the order of the scalar version.
        __m512i s = load(above + i - 3);
        const __m512i a0 = load(above + i);
        s = _mm512_adds_epi16(s, a0);
        s = _mm512_adds_epi16(s, a0);
        s = _mm512_adds_epi16(s, load(above + i + 3));
        const __m512i cl = load(padded + i - 3), c0 = load(padded + i), cr = load(padded + i + 3);
        s = _mm512_adds_epi16(s, cl);
        s = _mm512_adds_epi16(s, cl);
        s = _mm512_adds_epi16(s, c0);
        s = _mm512_adds_epi16(s, c0);
        s = _mm512_adds_epi16(s, c0);
        s = _mm512_adds_epi16(s, c0);
        s = _mm512_adds_epi16(s, cr);
        s = _mm512_adds_epi16(s, cr);
        const __m512i b0 = load(below + i);
        s = _mm512_adds_epi16(s, load(below + i - 3));
        s = _mm512_adds_epi16(s, b0);
        s = _mm512_adds_epi16(s, b0);
        s = _mm512_adds_epi16(s, load(below + i + 3));
        _mm512_storeu_si512(low + i, _mm512_srai_epi16(s, 4));
        if (i + 32 >= count)
            break;
    }
}

} // namespace velvane
