#include "options.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <iconv.h>
#include <string.h>
#include <strings.h>

#include <CLI/CLI.hpp>

#include "velvane/velvane.h"
#include "library/thread_pool.h"
#include "motion/motion.h"

namespace velvane {

namespace {

struct TrackOption {
    const char *name;
    const char *meaning;
};
const TrackOption kTracks[VV_TRACK_COUNT] = {
    {"--luma-low", "luma threshold, low band: a step is half a code value of 8-bit video, 2 of 10-bit"},
    {"--luma-high", "luma threshold, high band: a step is one code value of 8-bit video, 4 of 10-bit"},
    {"--chroma-low", "chroma threshold, low band: a step is half a code value of 8-bit video, 2 of 10-bit"},
    {"--chroma-high", "chroma threshold, high band: a step is half a code value of 8-bit video, 2 of 10-bit"},
    {"--gain-y", "luma gain: luma x (256 + N) / 256"},
    {"--gain-cb", "Cb gain: Cb x (256 + N) / 256"},
    {"--gain-cr", "Cr gain: Cr x (256 + N) / 256"},
    {"--offset-y", "luma offset, a quarter of an 8-bit code a step"},
    {"--hue", "hue rotation by N / 180 radians"},
    {"--balance", "colour balance: positive drives Cb and Cr apart"},
    {"--border-top", "black border at the top, rows (with --borders)"},
    {"--border-bottom", "black border at the bottom, rows (with --borders)"},
    {"--border-left", "black border at the left, pixels (with --borders)"},
    {"--border-right", "black border at the right, pixels (with --borders)"},
};

struct CheckOption {
    const char *on;
    const char *off;
    const char *meaning;
    const char *offMeaning;
};
const CheckOption kChecks[VV_CHECK_COUNT] = {
    {"--dot", "--no-dot", "reduce dot interference (a fine pattern inverting every frame)",
     "leave dot interference alone"},
    {"--411", "--no-411", "rebuild 4:2:2 chroma from 4:1:1 material; unless given, on for C411 input and off "
                          "for every other chroma format",
     "no 4:1:1 interpolation"},
    {"--no-prev", "--prev", "leave the previous frame out of the averaging", "average with the previous frame too"},
    {"--borders", "--no-borders", "draw black borders of the --border-* widths", "no black borders"},
    {"--ccir-black", "--full-black", "borders at CCIR 601 black (Y 16)", "borders at full-range black (Y 0)"},
};

// The native library takes wider thresholds than the plug-in's descriptor says.
int32_t trackMaximum(const FilterDescriptor &fd, int i, bool plugin)
{
    return i < kThresholdCount && !plugin ? VELVANE_THRESHOLD_MAX : fd.trackMaxima[i];
}

// The first word that looks like an option but is none of ours ("--strength"
// of "--strength=5"), or empty. Negative numbers are values, not options.
std::string unknownOption(const CLI::App &app, int argc, const char *const *argv)
{
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--")
            break;
        if (a.size() < 2 || a[0] != '-' || isdigit((unsigned char)a[1]) || a[1] == '.')
            continue;
        const std::string name = a[1] == '-' ? a.substr(0, a.find('=')) : a.substr(0, 2);
        bool known = app.get_option_no_throw(name) != nullptr;
        for (const CLI::App *sub : app.get_subcommands({}))
            known = known || sub->get_option_no_throw(name) != nullptr;
        if (!known)
            return name;
    }
    return std::string();
}

std::string rangeText(const FilterDescriptor &fd, int i, bool plugin = false)
{
    return std::to_string(fd.trackMinima[i]) + " to " + std::to_string(trackMaximum(fd, i, plugin));
}

struct NamedValue {
    const char *name;
    int value;
};
const NamedValue kStrengths[] = {{"light", VELVANE_STRENGTH_LIGHT},
                                 {"medium", VELVANE_STRENGTH_MEDIUM},
                                 {"strong", VELVANE_STRENGTH_STRONG},
                                 {"auto", VELVANE_STRENGTH_AUTO}};
const NamedValue kShows[] = {{"removed", VELVANE_SHOW_REMOVED}, {"dots", VELVANE_SHOW_DOTS}};

// A value given by one of its names (any case), never by number.
template <size_t N> CLI::Validator byName(const NamedValue (&names)[N])
{
    return CLI::Validator(
        [&names](std::string &s) -> std::string {
            std::string list;
            for (size_t i = 0; i < N; i++) {
                if (strcasecmp(s.c_str(), names[i].name) == 0) {
                    s = std::to_string(names[i].value);
                    return std::string();
                }
                list += std::string(i == 0 ? "" : i + 1 == N ? " or " : ", ") + names[i].name;
            }
            return "it is " + list + ", not " + s;
        },
        "", "");
}

} // namespace

const char *trackOptionName(int i) { return kTracks[i].name; }
const char *checkOptionName(int i) { return kChecks[i].on; }
const char *checkOffOptionName(int i) { return kChecks[i].off; }
const char *trackMeaning(int i) { return kTracks[i].meaning; }
const char *checkMeaning(int i) { return kChecks[i].meaning; }

std::string labelUtf8(const char *shiftJis)
{
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == (iconv_t)-1)
        cd = iconv_open("UTF-8", "SHIFT_JIS");
    if (cd == (iconv_t)-1)
        return shiftJis;
    std::string in = shiftJis;
    std::string out(in.size() * 4 + 4, '\0');
    char *ip = &in[0], *op = &out[0];
    size_t il = in.size(), ol = out.size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == (size_t)-1)
        return shiftJis;
    out.resize(out.size() - ol);
    return out;
}

void validateSettings(const FilterDescriptor &fd, const FilterSettings &s, bool plugin)
{
    for (int i = 0; i < VV_TRACK_COUNT; i++) {
        if (!s.track[i])
            continue;
        const int32_t v = *s.track[i];
        if (v < fd.trackMinima[i] || v > trackMaximum(fd, i, plugin))
            throw CliError(std::string(kTracks[i].name) + ": " + std::to_string(v) + " is out of range; " +
                           labelUtf8(fd.trackNames[i]) + " takes " + rangeText(fd, i, plugin) +
                           (plugin && i < kThresholdCount ? " in a plug-in build" : ""));
    }
}

void resolveSettings(const FilterDescriptor &fd, const FilterSettings &s, Chroma inputChroma, int32_t *track,
                     int32_t *check)
{
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        track[i] = s.track[i] ? *s.track[i] : fd.trackDefaults[i];
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        check[i] = s.check[i] ? *s.check[i] : fd.checkDefaults[i];
    // The interpolation turns any chroma into 4:1:1-like steps; it is only
    // right for material that really is 4:1:1.
    if (!s.check[1])
        check[1] = inputChroma == Chroma::C411 ? 1 : 0;
    if (s.strength && *s.strength != VELVANE_STRENGTH_CUSTOM) {
        for (int i = 0; i < kThresholdCount; i++)
            if (!s.track[i])
                track[i] = VELVANE_FROM_STRENGTH;
        if (!s.check[0])
            check[0] = VELVANE_FROM_STRENGTH;
    }
}

void resolveMoving(const FilterSettings &s, int32_t *moving)
{
    const bool strength = s.strength && *s.strength != VELVANE_STRENGTH_CUSTOM;
    for (int i = 0; i < 3; i++)
        moving[i] = s.moving ? (*s.moving)[i] : strength ? VELVANE_FROM_STRENGTH : 0;
}

std::string movingOption(const int32_t *moving, int strength)
{
    if (moving[2] == VELVANE_FROM_STRENGTH || (moving[2] == 0 && strength == VELVANE_STRENGTH_CUSTOM))
        return std::string();
    char text[64];
    snprintf(text, sizeof text, "--moving %d,%d,%g", (int)moving[0], (int)moving[1], moving[2] / 8.0);
    return text;
}

std::string motionOptions(const int32_t *motion)
{
    std::string s;
    if (motion[0] > 0)
        s += " --mc-radius " + std::to_string(motion[0]);
    if (motion[0] > 0 && motion[1] > 0)
        s += " --mc-strength " + std::to_string(motion[1]);
    return s;
}

// "LOW,HIGH,CHANGE" of --moving: thresholds 0..60, a change of 0..60 code
// values (0: off) in steps of an eighth.
static bool parseMoving(const std::string &text, std::array<int32_t, 3> *out)
{
    int low, high, used = 0;
    double change;
    if (sscanf(text.c_str(), "%d,%d,%lf%n", &low, &high, &change, &used) != 3 || used != (int)text.size())
        return false;
    if (low < 0 || low > VELVANE_THRESHOLD_MAX || high < 0 || high > VELVANE_THRESHOLD_MAX || !(change >= 0) ||
        change > 60)
        return false;
    *out = {low, high, (int32_t)lrint(change * 8)};
    return true;
}

CommandLine parseCommandLine(const std::vector<std::string> &args, const FilterDescriptor &fd)
{
    std::vector<const char *> argv;
    argv.push_back("velvane");
    for (const auto &a : args)
        argv.push_back(a.c_str());
    return parseCommandLine((int)argv.size(), argv.data(), fd);
}

CommandLine parseCommandLine(int argc, const char *const *argv, const FilterDescriptor &fd)
{
    CommandLine cl;
    CLI::App app("Filters video through the Velvane noise reducer (" + labelUtf8(fd.name) +
                     ").\nINPUT is a media file (DV, AVI, MKV, MOV, MP4, MPEG) or YUV4MPEG2, - for standard "
                     "input; OUTPUT\nis .mkv, .mov or .avi (FFV1 and the sound by default); .mp4, .ts, .vob, .mpg, "
                     ".dv or .webm\nwith an --encoder they take; or .y4m, - for YUV4MPEG2 on standard output. "
                     "Other names are refused, e.g.\n"
                     "  velvane capture.dv clean.mkv\n"
                     "  ffmpeg -i capture.avi -f yuv4mpegpipe - | velvane - - | ffmpeg -i - out.mkv\n"
                     "Frames may be of any standard-definition size, PAL and NTSC, up to " +
                     std::to_string(VELVANE_MAX_WIDTH) + " x " + std::to_string(VELVANE_MAX_HEIGHT) + ".",
                 "velvane");
    app.get_formatter()->column_width(30);
    app.add_option("INPUT", cl.input, "input media file or .y4m file, or - for standard input");
    app.add_option("OUTPUT", cl.output, "output media file named for its container (.mkv, .mov, .avi; .mp4, .ts, "
                                        ".vob, .mpg, .dv, .webm with an --encoder they take) or .y4m file (written "
                                        "under a temporary name, renamed when complete; a device or a pipe is "
                                        "written straight, as YUV4MPEG2), or - for YUV4MPEG2 on standard output");

    // Track bars, each with its label, range and default from the descriptor.
    int32_t trackValue[VV_TRACK_COUNT];
    CLI::Option *trackOpt[VV_TRACK_COUNT];
    for (int i = 0; i < VV_TRACK_COUNT; i++) {
        std::string desc = labelUtf8(fd.trackNames[i]) + ": " + kTracks[i].meaning + " (" + rangeText(fd, i) +
                           ", default " + std::to_string(fd.trackDefaults[i]) + ")";
        const int32_t lo = fd.trackMinima[i], hi = trackMaximum(fd, i, false);
        const std::string name = kTracks[i].name, label = labelUtf8(fd.trackNames[i]);
        CLI::Validator range(
            [lo, hi, label](std::string &text) -> std::string {
                long long v;
                if (!CLI::detail::lexical_cast(text, v))
                    return "\"" + text + "\" is not a whole number";
                if (v < lo || v > hi)
                    return text + " is out of range; " + label + " takes " + std::to_string(lo) + " to " +
                           std::to_string(hi);
                return std::string();
            },
            "", "range");
        trackOpt[i] = app.add_option(name, trackValue[i], desc)
                          ->type_name("N")
                          ->check(range)
                          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                          ->group("Filter settings (track bars)");
    }

    // Check boxes: each has an option to set it and one to clear it; the last one given wins.
    CLI::Option *checkOn[VV_CHECK_COUNT], *checkOff[VV_CHECK_COUNT];
    for (int i = 0; i < VV_CHECK_COUNT; i++) {
        const bool on = fd.checkDefaults[i] == 1;
        std::string onDesc = labelUtf8(fd.checkNames[i]) + ": " + kChecks[i].meaning;
        if (i != 1)
            onDesc += on ? " (default)" : "";
        std::string offDesc = kChecks[i].offMeaning;
        if (i != 1)
            offDesc += on ? "" : " (default)";
        // Const, or CLI11 would take the text for the flag's result variable.
        const std::string onText = onDesc, offText = offDesc;
        checkOn[i] = app.add_flag(kChecks[i].on, onText)->group("Filter settings (check boxes)");
        checkOff[i] = app.add_flag(kChecks[i].off, offText)->group("Filter settings (check boxes)");
    }

    std::string movingText;
    auto *movingOpt =
        app.add_option("--moving", movingText,
                       "luma thresholds (low and high band) where the picture moves, taken where a part of a frame "
                       "changed on to the next frame by more than CHANGE 8-bit code values and carries no "
                       "pattern that inverts from frame to frame as dots do; never wider than --luma-low and "
                       "--luma-high; --strength auto chooses them; 0,0,0 is off")
            ->type_name("LOW,HIGH,CHANGE")
            ->group("Filter settings (track bars)");
    auto *mcRadiusOpt =
        app.add_option("--mc-radius", cl.settings.motion[0],
                       "average each frame with the frames up to R before and after it, each moved along the "
                       "picture's motion (matched field by field, to half a pixel) and taken only where it "
                       "matches; runs after the dot pass and before the thresholds' averaging; 0 to 4, default "
                       "0 (off)")
            ->type_name("R")
            ->check(CLI::Range(0, kMotionRadiusMax))
            ->group("Filter settings (track bars)");
    auto *mcStrengthOpt =
        app.add_option("--mc-strength", cl.settings.motion[1],
                       "how far a moved neighbour may differ and still be averaged in, in percent of what "
                       "the measured noise gives: 1 to 400, default 100")
            ->type_name("PERCENT")
            ->check(CLI::Range(1, kMotionStrengthMax))
            ->group("Filter settings (track bars)");
    int strengthValue = 0;
    auto *strengthOpt =
        app.add_option("--strength", strengthValue,
                       "choose the four thresholds by name: light, medium (the defaults) or strong; or auto, "
                       "from the noise measured in the first frames and again after each scene change (auto "
                       "also runs the dot pass only where it finds dots or heavy grain); a threshold option or "
                       "--dot/--no-dot given beside it wins")
            ->transform(byName(kStrengths))
            ->type_name("light|medium|strong|auto")
            ->group("Filter settings (track bars)");
    app.add_option("--show", cl.show,
                   "write what the filter takes out instead of the filtered video: four times input minus "
                   "output around mid-grey, per plane (removed), or the same for the dot pass alone (dots)")
        ->transform(byName(kShows))
        ->type_name("removed|dots")
        ->group("Input and output");
    app.footer("Thresholds: a neighbour is averaged in when it lies within the threshold. One step is half a "
               "code value of 8-bit video (2 of 10-bit) in the low bands and the chroma high band, one code "
               "value (4 of 10-bit) in the luma high band. The native library takes up to " +
               std::to_string(VELVANE_THRESHOLD_MAX) + "; a plug-in build (--module) takes " +
               std::to_string(fd.trackMinima[0]) + " to " + std::to_string(fd.trackMaxima[0]) + ".");

    std::pair<int64_t, std::string> snapshot;
    auto *snapOpt = app.add_option("--snapshot", snapshot,
                                   "write frame N before and after, side by side, to FILE.png")
                        ->type_name("N FILE.png")
                        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                        ->group("Input and output");
    app.add_option("--report", cl.report,
                   "also write a page on what the run did to FILE.html: the files, the settings, plots of what "
                   "was removed and of the thresholds over time, and before/after pictures")
        ->type_name("FILE.html")
        ->group("Input and output");
    std::string outChroma;
    auto *chromaOpt =
        app.add_option("--output-chroma", outChroma,
                       "write this chroma format instead of the input's: 444, 422, 411, 420jpeg, 420mpeg2, "
                       "420paldv, 420 or mono")
            ->type_name("FMT")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
            ->group("Input and output");
    int outDepth = 8;
    auto *depthOpt = app.add_option("--output-depth", outDepth, "write samples of this many bits instead of the input's")
                         ->check(CLI::IsMember({8, 10, 12, 16}).description(""))
                         ->type_name("8|10|12|16")
                         ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                         ->group("Input and output");
    app.add_flag("-q,--quiet", cl.quiet, "no progress line and no summary")->group("Input and output");
    app.add_flag("--no-progress", cl.noProgress, "no progress line (the summary stays)")->group("Input and output");
    app.add_flag("--keep-partial", cl.keepPartial,
                 "when the run is interrupted or the input breaks off, keep the whole frames written so far "
                 "under OUTPUT (without it, a run that does not finish leaves no OUTPUT file)")
        ->group("Input and output");
    app.add_flag("-v,--verbose", cl.verbose,
                 "also say how the work went: settings used, and processor time of reading, filtering and writing")
        ->group("Input and output");
    app.add_option("--video-stream", cl.videoStream, "filter this video stream of INPUT, counted from 0 (default 0)")
        ->type_name("N")
        ->check(CLI::NonNegativeNumber.description(""))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group("Media files");
    std::string fieldOrder;
    auto *orderOpt = app.add_option("--field-order", fieldOrder,
                                    "take the input as top field first, bottom field first or progressive, "
                                    "whatever it says")
                         ->type_name("tff|bff|progressive")
                         ->check(CLI::IsMember({"tff", "bff", "progressive"}).description(""))
                         ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                         ->group("Media files");
    app.add_option("--encoder", cl.encoder,
                   "encode the video with this encoder of FFmpeg's (libx264, prores_ks, ...) instead of FFV1")
        ->type_name("NAME")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group("Media files");
    std::vector<std::string> encoderOpts;
    app.add_option("--encoder-opt", encoderOpts, "pass an option to the encoder (crf=18, preset=slow); repeatable")
        ->type_name("KEY=VALUE")
        ->allow_extra_args(false)
        ->group("Media files");
    app.add_flag("--no-audio", cl.noAudio, "leave the sound out (it is copied by default)")->group("Media files");
    std::string damage;
    app.add_option("--damage", damage,
                   "what damage in a media file does: warn (the default: a damaged frame is filtered as the decoder "
                   "concealed it, a missing one replaced by the frame before, lost sound left as a gap in its "
                   "place, each named in a warning and counted in the summary) or error (the run stops at the first, "
                   "as input that breaks off)")
        ->type_name("warn|error")
        ->check(CLI::IsMember({"warn", "error"}).description(""))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group("Media files");
    app.add_option("--threads", cl.threads,
                   "filter on N threads, 1 to 64 (default: one for each processor thread, " +
                       std::to_string(processorThreads()) +
                       " here); 1 filters on one, beside the threads that read and write. Every N gives "
                       "the same frames")
        ->type_name("N")
        ->check(CLI::Range(1, 64).description(""))
        ->group("Input and output");
    app.add_option("--module", cl.modulePath,
                   "filter through the plug-in in this shared library (velvane-plugin.so), driven as its host "
                   "drives it, instead of the native library")
        ->type_name("PATH")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->group("Input and output");
    std::string cpuLevel;
    auto *cpuOpt = app.add_option("--cpu-mask", cpuLevel,
                                  "use kernels up to this level at most: c (the plain references), sse2, avx2, "
                                  "avx512 or all (default: all this processor runs). Every level gives the same "
                                  "frames; a level the processor lacks is not used")
                       ->type_name("LEVEL")
                       ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                       ->group("Input and output");
    bool version = false;
    app.add_flag("--version", version, "print the version, the build and the kernels this processor gets, and stop");

    auto *demo = app.add_subcommand("demo", "make a 720 x 480 interlaced test clip with noise and dot interference, "
                                            "filter it, write clean, noisy and filtered clips and before/after PNGs "
                                            "to DIR, and print PSNR against the clean clip");
    demo->add_option("DIR", cl.demoDir, "where to write (default velvane-demo)");
    demo->add_option("--frames", cl.demoFrames, "frames in the clip (default 40)")
        ->check(CLI::Range(5, 2000))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    demo->fallthrough();
    app.require_subcommand(0, 1);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        cl.action = CommandLine::Exit;
        cl.exitCode = 0;
        cl.message = app.help();
        return cl;
    } catch (const CLI::ParseError &e) {
        cl.action = CommandLine::Exit;
        cl.exitCode = 2; // every usage error alike, apart from the errors of a run (1)
        // A mistyped option makes everything after it look misplaced; name it alone.
        const std::string unknown = unknownOption(app, argc, argv);
        cl.message = (unknown.empty() ? std::string(e.what()) : "unknown option " + unknown) +
                     "\nRun velvane --help for the options.";
        return cl;
    }
    if (cpuOpt->count() && !cpuMaskFromLevel(cpuLevel, &cl.cpuMask)) {
        cl.action = CommandLine::Exit;
        cl.exitCode = 2;
        cl.message = "--cpu-mask: \"" + cpuLevel + "\" is not one of c, sse2, avx2, avx512, all";
        return cl;
    }
    if (cpuOpt->count() && !cl.modulePath.empty()) {
        cl.action = CommandLine::Exit;
        cl.exitCode = 2;
        cl.message = "--cpu-mask chooses the native library's kernels; the plug-in of --module picks its own";
        return cl;
    }
    if (version) {
        cl.action = CommandLine::Version;
        return cl;
    }
    if ((mcRadiusOpt->count() || mcStrengthOpt->count()) && !cl.modulePath.empty()) {
        cl.action = CommandLine::Exit;
        cl.exitCode = 2;
        cl.message = std::string(mcRadiusOpt->count() ? "--mc-radius" : "--mc-strength") +
                     " is the native library's; the plug-in of --module averages without following the motion";
        return cl;
    }
    if (movingOpt->count()) {
        std::array<int32_t, 3> moving;
        const char *problem = !cl.modulePath.empty() ? "is the native library's; the plug-in of --module has one "
                                                       "set of thresholds for the whole frame"
                              : !parseMoving(movingText, &moving)
                                  ? "takes LOW,HIGH,CHANGE: two thresholds 0 to 60 and a change of 0 to 60 code "
                                    "values, such as 2,3,2.5"
                                  : nullptr;
        if (problem) {
            cl.action = CommandLine::Exit;
            cl.exitCode = 2;
            cl.message = "--moving " + std::string(problem);
            return cl;
        }
        cl.settings.moving = moving;
    }

    for (int i = 0; i < VV_TRACK_COUNT; i++)
        if (trackOpt[i]->count())
            cl.settings.track[i] = trackValue[i];
    if (strengthOpt->count())
        cl.settings.strength = strengthValue;
    // The last word counts: "--dot ... --no-dot" leaves it off.
    for (const CLI::Option *o : app.parse_order())
        for (int i = 0; i < VV_CHECK_COUNT; i++) {
            if (o == checkOn[i])
                cl.settings.check[i] = 1;
            else if (o == checkOff[i])
                cl.settings.check[i] = 0;
        }
    if (snapOpt->count()) {
        if (snapshot.first < 0) {
            cl.action = CommandLine::Exit;
            cl.exitCode = 2;
            cl.message = "--snapshot: the frame number must be 0 or more";
            return cl;
        }
        const std::string &path = snapshot.second;
        if (path.size() < 4 || strcasecmp(path.c_str() + path.size() - 4, ".png") != 0) {
            cl.action = CommandLine::Exit;
            cl.exitCode = 2;
            cl.message = "--snapshot: \"" + path + "\" does not end in .png; the picture is a PNG file";
            return cl;
        }
        cl.snapshot.frame = snapshot.first;
        cl.snapshot.path = path;
    }
    if (chromaOpt->count()) {
        Chroma c;
        int d;
        if (!parseChromaTag(outChroma, &c, &d) || d != 8) {
            cl.action = CommandLine::Exit;
            cl.exitCode = 2;
            cl.message = "--output-chroma: \"" + outChroma +
                         "\" is not one of 444, 422, 411, 420jpeg, 420mpeg2, 420paldv, 420, mono (give the depth "
                         "with --output-depth)";
            return cl;
        }
        cl.outputChroma = c;
    }
    if (depthOpt->count())
        cl.outputDepth = outDepth;
    if (orderOpt->count())
        cl.fieldOrder = fieldOrder == "tff" ? 't' : fieldOrder == "bff" ? 'b' : 'p';
    cl.damageIsError = damage == "error";
    for (const std::string &o : encoderOpts) {
        const size_t eq = o.find('=');
        if (eq == 0 || eq == std::string::npos) {
            cl.action = CommandLine::Exit;
            cl.exitCode = 2;
            cl.message = "--encoder-opt: \"" + o + "\" is not KEY=VALUE";
            return cl;
        }
        cl.encoderOptions.emplace_back(o.substr(0, eq), o.substr(eq + 1));
    }

    if (demo->parsed()) {
        cl.action = CommandLine::Demo;
        return cl;
    }
    if (cl.input.empty() || cl.output.empty()) {
        cl.action = CommandLine::Exit;
        cl.exitCode = 2;
        cl.message = std::string("velvane needs an INPUT and an OUTPUT (a file or -), or the word demo.\n") +
                     "  velvane [options] INPUT OUTPUT\n  velvane demo [DIR]\nRun velvane --help for the options.";
        return cl;
    }
    return cl;
}

bool cpuMaskFromLevel(const std::string &level, unsigned *mask)
{
    static const std::pair<const char *, unsigned> levels[] = {
        {"c", 0u},
        {"sse2", VELVANE_CPU_SSE2},
        {"avx2", VELVANE_CPU_SSE2 | VELVANE_CPU_AVX2},
        {"avx512", VELVANE_CPU_SSE2 | VELVANE_CPU_AVX2 | VELVANE_CPU_AVX512},
        {"all", VELVANE_CPU_ALL},
    };
    for (const auto &l : levels)
        if (strcasecmp(level.c_str(), l.first) == 0) {
            *mask = l.second;
            return true;
        }
    return false;
}

} // namespace velvane
