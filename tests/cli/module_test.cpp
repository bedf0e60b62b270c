// The command with the real plug-in, linked in and loaded from its shared library.
#include <gtest/gtest.h>

#include <memory>

#include "y4m/convert.h"
#include "demo/demo.h"
#include "embedded_host.h"
#include "run/module_loader.h"
#include "run/options.h"
#include "run/filter_run.h"
#include "test_util.h"

namespace velvane {
namespace {

using testing::PipeFeed;
using testing::TempDir;
using testing::makeStream;
using testing::writeFile;

// An output stream in memory, closed even when the run throws.
struct MemoryOutput {
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    ~MemoryOutput()
    {
        if (f)
            fclose(f);
        free(buf);
    }
    std::string take()
    {
        fclose(f);
        f = nullptr;
        return std::string(buf, len);
    }
};

std::string runModule(FilterDescriptor *fd, FILE *in, const FilterRun &run = FilterRun())
{
    MemoryOutput out;
    filterStream(fd, in, "input", out.f, "output", run);
    return out.take();
}

std::string runModuleOnBytes(FilterDescriptor *fd, const std::string &bytes, const FilterRun &run = FilterRun())
{
    std::unique_ptr<FILE, int (*)(FILE *)> in(fmemopen((void *)bytes.data(), bytes.size(), "rb"), fclose);
    return runModule(fd, in.get(), run);
}

// A small moving picture with noise, so that the filter has work in every stage.
std::string smallClip(int frames, const char *chroma = "C422")
{
    DemoScene scene(96, 64);
    Y4mFormat f = scene.format();
    std::string s = formatStreamHeader(f) + "\n";
    std::vector<uint8_t> clean(f.frameBytes()), noisy(f.frameBytes());
    for (int n = 0; n < frames; n++) {
        scene.render(n, clean.data(), noisy.data());
        s += "FRAME\n";
        s.append((const char *)noisy.data(), noisy.size());
    }
    if (std::string(chroma) == "C422")
        return s;
    // Another chroma format, converted through the host's scale.
    FILE *in = fmemopen((void *)s.data(), s.size(), "rb");
    Y4mReader r(in, "clip");
    r.readHeader();
    Chroma c;
    int d;
    parseChromaTag(std::string(chroma).substr(1), &c, &d);
    Y4mFormat o = withSampling(f, c, d);
    std::string out = formatStreamHeader(o) + "\n";
    FrameConverter from(f, f.width), to(o, f.width);
    std::vector<YcPixel> host((size_t)f.width * f.height);
    std::vector<uint8_t> raw(o.frameBytes());
    while (r.readFrame(noisy.data(), nullptr)) {
        from.toHost(noisy.data(), true, host.data());
        to.fromHost(host.data(), true, raw.data());
        out += "FRAME\n";
        out.append((const char *)raw.data(), raw.size());
    }
    fclose(in);
    return out;
}

// The demo scene at any size, clean and noisy (noise and dots), as YUV4MPEG2
// streams with the given interlacing and chroma tags.
struct SceneClips {
    std::string clean, noisy;
};

SceneClips sceneClips(int width, int height, const char *interlace, const char *chroma, int frames)
{
    DemoScene scene(width, height);
    const Y4mFormat f422 = scene.format();
    Chroma c;
    int depth;
    parseChromaTag(chroma, &c, &depth);
    Y4mFormat out = withSampling(f422, c, depth);
    out.interlace = interlace[1];
    const bool interlaced = interlace[1] != 'p';
    const int stride = (width + 3) & ~3;
    FrameConverter from(f422, stride), to(out, stride);
    std::vector<uint8_t> clean(f422.frameBytes()), noisy(f422.frameBytes()), raw(out.frameBytes());
    std::vector<YcPixel> host((size_t)stride * height);
    SceneClips s{formatStreamHeader(out) + "\n", formatStreamHeader(out) + "\n"};
    for (int n = 0; n < frames; n++) {
        scene.render(n, clean.data(), noisy.data());
        for (auto [planes, text] : {std::pair{&clean, &s.clean}, std::pair{&noisy, &s.noisy}}) {
            from.toHost(planes->data(), interlaced, host.data());
            to.fromHost(host.data(), interlaced, raw.data());
            *text += "FRAME\n";
            text->append((const char *)raw.data(), raw.size());
        }
    }
    return s;
}

TEST(RealModule, EveryStandardDefinitionSizeIsFilteredWithItsTagsKept)
{
    const struct {
        int width, height;
        bool lines525;
    } sizes[] = {{720, 576, false}, {704, 576, false}, {768, 576, false}, {352, 288, false}, {720, 486, true},
                 {720, 480, true},  {704, 480, true},  {640, 480, true},  {352, 240, true}};
    // Every size in 4:2:2 both field orders and progressive; 4:2:0 (both
    // sitings), and 4:1:1 for 525 lines, in one field order each.
    const struct {
        const char *interlace, *chroma;
        bool only525;
    } forms[] = {{"It", "422", false},      {"Ib", "422", false},      {"Ip", "422", false},
                 {"Ib", "420paldv", false}, {"It", "420mpeg2", false}, {"Ip", "420mpeg2", false},
                 {"Ib", "411", true}};
    TempDir dir;
    for (const auto &size : sizes)
        for (const auto &form : forms) {
            if (form.only525 && !size.lines525)
                continue;
            SCOPED_TRACE(::testing::Message() << size.width << "x" << size.height << " " << form.interlace << " C"
                                              << form.chroma);
            const SceneClips clips = sceneClips(size.width, size.height, form.interlace, form.chroma, 3);
            const std::string out = runModuleOnBytes(GetFilterTable(), clips.noisy);
            const std::string header = clips.noisy.substr(0, clips.noisy.find('\n'));
            ASSERT_EQ(out.substr(0, out.find('\n')), header);
            ASSERT_EQ(out.size(), clips.noisy.size());
            writeFile(dir.file("clean.y4m"), clips.clean);
            writeFile(dir.file("noisy.y4m"), clips.noisy);
            writeFile(dir.file("out.y4m"), out);
            // Noise of sigma 3 and dots: at least 2 dB better in luma at every size.
            EXPECT_GT(psnrOfFiles(dir.file("clean.y4m"), dir.file("out.y4m")).luma,
                      psnrOfFiles(dir.file("clean.y4m"), dir.file("noisy.y4m")).luma + 2.0);
        }
}

TEST(RealModule, StreamingWindowMatchesTheWholeClipInMemory)
{
    // The same clip rendered by a host holding every frame, told the true
    // frame count from the start: the streaming command must give the same
    // bytes, 4:2:2 also where the library converts the stream's planes itself.
    for (const char *chroma : {"C422", "C411", "C422p10"}) {
        const std::string clip = smallClip(13, chroma);
        FILE *in = fmemopen((void *)clip.data(), clip.size(), "rb");
        Y4mReader r(in, "clip");
        const Y4mFormat f = r.readHeader();
        const int stride = (f.width + 3) & ~3;
        FrameConverter conv(f, stride);
        std::vector<std::vector<YcPixel>> frames;
        std::vector<uint8_t> raw(f.frameBytes());
        while (r.readFrame(raw.data(), nullptr)) {
            frames.emplace_back((size_t)stride * f.height);
            conv.toHost(raw.data(), true, frames.back().data());
        }
        fclose(in);

        FilterDescriptor *fd = GetFilterTable();
        FilterSettings none;
        EmbeddedHost host(f.width, f.height, stride, f.height);
        host.attach(fd);
        resolveSettings(*fd, none, f.chroma, host.track, host.check);
        host.setClip(frames);
        host.init();
        host.update();
        std::string expect = formatStreamHeader(f) + "\n";
        for (int n = 0; n < (int)frames.size(); n++) {
            std::vector<YcPixel> o = host.render(n);
            conv.fromHost(o.data(), true, raw.data());
            expect += "FRAME\n";
            expect.append((const char *)raw.data(), raw.size());
        }
        host.exit();
        EXPECT_EQ(runModuleOnBytes(fd, clip), expect) << chroma;
    }
}

TEST(RealModule, PipeAndFileGiveTheSameBytes)
{
    const std::string clip = smallClip(17);
    TempDir dir;
    writeFile(dir.file("in.y4m"), clip);
    FILE *in = fopen(dir.file("in.y4m").c_str(), "rb");
    const std::string fromFile = runModule(GetFilterTable(), in);
    fclose(in);
    PipeFeed feed(clip);
    EXPECT_EQ(runModule(GetFilterTable(), feed.in()), fromFile);
}

TEST(RealModule, PluginBuildsAndTheLibraryGiveTheSameFrames)
{
    FilterDescriptor *loaded = loadModule(VELVANE_PLUGIN_PATH);
    ASSERT_NE(loaded, GetFilterTable()); // a second copy of the module, as a host would load it
    const std::string clip = smallClip(7);
    FilterRun run;
    run.settings.track[8] = 12; // hue
    run.settings.check[3] = 1;  // borders
    run.settings.track[10] = 2;
    const std::string native = runModuleOnBytes(GetFilterTable(), clip, run);
    run.plugin = true;
    EXPECT_EQ(runModuleOnBytes(loaded, clip, run), native);
    EXPECT_EQ(runModuleOnBytes(GetFilterTable(), clip, run), native);
    EXPECT_THROW(loadModule("/nonexistent/velvane-plugin.so"), CliError);

    // A named strength through a plug-in build is its thresholds; what only
    // the library does is refused.
    run.settings.strength = VELVANE_STRENGTH_MEDIUM;
    EXPECT_EQ(runModuleOnBytes(loaded, clip, run), native);
    run.settings.strength = VELVANE_STRENGTH_AUTO;
    EXPECT_THROW(runModuleOnBytes(loaded, clip, run), CliError);
    run.settings.strength.reset();
    run.show = VELVANE_SHOW_REMOVED;
    EXPECT_THROW(runModuleOnBytes(loaded, clip, run), CliError);
}

TEST(RealModule, OptionsCarryThePluginsLabelsAndRanges)
{
    FilterDescriptor *fd = GetFilterTable();
    CommandLine help = parseCommandLine(std::vector<std::string>{"--help"}, *fd);
    for (int i = 0; i < VV_TRACK_COUNT; i++) {
        // Thresholds: the native library's wider range (a plug-in build keeps its own, checked when it runs).
        const int32_t hi = i < kThresholdCount ? VELVANE_THRESHOLD_MAX : fd->trackMaxima[i];
        const std::string range = "(" + std::to_string(fd->trackMinima[i]) + " to " + std::to_string(hi) + ", default " +
                                  std::to_string(fd->trackDefaults[i]) + ")";
        EXPECT_NE(help.message.find(labelUtf8(fd->trackNames[i]) + ": " + trackMeaning(i) + " " + range),
                  std::string::npos)
            << trackOptionName(i);
    }
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        EXPECT_NE(help.message.find(labelUtf8(fd->checkNames[i])), std::string::npos);
    CommandLine bad = parseCommandLine(std::vector<std::string>{"--gain-y", "51", "a", "b"}, *fd);
    EXPECT_EQ(bad.action, CommandLine::Exit);
    EXPECT_NE(bad.message.find("-50 to 50"), std::string::npos) << bad.message;
    FilterSettings wide;
    wide.track[0] = 21;
    EXPECT_THROW(validateSettings(*fd, wide, true), CliError);
}

TEST(RealModule, DemoImprovesBothLumaAndChroma)
{
    TempDir dir;
    DemoReport r = runDemo(GetFilterTable(), dir.path(), 8, FilterSettings(), false);
    EXPECT_EQ(r.files.size(), 6u);
    // Noise of sigma 3 and dots of up to 9 codes: the filter should win at least 2 dB.
    EXPECT_GT(r.filtered.luma, r.noisy.luma + 2.0);
    EXPECT_GT(r.filtered.chroma, r.noisy.chroma + 2.0);
    for (const auto &f : r.files)
        EXPECT_GT(testing::readFile(f).size(), 100u) << f;
}

TEST(RealModule, TooLargeFramesAreRefusedNotBlackened)
{
    EXPECT_THROW(runModuleOnBytes(GetFilterTable(), makeStream("YUV4MPEG2 W720 H802 C422", 1, 1)), CliError);
    // The plug-in keeps its host's 720 x 480, where the library goes on.
    const std::string pal = makeStream("YUV4MPEG2 W720 H576 C422", 1, 1);
    FilterRun run;
    run.plugin = true;
    EXPECT_THROW(runModuleOnBytes(GetFilterTable(), pal, run), CliError);
    EXPECT_EQ(runModuleOnBytes(GetFilterTable(), pal).size(), pal.size());
}

} // namespace
} // namespace velvane
