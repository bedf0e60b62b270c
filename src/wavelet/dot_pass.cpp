#include "wavelet/dot_pass.h"

#include <stddef.h>
#include <string.h>

namespace velvane {

bool dotFramesUsable(const DotFrames &f, const DotPassWork &work)
{
    constexpr int32_t n = kWaveLength;
    if ((!f.prev && !f.prevLuma) || !f.cur || (!f.next && !f.nextLuma))
        return false;
    if (f.width < 1 || f.width > n || f.height < 1 || f.height > n || f.stride < f.width || f.curStride < f.width)
        return false;
    return work.planeA && work.planeB && work.rowA && work.rowB && work.rowC && work.shrink;
}

// Difference signal and row analysis. The signal row goes through a work row
// instead of planeA: it is read only by the first transform. cur's luma keeps
// the neighbours' mean until the write-back, unless cur comes with its luma.
void dotAnalyseRows(const WaveletDsp &dsp, const DotPassWork &work, const DotFrames &f, int32_t begin, int32_t end,
                    const YcPixel *load, int32_t loadStride)
{
    constexpr int32_t n = kWaveLength, m = kWaveLength / 2;
    const int32_t w = f.width;
    for (int32_t i = begin; i < end; i++) {
        const ptrdiff_t r = (ptrdiff_t)i * f.stride;
        YcPixel *cur = f.cur + (ptrdiff_t)i * f.curStride;
        float *a = work.planeA + (ptrdiff_t)i * n, *b = work.planeB + (ptrdiff_t)i * n;
        if (load)
            memcpy(cur, load + (ptrdiff_t)i * loadStride, (size_t)w * sizeof(YcPixel));
        if (f.prevLuma && f.nextLuma && f.curLuma)
            dsp.dotDifferencePlanarRow(f.prevLuma + (ptrdiff_t)i * w, f.curLuma + (ptrdiff_t)i * w,
                                       f.nextLuma + (ptrdiff_t)i * w, w, work.rowB);
        else if (f.prevLuma && f.nextLuma)
            dsp.dotDifferenceLumasRow(f.prevLuma + (ptrdiff_t)i * w, cur, f.nextLuma + (ptrdiff_t)i * w, w,
                                      work.rowB);
        else if (f.prevLuma)
            dsp.dotDifferenceLumaRow(f.prevLuma + (ptrdiff_t)i * w, cur, f.next + r, w, work.rowB);
        else
            dsp.dotDifferenceRow(f.prev + r, cur, f.next + r, w, work.rowB);
        memset(work.rowB + w, 0, sizeof(float) * (size_t)(n - w));
        dsp.d4Forward(work.rowB, n, b);        // a | d of the row
        dsp.d4OddLowInverse(b, m, work.rowA);  // its low-pass part, one sample later
        dsp.d4Forward(work.rowA, n, a);        // a' | d' of that
    }
}

// Down the horizontal details of both halves: columns m .. n - 1 of planeA,
// then of planeB.
void dotShrinkColumns(const WaveletDsp &dsp, const DotPassWork &work, int32_t height, int32_t begin, int32_t end)
{
    constexpr int32_t m = kWaveLength / 2;
    if (begin < m)
        dsp.shrinkColumns(work.planeA, m + begin, (end < m ? end : m) - begin, height, work.shrink);
    if (end > m) {
        const int32_t from = begin > m ? begin : m;
        dsp.shrinkColumns(work.planeB, from, end - from, height, work.shrink);
    }
}

namespace {

// Row synthesis: the processed signal row into work.rowB.
void synthesise(const WaveletDsp &dsp, const DotPassWork &work, int32_t i)
{
    constexpr int32_t n = kWaveLength, m = kWaveLength / 2;
    const float *a = work.planeA + (ptrdiff_t)i * n, *b = work.planeB + (ptrdiff_t)i * n;
    dsp.d4Inverse(a, a + m, m, work.rowA);
    dsp.d4OddLowForward(work.rowA, n, work.rowC);       // the new approximations
    dsp.d4Inverse(work.rowC, b + m, m, work.rowB);      // the processed signal row
}

} // namespace

void dotSynthesiseRowHalved(const WaveletDsp &dsp, const DotPassWork &work, const DotFrames &f, int32_t i,
                            const YcPixel *from, YcPixel *into)
{
    synthesise(dsp, work, i);
    dsp.dotWriteBackHalvedRow(work.rowB, f.prevLuma + (ptrdiff_t)i * f.width, f.nextLuma + (ptrdiff_t)i * f.width,
                              from, f.width, into);
}

// Row synthesis and write-back.
void dotSynthesiseRow(const WaveletDsp &dsp, const DotPassWork &work, const DotFrames &f, int32_t i)
{
    synthesise(dsp, work, i);
    YcPixel *cur = f.cur + (ptrdiff_t)i * f.curStride;
    if (f.prevLuma && f.nextLuma && f.curLuma)
        dsp.dotWriteBackMeanRow(work.rowB, f.prevLuma + (ptrdiff_t)i * f.width, f.nextLuma + (ptrdiff_t)i * f.width,
                                f.width, cur);
    else
        dsp.dotWriteBackRow(work.rowB, f.width, cur);
}

bool dotPassStrided(const WaveletDsp &dsp, const DotPassWork &work, const FrameJob *job, const YcPixel *prev,
                    const int16_t *prevLuma, YcPixel *cur, int32_t curStride, const YcPixel *next,
                    DotRowDoneFn rowDone, void *context)
{
    if (!job)
        return false;
    const DotFrames f = {prev, prevLuma, cur, next, job->width, job->height, job->stride, curStride};
    if (!dotFramesUsable(f, work))
        return false;
    dotAnalyseRows(dsp, work, f, 0, f.height);
    dotShrinkColumns(dsp, work, f.height, 0, kDotShrinkColumns);
    for (int32_t i = 0; i < f.height; i++) {
        dotSynthesiseRow(dsp, work, f, i);
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
