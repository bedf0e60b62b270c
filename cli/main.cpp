// velvane: the command-line host. Filters YUV4MPEG2 streams through the
// plug-in, or runs the built-in demo.
#include <errno.h>
#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "batch/batch.h"
#include "build_info.h"
#include "demo/demo.h"
#include "run/frame_io.h"
#include "media/containers.h"
#include "media/media_input.h"
#include "media/media_output.h"
#include "run/module_loader.h"
#include "run/options.h"
#include "run/output_file.h"
#include "run/filter_run.h"
#include "report/report.h"

using namespace velvane;

namespace {

// --module must be known before the options are parsed: its descriptor
// supplies their ranges. The last one given counts, as for every option.
std::string findModuleOption(int argc, char **argv)
{
    std::string path;
    for (int i = 1; i < argc && strcmp(argv[i], "--") != 0; i++) {
        if (strcmp(argv[i], "--module") == 0 && i + 1 < argc)
            path = argv[++i];
        else if (strncmp(argv[i], "--module=", 9) == 0)
            path = argv[i] + 9;
    }
    return path;
}

// The kernels the library runs here with the kernel levels `cpuMask` allows.
std::string kernelsText(unsigned cpuMask)
{
    const unsigned levels = velvane_cpu_levels(cpuMask);
    const unsigned flags = velvane_cpu_levels(VELVANE_CPU_ALL);
    const std::string runs = std::string("; this processor runs ") +
                             ((flags & VELVANE_CPU_AVX512) ? "AVX-512" : (flags & VELVANE_CPU_AVX2) ? "AVX2" : "SSE2");
    if (levels & VELVANE_CPU_AVX512)
        return "kernels: AVX-512 (AVX2 or SSE2 where a stage has no AVX-512 version)" + runs;
    if (levels & VELVANE_CPU_AVX2)
        return "kernels: AVX2 (SSE2 where a stage has no AVX2 version)" + runs;
    if (levels & VELVANE_CPU_SSE2)
        return "kernels: SSE2" + runs;
    return "kernels: C (the plain references)" + runs;
}

void printVersion(unsigned cpuMask)
{
    printf("velvane %s\nbuild: %s\n%s\n", VELVANE_VERSION, VELVANE_BUILD, kernelsText(cpuMask).c_str());
}

// The stream's first bytes, which tell a YUV4MPEG2 stream from a media file.
std::string peek(FILE *in, const std::string &name)
{
    std::string head(kContainerProbeBytes, '\0');
    const size_t n = fread(&head[0], 1, head.size(), in);
    if (n < head.size() && ferror(in))
        throw CliError("cannot read " + name + ": " + strerror(errno));
    head.resize(n);
    return head;
}

// The command as given, each word quoted where a shell would need it.
std::string shellCommand(int argc, char **argv)
{
    std::string c;
    for (int i = 0; i < argc; i++) {
        const std::string a = argv[i];
        const bool plain = !a.empty() && a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                              "0123456789%+,-./:=@_") == std::string::npos;
        std::string q = "'";
        for (char ch : a)
            q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
        c += (i ? " " : "") + (plain ? a : q + "'");
    }
    return c;
}

bool startsYuv4mpeg(const std::string &head)
{
    static const std::string magic = "YUV4MPEG2";
    // What is too short to tell is left to the YUV4MPEG2 reader, whose messages say so.
    return head.compare(0, magic.size(), magic, 0, std::min(head.size(), magic.size())) == 0;
}

// The frames the decoder found damaged, by number, with what it said of the first.
std::string damageText(const RunStats &stats, const std::string &inName)
{
    const size_t n = stats.damaged.size();
    std::string text = std::to_string(n) + (n == 1 ? " frame" : " frames") + " of " + inName +
                       (n == 1 ? " is" : " are") + " damaged, filtered as the decoder concealed " +
                       (n == 1 ? "it" : "them") + ", or missing, the frame before repeated in place" +
                       " (--damage error stops at the first): frame" + (n == 1 ? " " : "s ");
    // Runs of frames as first-last: damage spreads to the frames predicted from it.
    size_t runs = 0, i = 0;
    for (; i < n && runs < 20; runs++) {
        size_t j = i;
        while (j + 1 < n && stats.damaged[j + 1].frame == stats.damaged[j].frame + 1)
            j++;
        text += (runs ? ", " : "") + std::to_string(stats.damaged[i].frame) +
                (j > i ? "-" + std::to_string(stats.damaged[j].frame) : std::string());
        i = j + 1;
    }
    if (i < n)
        text += " and " + std::to_string(n - i) + " more";
    return text + "; the decoder said of frame " + std::to_string(stats.damaged[0].frame) + ": " +
           stats.damaged[0].what;
}


// --report: the page, checked before the work; the page never takes the
// place of the video it reports on.
std::unique_ptr<RunReport> openReport(const CommandLine &cl, FILE *in)
{
    if (cl.report.empty())
        return nullptr;
    if (cl.show != VELVANE_SHOW_OUTPUT)
        throw CliError("--report tells what the filter did to the video; leave out --show");
    struct stat a, b;
    if (cl.report == cl.output || cl.report == cl.input ||
        (stat(cl.report.c_str(), &a) == 0 &&
         ((in != stdin && fstat(fileno(in), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) ||
          (stat(cl.output.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino))))
        throw CliError("--report " + cl.report + " names the input or the output; give the page a name of its own");
    return std::unique_ptr<RunReport>(new RunReport(cl.report));
}

void writeReport(RunReport &report, const CommandLine &cl, const std::string &command, MediaInput *media, FILE *in,
                 const std::string &inName, bool mediaOut, const RunStats &stats, const RunHistory &history,
                 const std::string &fate)
{
    ReportHeader h;
    h.input = media ? media->describe()
                    : inName + ": a YUV4MPEG2 stream, " + std::to_string(stats.input.width) + " x " +
                          std::to_string(stats.input.height);
    struct stat st;
    if (in != stdin && fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode))
        h.input += ", " + std::to_string((long long)st.st_size) + " bytes";
    const std::string outName = cl.output == "-" ? std::string("standard output") : cl.output;
    h.output = outName + ": " + (mediaOut ? (cl.encoder.empty() ? std::string("FFV1") : cl.encoder) : "YUV4MPEG2");
    h.version = history.version;
    h.kernels = kernelsText(cl.cpuMask);
    h.command = command;
    h.settings = history.settings;
    h.warnings = stats.warnings;
    if (media)
        h.damagedFrames = (int64_t)stats.damaged.size();
    h.seconds = stats.seconds;
    h.inputError = stats.inputError;
    h.outputFate = fate;
    report.write(h);
}

int filterCommand(FilterDescriptor *fd, const CommandLine &cl, const std::string &command,
                  batch::FilterOutcome *outcome = nullptr)
{
    FILE *in = stdin;
    std::string inName = "standard input";
    if (cl.input != "-") {
        in = fopen(cl.input.c_str(), "rb");
        if (!in)
            throw CliError("cannot open " + cl.input + ": " + strerror(errno));
        inName = cl.input;
    }
    // Whole frames are larger than the buffer, so stdio reads them straight into place.
    setvbuf(in, nullptr, _IOFBF, 1 << 16);
    refuseSameFile(fileno(in), inName, cl.output);
    const bool mediaOut = cl.output != "-" && writesMedia(cl.output);
    if (!mediaOut && (!cl.encoder.empty() || !cl.encoderOptions.empty()))
        throw CliError("--encoder and --encoder-opt are for .mkv, .mov, .avi and .mp4 outputs; " +
                       (cl.output == "-" ? std::string("standard output") : cl.output) + " gets YUV4MPEG2");
    const std::string containerHint = mediaOut ? std::string() : outputContainerHint(cl.output);
    if (!containerHint.empty())
        fprintf(stderr, "velvane: warning: %s\n", containerHint.c_str());
    setLibraryLogging(cl.verbose);
    // Before the decoder starts threads of its own, which must not take the signals.
    watchInterrupts();

    std::unique_ptr<FrameSource> source;
    MediaInput *media = nullptr;
    RunStats stats;
    RunHistory history;
    history.version = std::string("velvane ") + VELVANE_VERSION + " (" + VELVANE_BUILD + ")";
    std::unique_ptr<RunReport> report = openReport(cl, in);
    std::string fate; // of the frames, when the input broke off
    {
        // Before any work, so that an OUTPUT that cannot be written is found at once.
        OutputFile out(cl.output, cl.keepPartial);
        const std::string head = peek(in, inName);
        if (startsYuv4mpeg(head)) {
            if (cl.videoStream > 0)
                throw CliError("--video-stream " + std::to_string(cl.videoStream) + ": " + inName +
                               " is a YUV4MPEG2 stream, which holds one video stream (0)");
            source.reset(new Y4mSource(in, inName, head));
        } else {
            MediaInputOptions options;
            options.videoStream = cl.videoStream;
            options.keepAudio = mediaOut && !cl.noAudio;
            options.damageIsError = cl.damageIsError;
            media = new MediaInput(in, inName, head, options);
            source.reset(media);
            if (cl.verbose)
                fprintf(stderr, "velvane: %s\n", media->describe().c_str());
            if (!mediaOut && !cl.noAudio && !media->audioStreams().empty())
                fprintf(stderr, "velvane: warning: %s carries no sound: YUV4MPEG2 holds the picture only (name the "
                                "output .mkv to keep the sound of %s)\n",
                        out.name().c_str(), inName.c_str());
        }
        {
            int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
            resolveSettings(*fd, cl.settings, source->format().chroma, track, check);
            int32_t moving[3];
            resolveMoving(cl.settings, moving);
            history.settings =
                settingsOptions(track, check, cl.settings.strength.value_or(VELVANE_STRENGTH_CUSTOM), moving) +
                librarySettingsOptions(cl.settings);
        }
        std::unique_ptr<FrameSink> sink;
        if (mediaOut) {
            MediaOutputOptions options;
            options.encoder = cl.encoder;
            options.encoderOptions = cl.encoderOptions;
            options.keepPartial = cl.keepPartial;
            options.history = &history;
            auto *mediaSink = new MediaOutput(cl.output, out.file(), out.name(), options, media);
            sink.reset(mediaSink);
            out.setFinisher([mediaSink] { mediaSink->finishPartial(); });
        } else {
            sink.reset(new Y4mSink(out.file(), out.name()));
        }
        FilterRun run;
        run.framesWritten = &out.frames();
        run.minimumSide = kFilterMinimumSide;
        run.settings = cl.settings;
        run.plugin = !cl.modulePath.empty();
        run.threads = cl.threads;
        run.cpuMask = cl.cpuMask;
        run.outputChroma = cl.outputChroma;
        run.outputDepth = cl.outputDepth;
        run.fieldOrder = cl.fieldOrder;
        run.snapshot = cl.snapshot;
        run.show = cl.show;
        run.damageIsError = cl.damageIsError;
        run.progress = !cl.quiet && !cl.noProgress && isatty(2);
        run.report = report.get();
        run.history = &history;
        try {
            stats = filterFrames(fd, *source, inName, *sink, run);
        } catch (const BrokenInput &e) {
            stats.inputError = e.what(); // found while writing: the whole frames before it stand
        } catch (...) {
            out.setFinisher(nullptr);
            throw;
        }
        if (stats.inputError.empty()) {
            out.setFinisher(nullptr);
            sink.reset();
            out.commit();
        } else {
            fate = out.abandon();
            out.setFinisher(nullptr);
            sink.reset();
        }
    }
    // The run's warnings, gathered in its summary and said once.
    const size_t soundGaps = media ? media->soundGaps() : 0;
    const std::string damageFound = media ? media->damageFound() : std::string();
    const std::string shortOfHeader = media ? media->lossSummary() : std::string();
    if (media) {
        for (const std::string &w : media->warnings())
            stats.warnings.push_back(w);
        if (!mediaOut && media->variableRate())
            stats.warnings.push_back("the frames of " + inName +
                                     " are not evenly spaced in time; YUV4MPEG2 carries no timestamps, so " +
                                     (cl.output == "-" ? std::string("standard output") : cl.output) +
                                     " plays them evenly (write .mkv to keep their times)");
    }
    if (!stats.damaged.empty())
        stats.warnings.push_back(damageText(stats, inName));
    for (const std::string &w : stats.warnings)
        fprintf(stderr, "velvane: warning: %s\n", w.c_str());
    if (report)
        writeReport(*report, cl, command, media, in, inName, mediaOut, stats, history, fate);
    if (outcome) {
        outcome->stats = stats;
        outcome->history = history;
    }
    source.reset();
    if (in != stdin)
        fclose(in);
    if (!stats.inputError.empty()) {
        fprintf(stderr, "velvane: %s; %s\n", stats.inputError.c_str(), fate.c_str());
        return 1;
    }
    if (!stats.snapshotMissed.empty()) {
        // Only found at the end of a stream; the video itself is whole.
        fprintf(stderr, "velvane: %s (%s is complete)\n", stats.snapshotMissed.c_str(),
                cl.output == "-" ? "standard output" : cl.output.c_str());
        return 1;
    }
    if (!cl.quiet) {
        std::string lost;
        if (!stats.damaged.empty())
            lost += ", " + std::to_string(stats.damaged.size()) + " of them damaged or missing";
        if (soundGaps)
            lost += ", " + std::to_string(soundGaps) + (soundGaps == 1 ? " gap" : " gaps") + " in the sound";
        if (!shortOfHeader.empty())
            lost += ", " + shortOfHeader;
        if (!damageFound.empty())
            lost += "; " + damageFound;
        fprintf(stderr, "velvane: %lld %s in %.2f s, %.1f frames per second%s\n", (long long)stats.frames,
                stats.frames == 1 ? "frame" : "frames", stats.seconds, stats.seconds > 0 ? stats.frames / stats.seconds : 0.0, lost.c_str());
    }
    if (cl.verbose) {
        // Options a user can paste: what automatic strength chooses is
        // --strength auto, and is listed scene by scene below.
        std::string used;
        bool automatic = false;
        for (int i = 0; i < VV_TRACK_COUNT; i++) {
            if (stats.track[i] == VELVANE_FROM_STRENGTH)
                automatic = true;
            else
                used += std::string(" ") + trackOptionName(i) + " " + std::to_string(stats.track[i]);
        }
        for (int i = 0; i < VV_CHECK_COUNT; i++) {
            if (stats.check[i] == VELVANE_FROM_STRENGTH)
                automatic = true;
            else
                used += std::string(" ") + (stats.check[i] == 1 ? checkOptionName(i) : checkOffOptionName(i));
        }
        const std::string moving = movingOption(stats.moving, automatic ? VELVANE_STRENGTH_AUTO : VELVANE_STRENGTH_CUSTOM);
        if (!moving.empty())
            used += " " + moving;
        used += librarySettingsOptions(cl.settings);
        if (automatic || stats.moving[2] == VELVANE_FROM_STRENGTH)
            used = " --" + std::string(strengthInfo().option) + " " + choiceName(strengthInfo(), VELVANE_STRENGTH_AUTO) +
                   used;
        fprintf(stderr, "velvane: settings used:%s\n", used.c_str());
        for (const std::string &note : stats.strengthNotes)
            fprintf(stderr, "velvane: automatic strength at %s\n", note.c_str());
    }
    if (cl.verbose && stats.frames > 0) {
        const double ms = 1000.0 / (double)stats.frames;
        fprintf(stderr,
                "velvane: processor time a frame: reading %.2f ms, filtering %.2f ms, writing %.2f ms "
                "(the three run side by side)\n",
                stats.readSeconds * ms, stats.filterSeconds * ms, stats.writeSeconds * ms);
    }
    return 0;
}

int demoCommand(FilterDescriptor *fd, const CommandLine &cl)
{
    if (!cl.quiet)
        printf("velvane demo: %d frames of a 720 x 480 interlaced clip with noise and dot interference\n",
               cl.demoFrames);
    fflush(stdout);
    watchInterrupts();
    DemoReport r = runDemo(fd, cl.demoDir, cl.demoFrames, cl.settings, !cl.quiet && isatty(2), !cl.modulePath.empty(),
                           cl.threads);
    printf("filtered %d frames in %.2f s (%.1f frames per second)\n", r.frames, r.filterSeconds,
           r.filterSeconds > 0 ? r.frames / r.filterSeconds : 0.0);
    printf("PSNR against the clean clip    luma      chroma\n");
    printf("  noisy                     %6.2f dB  %6.2f dB\n", r.noisy.luma, r.noisy.chroma);
    printf("  filtered                  %6.2f dB  %6.2f dB\n", r.filtered.luma, r.filtered.chroma);
    printf("  gain                      %+6.2f dB  %+6.2f dB\n", r.filtered.luma - r.noisy.luma,
           r.filtered.chroma - r.noisy.chroma);
    printf("files:\n");
    for (const auto &f : r.files)
        printf("  %s\n", f.c_str());
    return 0;
}

// velvane batch: each tape through filterCommand, in this process.
int batchCommand(FilterDescriptor *fd, int argc, char **argv)
{
    batch::Host host;
    host.fd = fd;
    host.version = std::string("velvane ") + VELVANE_VERSION;
    host.build = VELVANE_BUILD;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    host.program = n > 0 ? std::string(self, (size_t)n) : std::string("velvane");
    host.filter = [fd](const CommandLine &cl, const std::string &command, batch::FilterOutcome *outcome) {
        return filterCommand(fd, cl, command, outcome);
    };
    return batch::batchCommand(host, argc, argv);
}

} // namespace

int main(int argc, char **argv)
{
    // A closed pipe downstream, and a file grown past the size limit, become
    // write errors with a message (and the temporary output removed), not a
    // silent death.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    // The plug-in allocates its frame temporaries afresh on every frame, as its
    // host's heap made cheap. Here blocks that size would each be a new mapping,
    // and every page of it a fault; kept in the heap, they are reused.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    try {
        FilterDescriptor *fd = GetFilterTable();
        const std::string modulePath = findModuleOption(argc, argv);
        if (!modulePath.empty())
            fd = loadModule(modulePath);
        if (argc > 1 && strcmp(argv[1], "batch") == 0)
            return batchCommand(fd, argc - 1, argv + 1);
        CommandLine cl = parseCommandLine(argc, argv, *fd);
        if (cl.action == CommandLine::Exit) {
            fputs(cl.message.c_str(), cl.exitCode ? stderr : stdout);
            if (!cl.message.empty() && cl.message.back() != '\n')
                fputc('\n', cl.exitCode ? stderr : stdout);
            return cl.exitCode;
        }
        if (cl.action == CommandLine::Version) {
            printVersion(cl.cpuMask);
            return 0;
        }
        if (cl.action == CommandLine::Demo)
            return demoCommand(fd, cl);
        return filterCommand(fd, cl, shellCommand(argc, argv));
    } catch (const CliError &e) {
        fflush(stdout);
        fprintf(stderr, "velvane: %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc &) {
        fflush(stdout);
        fprintf(stderr, "velvane: out of memory\n");
        return 1;
    } catch (const std::exception &e) {
        fflush(stdout);
        fprintf(stderr, "velvane: %s\n", e.what());
        return 1;
    }
}
