// The two ends of a run: where frames come from and where they go. A
// YUV4MPEG2 stream is one of each; a media file read or written through
// FFmpeg's libraries (media_input.h, media_output.h) is the other.
//
// Frames travel as planes of samples in the layout a Y4mFormat describes
// (8-bit samples, or little-endian words for deeper ones), so that one
// converter serves every source and every sink.
#ifndef VELVANE_CLI_FRAME_IO_H
#define VELVANE_CLI_FRAME_IO_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <atomic>
#include <string>
#include <vector>

#include "y4m/y4m.h"

namespace velvane {

// One frame's three planes (mono: the first), rows `stride` bytes apart.
struct Planes {
    uint8_t *data[3] = {};
    ptrdiff_t stride[3] = {};
};

// What travels with a frame from its source to its sink.
struct FrameInfo {
    std::string tags;        // a YUV4MPEG2 FRAME header's tags, passed through
    bool interlaced = false; // its chroma rows belong to fields
    int64_t pts = 0;         // in the source's time base (a YUV4MPEG2 stream: the frame's number)
    std::string damage;      // what the decoder said of damage in it (concealed); empty when whole
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // The frames' layout, size and header tags (the header a YUV4MPEG2
    // output gets); known once the source is constructed.
    virtual const Y4mFormat &format() const = 0;
    // Frames the source will give, for the progress line; -1 when unknown.
    virtual int64_t expectedFrames() const = 0;
    // At most this many frames; -1 when no bound is known.
    virtual int64_t frameBound() const { return -1; }
    // The next frame, its planes valid until the next call; false at the end.
    // Throws CliError naming the frame when the input breaks off: the frames
    // before it were whole.
    virtual bool read(Planes *planes, FrameInfo *info) = 0;
    // read() with the frame stored into `raw` as a YUV4MPEG2 frame holds it
    // (rawPlanes of format()); a source that reads that layout reads it there.
    virtual bool readRaw(uint8_t *raw, FrameInfo *info);
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Before the first frame, with the format the filter's frames come in.
    // Returns the format the sink writes: `wanted` itself, or when
    // `samplingFixed` is false and the sink cannot take its chroma form or
    // depth, the nearest it takes. Frames are counted in `written` (see
    // write). Throws CliError when it cannot write.
    virtual Y4mFormat start(const Y4mFormat &wanted, bool samplingFixed, std::atomic<int64_t> *written) = 0;
    // Where the next frame's samples go, in the format start() returned.
    virtual Planes planes() = 0;
    // The frame in planes() is complete. Each frame that is whole in the
    // output is counted in start's `written` while the
    // output stream's lock is held, so that an interruption that takes the
    // lock finds whole frames and their number. Throws CliError.
    virtual void write(const FrameInfo &info) = 0;
    // write() of a frame of `format` (what start returned) stored as a
    // YUV4MPEG2 frame holds it; a sink that writes that layout writes it from there.
    virtual void writeRaw(const Y4mFormat &format, const uint8_t *raw, const FrameInfo &info);
    // After the last frame: what is held back goes out. Throws CliError.
    virtual void finish() = 0;
};

// A frame goes to the stream whole, and is counted, under the stream's own
// lock: whoever takes it (an interruption) sees whole frames only.
struct StreamLock {
    FILE *f;
    explicit StreamLock(FILE *file) : f(file) { flockfile(f); }
    ~StreamLock() { funlockfile(f); }
    StreamLock(const StreamLock &) = delete;
    StreamLock &operator=(const StreamLock &) = delete;
};

// A YUV4MPEG2 stream read from `in` (not closed); reads the header at once.
// `prefix` holds bytes already taken from the stream's start.
class Y4mSource : public FrameSource {
public:
    Y4mSource(FILE *in, const std::string &name, const std::string &prefix = std::string());
    const Y4mFormat &format() const override { return reader_.format(); }
    int64_t expectedFrames() const override { return bound_; }
    int64_t frameBound() const override { return bound_; }
    bool read(Planes *planes, FrameInfo *info) override;
    bool readRaw(uint8_t *raw, FrameInfo *info) override;

private:
    Y4mReader reader_;
    std::vector<uint8_t> raw_;
    int64_t bound_ = -1;
    int64_t next_ = 0;
};

// A YUV4MPEG2 stream written to `out` (not closed).
class Y4mSink : public FrameSink {
public:
    Y4mSink(FILE *out, const std::string &name);
    Y4mFormat start(const Y4mFormat &wanted, bool samplingFixed, std::atomic<int64_t> *written) override;
    Planes planes() override;
    void write(const FrameInfo &info) override;
    void writeRaw(const Y4mFormat &format, const uint8_t *raw, const FrameInfo &info) override;
    void finish() override;

private:
    FILE *out_;
    Y4mWriter writer_;
    Y4mFormat format_;
    std::vector<uint8_t> raw_;
    std::atomic<int64_t> *written_ = nullptr;
};

// The planes of one frame stored as a YUV4MPEG2 frame holds them.
Planes rawPlanes(const Y4mFormat &f, uint8_t *raw);

// The samples of one frame of format `f` from one set of planes to another.
void copyPlanes(const Y4mFormat &f, const Planes &from, const Planes &to);

} // namespace velvane

#endif
