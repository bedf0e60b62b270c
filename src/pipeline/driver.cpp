// The per-frame entry: gate, cache geometry, rebuild of the frames n - 1, n,
// n + 1 that their slots do not hold, then averaging and output.
#include <stdlib.h>
#include <string.h>

#include "pipeline/driver.h"

#include "nr/average.h"
#include "nr/output.h"
#include "pipeline/band_cache.h"
#include "pipeline/band_split.h"
#include "pipeline/colour.h"
#include "wavelet/dot_pass.h"

namespace velvane {
namespace {

// The padded copy reads alignedWidth pixels from every row, up to three past
// the width; on the last row of a frame whose stride is below alignedWidth
// those lie past stride x height. The temporaries carry that many spare
// pixels, zeroed, so the read stays in memory the filter owns.
constexpr size_t kTemporarySlack = 4;

// Frame temporaries, allocated when first used and freed at the end of the
// call. The usual path needs only `previousLuma` (with the dot pass on): the
// current frame is prepared in its slot's highBand plane, and of the previous
// frame the dot pass reads the luma alone.
struct Temporaries {
    YcPixel *previous = nullptr;
    YcPixel *current = nullptr;
    YcPixel *next = nullptr;
    int16_t *previousLuma = nullptr; // width x height
    size_t samples = 0;              // stride x height
    size_t lumaSamples = 0;
    const FrameHeap &frameHeap;

    Temporaries(size_t frameSamples, size_t lumaCount, const FrameHeap &heap)
        : samples(frameSamples), lumaSamples(lumaCount), frameHeap(heap)
    {
    }
    ~Temporaries()
    {
        frameHeap.release(previous);
        frameHeap.release(current);
        frameHeap.release(next);
        frameHeap.release(previousLuma);
    }
    // Null when the allocation fails.
    int16_t *getLuma()
    {
        if (!previousLuma)
            previousLuma = static_cast<int16_t *>(frameHeap.allocate(lumaSamples * sizeof(int16_t)));
        return previousLuma;
    }
    Temporaries(const Temporaries &) = delete;
    Temporaries &operator=(const Temporaries &) = delete;

    YcPixel *get(YcPixel *&p)
    {
        if (!p) {
            p = static_cast<YcPixel *>(frameHeap.allocate((samples + kTemporarySlack) * sizeof(YcPixel)));
            if (p)
                memset(p + samples, 0, kTemporarySlack * sizeof(YcPixel));
        }
        return p;
    }
};

// What one call works with.
struct Call {
    FilterInstance &f;
    const FrameJob *job;
    const FrameSettings &s;
    const FrameSource &source;
    const TaskRunner &tasks;
    const FrameAverager *averaging; // the output frame, averaged within the rebuild; or null
};

// Requests frame m from the source. Null when it has nothing for it. The
// source keeps the frame valid until the next request.
const YcPixel *request(const Call &c, int32_t m) { return c.source.frame(c.source.context, m); }

// Requests frame m and copies it into `into` at once.
bool fetch(const Call &c, int32_t m, YcPixel *into, size_t samples)
{
    const YcPixel *src = request(c, m);
    if (!src)
        return false;
    memcpy(into, src, samples * sizeof(YcPixel));
    return true;
}

// Loads source frame m into the current temporary, and with the dot pass on
// removes its dot interference using its neighbours in time. Frame numbers
// outside the clip are never requested: at either end the one neighbour that
// exists stands in for both, and a one-frame clip is its own neighbour.
// This path serves frames whose stride is below the aligned width, where the
// padded copy reads past a row into the next one. Filtered when t.current
// holds the frame; OutOfMemory or MissingFrames when it could not.
FrameOutcome loadSource(const Call &c, int32_t m, Temporaries &t)
{
    const FrameJob *job = c.job;
    if (!t.get(t.current))
        return FrameOutcome::OutOfMemory;
    if (!c.source.reserve(c.source.context))
        return FrameOutcome::MissingFrames;
    if (!c.s.dot)
        return fetch(c, m, t.current, t.samples) ? FrameOutcome::Filtered : FrameOutcome::MissingFrames;

    if (!t.get(t.previous) || !t.get(t.next))
        return FrameOutcome::OutOfMemory;
    const bool hasPrevious = m - 1 >= 0;
    const bool hasNext = m + 1 < job->frameCount;
    if (hasPrevious && !fetch(c, m - 1, t.previous, t.samples))
        return FrameOutcome::MissingFrames;
    if (!fetch(c, m, t.current, t.samples))
        return FrameOutcome::MissingFrames;
    // Frame m + 1 is the last request of this rebuild and the dot pass only
    // reads it, so it is used where the source holds it, without a copy.
    const YcPixel *next = t.next;
    if (hasNext && !(next = request(c, m + 1)))
        return FrameOutcome::MissingFrames;

    const YcPixel *previousRole = t.previous;
    const YcPixel *nextRole = next;
    if (!hasPrevious && !hasNext) {
        memcpy(t.next, t.current, t.samples * sizeof(YcPixel));
        previousRole = nextRole = t.next;
    } else if (!hasPrevious) {
        previousRole = next;
    } else if (!hasNext) {
        nextRole = t.previous;
    }
    dotPass(c.f.kernels.wavelet, c.f.scratch.work, job, previousRole, t.current, nextRole);
    return FrameOutcome::Filtered;
}

void prepareSlot(const Call &c, YcPixel *frame, int32_t slot)
{
    const FrameJob *job = c.job;
    const PipelineDsp &dsp = c.f.kernels.pipeline;
    BandCache &cache = c.f.cache;
    adjustColour(frame, job, c.s, dsp);
    if (c.s.chroma411)
        interpolateChroma411(frame, job, dsp);
    halveSamples(frame, job->stride, job->height, dsp);
    fillPaddedCopy(frame, job->stride, job->height, cache.highBand[slot], cache.alignedWidth, cache.alignedHeight);
    splitBands(cache.lowBand[slot], cache.highBand[slot], cache.alignedWidth, cache.alignedHeight, dsp);
}

// The same rebuild with the current frame held in the frame cells of its
// slot's highBand plane instead of a temporary. Every stage works row by row
// (the colour stage, the 4:1:1 interpolation and the halving touch one row at
// a time; the low-pass of row y reads rows y - 2 .. y + 2), so each row is
// finished, mirrored and low-passed while it is still in the cache, and the
// frame crosses memory once instead of five times. The planes come out the
// same as from prepareSlot. Needs stride >= alignedWidth.
//
// The plane rows are cut into slices that may be built at once. A slice
// finishes its rows and low-passes those whose neighbours it holds; the two
// rows at either edge of a slice are low-passed once every slice has its rows
// (`edges`), and the residual of a row, which overwrites what the low-pass of
// the rows two above and below reads, waits likewise for the rows within four
// of an edge (`edgeResiduals`).
class SlotBuilder {
public:
    SlotBuilder(const Call &c, int32_t slot)
        : job_(c.job), dsp_(c.f.kernels.pipeline), low_(c.f.cache.lowBand[slot]), high_(c.f.cache.highBand[slot]),
          alignedWidth_(c.f.cache.alignedWidth), alignedHeight_(c.f.cache.alignedHeight),
          paddedWidth_(c.f.cache.paddedWidth)
    {
        colour_ = colourFactors(c.s, &factors_);
        chroma411_ = c.s.chroma411;
    }

    // Frame row r of the highBand plane, at frame column 0.
    YcPixel *row(int32_t r) const { return bandRow(high_, paddedWidth_, r); }
    // Rows that need no colour or 4:1:1 stage may be produced halved, as the
    // band split takes them: takeHalvedRows() says they will be, on every
    // pixel up to the aligned width.
    bool plainRows() const { return !colour_ && !chroma411_; }
    void takeHalvedRows() { halvedRows_ = true; }
    int32_t pitch() const { return paddedWidth_; }
    int32_t alignedWidth() const { return alignedWidth_; }

    // Slices of at least 8 rows each: the first holds rows 2 and 3, which the
    // rows above the frame mirror, and none is so thin that its edges meet.
    int32_t slices(int32_t workers) const { return sliceCount(alignedHeight_, workers, 8); }
    Span span(int32_t slices, int32_t i) const { return slice(alignedHeight_, slices, i); }

    // The rows of slice s: produce(r) puts frame row r's cells in place
    // (rows come in order), then the row is finished and split as far as the
    // slice alone allows. done(y) follows each row whose planes are final.
    template <class Produce, class Done> void rows(Span s, Produce &&produce, Done &&done) const
    {
        const int32_t height = job_->height;
        const int32_t frameEnd = s.end < height ? s.end : height;
        int32_t nextLow = s.begin + 2;
        for (int32_t r = s.begin; r < frameEnd; r++) {
            produce(r);
            finishRow(r);
            int32_t ready = r;
            if (r == 3) { // rows -2 and -1 mirror within their field
                copyRow(-2, 2);
                copyRow(-1, 3);
            }
            if (r == height - 1 && height < alignedHeight_) { // odd height: the row below comes from the same field
                copyRow(height, height - 2);
                ready = height;
            }
            for (; nextLow < s.end - 2 && nextLow + 2 <= ready; nextLow++) {
                lowPass(nextLow);
                if (nextLow - 2 >= s.begin + 4 && nextLow - 2 < s.end - 4) {
                    residual(nextLow - 2);
                    done(nextLow - 2);
                }
            }
        }
        if (s.end == alignedHeight_) {
            copyRow(alignedHeight_, alignedHeight_ - 3);
            copyRow(alignedHeight_ + 1, alignedHeight_ - 2);
        }
    }
    // Once every slice has its rows: the low-pass of the rows at its edges.
    void edges(Span s) const
    {
        for (int32_t y = s.begin; y < s.end; y++)
            if (y < s.begin + 2 || y >= s.end - 2)
                lowPass(y);
    }
    // Once every slice has its edges: the residuals left, each row followed
    // by done(y).
    template <class Done> void edgeResiduals(Span s, Done &&done) const
    {
        for (int32_t y = s.begin; y < s.end; y++)
            if (y < s.begin + 4 || y >= s.end - 4) {
                residual(y);
                done(y);
            }
    }

private:
    void finishRow(int32_t r) const
    {
        YcPixel *p = row(r);
        if (colour_)
            dsp_.adjustColourRow(p, job_->width, &factors_);
        if (chroma411_)
            dsp_.interpolate411Row(p, job_->width);
        if (!halvedRows_)
            dsp_.halveSamples(&p->y, (size_t)alignedWidth_ * 3);
        p[-2] = p[2];
        p[-1] = p[1];
        p[alignedWidth_] = p[alignedWidth_ - 2];
        p[alignedWidth_ + 1] = p[alignedWidth_ - 3];
    }
    void copyRow(int32_t to, int32_t from) const
    {
        memcpy(row(to) - 2, row(from) - 2, (size_t)paddedWidth_ * sizeof(YcPixel));
    }
    void lowPass(int32_t y) const
    {
        dsp_.lowPassRow(&bandRow(low_, paddedWidth_, y)->y, &row(y)->y, (ptrdiff_t)paddedWidth_ * 3,
                        alignedWidth_ * 3);
    }
    void residual(int32_t y) const
    {
        dsp_.residualRow(&row(y)->y, &bandRow(low_, paddedWidth_, y)->y, alignedWidth_ * 3);
    }

    const FrameJob *job_;
    const PipelineDsp &dsp_;
    YcPixel *low_, *high_;
    int32_t alignedWidth_, alignedHeight_, paddedWidth_;
    ColourFactors factors_{};
    bool colour_ = false, chroma411_ = false, halvedRows_ = false;
};

// Builds the slot's planes slice by slice on the call's runner; produce(r,
// worker) puts frame row r's cells in place. With c.averaging, the slot is
// the one of the frame after the output frame, and each output row is
// averaged as soon as this slot's rows it reads are final, while they are in
// the cache.
template <class Produce> void buildSlices(const Call &c, const SlotBuilder &builder, Produce &&produce)
{
    const int32_t slices = builder.slices(c.tasks.workers);
    const FrameAverager *averaging = c.averaging;
    auto rows = [&](int32_t i, int32_t worker) {
        builder.rows(
            builder.span(slices, i), [&](int32_t r) { produce(r, worker); },
            [&](int32_t y) {
                if (averaging)
                    finishFrameRow(*averaging, y, worker);
            });
    };
    runTasks(c.tasks, slices, rows);
    auto edges = [&](int32_t i, int32_t) { builder.edges(builder.span(slices, i)); };
    runTasks(c.tasks, slices, edges);
    auto residuals = [&](int32_t i, int32_t worker) {
        builder.edgeResiduals(builder.span(slices, i), [&](int32_t y) {
            if (averaging)
                finishFrameRow(*averaging, y, worker);
        });
    };
    runTasks(c.tasks, slices, residuals);
}

// Rows of a frame in slices for the call's workers, each slice run as a job:
// body(begin, end, worker).
template <class Body> void overRows(const Call &c, int32_t height, Body &&body)
{
    const int32_t slices = sliceCount(height, c.tasks.workers, 8);
    auto job = [&](int32_t i, int32_t worker) {
        const Span s = slice(height, slices, i);
        body(s.begin, s.end, worker);
    };
    runTasks(c.tasks, slices, job);
}

// Fetches source frame m (with the dot pass on, its neighbours too) and builds
// its slot. Requests and their order are those of loadSource. A host keeps a
// frame valid until the next request only, so frame m is read in place when it
// is the last request and copied into the plane otherwise, and frame m - 1 is
// copied into the previous temporary; frames that stay are read in place.
// Filtered when the slot holds the frame; OutOfMemory or MissingFrames when it
// could not be built.
FrameOutcome rebuildSlot(const Call &c, int32_t m, int32_t slot, Temporaries &t)
{
    const FrameJob *job = c.job;
    SlotBuilder builder(c, slot);
    const bool dot = c.s.dot;
    const bool stay = c.source.framesStay;
    const bool hasPrevious = m - 1 >= 0;
    const bool hasNext = m + 1 < job->frameCount;
    const ptrdiff_t stride = job->stride;
    const size_t rowBytes = (size_t)builder.alignedWidth() * sizeof(YcPixel);
    // Of the previous frame the dot pass needs the luma alone, unless it also
    // stands for the next one.
    const bool lumaOnly = hasPrevious && hasNext;
    if (dot && !stay && (lumaOnly ? !t.getLuma() : hasPrevious && !t.get(t.previous)))
        return FrameOutcome::OutOfMemory;
    if (!c.source.reserve(c.source.context))
        return FrameOutcome::MissingFrames;
    if (!dot) {
        const YcPixel *src = request(c, m);
        if (!src)
            return FrameOutcome::MissingFrames;
        buildSlices(c, builder, [&](int32_t r, int32_t) { memcpy(builder.row(r), src + r * stride, rowBytes); });
        return FrameOutcome::Filtered;
    }

    const YcPixel *previous = nullptr;
    if (hasPrevious && stay) {
        if (!(previous = request(c, m - 1)))
            return FrameOutcome::MissingFrames;
    } else if (lumaOnly) {
        const YcPixel *p = request(c, m - 1);
        if (!p)
            return FrameOutcome::MissingFrames;
        const CopyLumaRowFn copyLuma = c.f.kernels.wavelet.copyLumaRow;
        int16_t *luma = t.previousLuma;
        overRows(c, job->height, [&](int32_t begin, int32_t end, int32_t) {
            for (int32_t r = begin; r < end; r++)
                copyLuma(p + r * stride, job->width, luma + (ptrdiff_t)r * job->width);
        });
    } else if (hasPrevious) {
        if (!fetch(c, m - 1, t.previous, t.samples))
            return FrameOutcome::MissingFrames;
        previous = t.previous;
    }
    const YcPixel *src = request(c, m);
    if (!src)
        return FrameOutcome::MissingFrames;
    if (!stay)
        overRows(c, job->height, [&](int32_t begin, int32_t end, int32_t) {
            for (int32_t r = begin; r < end; r++)
                memcpy(builder.row(r), src + r * stride, rowBytes);
        });
    const YcPixel *next = src; // a one-frame clip: frame m is still held and the plane has its own copy
    if (hasNext && !(next = request(c, m + 1)))
        return FrameOutcome::MissingFrames;

    // At the clip's ends the one neighbour there is stands in for both; the
    // last frame keeps a whole copy of its previous one for that.
    DotFrames frames = {hasPrevious ? previous : next,
                        hasPrevious && hasNext && !stay ? t.previousLuma : nullptr,
                        builder.row(0),
                        hasNext || !hasPrevious ? next : previous,
                        job->width,
                        job->height,
                        job->stride,
                        builder.pitch()};
    // Neighbours that stay may come as their luma alone: a third of the bytes.
    // With frame m's own luma too, the analysis reads no pixel and the rows
    // are copied into the plane just before their write-back.
    if (stay && c.source.luma) {
        const int32_t before = hasPrevious ? m - 1 : hasNext ? m + 1 : m;
        const int32_t after = hasNext ? m + 1 : hasPrevious ? m - 1 : m;
        const int16_t *prevLuma = c.source.luma(c.source.context, before);
        const int16_t *nextLuma = c.source.luma(c.source.context, after);
        if (prevLuma && nextLuma) {
            frames.prevLuma = prevLuma;
            frames.nextLuma = nextLuma;
            frames.curLuma = c.source.luma(c.source.context, m);
        }
    }
    const WaveletDsp &dsp = c.f.kernels.wavelet;
    const FilterInstance &f = c.f;
    if (!dotFramesUsable(frames, f.scratch.work)) {
        if (stay)
            buildSlices(c, builder, [&](int32_t r, int32_t) { memcpy(builder.row(r), src + r * stride, rowBytes); });
        else
            buildSlices(c, builder, [](int32_t, int32_t) {});
        return FrameOutcome::Filtered;
    }
    overRows(c, job->height, [&](int32_t begin, int32_t end, int32_t worker) {
        const DotPassWork work = workerDotWork(f, worker);
        const bool copyFirst = stay && !frames.curLuma;
        for (int32_t r = begin; r < end && copyFirst; r++) {
            memcpy(builder.row(r), src + r * stride, rowBytes);
            dotAnalyseRows(dsp, work, frames, r, r + 1);
        }
        if (!copyFirst)
            dotAnalyseRows(dsp, work, frames, begin, end);
    });
    // Sixteen columns at a time keep the widest column kernels full.
    const int32_t groups = kDotShrinkColumns / 16;
    const int32_t pieces = c.tasks.workers <= 1 ? 1 : c.tasks.workers * 4;
    auto shrink = [&](int32_t i, int32_t worker) {
        const int32_t begin = 16 * (int32_t)((int64_t)groups * i / pieces);
        const int32_t end = 16 * (int32_t)((int64_t)groups * (i + 1) / pieces);
        dotShrinkColumns(dsp, workerDotWork(f, worker), job->height, begin, end);
    };
    runTasks(c.tasks, pieces, shrink);
    // Each row goes on to the band split as soon as the dot pass has written it back.
    // Where no stage comes between, the write-back also copies the row into
    // the plane and halves it; the pixels past the width are copied and halved.
    const bool halved = frames.curLuma && builder.plainRows();
    if (halved)
        builder.takeHalvedRows();
    const int32_t width = job->width, extra = builder.alignedWidth() - width;
    buildSlices(c, builder, [&](int32_t r, int32_t worker) {
        if (halved) {
            dotSynthesiseRowHalved(dsp, workerDotWork(f, worker), frames, r, src + r * stride, builder.row(r));
            if (extra > 0) {
                memcpy(builder.row(r) + width, src + r * stride + width, (size_t)extra * sizeof(YcPixel));
                f.kernels.pipeline.halveSamples(&builder.row(r)[width].y, (size_t)extra * 3);
            }
            return;
        }
        if (frames.curLuma)
            memcpy(builder.row(r), src + r * stride, rowBytes);
        dotSynthesiseRow(dsp, workerDotWork(f, worker), frames, r);
    });
    return FrameOutcome::Filtered;
}

bool holds(const BandCache &cache, int32_t frame) { return cache.slotTag[cacheSlotOf(frame)] == frame; }

// The frame path of filterFrame, returning how the frame ended.
FrameOutcome runFrame(FilterInstance &f, const FrameJob &jobRecord, const FrameSettings &s, const FrameSource &source,
                      const TaskRunner &tasksGiven, const FrameRowSink *sink)
{
    // Never more workers than the instance has work memory for.
    TaskRunner tasks = tasksGiven;
    if (tasks.workers > f.workers || tasks.workers < 1)
        tasks = serialTasks();
    const FrameJob *job = &jobRecord;
    const int32_t width = job->width, height = job->height, stride = job->stride;
    BandCache &cache = f.cache;

    // Frames the filter cannot process come back cleared. Besides the
    // processor and the instance's size limit, that takes in frames too small
    // for the two-cell border and strides that would overlap rows.
    const bool processing = f.cpuLevel == kProcessingCpuLevel;
    if (!processing || height > f.maxHeight || width > f.maxWidth || width < 4 || height < 4 || stride < width) {
        if (job->frame && stride > 0 && height > 0)
            memset(job->frame, 0, (size_t)stride * (size_t)height * sizeof(YcPixel));
        return processing             ? FrameOutcome::Unsupported
               : f.startupOutOfMemory ? FrameOutcome::OutOfMemory
                                      : FrameOutcome::NotStarted;
    }
    if (!job->frame || !source.frame || !source.reserve)
        return FrameOutcome::MissingFrames;

    if (!ensureCacheGeometry(cache, f.frameHeap, width, height))
        return FrameOutcome::OutOfMemory; // no planes: the frame stays as it was passed

    const int32_t n = job->frameIndex;
    // Why a slot stayed empty, when one did (memory outweighs a missing frame).
    FrameOutcome unbuilt = FrameOutcome::Filtered;
    bool averaged = false;
    {
        const Call call = {f, job, s, source, tasks, nullptr};
        Temporaries temporaries((size_t)stride * (size_t)height, (size_t)width * (size_t)height, f.frameHeap);
        for (int32_t j = -1; j <= 1; j++) {
            const int32_t m = n + j;
            if (m < 0 || m >= job->frameCount || holds(cache, m))
                continue;
            const int32_t slot = cacheSlotOf(m);
            FrameOutcome built;
            FrameAverager averager;
            // The frame after the output frame is rebuilt last. When the
            // other two are there, the output rows are averaged within its
            // rebuild, while the rows of its planes are in the cache. Only
            // where the source's frames stay: a host's frame buffer might be
            // one it also serves.
            if (j == 1 && source.framesStay && stride >= cache.alignedWidth && holds(cache, n) &&
                (n == 0 || holds(cache, n - 1)) && prepareAverager(averager, job, cache, s, f.kernels.nr, sink)) {
                const Call within = {f, job, s, source, tasks, &averager};
                built = rebuildSlot(within, m, slot, temporaries);
                averaged = built == FrameOutcome::Filtered;
            } else if (stride >= cache.alignedWidth) {
                built = rebuildSlot(call, m, slot, temporaries);
            } else {
                built = loadSource(call, m, temporaries);
                if (built == FrameOutcome::Filtered)
                    prepareSlot(call, temporaries.current, slot);
            }
            // A slot that did not get its frame stays empty: a later call tries again.
            cache.slotTag[slot] = built == FrameOutcome::Filtered ? m : -1;
            if (built != FrameOutcome::Filtered && unbuilt != FrameOutcome::OutOfMemory)
                unbuilt = built;
        }
    }

    // Average only over frames that are really there: if a slot the averaging
    // reads did not get its frame, the frame is left as it came.
    if (n < 0 || n >= job->frameCount || !holds(cache, n) || (n > 0 && !holds(cache, n - 1)) ||
        (n < job->frameCount - 1 && !holds(cache, n + 1)))
        return unbuilt == FrameOutcome::Filtered ? FrameOutcome::MissingFrames : unbuilt;

    // Each row is doubled and finished while the averaging has it in the cache.
    if (!averaged && !averageFrameRows(job, cache, s, f.kernels.nr, tasks, sink)) {
        finishOutput(job, s, f.kernels.nr);
        for (int32_t r = 0; sink && r < height; r++)
            sink->row(sink->context, r, 0);
    }
    return FrameOutcome::Filtered;
}

} // namespace

FrameOutcome filterFrame(FilterInstance &f, const FrameJob &job, const FrameSettings &s, const FrameSource &source,
                         const TaskRunner &tasks, const FrameRowSink *sink)
{
    f.lastOutcome = runFrame(f, job, s, source, tasks, sink);
    return f.lastOutcome;
}

} // namespace velvane
