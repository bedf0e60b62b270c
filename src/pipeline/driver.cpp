// The per-frame entry: gate, cache geometry, rebuild of the frames n - 1, n,
// n + 1 that their slots do not hold, then averaging and output.
#include <stdlib.h>
#include <string.h>

#include "host/entry_points.h"
#include "host/module_state.h"
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

struct Temporaries {
    YcPixel *previous = nullptr;
    YcPixel *current = nullptr;
    YcPixel *next = nullptr;
    size_t samples = 0; // stride x height

    explicit Temporaries(size_t frameSamples) : samples(frameSamples)
    {
        previous = allocate();
        current = allocate();
        next = allocate();
    }
    ~Temporaries()
    {
        free(previous);
        free(current);
        free(next);
    }
    YcPixel *allocate() const
    {
        YcPixel *p = static_cast<YcPixel *>(malloc((samples + kTemporarySlack) * sizeof(YcPixel)));
        if (p)
            memset(p + samples, 0, kTemporarySlack * sizeof(YcPixel));
        return p;
    }
};

// Requests frame m from the host. Null when the host has nothing for it. The
// host keeps the frame valid until the next request.
const YcPixel *request(FilterDescriptor *fd, const FrameJob *job, int32_t m)
{
    return fd->hostServices->getCachedFrame(fd, job->editHandle, m);
}

// Requests frame m and copies it into `into` at once.
bool fetch(FilterDescriptor *fd, const FrameJob *job, int32_t m, YcPixel *into, size_t samples)
{
    const YcPixel *src = request(fd, job, m);
    if (!src)
        return false;
    memcpy(into, src, samples * sizeof(YcPixel));
    return true;
}

// Loads source frame m into the current temporary, and with the dot pass on
// removes its dot interference using its neighbours in time. Frame numbers
// outside the clip are never requested: at either end the one neighbour that
// exists stands in for both, and a one-frame clip is its own neighbour.
bool loadSource(FilterDescriptor *fd, const FrameJob *job, int32_t m, Temporaries &t)
{
    if (!t.current)
        return false;
    if (fd->hostServices->setFrameCacheSize(fd, job->stride, job->maxHeight, 3, 0) != 1)
        return false;
    if (!checkOn(fd->checkValues, CHECK_DOT))
        return fetch(fd, job, m, t.current, t.samples);

    if (!t.previous || !t.next)
        return false;
    const bool hasPrevious = m - 1 >= 0;
    const bool hasNext = m + 1 < job->frameCount;
    if (hasPrevious && !fetch(fd, job, m - 1, t.previous, t.samples))
        return false;
    if (!fetch(fd, job, m, t.current, t.samples))
        return false;
    // Frame m + 1 is the last request of this rebuild and the dot pass only
    // reads it, so it is used where the host holds it, without a copy.
    const YcPixel *next = t.next;
    if (hasNext && !(next = request(fd, job, m + 1)))
        return false;

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
    dotPass(job, previousRole, t.current, nextRole);
    return true;
}

void prepareSlot(const FilterDescriptor *fd, const FrameJob *job, YcPixel *frame, int32_t slot)
{
    adjustColour(frame, job, fd->trackValues, fd->checkValues);
    if (checkOn(fd->checkValues, CHECK_411))
        interpolateChroma411(frame, job);
    halveSamples(frame, job->stride, job->height);
    fillPaddedCopy(frame, job->stride, job->height, bandCache.highBand[slot], bandCache.alignedWidth,
                   bandCache.alignedHeight);
    splitBands(bandCache.lowBand[slot], bandCache.highBand[slot], bandCache.alignedWidth, bandCache.alignedHeight);
}

bool holds(int32_t frame) { return bandCache.slotTag[cacheSlotOf(frame)] == frame; }

} // namespace

int32_t VV_CDECL processFrame(FilterDescriptor *fd, FrameJob *job)
{
    const int32_t width = job->width, height = job->height, stride = job->stride;

    // Frames the filter cannot process come back cleared. Besides the
    // processor and the 720 x 480 limit, that takes in frames too small for
    // the two-cell border and strides that would overlap rows.
    if (cpuLevel != 2 || height > VV_MAX_HEIGHT || width > VV_MAX_WIDTH || width < 4 || height < 4 ||
        stride < width) {
        if (job->frame && stride > 0 && height > 0)
            memset(job->frame, 0, (size_t)stride * (size_t)height * sizeof(YcPixel));
        return 1;
    }
    if (!job->frame || !fd->hostServices)
        return 1;

    if (!ensureCacheGeometry(width, height))
        return 1; // no planes: the frame stays as the host passed it

    const int32_t n = job->frameIndex;
    {
        Temporaries temporaries((size_t)stride * (size_t)height);
        for (int32_t j = -1; j <= 1; j++) {
            const int32_t m = n + j;
            if (m < 0 || m >= job->frameCount || holds(m))
                continue;
            const int32_t slot = cacheSlotOf(m);
            if (!loadSource(fd, job, m, temporaries)) {
                bandCache.slotTag[slot] = -1; // a later call tries again
                continue;
            }
            prepareSlot(fd, job, temporaries.current, slot);
            bandCache.slotTag[slot] = m;
        }
    }

    // Average only over frames that are really there: if a slot the averaging
    // reads did not get its frame, the host's frame is left as it came.
    if (n < 0 || n >= job->frameCount || !holds(n) || (n > 0 && !holds(n - 1)) ||
        (n < job->frameCount - 1 && !holds(n + 1)))
        return 1;

    selectiveAverage(job, fd->trackValues, fd->checkValues);
    finishOutput(job, fd->trackValues, fd->checkValues);
    return 1;
}

} // namespace velvane
