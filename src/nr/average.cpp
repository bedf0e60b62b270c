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
        const int32_t q = sat16(q1 + q2);
        dst[i] = (int16_t)(uint16_t)((uint32_t)(uint16_t)q << (a->doubled ? 1 : 0));
    }
}

namespace {

bool prepareAverager(FrameAverager &a, const FrameJob *job, const AverageBands &bands, const FrameSettings &s,
                     const NrDsp &dsp, const FrameRowSink *sink)
{
    a.job = job;
    a.bands = bands;
    a.s = &s;
    a.dsp = &dsp;
    a.sink = sink;
    a.rows = frameBorders(job, s);
    if (job->stride <= 0 || a.rows.endRow > bands.alignedHeight)
        return false;
    const int16_t tyLow = threshold(4, s.lumaLow);
    const int16_t tcLow = threshold(4, s.chromaLow);
    const int16_t tyHigh = threshold(8, s.lumaHigh);
    const int16_t tcHigh = threshold(4, s.chromaHigh);
    a.args.lowThreshold[0] = tyLow;
    a.args.lowThreshold[1] = a.args.lowThreshold[2] = tcLow;
    a.args.highThreshold[0] = tyHigh;
    a.args.highThreshold[1] = a.args.highThreshold[2] = tcHigh;
    a.args.usePrevious = !s.noPrevious;
    // Columns from the stride on would land in the next row.
    a.pixels = bands.alignedWidth < job->stride ? bands.alignedWidth : job->stride;
    return true;
}

// Averages processed row j into job->frame, and with `doubled` doubles it
// across the stride.
void averageRow(const FrameAverager &f, int32_t j, bool doubled)
{
    const int32_t paddedWidth = f.bands.alignedWidth + 4;
    auto row = [paddedWidth](const YcPixel *plane, int32_t r) {
        return &bandRow(const_cast<YcPixel *>(plane), paddedWidth, r)->y;
    };
    AverageRowArgs a = f.args;
    const int32_t p = j ^ 1; // the other field's row of the same pair
    a.lowCur = row(f.bands.lowCur, j);
    a.lowPrev = row(f.bands.lowPrev, j);
    a.lowNext = row(f.bands.lowNext, j);
    a.lowCurPartner = row(f.bands.lowCur, p);
    a.lowPrevPartner = row(f.bands.lowPrev, p);
    a.lowNextPartner = row(f.bands.lowNext, p);
    a.highCur = row(f.bands.highCur, j);
    a.highPrev = row(f.bands.highPrev, j);
    a.highNext = row(f.bands.highNext, j);
    a.doubled = doubled;
    int16_t *out = &f.job->frame[(ptrdiff_t)j * f.job->stride].y;
    f.dsp->averageRow(out, &a, f.pixels);
    if (doubled) // the columns past the averaged ones
        f.dsp->doubleSamples(out + (ptrdiff_t)f.pixels * 3, (size_t)(f.job->stride - f.pixels) * 3);
}

void averageRows(const FrameAverager &f, bool doubled)
{
    for (int32_t j = f.rows.firstRow; j < f.rows.endRow; j++)
        averageRow(f, j, doubled);
}

} // namespace

bool prepareAverager(FrameAverager &a, const FrameJob *job, const BandCache &cache, const FrameSettings &s,
                     const NrDsp &dsp, const FrameRowSink *sink)
{
    const int32_t n = job->frameIndex;
    if (n < 0 || cache.alignedWidth != ((job->width + 3) & ~3) || cache.alignedHeight != ((job->height + 1) & ~1))
        return false;
    const int32_t cur = cacheSlotOf(n);
    const int32_t prev = n > 0 ? cacheSlotOf(n - 1) : cur;
    const int32_t next = n < job->frameCount - 1 ? cacheSlotOf(n + 1) : cur;
    const AverageBands bands = {cache.lowBand[cur],  cache.lowBand[prev],  cache.lowBand[next],
                                cache.highBand[cur], cache.highBand[prev], cache.highBand[next],
                                cache.alignedWidth,  cache.alignedHeight};
    for (const YcPixel *plane : {bands.lowCur, bands.lowPrev, bands.lowNext, bands.highCur, bands.highPrev,
                                 bands.highNext})
        if (!plane)
            return false;
    return prepareAverager(a, job, bands, s, dsp, sink);
}

void finishFrameRow(const FrameAverager &f, int32_t j, int32_t worker)
{
    if (j < 0 || j >= f.job->height)
        return;
    if (j >= f.rows.firstRow && j < f.rows.endRow)
        averageRow(f, j, true);
    finishBorderRow(f.job, *f.s, f.rows, *f.dsp, j);
    if (f.sink)
        f.sink->row(f.sink->context, j, worker);
}

void averageBands(const FrameJob *job, const AverageBands &bands, const FrameSettings &s, const NrDsp &dsp)
{
    FrameAverager f;
    if (prepareAverager(f, job, bands, s, dsp, nullptr))
        averageRows(f, false);
}

void selectiveAverage(const FrameJob *job, const BandCache &cache, const FrameSettings &s, const NrDsp &dsp)
{
    FrameAverager f;
    if (prepareAverager(f, job, cache, s, dsp, nullptr))
        averageRows(f, false);
}

bool selectiveAverageDoubled(const FrameJob *job, const BandCache &cache, const FrameSettings &s, const NrDsp &dsp)
{
    FrameAverager f;
    if (!prepareAverager(f, job, cache, s, dsp, nullptr))
        return false;
    averageRows(f, true);
    return true;
}

bool averageFrameRows(const FrameJob *job, const BandCache &cache, const FrameSettings &s, const NrDsp &dsp,
                      const TaskRunner &tasks, const FrameRowSink *sink)
{
    FrameAverager f;
    if (!prepareAverager(f, job, cache, s, dsp, sink))
        return false;
    const int32_t slices = sliceCount(job->height, tasks.workers, 8);
    auto finishSlice = [&](int32_t i, int32_t worker) {
        const Span span = slice(job->height, slices, i);
        for (int32_t j = span.begin; j < span.end; j++)
            finishFrameRow(f, j, worker);
    };
    if (job->height > 0)
        runTasks(tasks, slices, finishSlice);
    return true;
}

} // namespace velvane
