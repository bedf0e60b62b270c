// velvane batch: a whole collection of tapes, one folder of results per
// tape, run by whatever engine an archive has (GNU parallel on one box, a
// Slurm array, a Kubernetes Indexed Job). The batch is a host of the single
// file command: each tape runs that command's own code, in this process.
//
//   velvane batch plan PATH...                      a manifest of the media files found
//   velvane batch check MANIFEST [-- OPTIONS]       every row checked, nothing run
//   velvane batch ids MANIFEST                      the ids, one a line
//   velvane batch run MANIFEST --out DIR [--index N | --id ID] [--verify] [--force] [-- OPTIONS]
//   velvane batch index MANIFEST --out DIR [--verify]
//   velvane batch jobs slurm|parallel|kubernetes MANIFEST --out DIR [...] [-- OPTIONS]
#ifndef VELVANE_CLI_BATCH_BATCH_H
#define VELVANE_CLI_BATCH_BATCH_H

#include <functional>
#include <string>

#include "run/options.h"
#include "run/filter_run.h"
#include "velvane/filter.h"

namespace velvane {
namespace batch {

// What a run of the single-file command tells beyond its exit code.
struct FilterOutcome {
    RunStats stats;
    RunHistory history;
};

// What the program gives the batch: its filter, its version, and the
// single-file command itself (exit code; throws CliError as that command does).
struct Host {
    FilterDescriptor *fd = nullptr;
    std::string version; // "velvane 1.2.0"
    std::string build;   // the commit and the build
    std::string program; // this program's path, for job descriptions
    std::function<int(const CommandLine &cl, const std::string &command, FilterOutcome *outcome)> filter;
};

// Exit codes of `batch run`, besides 128 + N for a signal N.
enum ExitCode {
    kExitDone = 0,    // the tape is finished (now, or before)
    kExitFailed = 1,  // the tape failed; its folder says why
    kExitRefused = 2, // a bad command line or manifest: nothing was run
    kExitBusy = 3,    // another job holds the tape
};

// argv[0] is "batch". Returns the exit code.
int batchCommand(const Host &host, int argc, char **argv);

} // namespace batch
} // namespace velvane

#endif
