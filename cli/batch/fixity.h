// Fixity of a master: the MD5 of its bytes, and the MD5 of each decoded
// video frame in the form of FFmpeg's framemd5 muxer, so that either can be
// checked again years later with common tools (md5sum -c, ffmpeg -f framemd5).
#ifndef VELVANE_CLI_BATCH_FIXITY_H
#define VELVANE_CLI_BATCH_FIXITY_H

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace velvane {
namespace batch {

std::string md5Hex(const void *data, size_t size);
// The MD5 of a file's bytes, in hex. Throws CliError.
std::string md5File(const std::string &path);

struct FrameChecksums {
    std::string text;       // the framemd5 listing
    int64_t frames = 0;
    double seconds = 0;     // the video's duration
};

// Decodes the first video stream of `path` and lists the MD5 of each frame
// as its pixels lie packed (rows back to back, plane after plane), with the
// stream's number, timestamps in the frame rate's time base, duration and
// size: the lines `ffmpeg -i FILE -map 0:v:0 -f framemd5` gives. Throws
// CliError when the file cannot be decoded.
FrameChecksums frameMd5(const std::string &path);

} // namespace batch
} // namespace velvane

#endif
