// The per-frame entry: the host's settings arrays and its frame services
// handed to the module's one filter instance.
#include "host/entry_points.h"
#include "host/module_state.h"
#include "pipeline/driver.h"

namespace velvane {
namespace {

struct HostFrames {
    FilterDescriptor *fd;
    const FrameJob *job;
};

bool reserveHostFrames(void *context)
{
    const HostFrames *h = static_cast<const HostFrames *>(context);
    return h->fd->hostServices->setFrameCacheSize(h->fd, h->job->stride, h->job->maxHeight, 3, 0) == 1;
}

const YcPixel *hostFrame(void *context, int32_t m)
{
    const HostFrames *h = static_cast<const HostFrames *>(context);
    return h->fd->hostServices->getCachedFrame(h->fd, h->job->editHandle, m);
}

} // namespace

int32_t VV_CDECL processFrame(FilterDescriptor *fd, FrameJob *job)
{
    HostFrames frames = {fd, job};
    // A host without services has no frames to give. The host owns its
    // threads: everything runs on the one that calls.
    const FrameSource source = fd->hostServices ? FrameSource{reserveHostFrames, hostFrame, &frames} : FrameSource{};
    filterFrame(moduleInstance, *job, settingsFromArrays(fd->trackValues, fd->checkValues), source, serialTasks());
    return 1;
}

} // namespace velvane
