#include "library/stream_filter.h"

#include <limits.h>

#include <new>

#include "pipeline/driver.h"

namespace velvane {
namespace {

std::string outcomeText(FrameOutcome o)
{
    switch (o) {
    case FrameOutcome::Filtered: return std::string();
    case FrameOutcome::OutOfMemory: return "the filter ran out of memory";
    case FrameOutcome::NotStarted: return "the filter is not running (it needs a processor with SSE2)";
    case FrameOutcome::Unsupported: return "the filter does not take frames of this size";
    case FrameOutcome::MissingFrames: break;
    }
    return "the frames around it did not reach the filter";
}

int outcomeStatus(FrameOutcome o)
{
    switch (o) {
    case FrameOutcome::OutOfMemory: return VELVANE_ENOMEM;
    case FrameOutcome::NotStarted:
    case FrameOutcome::Unsupported: return VELVANE_EUNSUPPORTED;
    default: return VELVANE_EINVAL;
    }
}

} // namespace

StreamFilter::StreamFilter(int width, int height, unsigned cpuFlags, const FrameSettings &s, int threads)
    : width_(width), height_(height), stride_((width + 3) & ~3), instance_(new FilterInstance),
      pool_(threads > 1 ? new ThreadPool(threads) : nullptr), tasks_(pool_ ? pool_->runner() : serialTasks()),
      settings_(s), io_(width, height, tasks_.workers), output_((size_t)stride_ * (size_t)height)
{
    // Every x86-64 processor has SSE2, the filter's baseline.
    startInstance(*instance_, 2, cpuFlags, tasks_.workers);
    if (instance_->startupOutOfMemory)
        throw std::bad_alloc();
}

StreamFilter::~StreamFilter() { stopInstance(*instance_); }

int StreamFilter::fail(int status, std::string why)
{
    error_ = std::move(why);
    return status;
}

const StreamFilter::Frame *StreamFilter::windowFrame(int64_t n) const
{
    // Every frame the filter asks for lies in the window; a request outside
    // it gets the nearest frame there is, as a host's cache would answer.
    if (window_.empty())
        return nullptr;
    const int64_t last = first_ + (int64_t)window_.size() - 1;
    n = n < first_ ? first_ : n > last ? last : n;
    return &window_[(size_t)(n - first_)];
}

int StreamFilter::send(const VelvaneFrame *frame)
{
    error_.clear();
    if (ended_)
        return fail(VELVANE_EINVAL, "the clip has ended; flush the filter to start another");
    if (!frame) {
        ended_ = true;
        return VELVANE_OK;
    }
    const int64_t end = first_ + (int64_t)window_.size();
    if (end > next_ + kLookahead)
        return fail(VELVANE_EAGAIN, "receive the filtered frames waiting before sending more");
    if (end >= INT32_MAX)
        return fail(VELVANE_EINVAL, "a clip holds at most 2147483647 frames");
    const std::string problem = frameProblem(*frame, width_);
    if (!problem.empty())
        return fail(VELVANE_EINVAL, "input frame: " + problem);

    Frame f;
    if (!spare_.empty()) {
        f = std::move(spare_.back());
        spare_.pop_back();
    } else {
        // Columns from the width to the stride stay zero: the band split reads
        // up to three of them beside the last pixel.
        f.pixels.assign((size_t)stride_ * (size_t)height_, YcPixel{0, 0, 0});
        f.luma.resize((size_t)width_ * (size_t)height_);
    }
    io_.toPixels(*frame, f.pixels.data(), stride_, tasks_, f.luma.data(), instance_->kernels.wavelet.copyLumaRow);
    f.userData = frame->user_data;
    window_.push_back(std::move(f));
    return VELVANE_OK;
}

int StreamFilter::receive(VelvaneFrame &out)
{
    error_.clear();
    const int64_t end = first_ + (int64_t)window_.size();
    if (next_ >= end)
        return ended_ ? VELVANE_EOF : fail(VELVANE_EAGAIN, "send more frames first");
    if (!ended_ && end <= next_ + kLookahead)
        return fail(VELVANE_EAGAIN, "send more frames first");
    const std::string problem = frameProblem(out, width_);
    if (!problem.empty())
        return fail(VELVANE_EINVAL, "output frame: " + problem);

    // Until the end is known, the frames sent so far stand for the clip: every
    // frame the filter may ask about exists, so its choices are those it makes
    // knowing the true count.
    FrameJob job = {};
    job.frame = output_.data();
    job.width = width_;
    job.height = height_;
    job.stride = stride_;
    job.maxHeight = height_;
    job.frameIndex = (int32_t)next_;
    job.frameCount = (int32_t)end;
    const FrameSource source = {
        [](void *) { return true; },
        [](void *self, int32_t m) {
            const Frame *f = static_cast<const StreamFilter *>(self)->windowFrame(m);
            return f ? f->pixels.data() : nullptr;
        },
        this,
        true, // the window keeps every frame until the call returns
        [](void *self, int32_t m) {
            const Frame *f = static_cast<const StreamFilter *>(self)->windowFrame(m);
            return f ? (const int16_t *)f->luma.data() : nullptr;
        },
    };
    // Each row goes out to the caller's frame as soon as it is final, while it
    // is in the cache; a frame that is not filtered writes none.
    struct Out {
        StreamFilter *self;
        const VelvaneFrame *frame;
    } to = {this, &out};
    const FrameRowSink sink = {
        [](void *c, int32_t r, int32_t worker) {
            const Out &o = *static_cast<const Out *>(c);
            o.self->io_.fromPixelRow(o.self->output_.data(), o.self->stride_, *o.frame, r, worker);
        },
        &to,
    };
    filterFrame(*instance_, job, settings_, source, tasks_, &sink);
    if (instance_->lastOutcome != FrameOutcome::Filtered)
        return fail(outcomeStatus(instance_->lastOutcome),
                    "frame " + std::to_string(next_) + " could not be filtered: " + outcomeText(instance_->lastOutcome));

    out.user_data = window_[(size_t)(next_ - first_)].userData;
    next_++;
    // Rebuilding frame n - 1 after a settings change reads n - 2.
    while (first_ < next_ - kLookahead) {
        spare_.push_back(std::move(window_.front()));
        window_.pop_front();
        first_++;
    }
    return VELVANE_OK;
}

void StreamFilter::flush()
{
    error_.clear();
    while (!window_.empty()) {
        spare_.push_back(std::move(window_.front()));
        window_.pop_front();
    }
    first_ = next_ = 0;
    ended_ = false;
    invalidateBandCache(instance_->cache);
}

void StreamFilter::setSettings(const FrameSettings &s)
{
    error_.clear();
    settings_ = s;
    // Every cached band was built under the old settings.
    invalidateBandCache(instance_->cache);
}

} // namespace velvane
