#include "run/frame_io.h"

#include <string.h>

#include <sys/stat.h>

namespace velvane {

Planes rawPlanes(const Y4mFormat &f, uint8_t *raw)
{
    Planes p;
    p.data[0] = raw;
    p.data[1] = raw + f.lumaBytes();
    p.data[2] = p.data[1] + f.chromaPlaneBytes();
    p.stride[0] = (ptrdiff_t)f.width * f.bytesPerSample();
    p.stride[1] = p.stride[2] = (ptrdiff_t)f.chromaWidth() * f.bytesPerSample();
    return p;
}

void copyPlanes(const Y4mFormat &f, const Planes &from, const Planes &to)
{
    const int planes = f.hasChroma() ? 3 : 1;
    for (int p = 0; p < planes; p++) {
        const size_t rowBytes = (size_t)(p ? f.chromaWidth() : f.width) * f.bytesPerSample();
        const int rows = p ? f.chromaHeight() : f.height;
        for (int r = 0; r < rows; r++)
            memcpy(to.data[p] + to.stride[p] * r, from.data[p] + from.stride[p] * r, rowBytes);
    }
}

bool FrameSource::readRaw(uint8_t *raw, FrameInfo *info)
{
    Planes planes;
    if (!read(&planes, info))
        return false;
    copyPlanes(format(), planes, rawPlanes(format(), raw));
    return true;
}

void FrameSink::writeRaw(const Y4mFormat &format, const uint8_t *raw, const FrameInfo &info)
{
    copyPlanes(format, rawPlanes(format, const_cast<uint8_t *>(raw)), planes());
    write(info);
}

Y4mSource::Y4mSource(FILE *in, const std::string &name, const std::string &prefix) : reader_(in, name, prefix)
{
    const Y4mFormat &f = reader_.readHeader();
    // A file's size bounds its frames (each at least its samples and "FRAME\n").
    struct stat st;
    if (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && (size_t)st.st_size >= reader_.headerBytes())
        bound_ = (int64_t)(((size_t)st.st_size - reader_.headerBytes()) / (f.frameBytes() + 6));
}

bool Y4mSource::read(Planes *planes, FrameInfo *info)
{
    if (raw_.empty())
        raw_.resize(format().frameBytes());
    if (!readRaw(raw_.data(), info))
        return false;
    *planes = rawPlanes(format(), raw_.data());
    return true;
}

bool Y4mSource::readRaw(uint8_t *raw, FrameInfo *info)
{
    if (!reader_.readFrame(raw, &info->tags))
        return false;
    info->interlaced = frameIsInterlaced(format(), info->tags);
    info->pts = next_++;
    return true;
}

Y4mSink::Y4mSink(FILE *out, const std::string &name) : out_(out), writer_(out, name) {}

Y4mFormat Y4mSink::start(const Y4mFormat &wanted, bool, std::atomic<int64_t> *written)
{
    format_ = wanted;
    written_ = written;
    raw_.resize(format_.frameBytes());
    writer_.writeHeader(format_);
    return format_;
}

Planes Y4mSink::planes() { return rawPlanes(format_, raw_.data()); }

void Y4mSink::write(const FrameInfo &info) { writeRaw(format_, raw_.data(), info); }

void Y4mSink::writeRaw(const Y4mFormat &, const uint8_t *raw, const FrameInfo &info)
{
    StreamLock whole(out_);
    writer_.writeFrame(raw, info.tags);
    ++*written_;
}

void Y4mSink::finish() { writer_.finish(); }

} // namespace velvane
