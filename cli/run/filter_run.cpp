#include "run/filter_run.h"

#include <errno.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "run/channel.h"
#include "y4m/convert.h"
#include "run/frame_filter.h"
#include "report/report.h"
#include "report/snapshot.h"

namespace velvane {

namespace {

using Clock = std::chrono::steady_clock;

struct HostFrame {
    std::vector<YcPixel> pixels;
    std::vector<uint8_t> planes; // the stream's planes instead, where the filter takes them
    FrameInfo info; // passed through from the source's frame to the sink's
    int64_t index = 0;
};
using FramePtr = std::unique_ptr<HostFrame>;

class Progress {
public:
    Progress(bool enabled, int64_t expected) : enabled_(enabled), expected_(expected), start_(Clock::now()) {}

    void frameDone(int64_t done)
    {
        if (!enabled_)
            return;
        auto now = Clock::now();
        if (now - last_ < std::chrono::milliseconds(250))
            return;
        last_ = now;
        const double s = std::chrono::duration<double>(now - start_).count();
        const double fps = s > 0 ? done / s : 0;
        char line[160];
        if (expected_ > 0 && fps > 0) {
            const double left = std::max<double>(0, (double)(expected_ - done) / fps);
            snprintf(line, sizeof line, "\rvelvane: frame %lld of %lld, %.1f fps, %d:%02d left   ",
                     (long long)done, (long long)expected_, fps, (int)left / 60, (int)left % 60);
        } else {
            snprintf(line, sizeof line, "\rvelvane: frame %lld, %.1f fps   ", (long long)done, fps);
        }
        fputs(line, stderr);
        shown_ = true;
    }

    void finish()
    {
        if (shown_)
            fputs("\r\033[K", stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    int64_t expected_;
    Clock::time_point start_, last_{};
    bool shown_ = false;
};

double cpuSeconds(int who)
{
    struct rusage u;
    if (getrusage(who, &u) != 0)
        return 0;
    return (double)u.ru_utime.tv_sec + (double)u.ru_stime.tv_sec +
           ((double)u.ru_utime.tv_usec + (double)u.ru_stime.tv_usec) * 1e-6;
}

double threadSeconds() { return cpuSeconds(RUSAGE_THREAD); }

template <class Body> std::thread startThread(Body &body)
{
    try {
        return std::thread(std::ref(body));
    } catch (const std::system_error &e) {
        throw CliError(std::string("cannot start a thread: ") + e.what());
    }
}

// The stream as --field-order tells it: the header's I tag says so, and every
// frame follows.
Y4mFormat withFieldOrder(const Y4mFormat &f, char order)
{
    if (!order)
        return f;
    Y4mFormat o = f;
    o.interlace = order;
    o.tags.clear();
    bool tagged = false;
    for (const auto &t : f.tags) {
        if (t[0] == 'I') {
            o.tags.push_back(std::string("I") + order);
            tagged = true;
        } else {
            o.tags.push_back(t);
        }
    }
    if (!tagged)
        o.tags.push_back(std::string("I") + order);
    return o;
}

// A plug-in build takes fixed settings within its descriptor's ranges: a named
// strength becomes its thresholds here, and what only the native library does
// is refused.
void strengthForPlugin(const FilterDescriptor &fd, const FilterRun &run, int32_t *track, int32_t *check)
{
    const int strength = run.settings.strength.value_or(VELVANE_STRENGTH_CUSTOM);
    if (strength == VELVANE_STRENGTH_AUTO)
        throw CliError("--strength auto needs the native library: a plug-in build (--module) filters with fixed "
                       "thresholds");
    if (run.show != VELVANE_SHOW_OUTPUT)
        throw CliError("--show needs the native library; leave out --module");
    if (strength == VELVANE_STRENGTH_CUSTOM)
        return;
    VelvaneSettings chosen = librarySettings(track, check);
    velvane_strength_settings(strength, &chosen);
    for (int i = 0; i < VV_TRACK_COUNT; i++) {
        if (track[i] != VELVANE_FROM_STRENGTH)
            continue;
        const int v = settingField(chosen, trackInfo(i));
        if (v > fd.trackMaxima[i])
            throw CliError(std::string("--strength sets ") + trackOptionName(i) + " to " + std::to_string(v) +
                           ", beyond the " + std::to_string(fd.trackMinima[i]) + " to " +
                           std::to_string(fd.trackMaxima[i]) + " a plug-in build takes; give " + trackOptionName(i) +
                           " yourself");
        track[i] = v;
    }
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        if (check[i] == VELVANE_FROM_STRENGTH)
            check[i] = settingField(chosen, checkInfo(i));
}

// One line for each scene automatic strength measured.
std::string strengthNote(const SceneChoice &c)
{
    const VelvaneStrengthReport &r = c.strength;
    char line[200];
    snprintf(line, sizeof line,
             "frame %lld: noise %.2f (luma) and %.2f (chroma) 8-bit code values, dots in %.0f%% of the picture: ",
             (long long)r.measured_at, r.luma_noise, r.chroma_noise, 100.0 * r.dot_share);
    return line + sceneOptions(c);
}

} // namespace

void requireFilterableSize(const Y4mFormat &f, const std::string &name, bool plugin, int minimumSide)
{
    const std::string size = std::to_string(f.width) + " x " + std::to_string(f.height);
    if (f.width < minimumSide || f.height < minimumSide)
        throw CliError(name + ": frames of " + size + " are smaller than the filter's minimum of " +
                       std::to_string(minimumSide) + " x " + std::to_string(minimumSide));
    if (plugin && (f.width > VV_MAX_WIDTH || f.height > VV_MAX_HEIGHT))
        throw CliError(name + ": frames of " + size + " are larger than the plug-in's limit of " +
                       std::to_string((int)VV_MAX_WIDTH) + " x " + std::to_string((int)VV_MAX_HEIGHT) +
                       "; without --module the native library takes them");
    if (f.width > VELVANE_MAX_WIDTH || f.height > VELVANE_MAX_HEIGHT)
        throw CliError(name + ": frames of " + size + " are larger than the filter's limit of " +
                       std::to_string(VELVANE_MAX_WIDTH) + " x " + std::to_string(VELVANE_MAX_HEIGHT) +
                       ": it is made for standard-definition video (PAL and NTSC)");
}

RunStats filterStream(FilterDescriptor *fd, FILE *in, const std::string &inName, FILE *out,
                      const std::string &outName, const FilterRun &run)
{
    const auto start = Clock::now();
    Y4mSource source(in, inName);
    Y4mSink sink(out, outName);
    RunStats stats = filterFrames(fd, source, inName, sink, run);
    stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return stats;
}

namespace {

// One run, as a sequence of steps: the settings, the snapshot, the output and
// the report, the frame pools, then three threads (reading, filtering here,
// writing) over them, and the summary.
class FrameRun {
public:
    FrameRun(FilterDescriptor *fd, FrameSource &source, const std::string &inName, FrameSink &sink,
             const FilterRun &run)
        : fd_(*fd), source_(source), inName_(inName), sink_(sink), run_(run),
          written_(run.framesWritten ? *run.framesWritten : ownCount_)
    {
    }

    RunStats go()
    {
        const auto start = Clock::now();
        settleSettings();
        openSnapshot();
        startOutput();
        makePools();
        runThreads();
        finish();
        stats_.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return stats_;
    }

private:
    void settleSettings();
    void openSnapshot();
    void startOutput();
    void makePools();
    void runThreads();
    void finish();
    // The threads' work.
    void readFrames();
    void writeFrames();
    void filterAll();
    void reportFrame(FrameFilter &filter, int64_t n, const std::deque<FramePtr> &sent, const HostFrame &out,
                     int *measurements);
    void summariseStrength(const FrameFilter &filter);
    // The first failure that spoils the output stops every thread.
    void fail(std::exception_ptr e);

    FilterDescriptor &fd_;
    FrameSource &source_;
    const std::string &inName_;
    FrameSink &sink_;
    const FilterRun &run_;
    RunStats stats_;
    Y4mFormat inFormat_, wanted_, outFormat_;
    int width_ = 0, height_ = 0, stride_ = 0;
    bool planes_ = false; // the filter takes and gives the stream's planes as they are
    std::unique_ptr<SnapshotWriter> snapshot_;
    std::atomic<int64_t> ownCount_{0};
    std::atomic<int64_t> &written_;
    std::unique_ptr<Pool<HostFrame>> inPool_, outPool_;
    std::unique_ptr<Channel<FramePtr>> toFilter_, toWriter_;
    std::unique_ptr<Progress> progress_;
    std::mutex errorLock_;
    std::exception_ptr failure_;
    std::string inputError_;
};

void FrameRun::settleSettings()
{
    inFormat_ = withFieldOrder(source_.format(), run_.fieldOrder);
    // The library takes nothing smaller; a plug-in build is told only what the run asks.
    requireFilterableSize(inFormat_, inName_, run_.plugin, run_.plugin ? run_.minimumSide : kFilterMinimumSide);
    wanted_ = withSampling(inFormat_, run_.outputChroma.value_or(inFormat_.chroma),
                           run_.outputDepth.value_or(inFormat_.depth));
    stats_.input = inFormat_;
    validateSettings(fd_, run_.settings, run_.plugin);
    resolveSettings(fd_, run_.settings, inFormat_.chroma, stats_.track, stats_.check);
    if (run_.plugin)
        strengthForPlugin(fd_, run_, stats_.track, stats_.check);
    else
        stats_.strength = run_.settings.strength.value_or(VELVANE_STRENGTH_CUSTOM);
    resolveMoving(run_.settings, stats_.moving);
    if (run_.plugin)
        stats_.moving[0] = stats_.moving[1] = stats_.moving[2] = 0; // --moving is refused there
    if (run_.show == VELVANE_SHOW_DOTS && stats_.check[0] == 0)
        throw CliError("--show dots shows what the dot pass takes out, but it is off (--no-dot)");
    width_ = inFormat_.width;
    height_ = inFormat_.height;
    stride_ = (width_ + 3) & ~3; // the filter works on rows rounded up to 4 pixels
}

void FrameRun::openSnapshot()
{
    const int64_t bound = source_.frameBound();
    if (bound >= 0 && run_.snapshot.frame >= bound)
        throw CliError("--snapshot: " + inName_ + " ends before frame " + std::to_string(run_.snapshot.frame) +
                       " (it has at most " + std::to_string(bound) + " frames, counted from 0)");
    snapshot_.reset(new SnapshotWriter(run_.snapshot, width_, height_, stride_));
}

void FrameRun::startOutput()
{
    outFormat_ = sink_.start(wanted_, run_.outputChroma || run_.outputDepth, &written_);
    stats_.output = outFormat_;
    if (run_.report)
        run_.report->start(inFormat_, outFormat_, stride_, stats_.track, stats_.check, stats_.strength,
                           source_.expectedFrames());
    // 4:2:2 in and out at one depth goes to the library as the planes the
    // stream holds and comes back so: it converts each row while the row is
    // in the cache, on its own threads, and the same conversion as here. The
    // reader and the writer then only move bytes. A snapshot needs the
    // filter's own pixels.
    planes_ = !run_.plugin && run_.snapshot.frame < 0 && inFormat_.chroma == Chroma::C422 &&
              outFormat_.chroma == Chroma::C422 && outFormat_.depth == inFormat_.depth;
}

void FrameRun::makePools()
{
    const size_t samples = (size_t)stride_ * (size_t)height_;
    const size_t planeBytes = inFormat_.frameBytes();
    const bool planes = planes_;
    const size_t queue = (size_t)std::max(1, run_.queueFrames);
    // In use at once: the frames sent and not yet out (the filter's
    // lookahead), one more, the frames queued to the filter, one being read.
    const size_t lookahead = (size_t)frameLookahead(run_.plugin, stats_.track, stats_.check, stats_.strength,
                                                    run_.show, stats_.moving, &run_.settings.library);
    const size_t inLimit = lookahead + 1 + 1 + queue + 1;
    const size_t outLimit = queue + 2;
    auto makeFrame = [samples, planes, planeBytes] {
        FramePtr f(new HostFrame);
        if (planes)
            f->planes.resize(planeBytes);
        else
            f->pixels.resize(samples);
        return f;
    };
    inPool_.reset(new Pool<HostFrame>(inLimit, makeFrame));
    outPool_.reset(new Pool<HostFrame>(outLimit, makeFrame));
    toFilter_.reset(new Channel<FramePtr>(queue));
    toWriter_.reset(new Channel<FramePtr>(queue));
    stats_.hostFrameLimit = inLimit + outLimit;
}

void FrameRun::fail(std::exception_ptr e)
{
    {
        std::lock_guard<std::mutex> lock(errorLock_);
        if (!failure_)
            failure_ = e;
    }
    toFilter_->abort();
    toWriter_->abort();
    inPool_->abort();
    outPool_->abort();
}

// Reader: bytes to host frames.
void FrameRun::readFrames()
{
    try {
        FrameConverter conv(inFormat_, stride_);
        Planes in; // as the source holds them
        FrameInfo info;
        for (int64_t n = 0;; n++) {
            // Planes the filter takes as they are are read straight into their frame.
            FramePtr f;
            if (planes_ && !(f = inPool_->acquire()))
                return;
            bool got;
            try {
                got = planes_ ? source_.readRaw(f->planes.data(), &info) : source_.read(&in, &info);
            } catch (const CliError &e) {
                inputError_ = e.what(); // the frames before it still go through
                break;
            }
            if (!got)
                break;
            if (!info.damage.empty()) {
                if (run_.damageIsError) {
                    inputError_ = "frame " + std::to_string(n) + " of " + inName_ + " is damaged (" + info.damage +
                                  "), and --damage error stops there";
                    break;
                }
                stats_.damaged.push_back(DamagedFrame{n, info.damage});
            }
            if (!planes_ && !(f = inPool_->acquire()))
                return;
            f->index = n;
            f->info = std::move(info);
            if (run_.fieldOrder)
                f->info.interlaced = run_.fieldOrder != 'p';
            if (!planes_)
                conv.toHost(in.data, in.stride, f->info.interlaced, f->pixels.data());
            if (!toFilter_->push(std::move(f)))
                return;
        }
        toFilter_->close();
        stats_.readSeconds = threadSeconds();
    } catch (...) {
        fail(std::current_exception());
    }
}

// Writer: host frames to bytes.
void FrameRun::writeFrames()
{
    try {
        FrameConverter conv(outFormat_, stride_);
        FramePtr f;
        while (toWriter_->pop(f)) {
            if (planes_) {
                sink_.writeRaw(outFormat_, f->planes.data(), f->info);
            } else {
                const Planes to = sink_.planes();
                conv.fromHost(f->pixels.data(), f->info.interlaced, to.data, to.stride);
                sink_.write(f->info);
            }
            outPool_->release(std::move(f));
            progress_->frameDone(written_);
        }
        sink_.finish();
        stats_.writeSeconds = threadSeconds();
    } catch (...) {
        fail(std::current_exception());
    }
}

// The filter, on this thread and the library's own: frames go in as the
// reader hands them over and come out, in order, to the writer.
void FrameRun::filterAll()
{
    std::unique_ptr<FrameFilter> filter =
        run_.plugin ? pluginFilter(&fd_, width_, height_, stride_, stats_.track, stats_.check)
                    : nativeFilter(width_, height_, stride_, stats_.track, stats_.check, stats_.strength, run_.show,
                                   run_.threads, run_.cpuMask, stats_.moving, &run_.settings.library);
    int measurements = 0;
    std::deque<FramePtr> sent; // in display order, until their filtered frame is out
    bool ended = false;
    int64_t n = 0;
    while (true) {
        FramePtr o = outPool_->acquire();
        if (!o)
            break;
        if (!(planes_ ? filter->receivePlanes(o->planes.data(), inFormat_.depth) : filter->receive(o->pixels.data()))) {
            outPool_->release(std::move(o));
            if (ended)
                break;
            FramePtr f;
            if (toFilter_->pop(f)) {
                if (planes_)
                    filter->sendPlanes(f->planes.data(), inFormat_.depth);
                else
                    filter->send(f->pixels.data());
                sent.push_back(std::move(f));
            } else {
                filter->end();
                ended = true;
            }
            continue;
        }
        reportFrame(*filter, n, sent, *o, &measurements);
        FramePtr src = std::move(sent.front());
        sent.pop_front();
        o->index = n;
        o->info = std::move(src->info);
        if (snapshot_->wants(n))
            snapshot_->take(src->pixels.data(), o->pixels.data());
        inPool_->release(std::move(src));
        if (!toWriter_->push(std::move(o)))
            break;
        n++;
    }
    toWriter_->close();
    summariseStrength(*filter);
}

// What the strength chose for frame n, where automatic strength measured
// anew, and the frame to the report.
void FrameRun::reportFrame(FrameFilter &filter, int64_t n, const std::deque<FramePtr> &sent, const HostFrame &out,
                           int *measurements)
{
    SceneChoice report;
    const bool reported = (stats_.strength == VELVANE_STRENGTH_AUTO || run_.report) && filter.strengthReport(&report);
    if (stats_.strength == VELVANE_STRENGTH_AUTO && reported && report.strength.measurements != *measurements) {
        *measurements = report.strength.measurements;
        stats_.strengthNotes.push_back(strengthNote(report));
        if (run_.history)
            run_.history->scenes.push_back(report);
    }
    if (!run_.report)
        return;
    auto frame = [this](const HostFrame &f) {
        return planes_ ? ReportFrame{nullptr, f.planes.data()} : ReportFrame{f.pixels.data(), nullptr};
    };
    ReportFrame in[3];
    int count = 0;
    for (const FramePtr &f : sent)
        if (count < 3)
            in[count++] = frame(*f);
    run_.report->frame(n, in, count, frame(out), reported ? &report : nullptr);
}

// A named strength's thresholds, for the summary.
void FrameRun::summariseStrength(const FrameFilter &filter)
{
    SceneChoice report;
    if (stats_.strength == VELVANE_STRENGTH_CUSTOM || stats_.strength == VELVANE_STRENGTH_AUTO ||
        !filter.strengthReport(&report))
        return;
    const VelvaneStrengthReport &r = report.strength;
    const int chosen[5] = {r.luma_low, r.luma_high, r.chroma_low, r.chroma_high, r.dot_removal};
    for (int i = 0; i < kThresholdCount; i++)
        stats_.track[i] = chosen[i];
    stats_.check[0] = chosen[4];
    const int moving[3] = {report.moving.luma_low, report.moving.luma_high, report.moving.change};
    for (int i = 0; i < 3; i++)
        stats_.moving[i] = moving[i];
}

void FrameRun::runThreads()
{
    progress_.reset(new Progress(run_.progress, source_.expectedFrames()));
    // Processor time from here on that the reader and the writer do not take
    // is the filter's.
    const double filterStart = cpuSeconds(RUSAGE_SELF);
    auto reader = [this] { readFrames(); };
    auto writer = [this] { writeFrames(); };

    // A thread that cannot start (the system is out of memory or threads)
    // fails the run; one that did start is stopped and joined first, as a
    // running thread must never be left behind.
    std::thread readThread = startThread(reader);
    std::thread writeThread;
    try {
        writeThread = startThread(writer);
    } catch (...) {
        fail(std::current_exception());
        readThread.join();
        throw;
    }
    try {
        filterAll();
    } catch (...) {
        fail(std::current_exception());
    }
    readThread.join();
    writeThread.join();
    stats_.filterSeconds =
        std::max(0.0, cpuSeconds(RUSAGE_SELF) - filterStart - stats_.readSeconds - stats_.writeSeconds);
    progress_->finish();
}

void FrameRun::finish()
{
    if (failure_)
        std::rethrow_exception(failure_);
    snapshot_->finish();
    stats_.frames = written_;
    if (run_.snapshot.frame >= 0 && !snapshot_->taken())
        stats_.snapshotMissed = "--snapshot: " + inName_ + " ends before frame " +
                                std::to_string(run_.snapshot.frame) + " (it has " + std::to_string(stats_.frames) +
                                " frames, counted from 0); no picture written";
    stats_.inputError = inputError_;
    stats_.hostFrames = inPool_->created() + outPool_->created();
}

} // namespace

RunStats filterFrames(FilterDescriptor *fd, FrameSource &source, const std::string &inName, FrameSink &sink,
                      const FilterRun &run)
{
    return FrameRun(fd, source, inName, sink, run).go();
}

} // namespace velvane
