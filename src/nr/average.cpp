#include "nr/average.h"

#include <math.h>

#include <initializer_list>

#include "nr/borders.h"
#include "nr/dsp.h"
#include "nr/output.h"

namespace velvane {
namespace {

inline int32_t sat16(int32_t v) { return v < -32768 ? -32768 : v > 32767 ? 32767 : v; }

// Exact single-precision division, rounded to nearest with ties to even (the
// default rounding mode), saturated: the same on every processor.
inline int32_t quotient(int32_t sum, int32_t weight)
{
    const float q = (float)sum / (float)weight;
    return sat16((int32_t)lrintf(q));
}

// One component: twice the centre plus every neighbour strictly within T.
inline int32_t averageSample(int32_t ctr, int32_t t, const int16_t *const *neighbours, int count, int32_t i)
{
    const int32_t lo = sat16(ctr - t), hi = sat16(ctr + t);
    int32_t sum = sat16(2 * ctr), weight = 2;
    for (int k = 0; k < count; k++) {
        const int32_t v = neighbours[k][i];
        if (lo < v && v < hi) {
            sum = sat16(sum + v);
            weight++;
        }
    }
    return quotient(sum, weight);
}

inline int16_t threshold(int32_t factor, int32_t track)
{
    if (track <= 0)
        return 0;
    return (int16_t)(track > 32767 / factor ? 32767 : factor * track);
}

} // namespace

void averageRowC(int16_t *dst, const AverageRowArgs *a, int32_t pixels)
{
    const int16_t *lowList[5], *highList[2];
    int lowCount = 0, highCount = 0;
    if (a->usePrevious)
        lowList[lowCount++] = a->lowPrev;
    lowList[lowCount++] = a->lowNext;
    lowList[lowCount++] = a->lowCurPartner;
    if (a->usePrevious)
        lowList[lowCount++] = a->lowPrevPartner;
    lowList[lowCount++] = a->lowNextPartner;
    if (a->usePrevious)
        highList[highCount++] = a->highPrev;
    highList[highCount++] = a->highNext;

    for (int32_t i = 0; i < 3 * pixels; i++) {
        const int k = i % 3;
        // Pass 1 stores q1; pass 2 adds q2 to it with saturation.
        const int32_t q1 = averageSample(a->lowCur[i], a->lowThreshold[k], lowList, lowCount, i);
        const int32_t q2 = averageSample(a->highCur[i], a->highThreshold[k], highList, highCount, i);
        dst[i] = (int16_t)sat16(q1 + q2);
    }
}

namespace {

enum class RowEnd {
    Averaged, // rows [firstRow, endRow) averaged
    Doubled,  // and doubled across the stride
    Finished, // and every row of the frame finished as finishOutputBorders does, then handed on
};

// The averaging of averageBands, each row taken on as `end` says while it is
// in the cache. Returns whether it averaged the rows.
bool averageRows(const FrameJob *job, const AverageBands &bands, const FrameSettings &s, const NrDsp &dsp,
                 RowEnd end, const TaskRunner &tasks, const FrameRowSink *sink = nullptr)
{
    const FrameBorders rows = frameBorders(job, s);
    if (job->stride <= 0 || rows.endRow > bands.alignedHeight)
        return false;
    AverageRowArgs args;
    const int16_t tyLow = threshold(4, s.lumaLow);
    const int16_t tcLow = threshold(4, s.chromaLow);
    const int16_t tyHigh = threshold(8, s.lumaHigh);
    const int16_t tcHigh = threshold(4, s.chromaHigh);
    args.lowThreshold[0] = tyLow;
    args.lowThreshold[1] = args.lowThreshold[2] = tcLow;
    args.highThreshold[0] = tyHigh;
    args.highThreshold[1] = args.highThreshold[2] = tcHigh;
    args.usePrevious = !s.noPrevious;

    // Columns from the stride on would land in the next row.
    const int32_t pixels = bands.alignedWidth < job->stride ? bands.alignedWidth : job->stride;
    const int32_t paddedWidth = bands.alignedWidth + 4;
    auto row = [paddedWidth](const YcPixel *plane, int32_t j) {
        return &bandRow(const_cast<YcPixel *>(plane), paddedWidth, j)->y;
    };
    // Finishing takes in every row of the frame, the border rows too.
    const int32_t first = end == RowEnd::Finished ? 0 : rows.firstRow;
    const int32_t count = (end == RowEnd::Finished ? job->height : rows.endRow) - first;
    const int32_t slices = sliceCount(count, tasks.workers, 8);
    auto averageSlice = [&](int32_t i, int32_t worker) {
        const Span span = slice(count, slices, i);
        AverageRowArgs a = args;
        for (int32_t j = first + span.begin; j < first + span.end; j++) {
            YcPixel *frameRow = job->frame + (ptrdiff_t)j * job->stride;
            if (j < rows.firstRow || j >= rows.endRow) {
                finishBorderRow(job, s, rows, dsp, j);
            } else {
                const int32_t p = j ^ 1; // the other field's row of the same pair
                a.lowCur = row(bands.lowCur, j);
                a.lowPrev = row(bands.lowPrev, j);
                a.lowNext = row(bands.lowNext, j);
                a.lowCurPartner = row(bands.lowCur, p);
                a.lowPrevPartner = row(bands.lowPrev, p);
                a.lowNextPartner = row(bands.lowNext, p);
                a.highCur = row(bands.highCur, j);
                a.highPrev = row(bands.highPrev, j);
                a.highNext = row(bands.highNext, j);
                dsp.averageRow(&frameRow->y, &a, pixels);
                if (end != RowEnd::Averaged)
                    dsp.doubleSamples(&frameRow->y, (size_t)job->stride * 3);
                if (end == RowEnd::Finished)
                    finishBorderRow(job, s, rows, dsp, j);
            }
            if (sink)
                sink->row(sink->context, j, worker);
        }
    };
    if (count > 0)
        runTasks(tasks, slices, averageSlice);
    return true;
}

bool averageSlots(const FrameJob *job, const BandCache &bandCache, const FrameSettings &s, const NrDsp &dsp,
                  RowEnd end, const TaskRunner &tasks, const FrameRowSink *sink = nullptr)
{
    const int32_t n = job->frameIndex;
    if (n < 0 || bandCache.alignedWidth != ((job->width + 3) & ~3) ||
        bandCache.alignedHeight != ((job->height + 1) & ~1))
        return false;
    const int32_t cur = cacheSlotOf(n);
    const int32_t prev = n > 0 ? cacheSlotOf(n - 1) : cur;
    const int32_t next = n < job->frameCount - 1 ? cacheSlotOf(n + 1) : cur;
    AverageBands bands = {bandCache.lowBand[cur],  bandCache.lowBand[prev],  bandCache.lowBand[next],
                          bandCache.highBand[cur], bandCache.highBand[prev], bandCache.highBand[next],
                          bandCache.alignedWidth,  bandCache.alignedHeight};
    for (const YcPixel *plane : {bands.lowCur, bands.lowPrev, bands.lowNext, bands.highCur, bands.highPrev,
                                 bands.highNext})
        if (!plane)
            return false;
    return averageRows(job, bands, s, dsp, end, tasks, sink);
}

} // namespace

void averageBands(const FrameJob *job, const AverageBands &bands, const FrameSettings &s, const NrDsp &dsp)
{
    averageRows(job, bands, s, dsp, RowEnd::Averaged, serialTasks());
}

void selectiveAverage(const FrameJob *job, const BandCache &cache, const FrameSettings &s, const NrDsp &dsp)
{
    averageSlots(job, cache, s, dsp, RowEnd::Averaged, serialTasks());
}

bool selectiveAverageDoubled(const FrameJob *job, const BandCache &cache, const FrameSettings &s, const NrDsp &dsp,
                             const TaskRunner &tasks)
{
    return averageSlots(job, cache, s, dsp, RowEnd::Doubled, tasks);
}

bool averageFrameRows(const FrameJob *job, const BandCache &cache, const FrameSettings &s, const NrDsp &dsp,
                      const TaskRunner &tasks, const FrameRowSink *sink)
{
    return averageSlots(job, cache, s, dsp, RowEnd::Finished, tasks, sink);
}

} // namespace velvane
