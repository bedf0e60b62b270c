#include "y4m/y4m.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <utility>

#include "media/containers.h"

namespace velvane {

namespace {

const size_t kMaxHeaderLine = 65536; // far beyond any real header; stops a runaway read of binary input
const char kMagic[] = "YUV4MPEG2";
const char kFrameMagic[] = "FRAME";

struct ChromaName {
    Chroma chroma;
    const char *name;
};
// Longest names first, so that "420" does not swallow "420jpeg".
const ChromaName kChromaNames[] = {
    {Chroma::C420jpeg, "420jpeg"}, {Chroma::C420mpeg2, "420mpeg2"}, {Chroma::C420paldv, "420paldv"},
    {Chroma::C444, "444"},         {Chroma::C422, "422"},           {Chroma::C411, "411"},
    {Chroma::C420, "420"},         {Chroma::Mono, "mono"},
};

bool parsePositive(const std::string &s, int *out)
{
    if (s.empty() || s.size() > 9)
        return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v <= 0)
        return false;
    *out = v;
    return true;
}

bool parseRatio(const std::string &s)
{
    size_t colon = s.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == s.size())
        return false;
    for (size_t i = 0; i < s.size(); i++)
        if (i != colon && (s[i] < '0' || s[i] > '9'))
            return false;
    return true;
}

std::string errnoText() { return strerror(errno); }

} // namespace

const char *chromaName(Chroma c)
{
    for (const auto &n : kChromaNames)
        if (n.chroma == c)
            return n.name;
    return "?";
}

bool parseChromaTag(const std::string &value, Chroma *chroma, int *depth)
{
    for (const auto &n : kChromaNames) {
        size_t len = strlen(n.name);
        if (value.compare(0, len, n.name) != 0)
            continue;
        std::string rest = value.substr(len);
        int d = 8;
        if (rest.empty())
            d = 8;
        else if (n.chroma == Chroma::Mono && (rest == "10" || rest == "12" || rest == "16"))
            d = std::stoi(rest);
        else if (n.chroma != Chroma::Mono && (rest == "p10" || rest == "p12" || rest == "p16") &&
                 (n.chroma == Chroma::C444 || n.chroma == Chroma::C422 || n.chroma == Chroma::C420))
            d = std::stoi(rest.substr(1));
        else
            continue;
        *chroma = n.chroma;
        *depth = d;
        return true;
    }
    return false;
}

std::string chromaTag(Chroma c, int depth)
{
    std::string s = chromaName(c);
    if (depth == 8)
        return s;
    if (c == Chroma::Mono)
        return s + std::to_string(depth);
    // Deep 4:2:0 is written without a siting suffix, which is how such streams name it.
    if (c == Chroma::C420jpeg || c == Chroma::C420mpeg2 || c == Chroma::C420paldv)
        s = "420";
    if (c == Chroma::C411)
        throw CliError("4:1:1 chroma has no form deeper than 8 bits in YUV4MPEG2");
    return s + "p" + std::to_string(depth);
}

int Y4mFormat::chromaWidth() const
{
    switch (chroma) {
    case Chroma::C444: return width;
    case Chroma::C411: return (width + 3) / 4;
    case Chroma::Mono: return 0;
    default: return (width + 1) / 2;
    }
}

int Y4mFormat::chromaHeight() const
{
    switch (chroma) {
    case Chroma::C444:
    case Chroma::C422:
    case Chroma::C411: return height;
    case Chroma::Mono: return 0;
    default: return (height + 1) / 2;
    }
}

size_t Y4mFormat::lumaBytes() const { return (size_t)width * (size_t)height * (size_t)bytesPerSample(); }
size_t Y4mFormat::chromaPlaneBytes() const
{
    return (size_t)chromaWidth() * (size_t)chromaHeight() * (size_t)bytesPerSample();
}
size_t Y4mFormat::frameBytes() const { return lumaBytes() + 2 * chromaPlaneBytes(); }

Y4mFormat parseStreamHeader(const std::string &line)
{
    if (line.compare(0, 9, kMagic) != 0)
        throw CliError("not a YUV4MPEG2 stream (it does not start with \"YUV4MPEG2\")");
    if (line.size() > 9 && line[9] != ' ')
        throw CliError("not a YUV4MPEG2 stream (\"YUV4MPEG2\" is not followed by a space)");
    Y4mFormat f;
    bool haveW = false, haveH = false;
    size_t pos = 9;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ')
            pos++;
        if (pos >= line.size())
            break;
        size_t end = line.find(' ', pos);
        if (end == std::string::npos)
            end = line.size();
        std::string tag = line.substr(pos, end - pos);
        pos = end;
        std::string value = tag.substr(1);
        switch (tag[0]) {
        case 'W':
            if (!parsePositive(value, &f.width))
                throw CliError("cannot read the frame width in the header tag \"" + tag + "\"");
            haveW = true;
            break;
        case 'H':
            if (!parsePositive(value, &f.height))
                throw CliError("cannot read the frame height in the header tag \"" + tag + "\"");
            haveH = true;
            break;
        case 'C':
            if (!parseChromaTag(value, &f.chroma, &f.depth))
                throw CliError("unsupported chroma format or depth \"" + value +
                               "\" (velvane reads 444, 422, 411, 420jpeg, 420mpeg2, 420paldv, 420 and mono, "
                               "8-bit, and 444, 422, 420 and mono at 10, 12 and 16 bits)");
            break;
        case 'I':
            if (value.size() != 1 || !strchr("ptbm?", value[0]))
                throw CliError("cannot read the interlacing in the header tag \"" + tag + "\"");
            f.interlace = value[0];
            break;
        case 'F':
        case 'A':
            if (!parseRatio(value))
                throw CliError("cannot read the ratio in the header tag \"" + tag + "\"");
            break;
        default:
            break; // X tags and anything unknown pass through untouched
        }
        f.tags.push_back(tag);
    }
    if (!haveW)
        throw CliError("the stream header has no frame width (W tag)");
    if (!haveH)
        throw CliError("the stream header has no frame height (H tag)");
    return f;
}

std::string formatStreamHeader(const Y4mFormat &f)
{
    std::string s = kMagic;
    bool wroteW = false, wroteH = false, wroteC = false;
    const std::string ctag = "C" + chromaTag(f.chroma, f.depth);
    for (const auto &t : f.tags) {
        s += ' ';
        if (t[0] == 'W') {
            s += "W" + std::to_string(f.width);
            wroteW = true;
        } else if (t[0] == 'H') {
            s += "H" + std::to_string(f.height);
            wroteH = true;
        } else if (t[0] == 'C') {
            s += ctag;
            wroteC = true;
        } else {
            s += t;
        }
    }
    if (!wroteW)
        s += " W" + std::to_string(f.width);
    if (!wroteH)
        s += " H" + std::to_string(f.height);
    if (!wroteC && !(f.chroma == Chroma::C420jpeg && f.depth == 8))
        s += " " + ctag;
    return s;
}

Y4mFormat withSampling(const Y4mFormat &f, Chroma chroma, int depth)
{
    if (f.chroma == chroma && f.depth == depth)
        return f;
    Y4mFormat o = f;
    o.chroma = chroma;
    o.depth = depth;
    o.tags.clear();
    for (const auto &t : f.tags) {
        if (t.compare(0, 7, "XYSCSS=") == 0) {
            std::string v = chromaTag(chroma, depth);
            if (chroma == Chroma::Mono)
                continue; // mono streams go without it
            for (auto &c : v)
                c = (char)toupper((unsigned char)c);
            o.tags.push_back("XYSCSS=" + v);
        } else {
            o.tags.push_back(t);
        }
    }
    chromaTag(chroma, depth); // refuses combinations that cannot be written
    return o;
}

bool frameIsInterlaced(const Y4mFormat &f, const std::string &frameTags)
{
    if (f.interlace == 't' || f.interlace == 'b')
        return true;
    if (f.interlace != 'm')
        return false;
    // Mixed streams describe each frame with I<presentation><temporal><sampling>.
    size_t pos = 0;
    while (pos < frameTags.size()) {
        size_t end = frameTags.find(' ', pos);
        if (end == std::string::npos)
            end = frameTags.size();
        if (frameTags[pos] == 'I' && end - pos == 4)
            return frameTags[pos + 3] != 'p';
        pos = end + 1;
    }
    return true;
}

Y4mReader::Y4mReader(FILE *in, std::string name, std::string prefix)
    : in_(in), name_(std::move(name)), prefix_(std::move(prefix))
{
}

int Y4mReader::nextHeaderByte()
{
    if (prefixUsed_ < prefix_.size())
        return (unsigned char)prefix_[prefixUsed_++];
    return getc(in_);
}

const Y4mFormat &Y4mReader::readHeader()
{
    std::string line;
    for (;;) {
        int c = nextHeaderByte();
        if (c == EOF) {
            if (ferror(in_))
                throw CliError("cannot read " + name_ + ": " + errnoText());
            if (line.empty()) {
                struct stat st;
                const bool stream = fstat(fileno(in_), &st) == 0 && !S_ISREG(st.st_mode);
                throw CliError(name_ + " is empty, not a YUV4MPEG2 stream" + (stream ? "; " + emptyStreamHint() : ""));
            }
            throw CliError("the stream header of " + name_ + " ends before its newline");
        }
        if (c == '\n')
            break;
        line.push_back((char)c);
        if (line.size() <= 9 && line.back() != kMagic[line.size() - 1]) {
            int more;
            while (line.size() < kContainerProbeBytes && (more = nextHeaderByte()) != EOF)
                line.push_back((char)more);
            const std::string hint = inputContainerHint((const uint8_t *)line.data(), line.size(), name_);
            throw CliError(name_ + " is not a YUV4MPEG2 stream" +
                           (hint.empty() ? " (it does not start with \"YUV4MPEG2\")" : ": " + hint));
        }
        if (line.size() > kMaxHeaderLine)
            throw CliError("the stream header of " + name_ + " is longer than 64 KiB; the stream is broken");
    }
    try {
        format_ = parseStreamHeader(line);
    } catch (const CliError &e) {
        throw CliError(name_ + ": " + e.what());
    }
    headerBytes_ = line.size() + 1;
    return format_;
}

bool Y4mReader::readFrame(uint8_t *data, std::string *frameTags)
{
    const std::string frameName = "frame " + std::to_string(frames_) + " of " + name_;
    char head[5];
    size_t got = fread(head, 1, 5, in_);
    if (got == 0 && !ferror(in_))
        return false;
    if (got < 5) {
        if (ferror(in_))
            throw CliError("cannot read " + frameName + ": " + errnoText());
        throw CliError(frameName + " is truncated: the stream ends inside its FRAME header");
    }
    if (memcmp(head, kFrameMagic, 5) != 0)
        throw CliError(frameName + " does not start with \"FRAME\"; the stream is broken or its header is wrong");
    std::string tags;
    int c = getc(in_);
    if (c == ' ') {
        while ((c = getc(in_)) != '\n' && c != EOF) {
            tags.push_back((char)c);
            if (tags.size() > kMaxHeaderLine)
                throw CliError(frameName + " has a FRAME header longer than 64 KiB; the stream is broken");
        }
    }
    if (c == EOF)
        throw CliError(frameName + " is truncated: the stream ends inside its FRAME header");
    if (c != '\n')
        throw CliError(frameName + ": the FRAME header is not followed by a newline");
    const size_t bytes = format_.frameBytes();
    got = fread(data, 1, bytes, in_);
    if (got < bytes) {
        if (ferror(in_))
            throw CliError("cannot read " + frameName + ": " + errnoText());
        throw CliError(frameName + " is truncated: " + std::to_string(got) + " of its " + std::to_string(bytes) +
                       " bytes are present");
    }
    if (frameTags)
        *frameTags = std::move(tags);
    frames_++;
    return true;
}

Y4mWriter::Y4mWriter(FILE *out, std::string name) : out_(out), name_(std::move(name)) {}

void Y4mWriter::check()
{
    if (ferror(out_))
        throw CliError("cannot write " + name_ + ": " + errnoText());
}

void Y4mWriter::writeHeader(const Y4mFormat &f)
{
    std::string line = formatStreamHeader(f) + "\n";
    fwrite(line.data(), 1, line.size(), out_);
    frameBytes_ = f.frameBytes();
    check();
}

void Y4mWriter::writeFrame(const uint8_t *data, const std::string &frameTags)
{
    if (frameTags.empty()) {
        fwrite("FRAME\n", 1, 6, out_);
    } else {
        std::string h = "FRAME " + frameTags + "\n";
        fwrite(h.data(), 1, h.size(), out_);
    }
    fwrite(data, 1, frameBytes_, out_);
    check();
}

void Y4mWriter::finish()
{
    if (fflush(out_) != 0)
        throw CliError("cannot write " + name_ + ": " + errnoText());
    check();
}

} // namespace velvane
