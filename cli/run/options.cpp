#include "run/options.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <CLI/CLI.hpp>

#include "velvane/velvane.h"

namespace velvane {

namespace {

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
// A value given by one of its names (any case), never by number.
CLI::Validator byName(const std::vector<NamedValue> &names)
{
    return CLI::Validator(
        [&names](std::string &s) -> std::string {
            std::string list;
            const size_t n = names.size();
            for (size_t i = 0; i < n; i++) {
                if (strcasecmp(s.c_str(), names[i].name.c_str()) == 0) {
                    s = std::to_string(names[i].value);
                    return std::string();
                }
                list += std::string(i == 0 ? "" : i + 1 == n ? " or " : ", ") + names[i].name;
            }
            return "it is " + list + ", not " + s;
        },
        "", "");
}

// A whole number within lo..hi; the message names the setting by `label`.
CLI::Validator inRange(int32_t lo, int32_t hi, const std::string &label)
{
    return CLI::Validator(
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
}

// "light|medium|strong|auto"
std::string namesText(const std::vector<NamedValue> &names)
{
    std::string text;
    for (const NamedValue &v : names)
        text += (text.empty() ? "" : "|") + v.name;
    return text;
}

} // namespace

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
                     "Other names are refused. For example:\n"
                     "  velvane capture.dv clean.mkv\n"
                     "  ffmpeg -i capture.avi -f yuv4mpegpipe - | velvane - - | ffmpeg -i - out.mkv\n"
                     "Frames may be of any standard-definition size, PAL and NTSC, up to " +
                     std::to_string(VELVANE_MAX_WIDTH) + " x " + std::to_string(VELVANE_MAX_HEIGHT) +
                     ".\nA whole collection, one tape per job on GNU parallel, Slurm or Kubernetes: velvane batch "
                     "--help.",
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
        std::string desc = labelUtf8(fd.trackNames[i]) + ": " + trackMeaning(i) + " (" + rangeText(fd, i) +
                           ", default " + std::to_string(fd.trackDefaults[i]) + ")";
        const int32_t lo = fd.trackMinima[i], hi = trackMaximum(fd, i, false);
        const std::string name = trackOptionName(i), label = labelUtf8(fd.trackNames[i]);
        trackOpt[i] = app.add_option(name, trackValue[i], desc)
                          ->type_name("N")
                          ->check(inRange(lo, hi, label))
                          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                          ->group("Filter settings (track bars)");
    }

    // Check boxes: each has an option to set it and one to clear it; the last one given wins.
    CLI::Option *checkOn[VV_CHECK_COUNT], *checkOff[VV_CHECK_COUNT];
    for (int i = 0; i < VV_CHECK_COUNT; i++) {
        const bool on = fd.checkDefaults[i] == 1;
        std::string onDesc = labelUtf8(fd.checkNames[i]) + ": " + checkMeaning(i);
        if (i != 1)
            onDesc += on ? " (default)" : "";
        std::string offDesc = commandSettings().check[i].off_help;
        if (i != 1)
            offDesc += on ? "" : " (default)";
        // Const, or CLI11 would take the text for the flag's result variable.
        const std::string onText = onDesc, offText = offDesc;
        checkOn[i] = app.add_flag(checkOptionName(i), onText)->group("Filter settings (check boxes)");
        checkOff[i] = app.add_flag(checkOffOptionName(i), offText)->group("Filter settings (check boxes)");
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
    const CommandSettings &d = commandSettings();
    std::vector<int32_t> otherValue(d.others.size());
    std::vector<CLI::Option *> otherOpt(d.others.size());
    for (size_t k = 0; k < d.others.size(); k++) {
        const VelvaneSettingInfo &info = d.otherInfo[k];
        const int32_t lo = info.kind == VELVANE_SETTING_SWITCH ? 0 : info.min, hi = info.max;
        otherOpt[k] = app.add_option(std::string("--") + info.option, otherValue[k],
                                     std::string(info.help) + " (" + std::to_string(lo) + " to " +
                                         std::to_string(hi) + ", default " + std::to_string(info.default_value) +
                                         ")")
                          ->type_name("N")
                          ->check(inRange(lo, hi, info.name))
                          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
                          ->group("Filter settings (native library)");
    }
    int strengthValue = 0;
    auto *strengthOpt =
        app.add_option(std::string("--") + commandSettings().strength.option, strengthValue,
                       std::string(commandSettings().strength.help) +
                           "; custom takes the settings as given and the plug-in's defaults for the rest "
                           "(default: auto; custom with --module)")
            ->transform(byName(commandSettings().strengths))
            ->type_name(namesText(commandSettings().strengths))
            ->group("Filter settings (track bars)");
    app.add_option(std::string("--") + commandSettings().show.option, cl.show, commandSettings().show.help)
        ->transform(byName(commandSettings().shows))
        ->type_name(namesText(commandSettings().shows))
        ->group("Input and output");
    app.footer("Thresholds: a neighbour is averaged in when it lies within the threshold. One step is half a "
               "code value of 8-bit video (2 of 10-bit) in the low bands and the chroma high band, one code "
               "value (4 of 10-bit) in the luma high band. The native library takes up to " +
               std::to_string(VELVANE_THRESHOLD_MAX) + "; a plug-in build (--module) takes " +
               std::to_string(fd.trackMinima[0]) + " to " + std::to_string(fd.trackMaxima[0]) +
               ".\nDefaults: automatic strength chooses the thresholds, the dot pass and --mc-radius for what it "
               "measures, unless they are given; the defaults listed are the plug-in's, which --strength custom "
               "and --module take.");

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
                       std::to_string(velvane_thread_count(0)) +
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
    for (size_t k = 0; k < d.others.size(); k++) {
        if (!otherOpt[k]->count())
            continue;
        if (!cl.modulePath.empty()) {
            cl.action = CommandLine::Exit;
            cl.exitCode = 2;
            cl.message = std::string("--") + d.otherInfo[k].option +
                         " is the native library's; the plug-in of --module has no such setting";
            return cl;
        }
        cl.settings.library[d.others[k]] = otherValue[k];
    }
    if (movingOpt->count()) {
        std::array<int32_t, 3> moving;
        const std::string problem = !cl.modulePath.empty() ? "is the native library's; the plug-in of --module "
                                                             "has one set of thresholds for the whole frame"
                                    : !parseMoving(movingText, &moving) ? "takes " + movingRanges() + ", such as 2,3,2.5"
                                                                        : std::string();
        if (!problem.empty()) {
            cl.action = CommandLine::Exit;
            cl.exitCode = 2;
            cl.message = "--moving " + problem;
            return cl;
        }
        cl.settings.moving = moving;
    }

    for (int i = 0; i < VV_TRACK_COUNT; i++)
        if (trackOpt[i]->count())
            cl.settings.track[i] = trackValue[i];
    // Automatic strength unless another is given: it cleaned more than the
    // plug-in's settings on all but four clean composite clips measured (by
    // at most 0.55 dB there). A plug-in build filters with fixed thresholds.
    if (strengthOpt->count())
        cl.settings.strength = strengthValue;
    else if (cl.modulePath.empty())
        cl.settings.strength = VELVANE_STRENGTH_AUTO;
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
