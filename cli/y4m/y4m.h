// YUV4MPEG2 streams: the stream header, its tags, the frame layout, and a
// reader and a writer that stream one frame at a time.
#ifndef VELVANE_CLI_Y4M_H
#define VELVANE_CLI_Y4M_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace velvane {

// Any failure of the command that the user should read: a clear sentence,
// without the program name.
class CliError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Input found broken while its frames are being written (its sound's
// timestamps go back): as input that breaks off, the whole frames before it
// are kept with --keep-partial.
class BrokenInput : public CliError {
public:
    using CliError::CliError;
};

enum class Chroma { C444, C422, C411, C420jpeg, C420mpeg2, C420paldv, C420, Mono };

// The chroma part of a C tag ("422", "420mpeg2", "mono"), without depth.
const char *chromaName(Chroma c);
// Parses "444", "422p10", "420jpeg", "mono16", ... into chroma and depth;
// false for anything this program does not read.
bool parseChromaTag(const std::string &value, Chroma *chroma, int *depth);
// The C tag value for a chroma format and depth ("422", "422p10", "mono12").
std::string chromaTag(Chroma c, int depth);

struct Y4mFormat {
    int width = 0;
    int height = 0;
    Chroma chroma = Chroma::C420jpeg; // the format's default when the C tag is absent
    int depth = 8;                    // 8, 10, 12 or 16
    char interlace = '?';             // p, t, b, m, or ? (unknown or absent)
    std::vector<std::string> tags;    // every header tag as read, in order, without the separating space

    int chromaWidth() const;
    int chromaHeight() const;
    bool hasChroma() const { return chroma != Chroma::Mono; }
    int bytesPerSample() const { return depth > 8 ? 2 : 1; }
    size_t lumaBytes() const;
    size_t chromaPlaneBytes() const;
    size_t frameBytes() const;
};

// Parses a stream header line (without its newline). Throws CliError.
Y4mFormat parseStreamHeader(const std::string &line);
// The header line for `f` (without newline): the input's tags in their order,
// with W, H and C rewritten to `f`; a C tag is added when `f` needs one.
std::string formatStreamHeader(const Y4mFormat &f);
// The same stream with another chroma format and depth: the C tag and the
// companion XYSCSS tag follow, every other tag passes through.
Y4mFormat withSampling(const Y4mFormat &f, Chroma chroma, int depth);

// Whether a frame's chroma rows belong to fields: interlaced streams, and in a
// mixed stream the frame's own I tag (its third character: p progressive).
bool frameIsInterlaced(const Y4mFormat &f, const std::string &frameTags);

class Y4mReader {
public:
    // `in` stays owned by the caller; `name` is used in messages. `prefix`:
    // bytes of the stream's start that the caller has read already.
    Y4mReader(FILE *in, std::string name, std::string prefix = std::string());
    const Y4mFormat &readHeader();
    const Y4mFormat &format() const { return format_; }
    // Reads the next frame into `data` (frameBytes()) and its header tags (the
    // text after "FRAME", without the leading space). Returns false at a clean
    // end of stream; throws CliError naming the frame on a truncated or broken one.
    bool readFrame(uint8_t *data, std::string *frameTags);
    int64_t framesRead() const { return frames_; }
    // Bytes of the stream header including its newline.
    size_t headerBytes() const { return headerBytes_; }

private:
    int nextHeaderByte();
    FILE *in_;
    std::string name_;
    std::string prefix_;
    size_t prefixUsed_ = 0;
    Y4mFormat format_;
    int64_t frames_ = 0;
    size_t headerBytes_ = 0;
};

class Y4mWriter {
public:
    Y4mWriter(FILE *out, std::string name);
    void writeHeader(const Y4mFormat &f);
    void writeFrame(const uint8_t *data, const std::string &frameTags);
    // Flushes; throws CliError when anything could not be written.
    void finish();

private:
    void check();
    FILE *out_;
    std::string name_;
    size_t frameBytes_ = 0;
};

} // namespace velvane

#endif
