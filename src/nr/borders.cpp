#include "nr/borders.h"

#include "host/entry_points.h"

namespace velvane {
namespace {

inline int32_t clip(int32_t v, int32_t hi) { return v < 0 ? 0 : v > hi ? hi : v; }

} // namespace

FrameBorders frameBorders(const FrameJob *job, const int32_t *trackValues, const int32_t *checkValues)
{
    const int32_t h = job->height > 0 ? job->height : 0;
    int32_t w = job->width > 0 ? job->width : 0;
    if (w > job->stride)
        w = job->stride > 0 ? job->stride : 0;
    FrameBorders b = {0, 0, 0, 0, 0, h};
    if (checkOn(checkValues, CHECK_BORDERS)) {
        b.top = clip(trackValues[TRACK_BORDER_TOP], h);
        b.bottom = clip(trackValues[TRACK_BORDER_BOTTOM], h);
        b.left = clip(trackValues[TRACK_BORDER_LEFT], w);
        b.right = clip(trackValues[TRACK_BORDER_RIGHT], w);
    }
    b.firstRow = b.top;
    b.endRow = h - b.bottom > b.top ? h - b.bottom : b.top;
    return b;
}

} // namespace velvane
