#include "run/frame_filter.h"

#include <string.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "embedded_host.h"
#include "run/options.h"
#include "velvane/velvane.hpp"
#include "y4m/y4m.h"

namespace velvane {
namespace {

class NativeFilter : public FrameFilter {
public:
    NativeFilter(int width, int height, int stride, const int32_t *track, const int32_t *check, int strength,
                 int show, int threads, unsigned cpuMask, const int32_t *moving, const std::map<int, int32_t> *library)
        : filter_(open(config(width, height, track, check, strength, show, threads, cpuMask, moving, library))),
          stride_(stride),
          width_(width), height_(height)
    {
    }

    void send(const YcPixel *frame) override
    {
        VelvaneFrame f = describe(const_cast<YcPixel *>(frame));
        bool taken = false;
        call([&] { taken = filter_.send(f); });
        if (!taken)
            throw CliError("the filter took no more frames before giving out those it has");
    }
    void end() override
    {
        call([&] { filter_.end(); });
    }
    bool receive(YcPixel *out) override
    {
        VelvaneFrame f = describe(out);
        bool got = false;
        call([&] { got = filter_.receive(f); });
        return got;
    }
    bool strengthReport(SceneChoice *c) const override
    {
        return velvane_get_strength(filter_.get(), &c->strength) == VELVANE_OK &&
               velvane_get_moving(filter_.get(), &c->moving) == VELVANE_OK &&
               velvane_get_motion(filter_.get(), &c->motion) == VELVANE_OK;
    }
    void sendPlanes(const uint8_t *planes, int depth) override
    {
        VelvaneFrame f = describePlanes(const_cast<uint8_t *>(planes), depth);
        bool taken = false;
        call([&] { taken = filter_.send(f); });
        if (!taken)
            throw CliError("the filter took no more frames before giving out those it has");
    }
    bool receivePlanes(uint8_t *planes, int depth) override
    {
        VelvaneFrame f = describePlanes(planes, depth);
        bool got = false;
        call([&] { got = filter_.receive(f); });
        return got;
    }

    static VelvaneConfig config(int width, int height, const int32_t *track, const int32_t *check, int strength,
                                int show, int threads, unsigned cpuMask, const int32_t *moving,
                                const std::map<int, int32_t> *library)
    {
        VelvaneConfig c;
        velvane_default_config(&c);
        c.width = width;
        c.height = height;
        c.threads = threads;
        c.cpu_mask = cpuMask;
        c.settings = librarySettings(track, check);
        c.settings.strength = strength;
        c.settings.show = show;
        if (moving) {
            c.settings.moving_luma_low = moving[0];
            c.settings.moving_luma_high = moving[1];
            c.settings.moving_change = moving[2];
        }
        // The library's own settings a strength may choose are left to it
        // unless given (the averaging along the motion's radius).
        if (strength != VELVANE_STRENGTH_CUSTOM)
            for (int i : commandSettings().others)
                if (!library || !library->count(i)) {
                    VelvaneSettingInfo info;
                    if (velvane_setting_info(i, &info) == VELVANE_OK && info.from_strength)
                        settingField(c.settings, info) = VELVANE_FROM_STRENGTH;
                }
        if (library)
            applyLibrarySettings(*library, &c.settings);
        return c;
    }
private:
    VelvaneFrame describePlanes(uint8_t *planes, int depth) const
    {
        const int bytes = depth > 8 ? 2 : 1, cw = (width_ + 1) / 2;
        VelvaneFrame f = {};
        f.format = depth > 8 ? VELVANE_PIXEL_YUV422P16 : VELVANE_PIXEL_YUV422P8;
        f.bit_depth = depth;
        f.width = width_;
        f.height = height_;
        f.data[0] = planes;
        f.data[1] = planes + (size_t)width_ * height_ * bytes;
        f.data[2] = planes + (size_t)(width_ + cw) * height_ * bytes;
        f.stride[0] = (ptrdiff_t)width_ * bytes;
        f.stride[1] = f.stride[2] = (ptrdiff_t)cw * bytes;
        return f;
    }
    VelvaneFrame describe(YcPixel *pixels) const
    {
        VelvaneFrame f = {};
        f.format = VELVANE_PIXEL_YC48;
        f.width = width_;
        f.height = height_;
        f.data[0] = pixels;
        f.stride[0] = (ptrdiff_t)stride_ * (ptrdiff_t)sizeof(YcPixel);
        return f;
    }
    template <class F> static void call(F &&f)
    {
        try {
            f();
        } catch (const Error &e) {
            throw CliError(e.what());
        }
    }
    static Filter open(const VelvaneConfig &c)
    {
        try {
            return Filter(c);
        } catch (const Error &e) {
            throw CliError(e.what());
        }
    }

    Filter filter_;
    int stride_, width_, height_;
};

// The plug-in sees the frames around the one it makes through its host's
// frame cache: here a window of copies, n - 2 .. n + 2.
class PluginFilter : public FrameFilter {
public:
    PluginFilter(FilterDescriptor *fd, int width, int height, int stride, const int32_t *track, const int32_t *check)
        : host_(width, height, stride, height), samples_((size_t)stride * (size_t)height)
    {
        host_.recordCalls = false;
        host_.copyServedFrames = false;
        host_.attach(fd);
        std::copy(track, track + VV_TRACK_COUNT, host_.track);
        std::copy(check, check + VV_CHECK_COUNT, host_.check);
        host_.setFrameSource([this](int32_t m) { return lookup(m); }, 0);
        host_.init();
        host_.update();
    }
    ~PluginFilter() override { host_.exit(); }

    void send(const YcPixel *frame) override
    {
        std::vector<YcPixel> f;
        if (!spare_.empty()) {
            f = std::move(spare_.back());
            spare_.pop_back();
        }
        f.assign(frame, frame + samples_);
        window_.push_back(std::move(f));
    }
    void end() override { ended_ = true; }
    bool receive(YcPixel *out) override
    {
        const int64_t end = first_ + (int64_t)window_.size();
        if (next_ >= end || (!ended_ && end <= next_ + kAfter))
            return false;
        // Until the end is known, the frames read so far stand for the clip:
        // every frame the filter may ask about exists, so its choices are those
        // it makes knowing the true count.
        host_.setFrameCount((int32_t)std::min<int64_t>(end, INT32_MAX));
        host_.render((int32_t)next_, out);
        next_++;
        while (first_ < next_ - kBefore) {
            spare_.push_back(std::move(window_.front()));
            window_.pop_front();
            first_++;
        }
        return true;
    }

    // Frames the filter may ask for around output frame n: n - 2 .. n + 2.
    static constexpr int kBefore = 2, kAfter = 2;

private:

    // A real host answers every frame number; outside the clip it gives the
    // nearest frame it has.
    const YcPixel *lookup(int64_t n) const
    {
        if (window_.empty())
            return nullptr;
        n = std::min(std::max(n, first_), first_ + (int64_t)window_.size() - 1);
        return window_[(size_t)(n - first_)].data();
    }

    EmbeddedHost host_;
    size_t samples_;
    std::deque<std::vector<YcPixel>> window_;
    std::vector<std::vector<YcPixel>> spare_;
    int64_t first_ = 0, next_ = 0;
    bool ended_ = false;
};

} // namespace

void FrameFilter::sendPlanes(const uint8_t *, int) { throw CliError("this filter takes no planar frames"); }
bool FrameFilter::receivePlanes(uint8_t *, int) { throw CliError("this filter gives no planar frames"); }

std::unique_ptr<FrameFilter> nativeFilter(int width, int height, int stride, const int32_t *track,
                                          const int32_t *check, int strength, int show, int threads,
                                          unsigned cpuMask, const int32_t *moving,
                                          const std::map<int, int32_t> *library)
{
    return std::unique_ptr<FrameFilter>(
        new NativeFilter(width, height, stride, track, check, strength, show, threads, cpuMask, moving, library));
}

int frameLookahead(bool plugin, const int32_t *track, const int32_t *check, int strength, int show,
                   const int32_t *moving, const std::map<int, int32_t> *library)
{
    if (plugin)
        return PluginFilter::kAfter;
    const VelvaneConfig c = NativeFilter::config(VELVANE_MIN_SIZE, VELVANE_MIN_SIZE, track, check, strength, show, 1,
                                                 VELVANE_CPU_ALL, moving, library);
    const int ahead = velvane_lookahead(&c.settings);
    return ahead > 0 ? ahead : 2; // settings the library refuses fail when it opens
}

std::unique_ptr<FrameFilter> pluginFilter(FilterDescriptor *fd, int width, int height, int stride,
                                          const int32_t *track, const int32_t *check)
{
    return std::unique_ptr<FrameFilter>(new PluginFilter(fd, width, height, stride, track, check));
}

} // namespace velvane
