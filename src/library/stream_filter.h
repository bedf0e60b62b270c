// One clip through one filter instance: frames go in and come out in display
// order, the lookahead the averaging needs kept inside.
#ifndef VELVANE_LIBRARY_STREAM_FILTER_H
#define VELVANE_LIBRARY_STREAM_FILTER_H

#include <stdint.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "library/frame_io.h"
#include "library/thread_pool.h"
#include "motion/motion.h"
#include "motion/spatial.h"
#include "pipeline/instance.h"
#include "pipeline/noise_level.h"
#include "pipeline/settings.h"
#include "pipeline/strength.h"
#include "velvane/velvane.h"

namespace velvane {

// Settings as an instance keeps them: as the API gives them, fields a
// strength chooses VELVANE_FROM_STRENGTH.
struct StreamSettings {
    StreamSettings() : StreamSettings(defaultFrameSettings()) {}
    StreamSettings(const VelvaneSettings &s)
        : given(s), strength(static_cast<Strength>(s.strength)), show(s.show)
    {
        // Left to the strength: automatic strength's radius, none for the
        // named ones.
        motion.radius = s.mc_radius != VELVANE_FROM_STRENGTH ? s.mc_radius
                        : strength == Strength::Auto        ? kAutoMotionRadius
                                                            : 0;
        motion.strength = s.mc_strength ? s.mc_strength : kMotionStrengthDefault;
    }
    // The settings as given, no strength, the filtered video.
    StreamSettings(const FrameSettings &f);

    VelvaneSettings given;
    Strength strength; // given's, as the pipeline names it
    int show;
    MotionSettings motion; // radius 0: no motion-compensated averaging
};

class StreamFilter {
public:
    // Frames after output frame n that must have gone in before it can come
    // out: its neighbour n + 1 is rebuilt from n + 2. The motion-compensated
    // averaging of n + 1 reads `radius` frames beyond it, each after the dot
    // pass, which reads the one after.
    static constexpr int kLookahead = 2;
    static int lookahead(const MotionSettings &m) { return kLookahead + (m.radius > 0 ? m.radius : 0); }

    // Filters on `threads` threads (1 .. kMaxWorkers): the caller's and
    // threads - 1 of its own. Throws std::bad_alloc when its memory cannot be
    // allocated, std::system_error when a thread cannot start.
    StreamFilter(int width, int height, unsigned cpuFlags, const StreamSettings &s, int threads = 1);
    ~StreamFilter();
    StreamFilter(const StreamFilter &) = delete;
    StreamFilter &operator=(const StreamFilter &) = delete;

    // VelvaneStatus codes; `error()` says why after a failure. A failure
    // leaves the stream as it was. May throw std::bad_alloc (nothing changed).
    int send(const VelvaneFrame *frame);
    int receive(VelvaneFrame &out);
    void flush();
    void setSettings(const StreamSettings &s);
    const std::string &error() const { return error_; }
    // What the strength chose for the frame received last (or the next one;
    // VELVANE_FROM_STRENGTH where automatic strength has not measured yet).
    VelvaneStrengthReport strengthReport() const;
    // The thresholds where the picture moves, for the same frame.
    VelvaneMovingReport movingReport() const;
    // What the motion search found for the frame received last (zeros where
    // the motion-compensated averaging is off).
    MotionStats motionStats() const { return lastMotion_; }
    // The instance inside, for tests that make its allocations fail.
    FilterInstance &instance() { return *instance_; }

private:
    struct Frame {
        std::vector<YcPixel> pixels;
        std::vector<int16_t> luma; // the pixels' luma alone, for the dot pass
        int64_t userData = 0;
        bool sceneStart = false; // automatic strength: a scene begins here
        // The motion stage's copy of the frame after the dot pass, and the
        // frame averaged along the motion, each once made.
        std::unique_ptr<MotionFrame> prepared;
        std::vector<YcPixel> averaged;
        bool hasPrepared = false, hasAveraged = false;
        MotionStats motion;
    };
    int fail(int status, std::string why);
    // Output frame n of a clip of frameCount frames, into output_.
    FrameJob jobFor(int64_t n, int64_t frameCount);
    // Frame n of the window; one outside it gets the nearest there is.
    const Frame *windowFrame(int64_t n) const;
    // The settings frame n is filtered with, measuring its scene first when
    // the strength is automatic and the scene is new.
    FrameSettings settingsFor(int64_t n);
    // The settings given, with what `c` chooses where they leave it to the
    // strength.
    VelvaneSettings resolved(const StrengthChoice &c) const;
    // The settings of the strength in force.
    VelvaneSettings inForce() const;
    // The same as the reports give them: VELVANE_FROM_STRENGTH where they
    // leave it to automatic strength and it has not measured yet.
    VelvaneSettings reported() const;
    void measureScene(int64_t n);
    // Automatic strength's measure of frames[0] with frames[1] and [2]
    // moved onto it along the motion.
    void measureAlongMotion(const YcPixel *const *frames);
    void showDots(int64_t n, bool dot);
    // The radius in force: the one given, or automatic strength's choice for
    // the scene (settings_.motion.radius is then the most it may choose).
    int32_t motionRadius() const
    {
        return settings_.given.mc_radius == VELVANE_FROM_STRENGTH && settings_.strength == Strength::Auto &&
                       measurements_ > 0
                   ? autoChoice_.motionRadius
                   : settings_.motion.radius;
    }
    bool motionOn() const { return motionRadius() > 0 && MotionStage::takes(width_, height_); }
    // The motion-averaged frames around output frame n, made where missing.
    void averageAlongMotion(int64_t n, bool dot);
    MotionFrame &prepared(int64_t m, bool dot);
    void forgetMotion();

    const int width_, height_, stride_;
    const unsigned cpuFlags_;
    std::unique_ptr<FilterInstance> instance_;
    std::unique_ptr<ThreadPool> pool_; // none for one thread
    TaskRunner tasks_;
    StreamSettings settings_;
    FrameIo io_;
    std::deque<Frame> window_; // frames first_ .. first_ + size - 1
    std::vector<Frame> spare_;
    std::vector<YcPixel> output_;
    int64_t first_ = 0, next_ = 0;
    bool ended_ = false;
    std::string error_;

    // Automatic strength: the signature of the frame sent last, the choice in
    // force and what it came from.
    SceneCuts cuts_;
    bool needMeasure_ = true;
    StrengthChoice autoChoice_ = {};
    NoiseLevel autoLevel_;
    int64_t measuredAt_ = -1;
    int measurements_ = 0;
    bool bandsDot_ = false; // the dot pass of the frames in the band cache

    std::unique_ptr<MotionStage> motion_;
    std::vector<YcPixel> dotted_; // a frame after the dot pass, for the motion stage
    bool motionDot_ = false;      // the dot pass of the motion stage's frames
    int32_t averagedRadius_ = 0;  // the radius of the frames averaged along the motion
    MotionStats lastMotion_;
    std::unique_ptr<SpatialStage> spatial_;
    std::vector<YcPixel> spatialOut_; // the spatial pass's output, swapped with the frame's
    // Automatic strength's look along the motion: three frames as the motion
    // stage reads them, their vectors, two frames moved.
    std::unique_ptr<MotionFrame[]> measured_;
    MotionStage::Vectors measuredVectors_[2]; // on to frames n + 1 and n + 2
    std::vector<YcPixel> moved_[2];
};

} // namespace velvane

#endif
