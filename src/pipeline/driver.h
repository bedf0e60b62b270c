#ifndef VELVANE_PIPELINE_DRIVER_H
#define VELVANE_PIPELINE_DRIVER_H

#include <stdint.h>

#include "common/tasks.h"
#include "nr/average.h"
#include "pipeline/instance.h"
#include "pipeline/settings.h"
#include "velvane/filter.h"

namespace velvane {

// Where a filter takes its source frames from.
struct FrameSource {
    // Asked before the requests for each frame the filter rebuilds; anything
    // but true means no frame is requested for it.
    bool (*reserve)(void *context);
    // Source frame m: height rows of the job's stride, or null when there is
    // none. Valid until the next request.
    const YcPixel *(*frame)(void *context, int32_t m);
    void *context;
    // Every frame served stays valid, unchanged, until the call returns (not
    // only until the next request), and may be read from any thread: the
    // filter then reads the frames where they are instead of copying them.
    bool framesStay = false;
    // With framesStay, may give the luma of frame m alone (height rows of
    // width samples), all the dot pass reads of a neighbour; null for none.
    const int16_t *(*luma)(void *context, int32_t m) = nullptr;
};

// Filters frame job.frameIndex of a clip of job.frameCount frames into
// job.frame, in place: gate, cache geometry, rebuild of the frames n - 1, n,
// n + 1 that their slots do not hold, then averaging and output. Returns how
// it ended, also kept in f.lastOutcome for hosts whose entry point cannot
// return it; a frame that could not be filtered is cleared (a size or
// processor the filter does not take) or left as passed.
// Its stages run as jobs on `tasks`, whose workers (at most f.workers) each
// use their own part of the instance's work memory; the bytes are the same
// whatever the runner. A filtered frame's rows go to `sink` (when not null)
// as each becomes final.
FrameOutcome filterFrame(FilterInstance &f, const FrameJob &job, const FrameSettings &s, const FrameSource &source,
                         const TaskRunner &tasks, const FrameRowSink *sink = nullptr);

} // namespace velvane

#endif
