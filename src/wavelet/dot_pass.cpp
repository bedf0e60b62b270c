#include "wavelet/dot_pass.h"

#include <stddef.h>
#include <string.h>


namespace velvane {

bool dotPassStrided(const WaveletDsp &dsp, const DotPassWork &work, const FrameJob *job, const YcPixel *prev, const int16_t *prevLuma,
                    YcPixel *cur, int32_t curStride, const YcPixel *next, DotRowDoneFn rowDone, void *context)
{
    constexpr int32_t n = kWaveLength, m = kWaveLength / 2;
    if (!job || (!prev && !prevLuma) || !cur || !next)
        return false;
    const int32_t w = job->width, h = job->height, stride = job->stride;
    if (w < 1 || w > n || h < 1 || h > n || stride < w || curStride < w)
        return false;
    float *planeA = work.planeA, *planeB = work.planeB;
    float *rowA = work.rowA, *rowB = work.rowB, *rowC = work.rowC;
    if (!planeA || !planeB || !rowA || !rowB || !rowC || !work.shrink)
        return false;

    // Difference signal and row analysis. The signal row goes through a work
    // row instead of planeA: it is read only by the first transform. cur's
    // luma keeps the neighbours' mean until the write-back.
    for (int32_t i = 0; i < h; i++) {
        const ptrdiff_t r = (ptrdiff_t)i * stride;
        float *a = planeA + (ptrdiff_t)i * n, *b = planeB + (ptrdiff_t)i * n;
        if (prevLuma)
            dsp.dotDifferenceLumaRow(prevLuma + (ptrdiff_t)i * w, cur + (ptrdiff_t)i * curStride, next + r, w, rowB);
        else
            dsp.dotDifferenceRow(prev + r, cur + (ptrdiff_t)i * curStride, next + r, w, rowB);
        memset(rowB + w, 0, sizeof(float) * (size_t)(n - w));
        dsp.d4Forward(rowB, n, b);         // a | d of the row
        dsp.d4OddLowInverse(b, m, rowA);   // its low-pass part, one sample later
        dsp.d4Forward(rowA, n, a);         // a' | d' of that
    }

    // Down the horizontal details of both halves.
    dsp.shrinkColumns(planeA, m, m, h, work.shrink);
    dsp.shrinkColumns(planeB, m, m, h, work.shrink);

    // Row synthesis and write-back.
    for (int32_t i = 0; i < h; i++) {
        const float *a = planeA + (ptrdiff_t)i * n, *b = planeB + (ptrdiff_t)i * n;
        dsp.d4Inverse(a, a + m, m, rowA);
        dsp.d4OddLowForward(rowA, n, rowC);  // the new approximations
        dsp.d4Inverse(rowC, b + m, m, rowB); // the processed signal row
        dsp.dotWriteBackRow(rowB, w, cur + (ptrdiff_t)i * curStride);
        if (rowDone)
            rowDone(context, i);
    }
    return true;
}

void dotPass(const WaveletDsp &dsp, const DotPassWork &work, const FrameJob *job, const YcPixel *prev,
             YcPixel *cur, const YcPixel *next)
{
    if (job)
        dotPassStrided(dsp, work, job, prev, nullptr, cur, job->stride, next);
}

} // namespace velvane
