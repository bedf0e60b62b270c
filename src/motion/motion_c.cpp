// Scalar references of the motion kernels.
#include <math.h>
#include <stdlib.h>

#include <algorithm>

#include "motion/dsp.h"

namespace velvane {

uint32_t sad16C(const uint8_t *a, ptrdiff_t aStride, const uint8_t *b, ptrdiff_t bStride, int32_t rows)
{
    uint32_t sum = 0;
    for (int32_t r = 0; r < rows; r++, a += aStride, b += bStride)
        for (int i = 0; i < 16; i++)
            sum += (uint32_t)abs(a[i] - b[i]);
    return sum;
}

void sad16x8ManyC(const uint8_t *cur, ptrdiff_t curStride, const uint8_t *const *refs, ptrdiff_t refStride,
                  int32_t count, uint32_t *sads)
{
    for (int32_t k = 0; k < count; k++)
        sads[k] = sad16C(cur, curStride, refs[k], refStride, 8);
}

void compensateCellC(const CompensateCellArgs *a)
{
    for (int32_t r = 0; r < a->rows; r++) {
        int32_t acc[3][16] = {}, wsum[16] = {};
        const int16_t *cur[3];
        for (int c = 0; c < 3; c++)
            cur[c] = a->cur[c] + r * a->curStride;
        for (int32_t k = 0; k < a->count; k++) {
            const CellPass &pass = a->passes[k];
            int16_t left, right;
            windowFactors(pass, r, &left, &right);
            const ptrdiff_t dx = pass.fracX ? 1 : 0, dy = pass.fracY ? a->refStride : 0;
            const int shift = (pass.fracX ? 1 : 0) + (pass.fracY ? 1 : 0);
            const int32_t round = shift ? 1 << (shift - 1) : 0;
            for (int i = 0; i < 16; i++) {
                int32_t p[3];
                for (int c = 0; c < 3; c++) {
                    const int16_t *s = pass.ref[c] + r * a->refStride + i;
                    int32_t sum = s[0];
                    if (pass.fracX)
                        sum += s[dx];
                    if (pass.fracY)
                        sum += s[dy] + (pass.fracX ? s[dy + dx] : 0);
                    p[c] = (sum + round) >> shift;
                }
                const int32_t window = kWindowLeft[i] * left + kWindowRight[i] * right;
                const int32_t d = abs(p[0] - cur[0][i]);
                const int32_t e = std::max(abs(p[1] - cur[1][i]), abs(p[2] - cur[2][i]));
                const int32_t w = d <= a->gate && e <= a->chromaGate                 ? window
                                  : d <= 2 * a->gate && e <= 2 * a->chromaGate ? window >> 1
                                                                                   : 0;
                for (int c = 0; c < 3; c++)
                    acc[c][i] += w * p[c];
                wsum[i] += w;
            }
        }
        for (int c = 0; c < 3; c++)
            for (int i = 0; i < 16; i++) {
                const float num = (float)(cur[c][i] * a->curWeight + acc[c][i]);
                const float reciprocal = 1.0f / (float)(a->curWeight + wsum[i]);
                a->dst[c][r * a->dstStride + i] = (int16_t)lrintf(num * reciprocal);
            }
    }
}

void halfPixelRowC(uint8_t *h, uint8_t *v, uint8_t *d, const uint8_t *a, const uint8_t *b, int32_t count)
{
    for (int32_t x = 0; x < count; x++) {
        h[x] = (uint8_t)((a[x] + a[x + 1] + 1) >> 1);
        v[x] = (uint8_t)((a[x] + b[x] + 1) >> 1);
        d[x] = (uint8_t)((a[x] + a[x + 1] + b[x] + b[x + 1] + 2) >> 2);
    }
}

void splitPixelsRowC(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, const YcPixel *src, int32_t count)
{
    for (int32_t x = 0; x < count; x++) {
        y[x] = (int16_t)std::min<int32_t>(std::max<int32_t>(src[x].y, kMotionSampleMin), kMotionSampleMax);
        cb[x] = (int16_t)std::min<int32_t>(std::max<int32_t>(src[x].cb, kMotionSampleMin), kMotionSampleMax);
        cr[x] = (int16_t)std::min<int32_t>(std::max<int32_t>(src[x].cr, kMotionSampleMin), kMotionSampleMax);
        search[x] = (uint8_t)std::min<int32_t>(std::max<int32_t>((y[x] + 8) >> 4, 0), 255);
    }
}

void halveRowC(uint8_t *dst, const uint8_t *a, const uint8_t *b, int32_t count)
{
    for (int32_t x = 0; x < count; x++)
        dst[x] = (uint8_t)((a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2);
}

void mergePixelsRowC(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int32_t count)
{
    for (int32_t x = 0; x < count; x++)
        dst[x] = YcPixel{y[x], cb[x], cr[x]};
}

} // namespace velvane
