#include "pipeline.h"

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

#include "channel.h"
#include "convert.h"
#include "frame_filter.h"
#include "png_writer.h"

namespace velvane {

namespace {

using Clock = std::chrono::steady_clock;

struct HostFrame {
    std::vector<YcPixel> pixels;
    std::vector<uint8_t> planes; // the stream's planes instead, where the filter takes them
    std::string tags;    // the FRAME header's tags, passed through
    bool interlaced = false;
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

int64_t expectedFrames(FILE *in, size_t headerBytes, size_t frameBytes)
{
    struct stat st;
    if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode) || (size_t)st.st_size < headerBytes)
        return -1;
    return (int64_t)(((size_t)st.st_size - headerBytes) / (frameBytes + 6));
}

template <class Body> std::thread startThread(Body &body)
{
    try {
        return std::thread(std::ref(body));
    } catch (const std::system_error &e) {
        throw CliError(std::string("cannot start a thread: ") + e.what());
    }
}

// A picture asked for at frame N should not fail only once N is reached,
// after the work before it.
void checkWritable(const std::string &path)
{
    struct stat st;
    const bool existed = stat(path.c_str(), &st) == 0;
    FILE *f = fopen(path.c_str(), "ab");
    if (!f)
        throw CliError("cannot write " + path + ": " + strerror(errno));
    fclose(f);
    if (!existed)
        unlink(path.c_str());
}

} // namespace

void requireFilterableSize(const Y4mFormat &f, const std::string &name)
{
    if (f.width > VV_MAX_WIDTH || f.height > VV_MAX_HEIGHT)
        throw CliError(name + ": frames of " + std::to_string(f.width) + " x " + std::to_string(f.height) +
                       " are larger than the filter's limit of " + std::to_string((int)VV_MAX_WIDTH) + " x " +
                       std::to_string((int)VV_MAX_HEIGHT) +
                       "; scale or crop first (for example ffmpeg -vf scale=720:480)");
}

RunStats filterStream(FilterDescriptor *fd, FILE *in, const std::string &inName, FILE *out,
                      const std::string &outName, const FilterRun &run)
{
    RunStats stats;
    const auto start = Clock::now();

    Y4mReader reader(in, inName);
    const Y4mFormat inFormat = reader.readHeader();
    requireFilterableSize(inFormat, inName);
    if (inFormat.width < kMinFrameSize || inFormat.height < kMinFrameSize)
        throw CliError(inName + ": frames of " + std::to_string(inFormat.width) + " x " +
                       std::to_string(inFormat.height) + " are too small: the filter needs at least " +
                       std::to_string(kMinFrameSize) + " x " + std::to_string(kMinFrameSize) + " pixels");
    const Y4mFormat outFormat = withSampling(inFormat, run.outputChroma.value_or(inFormat.chroma),
                                             run.outputDepth.value_or(inFormat.depth));
    stats.input = inFormat;
    stats.output = outFormat;
    validateSettings(*fd, run.settings);
    resolveSettings(*fd, run.settings, inFormat.chroma, stats.track, stats.check);

    const int width = inFormat.width, height = inFormat.height;
    const int stride = (width + 3) & ~3; // the filter works on rows rounded up to 4 pixels
    const size_t samples = (size_t)stride * (size_t)height;
    // 4:2:2 in and out at one depth goes to the library as the planes the
    // stream holds and comes back so: it converts each row while the row is
    // in the cache, on its own threads, and the same conversion as here. The
    // reader and the writer then only move bytes. A snapshot needs the
    // filter's own pixels.
    const bool planes = !run.plugin && run.snapshot.frame < 0 && inFormat.chroma == Chroma::C422 &&
                        outFormat.chroma == Chroma::C422 && outFormat.depth == inFormat.depth;
    const size_t planeBytes = inFormat.frameBytes();

    if (run.snapshot.frame >= 0)
        checkWritable(run.snapshot.path);

    Y4mWriter writer(out, outName);
    writer.writeHeader(outFormat);

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
            std::vector<uint8_t> raw(planes ? 0 : inFormat.frameBytes());
            std::string tags;
            for (int64_t n = 0;; n++) {
                FramePtr f;
                if (planes && !(f = inPool.acquire()))
                    return;
                bool got;
                try {
                    got = reader.readFrame(planes ? f->planes.data() : raw.data(), &tags);
                } catch (const CliError &e) {
                    inputError = e.what(); // the frames before it still go through
                    break;
                }
                if (!got)
                    break;
                if (!planes && !(f = inPool.acquire()))
                    return;
                f->index = n;
                f->interlaced = frameIsInterlaced(inFormat, tags);
                f->tags = tags;
                if (!planes)
                    conv.toHost(raw.data(), f->interlaced, f->pixels.data());
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
    Progress progress(run.progress, expectedFrames(in, reader.headerBytes(), inFormat.frameBytes()));
    std::atomic<int64_t> written{0};
    auto writeFrames = [&] {
        try {
            FrameConverter conv(outFormat, stride);
            std::vector<uint8_t> raw(planes ? 0 : outFormat.frameBytes());
            FramePtr f;
            while (toWriter.pop(f)) {
                if (!planes)
                    conv.fromHost(f->pixels.data(), f->interlaced, raw.data());
                writer.writeFrame(planes ? f->planes.data() : raw.data(), f->tags);
                outPool.release(std::move(f));
                progress.frameDone(++written);
            }
            writer.finish();
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
                       : nativeFilter(width, height, stride, stats.track, stats.check, run.threads);
        std::deque<FramePtr> sent; // in display order, until their filtered frame is out
        bool snapshotTaken = false, ended = false;
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
            FramePtr src = std::move(sent.front());
            sent.pop_front();
            o->index = n;
            o->tags = src->tags;
            o->interlaced = src->interlaced;
            if (n == run.snapshot.frame) {
                writeSideBySidePng(run.snapshot.path, src->pixels.data(), o->pixels.data(), width, height, stride);
                snapshotTaken = true;
            }
            inPool.release(std::move(src));
            if (!toWriter.push(std::move(o)))
                break;
            n++;
        }
        toWriter.close();
        if (run.snapshot.frame >= 0 && !snapshotTaken)
            stats.warning = "--snapshot: frame " + std::to_string(run.snapshot.frame) +
                            " is beyond the clip; no picture written";
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

    stats.frames = written;
    stats.inputError = inputError;
    stats.hostFrames = inPool.created() + outPool.created();
    stats.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return stats;
}

} // namespace velvane
