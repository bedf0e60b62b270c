// One tape of a batch: its folder, its lock, its status file, and the run
// that makes its master.
//
// OUT/ID/ holds master.mkv, master.md5 (md5sum -c reads it), master.framemd5,
// report.html, log.txt and status.txt, written in that order: the master
// under a temporary name until its checksums are written, the status last.
// A master is finished only when the status says "done" and the master's
// size and time are the ones the status records.
#ifndef VELVANE_CLI_BATCH_TAPE_H
#define VELVANE_CLI_BATCH_TAPE_H

#include <map>
#include <string>
#include <vector>

#include "batch.h"
#include "manifest.h"

namespace velvane {
namespace batch {

// The status file: "key<TAB>value" lines (tabs, newlines and backslashes in
// values escaped as \t, \n and \\).
struct Status {
    std::map<std::string, std::string> values;
    std::string get(const std::string &key) const;
    void set(const std::string &key, const std::string &value) { values[key] = value; }
};
// An empty Status when there is no file.
Status readStatus(const std::string &path);
// Written under a temporary name, synced, then renamed.
void writeStatus(const std::string &path, const Status &s);

// The files of a tape's folder.
struct TapePaths {
    std::string dir, lock, master, partial, md5, framemd5, report, log, status;
    TapePaths(const std::string &out, const std::string &id, const std::string &container);
};

// Whether a job holds the tape's lock now.
bool tapeLocked(const std::string &lockPath);

// A file's size and modification time as the status records them.
bool fileStamp(const std::string &path, std::string *size, std::string *mtime);

// What a batch run asks of a tape.
struct TapeRequest {
    const Manifest *manifest = nullptr;
    const ManifestRow *row = nullptr;
    int index = 0; // the row's
    std::vector<std::string> common; // options every row gets first
    std::string out;                 // the run's folder
    std::string container = "mkv";
    bool verify = false; // recompute the master's MD5 before skipping it
    bool force = false;  // redo it whatever its state
};

// The options a tape's master is made with, as one text (what a finished
// tape must match to be skipped).
std::string requestText(const TapeRequest &r);

// Why a finished-looking tape is not finished for this request, or empty
// when it is (its master and checksums are there and match, and the input,
// the options and the version are the ones asked for). `verify` recomputes
// the master's MD5.
std::string unfinishedReason(const Status &s, const TapePaths &p, const std::string &request,
                             const std::string &inputPath, const std::string &version, bool verify);

// Runs a tape, or skips it when finished. Returns an ExitCode.
int runTape(const Host &host, const TapeRequest &r);

} // namespace batch
} // namespace velvane

#endif
