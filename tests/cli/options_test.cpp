#include "run/options.h"

#include <gtest/gtest.h>

#include "fake_module.h"

namespace velvane {
namespace {

const FilterDescriptor &fd() { return *fake::descriptor(); }

CommandLine parse(std::vector<std::string> args) { return parseCommandLine(args, fd()); }

TEST(Options, StreamsAndDefaults)
{
    CommandLine cl = parse({"-", "out.y4m"});
    ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
    EXPECT_EQ(cl.input, "-");
    EXPECT_EQ(cl.output, "out.y4m");
    // Automatic strength unless another is given; the plug-in's settings with
    // custom, and with a plug-in build, which cannot measure.
    EXPECT_EQ(cl.settings.strength.value_or(-1), VELVANE_STRENGTH_AUTO);
    int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
    resolveSettings(fd(), cl.settings, Chroma::C422, track, check);
    EXPECT_EQ(track[0], VELVANE_FROM_STRENGTH);
    for (const auto &args : {std::vector<std::string>{"--strength", "custom", "-", "out.y4m"},
                             std::vector<std::string>{"--module", "plugin.so", "-", "out.y4m"}}) {
        cl = parse(args);
        ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
        EXPECT_EQ(cl.settings.strength.value_or(VELVANE_STRENGTH_CUSTOM), VELVANE_STRENGTH_CUSTOM) << args[0];
        resolveSettings(fd(), cl.settings, Chroma::C422, track, check);
        for (int i = 0; i < VV_TRACK_COUNT; i++)
            EXPECT_EQ(track[i], fd().trackDefaults[i]) << args[0] << " " << i;
        for (int i = 0; i < VV_CHECK_COUNT; i++) {
            if (i != 1) {
                EXPECT_EQ(check[i], fd().checkDefaults[i]) << args[0] << " " << i;
            }
        }
    }
    EXPECT_EQ(cl.cpuMask, VELVANE_CPU_ALL);
    // A kernel level allows the levels below it and none above.
    EXPECT_EQ(parse({"--cpu-mask", "avx2", "-", "-"}).cpuMask, VELVANE_CPU_SSE2 | VELVANE_CPU_AVX2);
    EXPECT_EQ(parse({"--cpu-mask", "sse2", "-", "-"}).cpuMask, VELVANE_CPU_SSE2);
    EXPECT_EQ(parse({"--cpu-mask", "c", "-", "-"}).cpuMask, 0u);
}

TEST(Options, EveryTrackBarHasItsOption)
{
    for (int i = 0; i < VV_TRACK_COUNT; i++) {
        const int32_t v = fd().trackMaxima[i];
        CommandLine cl = parse({trackOptionName(i), std::to_string(v), "a", "b"});
        ASSERT_EQ(cl.action, CommandLine::Filter) << trackOptionName(i) << ": " << cl.message;
        for (int j = 0; j < VV_TRACK_COUNT; j++)
            EXPECT_EQ(cl.settings.track[j].has_value(), i == j);
        EXPECT_EQ(*cl.settings.track[i], v);
        // The lower bound is accepted too, written either way.
        cl = parse({std::string(trackOptionName(i)) + "=" + std::to_string(fd().trackMinima[i]), "a", "b"});
        ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
        EXPECT_EQ(*cl.settings.track[i], fd().trackMinima[i]);
        // Given again, the last value counts.
        cl = parse({trackOptionName(i), std::to_string(v), "a", trackOptionName(i), std::to_string(v - 1), "b"});
        ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
        EXPECT_EQ(*cl.settings.track[i], v - 1);
    }
    CommandLine cl = parse({"--offset-y", "-50", "a", "b"});
    ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
    EXPECT_EQ(*cl.settings.track[7], -50);
}

// The native library takes thresholds beyond the plug-in's range.
int32_t maximum(int i) { return i < kThresholdCount ? VELVANE_THRESHOLD_MAX : fd().trackMaxima[i]; }

TEST(Options, OutOfRangeNamesTheOptionAndItsRange)
{
    for (int i = 0; i < VV_TRACK_COUNT; i++) {
        for (int32_t v : {maximum(i) + 1, fd().trackMinima[i] - 1}) {
            CommandLine cl = parse({std::string(trackOptionName(i)) + "=" + std::to_string(v), "a", "b"});
            ASSERT_EQ(cl.action, CommandLine::Exit);
            EXPECT_NE(cl.exitCode, 0);
            EXPECT_NE(cl.message.find(trackOptionName(i)), std::string::npos) << cl.message;
            const std::string range = std::to_string(fd().trackMinima[i]) + " to " + std::to_string(maximum(i));
            EXPECT_NE(cl.message.find(range), std::string::npos) << cl.message;
        }
    }
    CommandLine cl = parse({"--luma-low", "three", "a", "b"});
    EXPECT_EQ(cl.action, CommandLine::Exit);
    EXPECT_NE(cl.message.find("--luma-low"), std::string::npos);
}

TEST(Options, ValidateSettingsChecksAgainstTheLoadedModule)
{
    FilterSettings s;
    s.track[0] = fd().trackMaxima[0];
    EXPECT_NO_THROW(validateSettings(fd(), s));
    s.track[0] = fd().trackMaxima[0] + 1;
    EXPECT_NO_THROW(validateSettings(fd(), s, false)); // the native library's wider range
    try {
        validateSettings(fd(), s);
        ADD_FAILURE();
    } catch (const CliError &e) {
        EXPECT_NE(std::string(e.what()).find("--luma-low"), std::string::npos);
    }
}

TEST(Options, AStrengthSetsWhatTheUserLeftAndTheUserWins)
{
    int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
    CommandLine cl = parse({"--strength", "auto", "--luma-high", "30", "a", "b"});
    ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
    EXPECT_EQ(cl.settings.strength.value_or(-1), VELVANE_STRENGTH_AUTO);
    resolveSettings(fd(), cl.settings, Chroma::C422, track, check);
    EXPECT_EQ(track[0], VELVANE_FROM_STRENGTH);
    EXPECT_EQ(track[1], 30);
    EXPECT_EQ(track[2], VELVANE_FROM_STRENGTH);
    EXPECT_EQ(track[3], VELVANE_FROM_STRENGTH);
    EXPECT_EQ(check[0], VELVANE_FROM_STRENGTH);
    EXPECT_EQ(track[4], fd().trackDefaults[4]);

    cl = parse({"--no-dot", "--strength", "light", "--show", "removed", "a", "b"});
    ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
    EXPECT_EQ(cl.settings.strength.value_or(-1), VELVANE_STRENGTH_LIGHT);
    EXPECT_EQ(cl.show, VELVANE_SHOW_REMOVED);
    resolveSettings(fd(), cl.settings, Chroma::C422, track, check);
    EXPECT_EQ(check[0], 0);
    EXPECT_EQ(parse({"--show", "dots", "a", "b"}).show, VELVANE_SHOW_DOTS);

    // The thresholds where the picture moves: auto's unless given, off
    // without a strength; the change in code values, kept in eighths, and
    // written back the same way.
    int32_t moving[3];
    resolveMoving(parse({"--strength", "auto", "a", "b"}).settings, moving);
    EXPECT_EQ(moving[2], VELVANE_FROM_STRENGTH);
    EXPECT_EQ(movingOption(moving, VELVANE_STRENGTH_AUTO), "");
    resolveMoving(parse({"--strength", "custom", "a", "b"}).settings, moving);
    EXPECT_EQ(moving[0] + moving[1] + moving[2], 0);
    cl = parse({"--strength", "auto", "--moving", "2,3,2.875", "a", "b"});
    ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
    resolveMoving(cl.settings, moving);
    EXPECT_EQ(moving[2], 23);
    EXPECT_EQ(movingOption(moving, VELVANE_STRENGTH_AUTO), "--moving 2,3,2.875");
    resolveMoving(parse({"--strength", "auto", "--moving", "0,0,0", "a", "b"}).settings, moving);
    EXPECT_EQ(movingOption(moving, VELVANE_STRENGTH_AUTO), "--moving 0,0,0") << "off, against the strength";
    EXPECT_EQ(movingOption(moving, VELVANE_STRENGTH_CUSTOM), "") << "off, as without one";

    for (const char *bad : {"--strength=extreme", "--show=everything"}) {
        cl = parse({bad, "a", "b"});
        EXPECT_EQ(cl.action, CommandLine::Exit) << bad;
        EXPECT_EQ(cl.exitCode, 2) << bad;
    }
}

TEST(Options, CheckBoxesTakeTheLastWord)
{
    for (int i = 0; i < VV_CHECK_COUNT; i++) {
        CommandLine cl = parse({checkOptionName(i), "a", "b"});
        ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
        EXPECT_EQ(cl.settings.check[i].value_or(-1), 1) << checkOptionName(i);
        cl = parse({checkOptionName(i), checkOffOptionName(i), "a", "b"});
        EXPECT_EQ(cl.settings.check[i].value_or(-1), 0) << checkOffOptionName(i);
        cl = parse({checkOffOptionName(i), "a", "b", checkOptionName(i)});
        EXPECT_EQ(cl.settings.check[i].value_or(-1), 1);
        for (int j = 0; j < VV_CHECK_COUNT; j++) {
            if (j != i) {
                EXPECT_FALSE(cl.settings.check[j].has_value());
            }
        }
    }
    // The names people will type.
    CommandLine cl = parse({"--no-dot", "--411", "--no-prev", "--borders", "--full-black", "a", "b"});
    int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
    resolveSettings(fd(), cl.settings, Chroma::C422, track, check);
    EXPECT_EQ(check[0], 0);
    EXPECT_EQ(check[1], 1);
    EXPECT_EQ(check[2], 1);
    EXPECT_EQ(check[3], 1);
    EXPECT_EQ(check[4], 0);
}

TEST(Options, FourOneOneInterpolationFollowsTheInputUnlessGiven)
{
    int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
    FilterSettings s;
    resolveSettings(fd(), s, Chroma::C411, track, check);
    EXPECT_EQ(check[1], 1);
    for (Chroma c : {Chroma::C422, Chroma::C420jpeg, Chroma::C444, Chroma::Mono}) {
        resolveSettings(fd(), s, c, track, check);
        EXPECT_EQ(check[1], 0);
    }
    s.check[1] = 1;
    resolveSettings(fd(), s, Chroma::C422, track, check);
    EXPECT_EQ(check[1], 1);
    s.check[1] = 0;
    resolveSettings(fd(), s, Chroma::C411, track, check);
    EXPECT_EQ(check[1], 0);
}

TEST(Options, HelpListsEachSettingWithLabelDefaultAndRange)
{
    CommandLine cl = parse({"--help"});
    ASSERT_EQ(cl.action, CommandLine::Exit);
    EXPECT_EQ(cl.exitCode, 0);
    for (int i = 0; i < VV_TRACK_COUNT; i++) {
        const std::string line = std::string(fd().trackNames[i]) + ": " + trackMeaning(i) + " (" +
                                 std::to_string(fd().trackMinima[i]) + " to " + std::to_string(maximum(i)) +
                                 ", default " + std::to_string(fd().trackDefaults[i]) + ")";
        EXPECT_NE(cl.message.find(trackOptionName(i)), std::string::npos);
        EXPECT_NE(cl.message.find(line), std::string::npos) << line;
    }
    for (int i = 0; i < VV_CHECK_COUNT; i++) {
        EXPECT_NE(cl.message.find(checkOptionName(i)), std::string::npos);
        EXPECT_NE(cl.message.find(checkOffOptionName(i)), std::string::npos);
        EXPECT_NE(cl.message.find(fd().checkNames[i]), std::string::npos);
    }
    EXPECT_NE(cl.message.find("on for C411 input"), std::string::npos);
    EXPECT_NE(cl.message.find("One step is half a code value of 8-bit video (2 of 10-bit)"), std::string::npos);
}

TEST(Options, LabelsReachTheTerminalAsUtf8)
{
    EXPECT_EQ(labelUtf8("\x8BP\x93xL"), "\xE8\xBC\x9D\xE5\xBA\xA6L");                 // 輝度L
    EXPECT_EQ(labelUtf8("\x90\x46\xCA\xDE\xD7\xDD\xBD"), "\xE8\x89\xB2\xEF\xBE\x8A\xEF\xBE\x9E\xEF\xBE\x97\xEF\xBE\x9D\xEF\xBD\xBD"); // 色ﾊﾞﾗﾝｽ
    EXPECT_EQ(labelUtf8("GainY"), "GainY");
}

TEST(Options, UsageErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"only-one"},
        {"a", "b", "c"},
        {"--no-such-option", "a", "b"},
        {"--output-chroma", "423", "a", "b"},
        {"--output-depth", "9", "a", "b"},
        {"--snapshot", "-1", "x.png", "a", "b"},
        {"--snapshot", "1", "x.jpg", "a", "b"},
        {"--luma-low", "99", "a", "b"},
        {"--strength", "a", "b"},
        {"--threads", "0", "a", "b"},
        {"--threads", "65", "a", "b"},
        {"--cpu-mask", "avx3", "a", "b"},
        {"--cpu-mask", "sse2", "--module", "x.so", "a", "b"},
        {"--moving", "2,3", "a", "b"},
        {"--moving", "2,61,1", "a", "b"},
        {"--moving", "2,3,1x", "a", "b"},
        {"--moving", "2,3,-1", "a", "b"},
        {"--moving", "2,3,1", "--module", "x.so", "a", "b"},
        {"--mc-radius", "5", "a", "b"},
        {"--mc-radius", "-1", "a", "b"},
        {"--mc-radius", "two", "a", "b"},
        {"--mc-strength", "-1", "a", "b"},
        {"--mc-strength", "401", "a", "b"},
        {"--mc-radius", "2", "--module", "x.so", "a", "b"},
        {"--mc-strength", "50", "--module", "x.so", "a", "b"},
        {"demo", "--frames", "1"},
    };
    for (const auto &args : bad) {
        CommandLine cl = parse(args);
        EXPECT_EQ(cl.action, CommandLine::Exit) << ::testing::PrintToString(args);
        EXPECT_EQ(cl.exitCode, 2) << ::testing::PrintToString(args);
        EXPECT_FALSE(cl.message.empty());
    }
    // The averaging along the motion: its range and where it belongs are named.
    EXPECT_NE(parse({"--mc-radius", "5", "a", "b"}).message.find("--mc-radius"), std::string::npos);
    EXPECT_NE(parse({"--mc-radius", "2", "--module", "x.so", "a", "b"}).message.find("native library"),
              std::string::npos);
    const CommandLine mc = parse({"--mc-radius", "3", "--mc-strength", "150", "a", "b"});
    EXPECT_EQ(mc.action, CommandLine::Filter);
    EXPECT_EQ(librarySettingsOptions(mc.settings), " --mc-radius 3 --mc-strength 150");
    // An unknown option is named alone, not the words it pushed out of place.
    for (const auto &args : std::vector<std::vector<std::string>>{{"--strenght", "5", "in.y4m", "out.y4m"},
                                                                   {"--hue", "-3", "--strenght=5", "in.y4m", "out.y4m"},
                                                                   {"demo", "--strenght", "5"}}) {
        CommandLine cl = parse(args);
        EXPECT_EQ(cl.exitCode, 2);
        EXPECT_EQ(cl.message.rfind("unknown option --strenght\n", 0), 0u) << cl.message;
        EXPECT_EQ(cl.message.find("out.y4m"), std::string::npos) << cl.message;
    }
    // A named value is taken by its names only, and a wrong one names them.
    CommandLine number = parse({"--strength", "2", "in.y4m", "out.y4m"});
    EXPECT_EQ(number.exitCode, 2);
    EXPECT_NE(number.message.find("--strength: it is custom, light, medium, strong or auto, not 2"), std::string::npos)
        << number.message;
}

TEST(Options, OutputSnapshotAndDemo)
{
    CommandLine cl = parse({"--output-chroma", "422", "--output-depth", "10", "--snapshot", "12", "s.png", "-q",
                            "a", "b"});
    ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
    EXPECT_EQ(*cl.outputChroma, Chroma::C422);
    EXPECT_EQ(*cl.outputDepth, 10);
    EXPECT_EQ(cl.snapshot.frame, 12);
    EXPECT_EQ(cl.snapshot.path, "s.png");
    EXPECT_TRUE(cl.quiet);
    EXPECT_EQ(parse({"--snapshot", "0", "dir/S.PNG", "a", "b"}).snapshot.path, "dir/S.PNG");
    cl = parse({"--output-chroma", "422", "--snapshot", "1", "x.png", "--output-depth", "10", "-q", "a",
                "--output-chroma", "mono", "--snapshot", "2", "y.png", "--output-depth", "12", "-q", "b"});
    ASSERT_EQ(cl.action, CommandLine::Filter) << cl.message;
    EXPECT_EQ(*cl.outputChroma, Chroma::Mono);
    EXPECT_EQ(*cl.outputDepth, 12);
    EXPECT_EQ(cl.snapshot.frame, 2);
    EXPECT_EQ(cl.snapshot.path, "y.png");
    EXPECT_EQ(parse({"--version"}).action, CommandLine::Version);

    cl = parse({"demo"});
    EXPECT_EQ(cl.action, CommandLine::Demo);
    EXPECT_EQ(cl.demoDir, "velvane-demo");
    cl = parse({"demo", "somewhere", "--frames", "9", "--frames", "12", "--no-dot"});
    ASSERT_EQ(cl.action, CommandLine::Demo) << cl.message;
    EXPECT_EQ(cl.demoDir, "somewhere");
    EXPECT_EQ(cl.demoFrames, 12);
    EXPECT_EQ(cl.settings.check[0].value_or(-1), 0);
}

} // namespace
} // namespace velvane
