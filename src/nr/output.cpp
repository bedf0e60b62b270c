#include "nr/output.h"

#include "nr/borders.h"
#include "nr/dsp.h"

namespace velvane {

void doubleSamplesC(int16_t *samples, size_t count)
{
    for (size_t i = 0; i < count; i++)
        samples[i] = (int16_t)(uint16_t)((uint32_t)(uint16_t)samples[i] << 1);
}

void fillPixelsC(YcPixel *row, size_t count, YcPixel black)
{
    for (size_t i = 0; i < count; i++)
        row[i] = black;
}

namespace {

void finish(const FrameJob *job, const FrameSettings &s, const NrDsp &dsp, bool doubleRows)
{
    if (job->stride <= 0 || job->height <= 0)
        return;
    const FrameBorders b = frameBorders(job, s);
    const YcPixel black = {(int16_t)(s.ccirBlack ? 256 : 0), 0, 0};
    const size_t stride = (size_t)job->stride;
    const int32_t w = job->width < job->stride ? job->width : job->stride;
    YcPixel *const frame = job->frame;

    for (int32_t r = 0; r < b.top; r++)
        dsp.fillPixels(frame + r * stride, stride, black);
    if (doubleRows)
        for (int32_t r = b.firstRow; r < b.endRow; r++)
            dsp.doubleSamples(&frame[r * stride].y, stride * 3);
    if (b.left > 0 || b.right > 0) {
        for (int32_t r = b.firstRow; r < b.endRow; r++) {
            if (b.left > 0)
                dsp.fillPixels(frame + r * stride, (size_t)b.left, black);
            if (b.right > 0)
                dsp.fillPixels(frame + r * stride + (w - b.right), (size_t)b.right, black);
        }
    }
    for (int32_t r = job->height - b.bottom; r < job->height; r++)
        dsp.fillPixels(frame + r * stride, stride, black);
}

} // namespace

void finishBorderRow(const FrameJob *job, const FrameSettings &s, const FrameBorders &b, const NrDsp &dsp, int32_t r)
{
    const YcPixel black = {(int16_t)(s.ccirBlack ? 256 : 0), 0, 0};
    const size_t stride = (size_t)job->stride;
    YcPixel *row = job->frame + r * stride;
    if (r < b.firstRow || r >= b.endRow) {
        dsp.fillPixels(row, stride, black);
        return;
    }
    const int32_t w = job->width < job->stride ? job->width : job->stride;
    if (b.left > 0)
        dsp.fillPixels(row, (size_t)b.left, black);
    if (b.right > 0)
        dsp.fillPixels(row + (w - b.right), (size_t)b.right, black);
}

void finishOutput(const FrameJob *job, const FrameSettings &s, const NrDsp &dsp)
{
    finish(job, s, dsp, true);
}

void finishOutputBorders(const FrameJob *job, const FrameSettings &s, const NrDsp &dsp)
{
    finish(job, s, dsp, false);
}

} // namespace velvane
