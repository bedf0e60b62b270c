#include "media/containers.h"

#include <string.h>
#include <strings.h>

namespace velvane {

namespace {

struct Container {
    const char *name;
    const char *extensions; // each with its dot, space-separated
    const char *codec;      // what to ask ffmpeg for: lossless where the container takes it
};
const Container kContainers[] = {
    {"Matroska", ".mkv .webm", "-c:v ffv1 "},
    {"MP4", ".mp4 .m4v .mov", "-c:v libx264 -crf 16 -flags +ildct+ilme "},
    {"AVI", ".avi", "-c:v ffv1 "},
    {"DV", ".dv", ""},
    {"MPEG", ".mpg .mpeg .vob", ""},
    {"MPEG transport stream", ".ts .m2ts .mts", ""},
};

bool at(const uint8_t *head, size_t size, size_t offset, const char *bytes, size_t n)
{
    return size >= offset + n && memcmp(head + offset, bytes, n) == 0;
}

const char *containerOf(const uint8_t *h, size_t n)
{
    if (at(h, n, 0, "\x1A\x45\xDF\xA3", 4))
        return "a Matroska file";
    if (at(h, n, 0, "RIFF", 4) && at(h, n, 8, "AVI ", 4))
        return "an AVI file";
    if (at(h, n, 4, "ftyp", 4) || at(h, n, 4, "moov", 4) || at(h, n, 4, "mdat", 4))
        return "an MP4 (or QuickTime) file";
    // A DIF sequence's header block; the top bit of the fourth byte is 50 or 60 Hz.
    if (n >= 4 && h[0] == 0x1F && h[1] == 0x07 && h[2] == 0x00 && (h[3] & 0x7F) == 0x3F)
        return "a DV stream";
    if (at(h, n, 0, "\0\0\x01\xBA", 4))
        return "an MPEG program stream (DVD video)";
    return nullptr;
}

const Container *containerNamed(const std::string &path)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return nullptr;
    const std::string ext = path.substr(dot);
    for (const Container &c : kContainers) {
        for (const char *e = c.extensions; *e;) {
            const size_t len = strcspn(e, " ");
            if (len == ext.size() && strncasecmp(e, ext.c_str(), len) == 0)
                return &c;
            e += len + (e[len] == ' ');
        }
    }
    return nullptr;
}

} // namespace

bool namesContainer(const std::string &path) { return containerNamed(path) != nullptr; }

std::string outputContainerHint(const std::string &path)
{
    const Container *c = containerNamed(path);
    if (!c)
        return std::string();
    return path + " gets a YUV4MPEG2 stream, not " + c->name + ": the FFmpeg libraries velvane runs with cannot write " +
           c->name + ". Pipe the output through ffmpeg: velvane INPUT - | ffmpeg -i - " + c->codec + path;
}

std::string containerKind(const uint8_t *head, size_t size)
{
    const char *container = containerOf(head, size);
    return container ? container : std::string();
}

std::string inputContainerHint(const uint8_t *head, size_t size, const std::string &name)
{
    const char *container = containerOf(head, size);
    if (!container)
        return std::string();
    const std::string file = name == "standard input" ? "FILE" : name;
    return std::string("it is ") + container + ", which the velvane command opens by its name: velvane " + file +
           " OUTPUT";
}

std::string emptyStreamHint()
{
    return "the program feeding velvane wrote nothing: see its messages above (ffmpeg 5.1 writes 10-bit "
           "video as YUV4MPEG2 only with -strict -1 before the output)";
}

} // namespace velvane
