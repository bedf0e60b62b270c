#include "y4m/y4m.h"

#include <gtest/gtest.h>

#include <random>

#include "test_util.h"

namespace velvane {
namespace {

using testing::makeStream;

// Parses a whole stream from memory: every frame and its tags.
struct Parsed {
    Y4mFormat format;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::string> tags;
};
Parsed parseAll(const std::string &bytes)
{
    FILE *f = fmemopen((void *)bytes.data(), bytes.size(), "rb");
    Y4mReader r(f, "test");
    Parsed p;
    try {
        p.format = r.readHeader();
        std::vector<uint8_t> raw(p.format.frameBytes());
        std::string tags;
        while (r.readFrame(raw.data(), &tags)) {
            p.frames.push_back(raw);
            p.tags.push_back(tags);
        }
    } catch (...) {
        fclose(f);
        throw;
    }
    fclose(f);
    return p;
}

std::string writeAll(const Parsed &p)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    Y4mWriter w(f, "test");
    w.writeHeader(p.format);
    for (size_t i = 0; i < p.frames.size(); i++)
        w.writeFrame(p.frames[i].data(), p.tags[i]);
    w.finish();
    fclose(f);
    std::string s(buf, len);
    free(buf);
    return s;
}

TEST(Y4mHeader, ReadsEveryField)
{
    Y4mFormat f = parseStreamHeader("YUV4MPEG2 W720 H480 F30000:1001 It A10:11 C411 XYSCSS=411 XCOLORRANGE=LIMITED");
    EXPECT_EQ(f.width, 720);
    EXPECT_EQ(f.height, 480);
    EXPECT_EQ(f.chroma, Chroma::C411);
    EXPECT_EQ(f.depth, 8);
    EXPECT_EQ(f.interlace, 't');
    EXPECT_EQ(f.tags.size(), 8u);
    EXPECT_EQ(f.chromaWidth(), 180);
    EXPECT_EQ(f.frameBytes(), 720u * 480 + 2u * 180 * 480);
}

TEST(Y4mHeader, ChromaDefaultsTo420jpegAndInterlaceToUnknown)
{
    Y4mFormat f = parseStreamHeader("YUV4MPEG2 W8 H6");
    EXPECT_EQ(f.chroma, Chroma::C420jpeg);
    EXPECT_EQ(f.interlace, '?');
    EXPECT_EQ(f.frameBytes(), 48u + 2u * 4 * 3);
}

TEST(Y4mHeader, KnowsEveryChromaFormatAndDepth)
{
    struct Case {
        const char *tag;
        Chroma chroma;
        int depth;
        size_t bytes; // for 10 x 6 pixels
    } cases[] = {
        {"444", Chroma::C444, 8, 180},          {"422", Chroma::C422, 8, 120},
        {"411", Chroma::C411, 8, 60 + 2 * 18},  {"420jpeg", Chroma::C420jpeg, 8, 90},
        {"420mpeg2", Chroma::C420mpeg2, 8, 90}, {"420paldv", Chroma::C420paldv, 8, 90},
        {"420", Chroma::C420, 8, 90},           {"mono", Chroma::Mono, 8, 60},
        {"444p10", Chroma::C444, 10, 360},      {"422p12", Chroma::C422, 12, 240},
        {"420p16", Chroma::C420, 16, 180},      {"mono16", Chroma::Mono, 16, 120},
        {"mono10", Chroma::Mono, 10, 120},      {"444p16", Chroma::C444, 16, 360},
    };
    for (const auto &c : cases) {
        Y4mFormat f = parseStreamHeader(std::string("YUV4MPEG2 W10 H6 C") + c.tag);
        EXPECT_EQ(f.chroma, c.chroma) << c.tag;
        EXPECT_EQ(f.depth, c.depth) << c.tag;
        EXPECT_EQ(f.frameBytes(), c.bytes) << c.tag;
        EXPECT_EQ(chromaTag(f.chroma, f.depth), c.tag);
    }
}

TEST(Y4mHeader, RefusesWhatItCannotRead)
{
    const char *bad[] = {
        "YUV4MPEG W8 H8",          // wrong magic
        "RIFF1234 W8 H8",          // not a stream at all
        "YUV4MPEG2 H8",            // no width
        "YUV4MPEG2 W8",            // no height
        "YUV4MPEG2 W0 H8",         // zero size
        "YUV4MPEG2 W8x H8",        // not a number
        "YUV4MPEG2 W8 H8 C444alpha", // unsupported chroma
        "YUV4MPEG2 W8 H8 C422p9",  // unsupported depth
        "YUV4MPEG2 W8 H8 C411p10", // 4:1:1 only comes in 8 bits
        "YUV4MPEG2 W8 H8 Ix",      // unknown interlacing
        "YUV4MPEG2 W8 H8 F30",     // rate without denominator
        "YUV4MPEG2W8 H8",          // no separator
    };
    for (const char *h : bad)
        EXPECT_THROW(parseStreamHeader(h), CliError) << h;
}

TEST(Y4mHeader, TagsPassThroughInTheirOrder)
{
    const std::string line = "YUV4MPEG2 W64 H48 F25:1 Ib A1:1 C422p10 XYSCSS=422P10 XCOLORRANGE=LIMITED Xfoo=bar";
    EXPECT_EQ(formatStreamHeader(parseStreamHeader(line)), line);
    // No C tag: none is added for the default format, one is for another.
    EXPECT_EQ(formatStreamHeader(parseStreamHeader("YUV4MPEG2 W8 H8 F25:1")), "YUV4MPEG2 W8 H8 F25:1");
    Y4mFormat f = withSampling(parseStreamHeader("YUV4MPEG2 W8 H8 F25:1"), Chroma::C422, 8);
    EXPECT_EQ(formatStreamHeader(f), "YUV4MPEG2 W8 H8 F25:1 C422");
}

TEST(Y4mHeader, ChangingTheSamplingRewritesItsTagsOnly)
{
    Y4mFormat f = parseStreamHeader("YUV4MPEG2 W64 H48 F25:1 It A1:1 C411 XYSCSS=411 XCOLORRANGE=LIMITED");
    EXPECT_EQ(formatStreamHeader(withSampling(f, Chroma::C422, 10)),
              "YUV4MPEG2 W64 H48 F25:1 It A1:1 C422p10 XYSCSS=422P10 XCOLORRANGE=LIMITED");
    EXPECT_EQ(formatStreamHeader(withSampling(f, Chroma::Mono, 8)),
              "YUV4MPEG2 W64 H48 F25:1 It A1:1 Cmono XCOLORRANGE=LIMITED");
    EXPECT_THROW(withSampling(f, Chroma::C411, 16), CliError);
}

TEST(Y4mStream, RoundTripsEveryChromaFormatAndDepth)
{
    const char *chromas[] = {"444", "422", "411", "420jpeg", "420mpeg2", "420paldv", "420", "mono",
                             "444p10", "422p10", "420p10", "mono10", "444p12", "422p12", "420p12", "mono12",
                             "444p16", "422p16", "420p16", "mono16"};
    uint32_t seed = 1;
    for (const char *c : chromas) {
        // Odd sizes exercise the rounded-up chroma planes.
        const std::string header = std::string("YUV4MPEG2 W13 H7 F25:1 Ip C") + c;
        const std::string stream = makeStream(header, 3, seed++, {"", "Ixyz", "Xa=b Xc"});
        Parsed p = parseAll(stream);
        ASSERT_EQ(p.frames.size(), 3u) << c;
        EXPECT_EQ(p.tags[1], "Ixyz");
        EXPECT_EQ(p.tags[2], "Xa=b Xc");
        EXPECT_EQ(writeAll(p), stream) << c;
    }
}

TEST(Y4mStream, TruncatedFramesNameTheFrame)
{
    const std::string stream = makeStream("YUV4MPEG2 W8 H4 C444", 3, 7);
    const size_t frame = 6 + 8 * 4 * 3;
    const size_t header = stream.find('\n') + 1;
    struct Cut {
        size_t length;
        const char *says;
    } cuts[] = {
        {header + 2 * frame + 3, "frame 2"},           // inside a FRAME header
        {header + 2 * frame + 6 + 10, "frame 2"},      // inside the samples
        {header + frame + 5, "frame 1"},               // between FRAME and its newline
    };
    for (const auto &c : cuts) {
        try {
            parseAll(stream.substr(0, c.length));
            ADD_FAILURE() << "no error for a stream cut at " << c.length;
        } catch (const CliError &e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("truncated"), std::string::npos) << e.what();
        }
    }
    // Cut exactly between frames: a clean, shorter stream.
    EXPECT_EQ(parseAll(stream.substr(0, header + 2 * frame)).frames.size(), 2u);
}

TEST(Y4mStream, BrokenStreamsAreRefused)
{
    std::string stream = makeStream("YUV4MPEG2 W8 H4 C444", 2, 3);
    std::string broken = stream;
    broken[stream.find('\n') + 1 + 6 + 96] = 'G'; // frame 1's header no longer says FRAME
    EXPECT_THROW(parseAll(broken), CliError);
    EXPECT_THROW(parseAll(""), CliError);
    EXPECT_THROW(parseAll("YUV4MPEG2 W8 H4"), CliError); // header without its newline
    EXPECT_THROW(parseAll(std::string("\x89PNG\r\n\x1a\n", 8)), CliError);
    EXPECT_THROW(parseAll("YUV4MPEG2 " + std::string(70000, 'X') + "\n"), CliError);
}

} // namespace
} // namespace velvane
