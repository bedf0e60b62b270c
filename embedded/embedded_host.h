#ifndef VELVANE_EMBEDDED_EMBEDDED_HOST_H
#define VELVANE_EMBEDDED_EMBEDDED_HOST_H

#include <stdint.h>

#include <functional>
#include <set>
#include <vector>

#include "velvane/filter.h"

namespace velvane {

// One call the module made into the host services.
struct HostCall {
    enum Kind { RefreshSettingsWindow, IsFilterActive, SetFrameCacheSize, GetCachedFrame } kind;
    int32_t args[4]; // after the descriptor: setFrameCacheSize's four, getCachedFrame's frame number in args[0]
    bool operator==(const HostCall &o) const;
};

// Plays the host for a module: holds the settings, fills the descriptor's four
// host-written fields, serves frames through HostServices and records every
// call. Works with a module linked in (GetFilterTable()) or one loaded from a
// shared library. One host may be attached at a time per process, as the
// host services carry no context of their own.
class EmbeddedHost {
public:
    using FrameSource = std::function<const YcPixel *(int32_t frame)>;

    EmbeddedHost(int32_t width, int32_t height, int32_t stride = 0, int32_t maxHeight = 0);
    ~EmbeddedHost();
    EmbeddedHost(const EmbeddedHost &) = delete;
    EmbeddedHost &operator=(const EmbeddedHost &) = delete;

    // Frames are stride x height pixels each.
    void setClip(std::vector<std::vector<YcPixel>> frames);
    // Frames served by a callback (null = the host has nothing for it).
    void setFrameSource(FrameSource source, int32_t frameCount);

    // Fills trackValues, checkValues (the descriptor's defaults), HostServices
    // and the instance handle, and makes this the host the services answer for.
    void attach(FilterDescriptor *fd, void *instanceHandle = nullptr);
    int32_t init();
    int32_t exit();
    int32_t update();
    // One message to the settings window procedure, as the host's window passes it on.
    int32_t windowMessage(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam);

    // How the host enters the module: by a plain call, unless a test host
    // routes every entry through a gate that sets the stack up as some other
    // host would. The arguments are widened to pointer size.
    using EntryGate = intptr_t (*)(const void *entry, const uintptr_t *args, int count);
    void setEntryGate(EntryGate gate) { gate_ = gate; }

    // Renders frame n into `out` (stride x height pixels) as a host does: the
    // buffer starts as the source frame and processFrame filters it in place.
    int32_t render(int32_t n, YcPixel *out);
    std::vector<YcPixel> render(int32_t n);
    // Calls processFrame on a buffer the caller prepared, with no copy first.
    int32_t renderInPlace(int32_t n, YcPixel *buffer);

    FilterDescriptor *descriptor() const { return fd_; }
    const FrameJob &lastJob() const { return job_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t stride() const { return stride_; }
    int32_t frameCount() const { return frameCount_; }
    size_t frameSamples() const { return (size_t)stride_ * (size_t)height_; }
    void setGeometry(int32_t width, int32_t height, int32_t stride = 0, int32_t maxHeight = 0);
    void setFrameCount(int32_t n) { frameCount_ = n; }

    int32_t track[VV_TRACK_COUNT] = {};
    int32_t check[VV_CHECK_COUNT] = {};

    // Behaviour the tests can ask for.
    bool refuseCacheSize = false;      // setFrameCacheSize answers 0
    std::set<int32_t> nullFrames;      // getCachedFrame answers null for these
    int32_t filterActive = 1;          // what isFilterActive answers

    // A long-running host (the command line) turns these off: no record that
    // grows with every frame, and frames served straight from the source
    // instead of through a copy (the module only reads them).
    bool recordCalls = true;
    bool copyServedFrames = true;

    std::vector<HostCall> calls;       // every service call, in order (when recordCalls)
    void clearCalls() { calls.clear(); }
    std::vector<int32_t> requestedFrames() const;

private:
    static int32_t VV_CDECL refreshSettingsWindowThunk(FilterDescriptor *fd);
    static int32_t VV_CDECL isFilterActiveThunk(FilterDescriptor *fd);
    static int32_t VV_CDECL setFrameCacheSizeThunk(FilterDescriptor *fd, int32_t stride, int32_t maxHeight,
                                                   int32_t frames, int32_t flags);
    static YcPixel *VV_CDECL getCachedFrameThunk(FilterDescriptor *fd, void *editHandle, int32_t frame);
    const YcPixel *sourceFrame(int32_t n);
    template <typename Fn, typename... Args> int32_t enter(Fn entry, Args... args);

    FilterDescriptor *fd_ = nullptr;
    EntryGate gate_ = nullptr;
    HostServices services_ = {};
    FrameJob job_ = {};
    int32_t width_, height_, stride_, maxHeight_;
    int32_t frameCount_ = 0;
    std::vector<std::vector<YcPixel>> clip_;
    FrameSource source_;
    std::vector<YcPixel> served_; // the copy the module reads, so it can never write into the clip
};

} // namespace velvane

#endif
