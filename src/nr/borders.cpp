#include "nr/borders.h"


namespace velvane {
namespace {

inline int32_t clip(int32_t v, int32_t hi) { return v < 0 ? 0 : v > hi ? hi : v; }

} // namespace

FrameBorders frameBorders(const FrameJob *job, const FrameSettings &s)
{
    const int32_t h = job->height > 0 ? job->height : 0;
    int32_t w = job->width > 0 ? job->width : 0;
    if (w > job->stride)
        w = job->stride > 0 ? job->stride : 0;
    FrameBorders b = {0, 0, 0, 0, 0, h};
    if (s.borders) {
        b.top = clip(s.borderTop, h);
        b.bottom = clip(s.borderBottom, h);
        b.left = clip(s.borderLeft, w);
        b.right = clip(s.borderRight, w);
    }
    b.firstRow = b.top;
    b.endRow = h - b.bottom > b.top ? h - b.bottom : b.top;
    return b;
}

} // namespace velvane
