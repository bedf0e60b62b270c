#include "run/filter_run.h"

#include <gtest/gtest.h>
#include <png.h>
#include <string.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "y4m/convert.h"
#include "fake_module.h"
#include "run/output_file.h"
#include "report/png_writer.h"
#include "test_util.h"

namespace velvane {
namespace {

using testing::PipeFeed;
using testing::TempDir;
using testing::makeStream;
using testing::readFile;
using testing::writeFile;

struct Result {
    RunStats stats;
    std::string output;
};

// Runs the pipeline from a FILE to a memory buffer, through the fake plug-in.
Result runOn(FILE *in, FilterRun run = FilterRun())
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    Result r;
    run.plugin = true;
    try {
        r.stats = filterStream(fake::descriptor(), in, "input", out, "output", run);
    } catch (...) {
        fclose(out);
        free(buf);
        throw;
    }
    fclose(out);
    r.output.assign(buf, len);
    free(buf);
    return r;
}

Result runOnFile(const std::string &bytes, const FilterRun &run = FilterRun())
{
    TempDir dir;
    writeFile(dir.file("in.y4m"), bytes);
    FILE *in = fopen(dir.file("in.y4m").c_str(), "rb");
    Result r;
    try {
        r = runOn(in, run);
    } catch (...) {
        fclose(in);
        throw;
    }
    fclose(in);
    return r;
}

Result runOnPipe(const std::string &bytes, const FilterRun &run = FilterRun())
{
    PipeFeed feed(bytes);
    return runOn(feed.in(), run);
}

// What the fake filter makes of a stream, computed over the whole clip in memory.
std::string expectedOutput(const std::string &stream, int32_t offsetY)
{
    FILE *f = fmemopen((void *)stream.data(), stream.size(), "rb");
    Y4mReader reader(f, "x");
    const Y4mFormat fmt = reader.readHeader();
    const int stride = (fmt.width + 3) & ~3;
    FrameConverter conv(fmt, stride);
    std::vector<std::vector<YcPixel>> clip;
    std::vector<std::string> tags;
    std::vector<uint8_t> raw(fmt.frameBytes());
    std::string t;
    while (reader.readFrame(raw.data(), &t)) {
        clip.emplace_back((size_t)stride * fmt.height);
        conv.toHost(raw.data(), frameIsInterlaced(fmt, t), clip.back().data());
        tags.push_back(t);
    }
    fclose(f);
    std::vector<std::vector<YcPixel>> out;
    fake::expected(clip, offsetY, &out, (size_t)stride * fmt.height);
    std::string s = formatStreamHeader(fmt) + "\n";
    for (size_t n = 0; n < out.size(); n++) {
        conv.fromHost(out[n].data(), frameIsInterlaced(fmt, tags[n]), raw.data());
        s += tags[n].empty() ? "FRAME\n" : "FRAME " + tags[n] + "\n";
        s.append((const char *)raw.data(), raw.size());
    }
    return s;
}

TEST(Pipeline, FiltersEveryFrameAsTheHostWould)
{
    const std::string in = makeStream("YUV4MPEG2 W22 H10 F25:1 It A1:1 C422 Xkeep=me", 9, 5, {"", "Xframe=1"});
    fake::reset();
    FilterRun run;
    run.settings.track[7] = 3;
    Result r = runOnFile(in, run);
    EXPECT_EQ(r.stats.frames, 9);
    EXPECT_TRUE(r.stats.inputError.empty());
    EXPECT_EQ(r.output, expectedOutput(in, 3));
    // The host's calls: one init, one update, one exit; frames asked for within n - 1 .. n + 1.
    EXPECT_EQ(fake::record().inits, 1);
    EXPECT_EQ(fake::record().updates, 1);
    EXPECT_EQ(fake::record().exits, 1);
    EXPECT_EQ(fake::record().frameCounts.size(), 9u);
    EXPECT_EQ(r.stats.track[7], 3);
}

TEST(Pipeline, HeaderAndFrameTagsPassThrough)
{
    const std::string header = "YUV4MPEG2 W8 H4 F30000:1001 Ib A10:11 C444 XCOLORRANGE=LIMITED Xvendor=abc";
    Result r = runOnFile(makeStream(header, 3, 2, {"Xa=1", "", "Xb=2 Xc"}));
    EXPECT_EQ(r.output.substr(0, r.output.find('\n')), header);
    EXPECT_NE(r.output.find("FRAME Xa=1\n"), std::string::npos);
    EXPECT_NE(r.output.find("FRAME Xb=2 Xc\n"), std::string::npos);
}

TEST(Pipeline, ShortClipsAndTheirLastFrame)
{
    for (int frames : {0, 1, 2, 3, 4}) {
        const std::string in = makeStream("YUV4MPEG2 W8 H4 C422", frames, 40 + frames);
        Result r = runOnFile(in);
        EXPECT_EQ(r.stats.frames, frames);
        EXPECT_EQ(r.output, expectedOutput(in, 0)) << frames << " frames";
    }
}

TEST(Pipeline, PipeAndFileGiveTheSameBytes)
{
    for (const char *h : {"YUV4MPEG2 W64 H48 It C420mpeg2", "YUV4MPEG2 W30 H20 Ip C411", "YUV4MPEG2 W16 H8 C422p10"}) {
        const std::string in = makeStream(h, 23, 11);
        fake::reset();
        Result file = runOnFile(in);
        std::vector<int32_t> fileCounts = fake::record().frameCounts;
        fake::reset();
        Result pipe = runOnPipe(in);
        EXPECT_EQ(file.output, pipe.output) << h;
        EXPECT_EQ(file.output, expectedOutput(in, 0)) << h;
        // The frame count the filter is told may grow as the stream is read, but it
        // always covers two frames past the one being made, or is the true count.
        for (size_t n = 0; n < fake::record().frameCounts.size(); n++)
            EXPECT_GE(fake::record().frameCounts[n], std::min<int32_t>((int32_t)n + 3, 23)) << n;
        EXPECT_EQ(fake::record().frameCounts.back(), 23);
        EXPECT_EQ(fileCounts.back(), 23);
    }
}

TEST(Pipeline, MemoryStaysFlatOnALongClip)
{
    // A stream far longer than any window, fed through a pipe so that it never exists whole.
    FilterRun run;
    const std::string header = "YUV4MPEG2 W16 H8 C422";
    Result shortRun = runOnPipe(makeStream(header, 12, 1), run);
    Result longRun = runOnPipe(makeStream(header, 3000, 2), run);
    EXPECT_EQ(longRun.stats.frames, 3000);
    EXPECT_LE(shortRun.stats.hostFrames, shortRun.stats.hostFrameLimit);
    EXPECT_LE(longRun.stats.hostFrames, longRun.stats.hostFrameLimit);
    EXPECT_LE(longRun.stats.hostFrameLimit, 20u);
    EXPECT_EQ(longRun.stats.hostFrameLimit, shortRun.stats.hostFrameLimit);

    // The averaging along the motion holds more frames, and still a fixed number.
    FilterRun motion;
    motion.settings.library[velvane_setting_find("mc_radius")] = 3;
    const std::string big = "YUV4MPEG2 W96 H64 C422";
    Result shortMotion = runOnPipe(makeStream(big, 12, 3), motion);
    Result longMotion = runOnPipe(makeStream(big, 400, 4), motion);
    EXPECT_EQ(shortMotion.stats.frames, 12);
    EXPECT_EQ(longMotion.stats.frames, 400);
    EXPECT_LE(longMotion.stats.hostFrames, longMotion.stats.hostFrameLimit);
    EXPECT_EQ(longMotion.stats.hostFrameLimit, shortMotion.stats.hostFrameLimit);
    EXPECT_LE(longMotion.stats.hostFrameLimit, 24u);
}

TEST(Pipeline, TruncatedInputKeepsTheWholeFramesBeforeIt)
{
    const std::string full = makeStream("YUV4MPEG2 W8 H4 C444", 6, 9);
    const size_t frame = 6 + 96;
    const std::string cut = full.substr(0, full.find('\n') + 1 + 4 * frame + 50);
    Result r = runOnFile(cut);
    EXPECT_EQ(r.stats.frames, 4);
    EXPECT_NE(r.stats.inputError.find("frame 4"), std::string::npos) << r.stats.inputError;
    EXPECT_NE(r.stats.inputError.find("truncated"), std::string::npos);
    // The four frames are those of a four-frame clip.
    EXPECT_EQ(r.output, expectedOutput(full.substr(0, full.find('\n') + 1 + 4 * frame), 0));
}

void expectError(const std::string &input, const std::string &says)
{
    try {
        runOnFile(input);
        ADD_FAILURE() << "no error; expected one saying " << says;
    } catch (const CliError &e) {
        EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
}

TEST(Pipeline, ClearErrors)
{
    expectError("RIFF....WAVEfmt ", "not a YUV4MPEG2 stream");
    expectError("", "empty");
    expectError("YUV4MPEG2 W8 H8 C444alpha\n", "unsupported chroma");
    expectError("YUV4MPEG2 W8 H8 C420p14\n", "unsupported chroma format or depth");
    expectError("YUV4MPEG2 W8 Hx\n", "frame height");
    // A plug-in build keeps its host's limit; the library takes more.
    expectError(makeStream("YUV4MPEG2 W721 H480 C422", 1, 1), "larger than the plug-in's limit of 720 x 480");
    expectError(makeStream("YUV4MPEG2 W720 H576 C422", 1, 1), "larger than the plug-in's limit");
    FilterRun run;
    run.settings.track[0] = 10; // the fake's range is 0 to 9
    try {
        runOnFile(makeStream("YUV4MPEG2 W8 H8 C422", 1, 1), run);
        ADD_FAILURE();
    } catch (const CliError &e) {
        EXPECT_NE(std::string(e.what()).find("--luma-low"), std::string::npos);
    }
}

TEST(Pipeline, LargestFrameIsAccepted)
{
    Result r = runOnFile(makeStream("YUV4MPEG2 W720 H480 It C422", 3, 4));
    EXPECT_EQ(r.stats.frames, 3);
}

TEST(Pipeline, OutputFormatCanDiffer)
{
    FilterRun run;
    run.outputChroma = Chroma::C444;
    run.outputDepth = 16;
    Result r = runOnFile(makeStream("YUV4MPEG2 W8 H4 Ip C420jpeg XYSCSS=420JPEG", 2, 3), run);
    EXPECT_EQ(r.output.substr(0, r.output.find('\n')), "YUV4MPEG2 W8 H4 Ip C444p16 XYSCSS=444P16");
    EXPECT_EQ(r.output.size(), r.output.find('\n') + 1 + 2 * (6 + 8 * 4 * 3 * 2));
}

// A PNG file as 8-bit RGB rows; empty when it cannot be read.
std::vector<uint8_t> readPng(const std::string &path, int *width, int *height)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        return {};
    *width = (int)image.width;
    *height = (int)image.height;
    return rgb;
}

TEST(Pictures, HostFramesBecomeBt601Rgb)
{
    // 8-bit limited-range Y, Cb, Cr of black, white and the primaries, and the
    // RGB they stand for; on the host's scale Y x 16 and (C - 128) x 16.
    const struct {
        int y, cb, cr;
        uint8_t rgb[3];
    } colours[] = {
        {16, 128, 128, {0, 0, 0}},   {235, 128, 128, {255, 255, 255}}, {126, 128, 128, {128, 128, 128}},
        {81, 90, 240, {255, 0, 0}},  {145, 54, 34, {0, 255, 0}},       {41, 240, 110, {0, 0, 255}},
        {210, 16, 146, {255, 255, 0}}, {170, 166, 16, {0, 255, 255}},  {106, 202, 222, {255, 0, 255}},
    };
    for (const auto &c : colours) {
        const YcPixel p = {(int16_t)(c.y * 16), (int16_t)((c.cb - 128) * 16), (int16_t)((c.cr - 128) * 16)};
        uint8_t got[3];
        hostToRgb(&p, 1, 1, 1, got, 3);
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(got[k], c.rgb[k], 2) << c.y << " " << c.cb << " " << c.cr << ", component " << k;
    }
}

TEST(Pipeline, SnapshotWritesBeforeAndAfter)
{
    // A flat grey clip, which the fake filter makes lighter: the picture holds
    // the frame before on the left and after on the right, a divider between
    // them and a label on each.
    TempDir dir;
    FilterRun run;
    run.snapshot.frame = 2;
    run.snapshot.path = dir.file("snap.png");
    run.settings.track[7] = 25;
    const int w = 200, h = 100;
    std::string clip = "YUV4MPEG2 W200 H100 C444\n";
    for (int n = 0; n < 5; n++)
        clip += "FRAME\n" + std::string((size_t)w * h, '\x64') + std::string((size_t)w * h * 2, '\x80');
    runOnFile(clip, run);
    int pw = 0, ph = 0;
    const std::vector<uint8_t> png = readPng(run.snapshot.path, &pw, &ph);
    ASSERT_FALSE(png.empty());
    const int divider = dividerWidth(w);
    ASSERT_GE(divider, 2);
    ASSERT_EQ(pw, 2 * w + divider);
    ASSERT_EQ(ph, h);
    // Compressed: two flat frames take a small part of their pixels' bytes.
    EXPECT_LT(std::filesystem::file_size(run.snapshot.path), (uintmax_t)pw * ph * 3 / 10);
    uint8_t before[3], after[3];
    const YcPixel grey[2] = {{1600, 0, 0}, {1700, 0, 0}}; // 100 on the host's scale, and after the offset of 25
    hostToRgb(&grey[0], 1, 1, 1, before, 3);
    hostToRgb(&grey[1], 1, 1, 1, after, 3);
    auto at = [&](int x, int y) { return png.data() + ((size_t)y * pw + x) * 3; };
    EXPECT_EQ(memcmp(at(w - 1, h - 1), before, 3), 0);
    EXPECT_EQ(memcmp(at(0, h - 1), before, 3), 0);
    EXPECT_EQ(memcmp(at(w + divider, h - 1), after, 3), 0);
    EXPECT_EQ(memcmp(at(pw - 1, h / 2), after, 3), 0);
    for (int y = 0; y < h; y += 7)
        for (int x = w; x < w + divider; x++) {
            EXPECT_NE(memcmp(at(x, y), before, 3), 0) << x << ", " << y;
            EXPECT_NE(memcmp(at(x, y), after, 3), 0) << x << ", " << y;
        }
    // White letters on a darker box in the top left corner of each half;
    // "before" has more of them than "after".
    int letters[2] = {0, 0}, box[2] = {0, 0};
    for (int half = 0; half < 2; half++)
        for (int y = 0; y < h / 3; y++)
            for (int x = 0; x < w / 2; x++) {
                const uint8_t *p = at(half * (w + divider) + x, y);
                letters[half] += p[0] == 255 && p[1] == 255 && p[2] == 255;
                box[half] += p[0] < (half ? after : before)[0] / 2;
            }
    EXPECT_GT(letters[1], 20);
    EXPECT_GT(letters[0], letters[1]);
    EXPECT_GT(box[0], letters[0]);
    EXPECT_GT(box[1], letters[1]);

    // A frame past the end: refused before any work when the file's size
    // shows it; found at the end of a stream, with the output written.
    run.snapshot.frame = 5;
    run.snapshot.path = dir.file("none.png");
    fake::reset();
    try {
        runOnFile(clip, run);
        ADD_FAILURE() << "a frame past the end of a file was taken";
    } catch (const CliError &e) {
        EXPECT_NE(std::string(e.what()).find("ends before frame 5 (it has at most 5 frames"), std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(fake::record().frameCounts.empty());
    Result r = runOnPipe(clip, run);
    EXPECT_EQ(r.stats.frames, 5);
    EXPECT_NE(r.stats.snapshotMissed.find("ends before frame 5 (it has 5 frames"), std::string::npos)
        << r.stats.snapshotMissed;
    EXPECT_TRUE(readFile(run.snapshot.path).empty()); // nothing made for it

    // An unwritable picture is refused before any frame is filtered.
    run.snapshot.frame = 1;
    run.snapshot.path = dir.file("no/such/folder/x.png");
    fake::reset();
    EXPECT_THROW(runOnFile(makeStream("YUV4MPEG2 W20 H10 C422", 4, 3), run), CliError);
    EXPECT_TRUE(fake::record().frameCounts.empty());
}

TEST(OutputFile, AppearsOnlyWhenComplete)
{
    TempDir dir;
    const std::string path = dir.file("out.y4m");
    {
        OutputFile out(path);
        fputs("partial", out.file());
        EXPECT_EQ(dir.list().size(), 1u); // the temporary file, under another name
        struct stat st;
        EXPECT_NE(stat(path.c_str(), &st), 0);
    } // not committed: gone
    EXPECT_TRUE(dir.list().empty());
    {
        OutputFile out(path);
        fputs("whole", out.file());
        out.commit();
    }
    EXPECT_EQ(readFile(path), "whole");
    EXPECT_EQ(dir.list().size(), 1u);
}

// In a child, as the interruption ends the program: a committed output still
// in scope, a second one being written, and a whole file not yet handed over.
TEST(OutputFile, AnInterruptionRemovesOnlyWhatIsUnfinished)
{
    TempDir dir;
    const std::string err = dir.file("err.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(err.c_str(), "w", stderr))
            _exit(127);
        OutputFile done(dir.file("done.y4m"));
        fputs("whole", done.file());
        done.commit();
        OutputFile writing(dir.file("writing.y4m"));
        writeFile(dir.file("master.mkv"), "unchecked");
        RemovedIfInterrupted master(dir.file("master.mkv"), "master.mkv (not yet checked)");
        watchInterrupts();
        kill(getpid(), SIGTERM); // to the process, as from outside
        sleep(30); // the watcher ends the program
        _exit(126);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const std::string said = readFile(err);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status << ": " << said;
    EXPECT_NE(said.find("writing.y4m not written"), std::string::npos) << said;
    EXPECT_NE(said.find("interrupted; master.mkv (not yet checked) removed"), std::string::npos) << said;
    EXPECT_EQ(said.find("done.y4m"), std::string::npos) << said;
    EXPECT_EQ(readFile(dir.file("done.y4m")), "whole");
    const auto left = dir.list();
    EXPECT_EQ(left.size(), 2u) << ::testing::PrintToString(left); // done.y4m, err.txt
}

TEST(OutputFile, UnwritablePlacesAreRefused)
{
    TempDir dir;
    EXPECT_THROW(OutputFile(dir.file("no/such/folder/out.y4m")), CliError);
    EXPECT_THROW(OutputFile(dir.path() + "/"), CliError);
    if (geteuid() != 0) {
        mkdir(dir.file("ro").c_str(), 0555);
        EXPECT_THROW(OutputFile(dir.file("ro/out.y4m")), CliError);
        rmdir(dir.file("ro").c_str());
    }
}

} // namespace
} // namespace velvane
