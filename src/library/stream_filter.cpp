#include "library/stream_filter.h"

#include <limits.h>
#include <math.h>
#include <string.h>

#include <new>

#include "pipeline/driver.h"
#include "library/settings_fields.h"
#include "pipeline/removed_view.h"
#include "wavelet/dot_pass.h"

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

// No default: a new outcome must be given its status here.
int outcomeStatus(FrameOutcome o)
{
    switch (o) {
    case FrameOutcome::Filtered: return VELVANE_OK;
    case FrameOutcome::OutOfMemory: return VELVANE_ENOMEM;
    case FrameOutcome::NotStarted:
    case FrameOutcome::Unsupported: return VELVANE_EUNSUPPORTED;
    case FrameOutcome::MissingFrames: return VELVANE_EINVAL;
    }
    return VELVANE_EINVAL; // not an outcome at all
}

} // namespace

StreamSettings::StreamSettings(const FrameSettings &f)
    : StreamSettings([&f] {
          VelvaneSettings s = velvaneSettings(f);
          s.strength = VELVANE_STRENGTH_CUSTOM;
          s.show = VELVANE_SHOW_OUTPUT;
          return s;
      }())
{
}

StreamFilter::StreamFilter(int width, int height, unsigned cpuFlags, const StreamSettings &s, int threads)
    : width_(width), height_(height), stride_((width + 3) & ~3), cpuFlags_(cpuFlags), instance_(new FilterInstance),
      pool_(threads > 1 ? new ThreadPool(threads) : nullptr), tasks_(pool_ ? pool_->runner() : serialTasks()),
      settings_(s), io_(width, height, tasks_.workers, cpuFlags), output_((size_t)stride_ * (size_t)height)
{
    // Every x86-64 processor has SSE2, the filter's baseline. The plug-in's
    // host limits frames to 720 x 480; the library takes every size the dot
    // pass's work memory spans.
    instance_->maxWidth = instance_->maxHeight = kWaveLength;
    // The frames kept: n - 2 .. n + 2 and one being sent. Room for all of them
    // now, so that handing a frame back to the spares never allocates.
    spare_.reserve(2 * (kLookahead + kMotionRadiusMax) + 2);
    startInstance(*instance_, 2, cpuFlags, tasks_.workers);
    if (instance_->startupOutOfMemory)
        throw std::bad_alloc();
}

StreamFilter::~StreamFilter() { stopInstance(*instance_); }

FrameJob StreamFilter::jobFor(int64_t n, int64_t frameCount)
{
    FrameJob job = {};
    job.frame = output_.data();
    job.width = width_;
    job.height = height_;
    job.stride = stride_;
    job.maxHeight = height_;
    job.frameIndex = (int32_t)n;
    job.frameCount = (int32_t)frameCount;
    return job;
}

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
    if (end > next_ + lookahead(settings_.motion))
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
    f.sceneStart = false;
    f.hasPrepared = f.hasAveraged = false;
    if (settings_.strength == Strength::Auto) {
        SceneSignature signature;
        sceneSignature(f.pixels.data(), width_, height_, stride_, &signature);
        f.sceneStart = cuts_.next(signature);
    }
    window_.push_back(std::move(f));
    return VELVANE_OK;
}

int StreamFilter::receive(VelvaneFrame &out)
{
    error_.clear();
    const int64_t end = first_ + (int64_t)window_.size();
    if (next_ >= end)
        return ended_ ? VELVANE_EOF : fail(VELVANE_EAGAIN, "send more frames first");
    if (!ended_ && end <= next_ + lookahead(settings_.motion))
        return fail(VELVANE_EAGAIN, "send more frames first");
    const std::string problem = frameProblem(out, width_);
    if (!problem.empty())
        return fail(VELVANE_EINVAL, "output frame: " + problem);

    // Until the end is known, the frames sent so far stand for the clip: every
    // frame the filter may ask about exists, so its choices are those it makes
    // knowing the true count.
    const FrameJob job = jobFor(next_, end);
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
    FrameSettings settings = settingsFor(next_);
    if (!motionOn() && averagedRadius_ != 0) {
        // Automatic strength turned the averaging along the motion off for
        // this scene: the bands hold frames it averaged.
        forgetMotion();
        invalidateBandCache(instance_->cache);
        averagedRadius_ = 0;
    }
    FrameSource along = source;
    lastMotion_ = MotionStats{};
    if (motionOn() && settings_.show != VELVANE_SHOW_DOTS) {
        // The averaging along the motion works on frames after the dot pass,
        // and the band averaging then on its frames.
        averageAlongMotion(next_, settings.dot);
        settings.dot = false;
        along.frame = [](void *self, int32_t m) {
            const Frame *f = static_cast<const StreamFilter *>(self)->windowFrame(m);
            return f ? (f->hasAveraged ? f->averaged.data() : f->pixels.data()) : nullptr;
        };
        along.luma = nullptr;
        lastMotion_ = windowFrame(next_)->motion;
    }
    if (settings_.show == VELVANE_SHOW_DOTS) {
        showDots(next_, settings.dot);
    } else {
        // What is removed needs the whole filtered frame before it goes out.
        const bool removed = settings_.show == VELVANE_SHOW_REMOVED;
        const FrameOutcome outcome = filterFrame(*instance_, job, settings, along, tasks_, removed ? nullptr : &sink);
        if (outcome != FrameOutcome::Filtered)
            return fail(outcomeStatus(outcome),
                        "frame " + std::to_string(next_) + " could not be filtered: " + outcomeText(outcome));
        if (removed)
            removedView(windowFrame(next_)->pixels.data(), output_.data(), width_, height_, stride_);
    }
    if (settings_.show != VELVANE_SHOW_OUTPUT)
        for (int r = 0; r < height_; r++)
            io_.fromPixelRow(output_.data(), stride_, out, r, 0);

    out.user_data = window_[(size_t)(next_ - first_)].userData;
    next_++;
    // Rebuilding frame n - 1 after a settings change reads n - 2, and its
    // motion-compensated averaging `radius` frames before that.
    while (first_ < next_ - lookahead(settings_.motion)) {
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
    forgetMotion();
    cuts_.reset();
    needMeasure_ = true;
    measuredAt_ = -1;
    measurements_ = 0;
}

void StreamFilter::setSettings(const StreamSettings &s)
{
    error_.clear();
    // A strength newly automatic measures at the next frame; frames already
    // sent have no signature, so the next one sent starts a scene.
    if (s.strength == Strength::Auto && settings_.strength != Strength::Auto) {
        needMeasure_ = true;
        cuts_.reset();
    }
    settings_ = s;
    // Every cached band was built under the old settings, and every frame
    // averaged along the motion.
    invalidateBandCache(instance_->cache);
    forgetMotion();
}

void StreamFilter::measureScene(int64_t n)
{
    // The frame and up to two after it, as long as they belong to its scene.
    const YcPixel *frames[3] = {};
    int count = 0;
    const int64_t end = first_ + (int64_t)window_.size();
    for (int64_t m = n; m < end && count < 3; m++) {
        if (m > n && windowFrame(m)->sceneStart)
            break;
        frames[count++] = windowFrame(m)->pixels.data();
    }
    autoLevel_ = measureNoise(frames, count, width_, height_, stride_);
    if (count == 3 && MotionStage::takes(width_, height_))
        measureAlongMotion(frames);
    autoChoice_ = autoStrength(autoLevel_);
    measuredAt_ = n;
    measurements_++;
    needMeasure_ = false;
}

void StreamFilter::measureAlongMotion(const YcPixel *const *frames)
{
    // Whether or not the averaging along the motion runs: grain and dots
    // told on plain frame differences take a moving picture or a fine
    // texture for them.
    if (!motion_)
        motion_.reset(new MotionStage(cpuFlags_));
    if (!measured_)
        measured_.reset(new MotionFrame[3]);
    for (int i = 0; i < 3; i++)
        measured_[i].prepare(motion_->dsp(), frames[i], width_, height_, stride_, tasks_);
    // The vectors on to frame n + 2, whose dots (NTSC's) are those of frame
    // n: dots cannot pull them. Frame n + 1 moves half as far, or along its
    // own vectors where they agree: dots half a cycle on could pull those
    // (a still picture's by two pixels), and a still picture's dots must
    // stay in place to be found.
    motion_->match(measured_[0], measured_[2], measuredVectors_[1], tasks_);
    motion_->match(measured_[0], measured_[1], measuredVectors_[0], tasks_);
    for (auto &m : moved_)
        m.assign((size_t)stride_ * (size_t)height_, YcPixel{0, 0, 0});
    motion_->moveOnto(measured_[0], measured_[1], measuredVectors_[1], 1, 2, moved_[0].data(), stride_,
                      &measuredVectors_[0]);
    const MotionStage::Residual r =
        motion_->moveOnto(measured_[0], measured_[2], measuredVectors_[1], 1, 1, moved_[1].data(), stride_);
    const YcPixel *moved[2] = {moved_[0].data(), moved_[1].data()};
    const float residual[2] = {r.luma, r.chroma};
    refineAlongMotion(autoLevel_, frames, moved, residual, width_, height_, stride_);
}

VelvaneSettings StreamFilter::resolved(const StrengthChoice &c) const
{
    VelvaneSettings s = settings_.given;
    const VelvaneSettings chosen = strengthChoiceSettings(c);
    for (const SettingRow &r : kSettingRows)
        if (r.fromStrength && s.*r.member == VELVANE_FROM_STRENGTH)
            s.*r.member = chosen.*r.member;
    if (s.mc_radius > 0) {
        int VelvaneSettings::*const thresholds[4] = {&VelvaneSettings::luma_low, &VelvaneSettings::luma_high,
                                                     &VelvaneSettings::chroma_low, &VelvaneSettings::chroma_high};
        for (int i = 0; i < 4; i++)
            if (c.alongMotion[i] >= 0 && settings_.given.*thresholds[i] == VELVANE_FROM_STRENGTH)
                s.*thresholds[i] = c.alongMotion[i];
    }
    // Where the picture moves, never wider than the rest of the frame.
    s.moving_luma_low = s.moving_luma_low < s.luma_low ? s.moving_luma_low : s.luma_low;
    s.moving_luma_high = s.moving_luma_high < s.luma_high ? s.moving_luma_high : s.luma_high;
    return s;
}

FrameSettings StreamFilter::settingsFor(int64_t n)
{
    // A frame received again after a failure keeps its measurement.
    if (settings_.strength == Strength::Auto && (needMeasure_ || (windowFrame(n)->sceneStart && measuredAt_ != n)))
        measureScene(n);
    const FrameSettings s = frameSettings(inForce());
    // The bands hold frames as the dot pass left them; the thresholds only
    // count in the averaging.
    if (s.dot != bandsDot_) {
        invalidateBandCache(instance_->cache);
        bandsDot_ = s.dot;
    }
    return s;
}

void StreamFilter::showDots(int64_t n, bool dot)
{
    const YcPixel *cur = windowFrame(n)->pixels.data();
    memcpy(output_.data(), cur, output_.size() * sizeof(YcPixel));
    if (dot) {
        // The neighbours the rebuild gives the dot pass: at either end of the
        // clip the one there is stands for both, a lone frame for itself.
        const int64_t last = first_ + (int64_t)window_.size() - 1;
        const bool hasPrevious = n > 0, hasNext = n < last;
        const YcPixel *after = hasNext ? windowFrame(n + 1)->pixels.data() : nullptr;
        const YcPixel *previous = hasPrevious ? windowFrame(n - 1)->pixels.data() : hasNext ? after : cur;
        const YcPixel *next = hasNext ? after : previous;
        const FrameJob job = jobFor(n, last + 1);
        dotPass(instance_->kernels.wavelet, instance_->scratch.work, &job, previous, output_.data(), next);
    }
    removedView(cur, output_.data(), width_, height_, stride_);
}

void StreamFilter::forgetMotion()
{
    for (Frame &f : window_)
        f.hasPrepared = f.hasAveraged = false;
}

MotionFrame &StreamFilter::prepared(int64_t m, bool dot)
{
    Frame &f = window_[(size_t)(m - first_)];
    if (!f.prepared)
        f.prepared.reset(new MotionFrame);
    if (f.hasPrepared)
        return *f.prepared;
    const YcPixel *source = f.pixels.data();
    if (dot) {
        // The dot pass as the band averaging runs it: at either end of the
        // clip the one neighbour there is stands for both.
        dotted_.resize(f.pixels.size());
        memcpy(dotted_.data(), source, dotted_.size() * sizeof(YcPixel));
        const int64_t last = first_ + (int64_t)window_.size() - 1;
        const bool hasPrevious = m > 0, hasNext = m < last;
        const YcPixel *after = hasNext ? windowFrame(m + 1)->pixels.data() : nullptr;
        const YcPixel *previous = hasPrevious ? windowFrame(m - 1)->pixels.data() : hasNext ? after : source;
        const YcPixel *next = hasNext ? after : previous;
        const FrameJob job = jobFor(m, last + 1);
        dotPass(instance_->kernels.wavelet, instance_->scratch.work, &job, previous, dotted_.data(), next);
        source = dotted_.data();
    }
    f.prepared->prepare(motion_->dsp(), source, width_, height_, stride_, tasks_);
    f.hasPrepared = true;
    return *f.prepared;
}

void StreamFilter::averageAlongMotion(int64_t n, bool dot)
{
    if (dot != motionDot_) {
        forgetMotion();
        invalidateBandCache(instance_->cache);
        motionDot_ = dot;
    }
    if (motionRadius() != averagedRadius_) {
        forgetMotion();
        invalidateBandCache(instance_->cache);
        averagedRadius_ = motionRadius();
    }
    if (!motion_)
        motion_.reset(new MotionStage(cpuFlags_));
    const int64_t last = first_ + (int64_t)window_.size() - 1;
    const int32_t radius = motionRadius();
    MotionSettings motion = settings_.motion;
    motion.radius = radius;
    if (settings_.strength == Strength::Auto && measurements_ > 0) {
        // Automatic strength knows the grain from what is left once the
        // motion is followed, at best cells: where the matches cost more (a
        // fine texture turning), the thresholds keep to the grain. A block
        // cost over white noise is about 0.8 to 1 of its deviation x 128.
        const float grain = autoLevel_.luma > 0.5f ? autoLevel_.luma : 0.5f;
        motion.noiseCeiling = (int32_t)lrintf(grain * 0.9f * 128.0f);
    }
    for (int64_t m = n - 1; m <= n + 1; m++) {
        if (m < 0 || m < first_ || m > last)
            continue;
        Frame &f = window_[(size_t)(m - first_)];
        if (f.hasAveraged)
            continue;
        const MotionFrame *before[kMotionRadiusMax] = {}, *after[kMotionRadiusMax] = {};
        int32_t countBefore = 0, countAfter = 0;
        for (int32_t k = 1; k <= radius; k++) {
            if (m - k >= 0 && m - k >= first_)
                before[countBefore++] = &prepared(m - k, dot);
            if (m + k <= last)
                after[countAfter++] = &prepared(m + k, dot);
        }
        const MotionFrame &cur = prepared(m, dot);
        // The averaging writes every pixel of the picture; the columns past
        // its width keep the frame's own.
        f.averaged.resize(f.pixels.size());
        if (stride_ > width_)
            for (int32_t r = 0; r < height_; r++)
                memcpy(f.averaged.data() + (size_t)r * stride_ + width_, f.pixels.data() + (size_t)r * stride_ + width_,
                       (size_t)(stride_ - width_) * sizeof(YcPixel));
        motion_->average(cur, before, countBefore, after, countAfter, motion, f.averaged.data(), stride_, tasks_);
        f.motion = motion_->stats();
        // What noise the averaging left, a spatial pass within each field removes.
        const SpatialLimits limits = SpatialStage::limits(f.motion.noise, f.motion.matchedShare,
                                                          countBefore + countAfter, settings_.motion.strength);
        if (limits.any()) {
            if (!spatial_)
                spatial_.reset(new SpatialStage(cpuFlags_));
            spatialOut_.resize(f.averaged.size());
            spatial_->filter(f.averaged.data(), spatialOut_.data(), width_, height_, stride_, limits, tasks_);
            f.averaged.swap(spatialOut_);
        }
        f.hasAveraged = true;
    }
}

VelvaneSettings StreamFilter::inForce() const
{
    const Strength strength = settings_.strength;
    return resolved(strength == Strength::Auto     ? autoChoice_
                    : strength == Strength::Custom ? StrengthChoice{}
                                                   : presetStrength(strength));
}

VelvaneSettings StreamFilter::reported() const
{
    VelvaneSettings s = inForce();
    if (settings_.strength == Strength::Auto && measurements_ == 0)
        for (const SettingRow &r : kSettingRows)
            if (r.fromStrength && settings_.given.*r.member == VELVANE_FROM_STRENGTH)
                s.*r.member = VELVANE_FROM_STRENGTH;
    return s;
}

VelvaneMovingReport StreamFilter::movingReport() const
{
    const VelvaneSettings s = reported();
    VelvaneMovingReport r = {};
    r.luma_low = s.moving_luma_low;
    r.luma_high = s.moving_luma_high;
    r.change = s.moving_change;
    return r;
}

VelvaneStrengthReport StreamFilter::strengthReport() const
{
    const VelvaneSettings s = reported();
    VelvaneStrengthReport r = {};
    r.luma_low = s.luma_low;
    r.luma_high = s.luma_high;
    r.chroma_low = s.chroma_low;
    r.chroma_high = s.chroma_high;
    r.dot_removal = s.dot_removal;
    r.measured_at = measuredAt_;
    r.measurements = measurements_;
    r.luma_noise = autoLevel_.luma;
    r.chroma_noise = autoLevel_.chroma;
    r.dot_share = autoLevel_.dotShare;
    return r;
}

} // namespace velvane
