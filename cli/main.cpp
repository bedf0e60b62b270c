// velvane: the command-line host. Filters YUV4MPEG2 streams through the
// plug-in, or runs the built-in demo.
#include <errno.h>
#include <malloc.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <new>
#include <string>

#include "demo.h"
#include "module_loader.h"
#include "options.h"
#include "output_file.h"
#include "pipeline.h"

using namespace velvane;

namespace {

// --module must be known before the options are parsed: its descriptor
// supplies their ranges.
std::string findModuleOption(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--module") == 0 && i + 1 < argc)
            return argv[i + 1];
        if (strncmp(argv[i], "--module=", 9) == 0)
            return argv[i] + 9;
    }
    return std::string();
}

int filterCommand(FilterDescriptor *fd, const CommandLine &cl)
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
    RunStats stats;
    {
        OutputFile out(cl.output);
        FilterRun run;
        run.settings = cl.settings;
        run.plugin = !cl.modulePath.empty();
        run.threads = cl.threads;
        run.outputChroma = cl.outputChroma;
        run.outputDepth = cl.outputDepth;
        run.snapshot = cl.snapshot;
        run.progress = !cl.quiet && !cl.noProgress && isatty(2);
        stats = filterStream(fd, in, inName, out.file(), out.name(), run);
        // A stream cut off inside a frame still gives every whole frame before it.
        out.commit();
    }
    if (in != stdin)
        fclose(in);
    if (!stats.warning.empty())
        fprintf(stderr, "velvane: %s\n", stats.warning.c_str());
    if (!stats.inputError.empty()) {
        fprintf(stderr, "velvane: %s (the %lld frames before it were filtered and written)\n",
                stats.inputError.c_str(), (long long)stats.frames);
        return 1;
    }
    if (!cl.quiet)
        fprintf(stderr, "velvane: %lld frames in %.2f s, %.1f frames per second\n", (long long)stats.frames,
                stats.seconds, stats.seconds > 0 ? stats.frames / stats.seconds : 0.0);
    if (cl.verbose) {
        std::string used;
        for (int i = 0; i < VV_TRACK_COUNT; i++)
            used += std::string(" ") + trackOptionName(i) + " " + std::to_string(stats.track[i]);
        for (int i = 0; i < VV_CHECK_COUNT; i++)
            used += std::string(" ") + (stats.check[i] == 1 ? checkOptionName(i) : checkOffOptionName(i));
        fprintf(stderr, "velvane: settings used:%s\n", used.c_str());
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
        CommandLine cl = parseCommandLine(argc, argv, *fd);
        if (cl.action == CommandLine::Exit) {
            fputs(cl.message.c_str(), cl.exitCode ? stderr : stdout);
            if (!cl.message.empty() && cl.message.back() != '\n')
                fputc('\n', cl.exitCode ? stderr : stdout);
            return cl.exitCode;
        }
        if (cl.action == CommandLine::Demo)
            return demoCommand(fd, cl);
        return filterCommand(fd, cl);
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
