// What filters the command's frames: the native library, or a plug-in build
// driven as its host drives it. Frames are rows of YcPixel `stride` pixels
// apart, in display order.
#ifndef VELVANE_CLI_FRAME_FILTER_H
#define VELVANE_CLI_FRAME_FILTER_H

#include <stdint.h>

#include <map>
#include <memory>

#include "velvane/filter.h"
#include "velvane/velvane.h"
#include "run/history.h"

namespace velvane {

class FrameFilter {
public:
    virtual ~FrameFilter() = default;
    // Takes the next frame; its pixels may be reused once this returns. The
    // caller receives what waits before it sends more.
    virtual void send(const YcPixel *frame) = 0;
    // The clip has no more frames.
    virtual void end() = 0;
    // The next filtered frame into `out`; false when it needs more frames
    // first or the clip is done. Throws CliError when a frame could not be
    // filtered.
    virtual bool receive(YcPixel *out) = 0;
    // What the strength chose for the frame received last; false when the
    // filter cannot say (a plug-in build).
    virtual bool strengthReport(SceneChoice *) const { return false; }
    // send and receive for frames of 4:2:2 planes of `depth`-bit samples laid
    // out as a YUV4MPEG2 stream holds them (the native library alone).
    virtual void sendPlanes(const uint8_t *planes, int depth);
    virtual bool receivePlanes(uint8_t *planes, int depth);
};

// The native library with these settings (the host's array order; thresholds
// and the dot pass may be VELVANE_FROM_STRENGTH), a VelvaneStrength and a
// VelvaneShow, filtering on `threads` threads with the kernels `cpuMask`
// allows; `moving` (resolveMoving's, or null for off) the thresholds where the
// picture moves; `library` the other settings (FilterSettings::library).
std::unique_ptr<FrameFilter> nativeFilter(int width, int height, int stride, const int32_t *track,
                                          const int32_t *check, int strength = VELVANE_STRENGTH_CUSTOM,
                                          int show = VELVANE_SHOW_OUTPUT, int threads = 1,
                                          unsigned cpuMask = VELVANE_CPU_ALL, const int32_t *moving = nullptr,
                                          const std::map<int, int32_t> *library = nullptr);

// Frames after a frame that must have been sent before it comes out: the
// native library's for these settings (as nativeFilter's), or the window the
// plug-in's host keeps.
int frameLookahead(bool plugin, const int32_t *track, const int32_t *check, int strength, int show,
                   const int32_t *moving, const std::map<int, int32_t> *library);

// The plug-in behind `fd`: initFilter, updateFilter, processFrame per frame
// with the frames it asks for, exitFilter when done. Such a module cannot say
// when it left a frame unfiltered.
std::unique_ptr<FrameFilter> pluginFilter(FilterDescriptor *fd, int width, int height, int stride,
                                          const int32_t *track, const int32_t *check);

} // namespace velvane

#endif
