// The command line: one long option per setting the library describes (labels,
// defaults and ranges of the plug-in's own from the module's descriptor; see
// command_settings.h), the streams, and the demo.
#ifndef VELVANE_CLI_OPTIONS_H
#define VELVANE_CLI_OPTIONS_H

#include <stdint.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "run/command_settings.h"
#include "velvane/filter.h"
#include "velvane/velvane.h"
#include "y4m/y4m.h"

namespace velvane {

struct Snapshot {
    int64_t frame = -1; // none
    std::string path;
};

struct CommandLine {
    enum Action { Filter, Demo, Version, Exit } action = Filter;
    int exitCode = 0;        // for Exit: --help (0) or a usage error (nonzero)
    std::string message;     // for Exit: what to print (help on stdout, errors on stderr)
    std::string input, output;
    std::string demoDir = "velvane-demo";
    int demoFrames = 40;
    FilterSettings settings;
    std::optional<Chroma> outputChroma;
    std::optional<int> outputDepth;
    Snapshot snapshot;
    std::string report; // --report: the HTML page to write, empty for none
    int show = 0; // a VelvaneShow
    bool quiet = false;
    bool noProgress = false;
    bool verbose = false;
    bool keepPartial = false; // a run that breaks off keeps its whole frames
    // Media files (read and written through FFmpeg's libraries).
    int videoStream = 0;      // among the input's video streams
    char fieldOrder = 0;      // 't', 'b', 'p': overrides the input's; 0 keeps it
    std::string encoder;      // empty: FFV1 at its archival settings
    std::vector<std::pair<std::string, std::string>> encoderOptions;
    bool noAudio = false;
    bool damageIsError = false; // --damage error
    std::string modulePath; // empty: the module linked into the program
    int threads = 0;        // filtering threads; 0: one per processor thread
    unsigned cpuMask = VELVANE_CPU_ALL; // the kernel levels the library may choose (VELVANE_CPU_*)
};

// Parses argv against the descriptor's tables. Never exits the process. A
// setting given twice takes the last value.
CommandLine parseCommandLine(int argc, const char *const *argv, const FilterDescriptor &fd);
CommandLine parseCommandLine(const std::vector<std::string> &args, const FilterDescriptor &fd); // args without argv[0]

// The VELVANE_CPU_* mask that allows the kernels up to a level: "c" (the
// scalar references), "sse2", "avx2", "avx512" or "all". False for another name.
bool cpuMaskFromLevel(const std::string &level, unsigned *mask);

} // namespace velvane

#endif
