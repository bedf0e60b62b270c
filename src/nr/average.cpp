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

// The moving thresholds are chosen for segments of a row this long; the last
// segment takes in a shorter rest.
constexpr int32_t kMotionSegment = 16;
constexpr int32_t kMotionWindow = 6;

// Columns begin .. begin + count - 1 of a row, averaged with `a`.
void averageColumns(const NrDsp &dsp, int16_t *out, const AverageRowArgs &a, int32_t begin, int32_t count)
{
    AverageRowArgs at = a;
    const ptrdiff_t o = (ptrdiff_t)begin * 3;
    for (const int16_t **q : {&at.lowCur, &at.lowPrev, &at.lowNext, &at.lowCurPartner, &at.lowPrevPartner,
                              &at.lowNextPartner, &at.highCur, &at.highPrev, &at.highNext})
        *q += o;
    dsp.averageRow(out + o, &at, count);
}

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
    a.movingLow = threshold(4, s.moving.lumaLow);
    a.movingHigh = threshold(8, s.moving.lumaHigh);
    // Columns from the stride on would land in the next row.
    a.pixels = bands.alignedWidth < job->stride ? bands.alignedWidth : job->stride;
    return true;
}

// Whether pixels x .. x + count - 1 of a row moved between the frame of
// `cur` and the next one (low-band rows, at column 0). The luma changes are
// summed in windows of six pixels weighted 1 2 3 3 2 1, five pixels apart:
// that sum passes what motion changes and keeps less than a quarter of a
// pattern at the subcarrier's frequency at 13.5 MHz, NTSC's or PAL's, so the
// dots that change from frame to frame do not count as motion. Their
// magnitudes, per weighted sample, are compared with bound.
bool rowMoved(const int16_t *cur, const int16_t *next, int32_t x, int32_t count, int32_t bound)
{
    const int32_t windows = count < kMotionWindow ? 0 : (count - kMotionWindow) / (kMotionWindow - 1) + 1;
    const int64_t limit = (int64_t)bound * 12 * windows; // 12: the weights' sum
    int64_t moved = 0;
    for (int32_t w = 0; w < windows; w++) {
        const ptrdiff_t i = 3 * ((ptrdiff_t)x + (kMotionWindow - 1) * w);
        const int16_t *c = cur + i, *n = next + i;
        const int32_t change = (c[0] - n[0]) + (c[15] - n[15]) + 2 * ((c[3] - n[3]) + (c[12] - n[12])) +
                               3 * ((c[6] - n[6]) + (c[9] - n[9])); // pixels 0 .. 5 of the window
        moved += change < 0 ? -change : change;
        if (moved > limit) // it only grows
            return true;
    }
    return false;
}

// Whether the high band of a row carries, at pixels x, x + 2, .. < x + count,
// a pattern that inverts from frame to frame as NTSC's dots do: one that
// correlates with the same pixels of the previous frame and of the next one
// by -1/4 or less. Averaging in time cancels such a pattern, where it blurs a
// picture that moves; grain does not correlate, a still picture correlates
// by +1. (A test of the two neighbours against each other, which PAL's dots
// fail, also took the texture of pictures panned half its period a frame
// for dots.) `h` holds the row of the current, previous and next frames: the
// row alone, as where the output is averaged within the next frame's
// rebuild, the other row of the pair of its high band may not be there yet.
bool rowInverts(const int16_t *const h[3], int32_t x, int32_t count)
{
    // Every other pixel tells as well.
    int64_t cc = 0, pp = 0, nn = 0, cp = 0, cn = 0;
    for (int32_t i = 3 * x; i < 3 * (x + count); i += 6) {
        const int64_t c = h[0][i], p = h[1][i], n = h[2][i];
        cc += c * c;
        pp += p * p;
        nn += n * n;
        cp += c * p;
        cn += c * n;
    }
    // The squares of sums of products need more than 64 bits: in doubles,
    // which round the same on every processor.
    const double p2 = (double)cp * (double)cp, n2 = (double)cn * (double)cn, c2 = (double)cc;
    return cp < 0 && cn < 0 && 16.0 * p2 >= c2 * (double)pp && 16.0 * n2 >= c2 * (double)nn;
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
    if (f.s->moving.bound <= 0) {
        f.dsp->averageRow(out, &a, f.pixels);
    } else {
        // Segments of the row that moved on to the next frame take the
        // moving thresholds; runs of segments alike go to the kernel at once.
        AverageRowArgs still = a, moving = a;
        moving.lowThreshold[0] = f.movingLow;
        moving.highThreshold[0] = f.movingHigh;
        const int16_t *high[3] = {a.highCur, a.highPrev, a.highNext};
        auto segmentMoved = [&](int32_t x, int32_t count) {
            return rowMoved(a.lowCur, a.lowNext, x, count, f.s->moving.bound) && !rowInverts(high, x, count);
        };
        int32_t begin = 0;
        bool runMoved = false;
        for (int32_t x = 0; x < f.pixels; x += kMotionSegment) {
            const int32_t count = f.pixels - x < 2 * kMotionSegment ? f.pixels - x : kMotionSegment;
            const bool moved = segmentMoved(x, count);
            if (x > begin && moved != runMoved) {
                averageColumns(*f.dsp, out, runMoved ? moving : still, begin, x - begin);
                begin = x;
            }
            runMoved = moved;
            if (count > kMotionSegment)
                break;
        }
        averageColumns(*f.dsp, out, runMoved ? moving : still, begin, f.pixels - begin);
    }
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
