#include "embedded_host.h"

#include <string.h>

#include <algorithm>
#include <stdexcept>

namespace velvane {

namespace {
EmbeddedHost *attachedHost = nullptr;
char editHandleTag; // its address is the edit handle the module passes back
} // namespace

bool HostCall::operator==(const HostCall &o) const
{
    return kind == o.kind && std::equal(args, args + 4, o.args);
}

EmbeddedHost::EmbeddedHost(int32_t width, int32_t height, int32_t stride, int32_t maxHeight)
{
    setGeometry(width, height, stride, maxHeight);
}

EmbeddedHost::~EmbeddedHost()
{
    if (attachedHost == this)
        attachedHost = nullptr;
}

void EmbeddedHost::setGeometry(int32_t width, int32_t height, int32_t stride, int32_t maxHeight)
{
    width_ = width;
    height_ = height;
    stride_ = stride > 0 ? stride : width;
    maxHeight_ = maxHeight > 0 ? maxHeight : height;
}

void EmbeddedHost::setClip(std::vector<std::vector<YcPixel>> frames)
{
    for (const auto &f : frames)
        if (f.size() < frameSamples())
            throw std::invalid_argument("clip frame smaller than stride x height");
    clip_ = std::move(frames);
    frameCount_ = (int32_t)clip_.size();
    source_ = nullptr;
}

void EmbeddedHost::setFrameSource(FrameSource source, int32_t frameCount)
{
    source_ = std::move(source);
    frameCount_ = frameCount;
    clip_.clear();
}

void EmbeddedHost::attach(FilterDescriptor *fd, void *instanceHandle)
{
    fd_ = fd;
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        track[i] = fd->trackDefaults[i];
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        check[i] = fd->checkDefaults[i];
    services_ = HostServices{};
    services_.refreshSettingsWindow = refreshSettingsWindowThunk;
    services_.isFilterActive = isFilterActiveThunk;
    services_.setFrameCacheSize = setFrameCacheSizeThunk;
    services_.getCachedFrame = getCachedFrameThunk;
    fd->trackValues = track;
    fd->checkValues = check;
    fd->hostServices = &services_;
    fd->instanceHandle = instanceHandle;
    attachedHost = this;
}

template <typename Fn, typename... Args> int32_t EmbeddedHost::enter(Fn entry, Args... args)
{
    if (!gate_)
        return entry(args...);
    const uintptr_t widened[] = {(uintptr_t)args...};
    return (int32_t)gate_((const void *)entry, widened, (int)sizeof...(Args));
}

int32_t EmbeddedHost::init() { return enter(fd_->initFilter, fd_); }
int32_t EmbeddedHost::exit() { return enter(fd_->exitFilter, fd_); }
int32_t EmbeddedHost::update() { return enter(fd_->updateFilter, fd_); }

int32_t EmbeddedHost::windowMessage(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    return enter(fd_->settingsWindowProc, window, message, wparam, lparam, (void *)nullptr, fd_);
}

const YcPixel *EmbeddedHost::sourceFrame(int32_t n)
{
    if (source_)
        return source_(n);
    if (n < 0 || n >= (int32_t)clip_.size())
        return nullptr;
    return clip_[n].data();
}

int32_t EmbeddedHost::renderInPlace(int32_t n, YcPixel *buffer)
{
    job_ = FrameJob{};
    job_.frame = buffer;
    job_.width = width_;
    job_.height = height_;
    job_.stride = stride_;
    job_.maxHeight = maxHeight_;
    job_.frameIndex = n;
    job_.frameCount = frameCount_;
    job_.editHandle = &editHandleTag;
    attachedHost = this;
    return enter(fd_->processFrame, fd_, &job_);
}

int32_t EmbeddedHost::render(int32_t n, YcPixel *out)
{
    const YcPixel *src = sourceFrame(n);
    if (src)
        memcpy(out, src, frameSamples() * sizeof(YcPixel));
    else
        memset(out, 0, frameSamples() * sizeof(YcPixel));
    return renderInPlace(n, out);
}

std::vector<YcPixel> EmbeddedHost::render(int32_t n)
{
    std::vector<YcPixel> out(frameSamples());
    render(n, out.data());
    return out;
}

std::vector<int32_t> EmbeddedHost::requestedFrames() const
{
    std::vector<int32_t> r;
    for (const auto &c : calls)
        if (c.kind == HostCall::GetCachedFrame)
            r.push_back(c.args[0]);
    return r;
}

int32_t VV_CDECL EmbeddedHost::refreshSettingsWindowThunk(FilterDescriptor *)
{
    if (attachedHost->recordCalls)
        attachedHost->calls.push_back({HostCall::RefreshSettingsWindow, {0, 0, 0, 0}});
    return 1;
}

int32_t VV_CDECL EmbeddedHost::isFilterActiveThunk(FilterDescriptor *)
{
    if (attachedHost->recordCalls)
        attachedHost->calls.push_back({HostCall::IsFilterActive, {0, 0, 0, 0}});
    return attachedHost->filterActive;
}

int32_t VV_CDECL EmbeddedHost::setFrameCacheSizeThunk(FilterDescriptor *, int32_t stride, int32_t maxHeight,
                                                      int32_t frames, int32_t flags)
{
    if (attachedHost->recordCalls)
        attachedHost->calls.push_back({HostCall::SetFrameCacheSize, {stride, maxHeight, frames, flags}});
    return attachedHost->refuseCacheSize ? 0 : 1;
}

YcPixel *VV_CDECL EmbeddedHost::getCachedFrameThunk(FilterDescriptor *, void *editHandle, int32_t frame)
{
    EmbeddedHost *h = attachedHost;
    if (h->recordCalls)
        h->calls.push_back({HostCall::GetCachedFrame, {frame, 0, 0, 0}});
    if (editHandle != &editHandleTag || h->nullFrames.count(frame))
        return nullptr;
    const YcPixel *src = h->sourceFrame(frame);
    if (!src)
        return nullptr;
    if (!h->copyServedFrames)
        return const_cast<YcPixel *>(src);
    h->served_.assign(src, src + h->frameSamples());
    return h->served_.data();
}

} // namespace velvane
