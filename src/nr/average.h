#ifndef VELVANE_NR_AVERAGE_H
#define VELVANE_NR_AVERAGE_H

#include <stdint.h>

#include "common/tasks.h"
#include "nr/borders.h"
#include "nr/dsp.h"
#include "pipeline/band_cache.h"
#include "pipeline/settings.h"
#include "velvane/filter.h"

namespace velvane {

// Threshold-selective averaging of the cached bands of frames n - 1, n, n + 1
// into the processed rows of job->frame, at half scale. Reads the band cache.
void selectiveAverage(const FrameJob *job, const BandCache &cache, const FrameSettings &s, const NrDsp &dsp);

// selectiveAverage with the doubling of finishOutput joined in: each processed
// row is doubled across its stride as soon as it is averaged, while it is in
// the cache. Returns whether it did so; when it averaged nothing it doubled
// nothing either. finishOutputBorders then completes the frame.
bool selectiveAverageDoubled(const FrameJob *job, const BandCache &cache, const FrameSettings &s, const NrDsp &dsp);

// The band planes one averaging reads: those of the current frame and of the
// frames taken as its previous and next (the current one's own at the ends of
// the clip), laid out as in band_cache.h.
struct AverageBands {
    const YcPixel *lowCur, *lowPrev, *lowNext;
    const YcPixel *highCur, *highPrev, *highNext;
    int32_t alignedWidth, alignedHeight; // rows are alignedWidth + 4 cells apart
};

// Where the rows of a finished frame go: row(context, r, worker) is called
// once row r of job->frame is final, by the worker that finished it.
struct FrameRowSink {
    void (*row)(void *context, int32_t r, int32_t worker);
    void *context;
};

// selectiveAverageDoubled and finishOutputBorders in one pass: every row of
// the frame is averaged and doubled (or filled black, a border row), gets its
// side borders, and goes to `sink` (when not null) while it is in the cache.
// Slices of rows run as jobs on `tasks`. Returns false, touching nothing,
// where selectiveAverageDoubled would.
bool averageFrameRows(const FrameJob *job, const BandCache &cache, const FrameSettings &s, const NrDsp &dsp,
                      const TaskRunner &tasks, const FrameRowSink *sink);

// One frame's averaging, prepared once, then finished row by row in any
// order and from any thread (finishFrameRow).
struct FrameAverager {
    const FrameJob *job;
    AverageBands bands;
    const FrameSettings *s;
    const NrDsp *dsp;
    const FrameRowSink *sink;
    FrameBorders rows;
    AverageRowArgs args;
    int16_t movingLow, movingHigh; // luma thresholds of the parts that move
    int32_t pixels;
};

// False, where the averaging would do nothing: a cache of another size, a
// missing plane, rows beyond the planes.
bool prepareAverager(FrameAverager &a, const FrameJob *job, const BandCache &cache, const FrameSettings &s,
                     const NrDsp &dsp, const FrameRowSink *sink);

// Row j of averageFrameRows: averaged and doubled (or black), its side
// borders drawn, handed to the sink. Reads row j of the high bands and rows j
// and j ^ 1 of the low bands; nothing for a row outside the frame.
void finishFrameRow(const FrameAverager &a, int32_t j, int32_t worker);

// selectiveAverage on the given planes instead of the cache slots.
void averageBands(const FrameJob *job, const AverageBands &bands, const FrameSettings &s, const NrDsp &dsp);

} // namespace velvane

#endif
