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

// Frames sent to the filter before the first of them comes out: it needs
// the two after it.
const int kLookahead = 2;

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

RunStats filterFrames(FilterDescriptor *fd, FrameSource &source, const std::string &inName, FrameSink &sink,
                      const FilterRun &run)
{
    RunStats stats;
    const auto start = Clock::now();

    const Y4mFormat inFormat = withFieldOrder(source.format(), run.fieldOrder);
    // The library takes nothing smaller; a plug-in build is told only what the run asks.
    requireFilterableSize(inFormat, inName, run.plugin, run.plugin ? run.minimumSide : kFilterMinimumSide);
    const Y4mFormat wanted = withSampling(inFormat, run.outputChroma.value_or(inFormat.chroma),
                                          run.outputDepth.value_or(inFormat.depth));
    stats.input = inFormat;
    validateSettings(*fd, run.settings, run.plugin);
    resolveSettings(*fd, run.settings, inFormat.chroma, stats.track, stats.check);
    if (run.plugin)
        strengthForPlugin(*fd, run, stats.track, stats.check);
    else
        stats.strength = run.settings.strength.value_or(VELVANE_STRENGTH_CUSTOM);
    resolveMoving(run.settings, stats.moving);
    if (run.plugin)
        stats.moving[0] = stats.moving[1] = stats.moving[2] = 0; // --moving is refused there
    if (run.show == VELVANE_SHOW_DOTS && stats.check[0] == 0)
        throw CliError("--show dots shows what the dot pass takes out, but it is off (--no-dot)");

    const int width = inFormat.width, height = inFormat.height;
    const int stride = (width + 3) & ~3; // the filter works on rows rounded up to 4 pixels
    const size_t samples = (size_t)stride * (size_t)height;

    const int64_t bound = source.frameBound();
    if (bound >= 0 && run.snapshot.frame >= bound)
        throw CliError("--snapshot: " + inName + " ends before frame " + std::to_string(run.snapshot.frame) +
                       " (it has at most " + std::to_string(bound) + " frames, counted from 0)");
    SnapshotWriter snapshot(run.snapshot, width, height, stride);

    std::atomic<int64_t> ownCount{0};
    std::atomic<int64_t> &written = run.framesWritten ? *run.framesWritten : ownCount;
    const Y4mFormat outFormat = sink.start(wanted, run.outputChroma || run.outputDepth, &written);
    stats.output = outFormat;
    if (run.report)
        run.report->start(inFormat, outFormat, stride, stats.track, stats.check, stats.strength,
                          source.expectedFrames());
    // 4:2:2 in and out at one depth goes to the library as the planes the
    // stream holds and comes back so: it converts each row while the row is
    // in the cache, on its own threads, and the same conversion as here. The
    // reader and the writer then only move bytes. A snapshot needs the
    // filter's own pixels.
    const bool planes = !run.plugin && run.snapshot.frame < 0 && inFormat.chroma == Chroma::C422 &&
                        outFormat.chroma == Chroma::C422 && outFormat.depth == inFormat.depth;
    const size_t planeBytes = inFormat.frameBytes();

    const size_t queue = (size_t)std::max(1, run.queueFrames);
    // In use at once: the frames sent and not yet out, one more, the frames
    // queued to the filter, one being read.
    const size_t inLimit = kLookahead + 1 + 1 + queue + 1;
    const size_t outLimit = queue + 2;
    auto makeFrame = [samples, planes, planeBytes] {
        FramePtr f(new HostFrame);
        if (planes)
            f->planes.resize(planeBytes);
        else
            f->pixels.resize(samples);
        return f;
    };
    Pool<HostFrame> inPool(inLimit, makeFrame), outPool(outLimit, makeFrame);
    Channel<FramePtr> toFilter(queue), toWriter(queue);
    stats.hostFrameLimit = inLimit + outLimit;

    std::mutex errorLock;
    std::exception_ptr failure; // the first failure that spoils the output
    auto fail = [&](std::exception_ptr e) {
        {
            std::lock_guard<std::mutex> lock(errorLock);
            if (!failure)
                failure = e;
        }
        toFilter.abort();
        toWriter.abort();
        inPool.abort();
        outPool.abort();
    };

    // Reader: bytes to host frames.
    std::string inputError;
    auto readFrames = [&] {
        try {
            FrameConverter conv(inFormat, stride);
            Planes in; // as the source holds them
            FrameInfo info;
            for (int64_t n = 0;; n++) {
                // Planes the filter takes as they are are read straight into their frame.
                FramePtr f;
                if (planes && !(f = inPool.acquire()))
                    return;
                bool got;
                try {
                    got = planes ? source.readRaw(f->planes.data(), &info) : source.read(&in, &info);
                } catch (const CliError &e) {
                    inputError = e.what(); // the frames before it still go through
                    break;
                }
                if (!got)
                    break;
                if (!info.damage.empty()) {
                    if (run.damageIsError) {
                        inputError = "frame " + std::to_string(n) + " of " + inName + " is damaged (" + info.damage +
                                     "), and --damage error stops there";
                        break;
                    }
                    stats.damaged.push_back(DamagedFrame{n, info.damage});
                }
                if (!planes && !(f = inPool.acquire()))
                    return;
                f->index = n;
                f->info = std::move(info);
                if (run.fieldOrder)
                    f->info.interlaced = run.fieldOrder != 'p';
                if (!planes)
                    conv.toHost(in.data, in.stride, f->info.interlaced, f->pixels.data());
                if (!toFilter.push(std::move(f)))
                    return;
            }
            toFilter.close();
            stats.readSeconds = threadSeconds();
        } catch (...) {
            fail(std::current_exception());
        }
    };

    // Writer: host frames to bytes.
    Progress progress(run.progress, source.expectedFrames());
    auto writeFrames = [&] {
        try {
            FrameConverter conv(outFormat, stride);
            FramePtr f;
            while (toWriter.pop(f)) {
                if (planes) {
                    sink.writeRaw(outFormat, f->planes.data(), f->info);
                } else {
                    const Planes to = sink.planes();
                    conv.fromHost(f->pixels.data(), f->info.interlaced, to.data, to.stride);
                    sink.write(f->info);
                }
                outPool.release(std::move(f));
                progress.frameDone(written);
            }
            sink.finish();
            stats.writeSeconds = threadSeconds();
        } catch (...) {
            fail(std::current_exception());
        }
    };

    // Processor time from here on that the reader and the writer do not take
    // is the filter's.
    const double filterStart = cpuSeconds(RUSAGE_SELF);

    // A thread that cannot start (the system is out of memory or threads)
    // fails the run; one that did start is stopped and joined first, as a
    // running thread must never be left behind.
    std::thread readThread = startThread(readFrames);
    std::thread writeThread;
    try {
        writeThread = startThread(writeFrames);
    } catch (...) {
        fail(std::current_exception());
        readThread.join();
        throw;
    }

    // The filter, on this thread and the library's own.
    try {
        std::unique_ptr<FrameFilter> filter =
            run.plugin ? pluginFilter(fd, width, height, stride, stats.track, stats.check)
                       : nativeFilter(width, height, stride, stats.track, stats.check, stats.strength, run.show,
                                      run.threads, run.cpuMask, stats.moving, &run.settings.library);
        int measurements = 0;
        std::deque<FramePtr> sent; // in display order, until their filtered frame is out
        bool ended = false;
        int64_t n = 0;
        while (true) {
            FramePtr o = outPool.acquire();
            if (!o)
                break;
            if (!(planes ? filter->receivePlanes(o->planes.data(), inFormat.depth)
                         : filter->receive(o->pixels.data()))) {
                outPool.release(std::move(o));
                if (ended)
                    break;
                FramePtr f;
                if (toFilter.pop(f)) {
                    if (planes)
                        filter->sendPlanes(f->planes.data(), inFormat.depth);
                    else
                        filter->send(f->pixels.data());
                    sent.push_back(std::move(f));
                } else {
                    filter->end();
                    ended = true;
                }
                continue;
            }
            SceneChoice report;
            const bool reported =
                (stats.strength == VELVANE_STRENGTH_AUTO || run.report) && filter->strengthReport(&report);
            if (stats.strength == VELVANE_STRENGTH_AUTO && reported && report.strength.measurements != measurements) {
                measurements = report.strength.measurements;
                stats.strengthNotes.push_back(strengthNote(report));
                if (run.history)
                    run.history->scenes.push_back(report);
            }
            if (run.report) {
                ReportFrame in[3];
                int count = 0;
                for (const FramePtr &f : sent)
                    if (count < 3)
                        in[count++] = planes ? ReportFrame{nullptr, f->planes.data()} : ReportFrame{f->pixels.data(), nullptr};
                run.report->frame(n, in, count,
                                  planes ? ReportFrame{nullptr, o->planes.data()} : ReportFrame{o->pixels.data(), nullptr},
                                  reported ? &report : nullptr);
            }
            FramePtr src = std::move(sent.front());
            sent.pop_front();
            o->index = n;
            o->info = std::move(src->info);
            if (snapshot.wants(n))
                snapshot.take(src->pixels.data(), o->pixels.data());
            inPool.release(std::move(src));
            if (!toWriter.push(std::move(o)))
                break;
            n++;
        }
        toWriter.close();
        // A named strength's thresholds, for the summary.
        SceneChoice report;
        if (stats.strength != VELVANE_STRENGTH_CUSTOM && stats.strength != VELVANE_STRENGTH_AUTO &&
            filter->strengthReport(&report)) {
            const VelvaneStrengthReport &r = report.strength;
            const int chosen[5] = {r.luma_low, r.luma_high, r.chroma_low, r.chroma_high, r.dot_removal};
            for (int i = 0; i < kThresholdCount; i++)
                stats.track[i] = chosen[i];
            stats.check[0] = chosen[4];
            const int moving[3] = {report.moving.luma_low, report.moving.luma_high, report.moving.change};
            for (int i = 0; i < 3; i++)
                stats.moving[i] = moving[i];
        }
    } catch (...) {
        fail(std::current_exception());
    }
    readThread.join();
    writeThread.join();
    stats.filterSeconds =
        std::max(0.0, cpuSeconds(RUSAGE_SELF) - filterStart - stats.readSeconds - stats.writeSeconds);
    progress.finish();
    if (failure)
        std::rethrow_exception(failure);
    snapshot.finish();

    stats.frames = written;
    if (run.snapshot.frame >= 0 && !snapshot.taken())
        stats.snapshotMissed = "--snapshot: " + inName + " ends before frame " + std::to_string(run.snapshot.frame) +
                               " (it has " + std::to_string(stats.frames) + " frames, counted from 0); no picture written";
    stats.inputError = inputError;
    stats.hostFrames = inPool.created() + outPool.created();
    stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return stats;
}

} // namespace velvane
