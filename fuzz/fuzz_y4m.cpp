// The stream reader, the conversions to the filter's pixels and back, and the
// writer, on arbitrary bytes. The first byte picks the output sampling; the
// rest is the stream. Whatever the bytes, the reader gives whole frames or a
// clear error, and what is written reads back as the same frames: never half
// a frame, never a frame the input did not have. A stream whose output keeps
// its 8-bit sampling comes back byte for byte.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "y4m/convert.h"
#include "fuzz_input.h"
#include "run/filter_run.h"
#include "y4m/y4m.h"

using namespace velvane;

namespace {

const Chroma kOutputChroma[] = {Chroma::C444, Chroma::C422, Chroma::C411, Chroma::C420jpeg,
                                Chroma::C420mpeg2, Chroma::C420paldv, Chroma::C420, Chroma::Mono};
const int kOutputDepth[] = {8, 10, 12, 16};

struct MemoryOut {
    char *data = nullptr;
    size_t size = 0;
    FILE *file = open_memstream(&data, &size);
    ~MemoryOut()
    {
        if (file)
            fclose(file);
        free(data);
    }
    void close()
    {
        fclose(file);
        file = nullptr;
    }
};

struct Frame {
    std::vector<uint8_t> data;
    std::string tags;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = bytes[0];
    std::vector<uint8_t> stream(bytes + 1, bytes + size);
    stream.push_back(0); // fmemopen wants a non-empty buffer; the extra byte is never read
    FILE *in = fmemopen(stream.data(), size - 1, "rb");
    FUZZ_CHECK(in != nullptr || size == 1);
    if (!in)
        return 0;

    Y4mReader reader(in, "input");
    Y4mFormat inFormat, outFormat;
    try {
        inFormat = reader.readHeader();
        requireFilterableSize(inFormat, "input");
        // Some output formats cannot hold the input (4:1:1 deeper than 8
        // bits): a clear error, as the command gives.
        outFormat = withSampling(inFormat, (mode & 7) ? kOutputChroma[mode & 7] : inFormat.chroma,
                                 (mode >> 3 & 3) ? kOutputDepth[mode >> 3 & 3] : inFormat.depth);
    } catch (const CliError &) {
        fclose(in);
        return 0;
    }
    FUZZ_CHECK(inFormat.width > 0 && inFormat.height > 0);
    FUZZ_CHECK(inFormat.width <= VELVANE_MAX_WIDTH && inFormat.height <= VELVANE_MAX_HEIGHT);

    const int stride = (inFormat.width + 3) & ~3;
    FrameConverter toHost(inFormat, stride), fromHost(outFormat, stride);
    std::vector<YcPixel> pixels((size_t)stride * inFormat.height);
    std::vector<uint8_t> outRaw(outFormat.frameBytes());
    std::vector<Frame> frames;

    MemoryOut out;
    FUZZ_CHECK(out.file != nullptr);
    Y4mWriter writer(out.file, "output");
    writer.writeHeader(outFormat);
    for (;;) {
        Frame f;
        f.data.resize(inFormat.frameBytes());
        try {
            if (!reader.readFrame(f.data.data(), &f.tags))
                break;
        } catch (const CliError &) {
            break; // the frames before it stand
        }
        const bool interlaced = frameIsInterlaced(inFormat, f.tags);
        toHost.toHost(f.data.data(), interlaced, pixels.data());
        for (const YcPixel &p : pixels) {
            FUZZ_CHECK(p.y >= 0 && p.y <= 4096);
            FUZZ_CHECK(p.cb >= -2048 && p.cb <= 2048 && p.cr >= -2048 && p.cr <= 2048);
        }
        fromHost.fromHost(pixels.data(), interlaced, outRaw.data());
        writer.writeFrame(outRaw.data(), f.tags);
        frames.push_back(std::move(f));
    }
    fclose(in);
    FUZZ_CHECK(reader.framesRead() == (int64_t)frames.size());
    writer.finish();
    out.close();

    // The output reads back as exactly the frames written.
    FILE *back = fmemopen(out.data, out.size, "rb");
    FUZZ_CHECK(back != nullptr);
    Y4mReader again(back, "output");
    try {
        const Y4mFormat &f = again.readHeader();
        FUZZ_CHECK(f.width == outFormat.width && f.height == outFormat.height);
        // Deep 4:2:0 has one name whatever its siting.
        FUZZ_CHECK(chromaTag(f.chroma, f.depth) == chromaTag(outFormat.chroma, outFormat.depth));
        FUZZ_CHECK(f.interlace == inFormat.interlace);
        std::vector<uint8_t> data(outFormat.frameBytes());
        std::string tags;
        const bool same = outFormat.chroma == inFormat.chroma && outFormat.depth == 8 && inFormat.depth == 8;
        for (const Frame &frame : frames) {
            FUZZ_CHECK(again.readFrame(data.data(), &tags));
            FUZZ_CHECK(tags == frame.tags);
            if (same)
                FUZZ_CHECK(data == frame.data);
        }
        FUZZ_CHECK(!again.readFrame(data.data(), &tags));
    } catch (const CliError &e) {
        fprintf(stderr, "the output does not read back: %s\n", e.what());
        FUZZ_CHECK(!"output reads back");
    }
    fclose(back);
    return 0;
}
