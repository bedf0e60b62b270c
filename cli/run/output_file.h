// Where the command's output goes, and what becomes of it when a run does not
// finish.
//
// A regular file, or a name that holds nothing yet, is written under a
// temporary name beside it and renamed at the end, so that it only appears
// once whole. A symbolic link is followed first: the temporary file goes
// beside the file it points at, and the link stays. Anything else (standard
// output, a device, a named pipe, a socket) is written straight, as replacing
// it with a file would destroy it.
//
// A run that breaks off (an interruption, input that ends inside a frame)
// leaves no file that looks complete, unless keepPartial asks for the whole
// frames written so far; either way it says what became of them.
#ifndef VELVANE_CLI_OUTPUT_FILE_H
#define VELVANE_CLI_OUTPUT_FILE_H

#include <stdint.h>
#include <stdio.h>

#include <atomic>
#include <functional>
#include <string>

namespace velvane {

class OutputFile {
public:
    // "-" is standard output. Throws CliError when the output cannot be
    // opened, or its temporary file made (an unwritable place).
    explicit OutputFile(const std::string &path, bool keepPartial = false);
    ~OutputFile(); // removes the temporary file unless committed or kept
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    FILE *file() const { return file_; }
    const std::string &name() const { return name_; } // for messages
    const std::string &temporaryPath() const { return temp_; } // empty when written straight
    // Whole frames written so far. The writer counts each frame while it holds
    // the stream's lock (flockfile) for the whole frame, so that an
    // interruption, taking that lock, finds whole frames and their number.
    std::atomic<int64_t> &frames() { return frames_; }
    // Closes the file and gives it its name. Throws CliError on failure.
    void commit();
    // Ends a run that broke off: keeps the whole frames under the name when
    // asked to and there are any, otherwise removes the temporary file.
    // Returns what became of the frames, in words for the user.
    std::string abandon();
    // What ends a container whose whole frames are kept (its index, its
    // duration), called with the stream's lock held before the file keeps
    // its name; none by default. The caller clears it before what it calls
    // goes away.
    void setFinisher(std::function<void()> finisher);
    // Committed or abandoned: nothing of it is left to an interruption.
    bool settled() const { return done_; }

private:
    friend std::string abandonLocked(OutputFile &o, bool interrupted, int64_t *framesOut);
    std::string path_, name_, temp_;
    FILE *file_ = nullptr;
    bool keepPartial_ = false;
    bool done_ = false; // committed or abandoned
    std::atomic<int64_t> frames_{0};
    std::function<void()> finisher_;
};

// A file made whole but not yet handed over (a master while its checksums are
// taken): while this lives, an interruption removes it and says so, as it
// would a temporary output. Its file stays when it goes away.
class RemovedIfInterrupted {
public:
    // `name` is the file in words, for the message.
    RemovedIfInterrupted(const std::string &path, const std::string &name);
    ~RemovedIfInterrupted();
    RemovedIfInterrupted(const RemovedIfInterrupted &) = delete;
    RemovedIfInterrupted &operator=(const RemovedIfInterrupted &) = delete;

    const std::string &path() const { return path_; }
    const std::string &name() const { return name_; }

private:
    std::string path_, name_;
};

// Throws CliError when OUTPUT is the input itself, under any name: the same
// device and inode, reached through a hard link, a symbolic link or standard
// output. Only files that store what is written count (regular files and
// block devices); a terminal or a pipe may well be both.
void refuseSameFile(int inputFd, const std::string &inName, const std::string &outPath);

// Ctrl-C, SIGTERM and SIGHUP (those not ignored) go to a watcher thread from
// now on: it ends every output still being written as abandon() does, says
// "interrupted at frame N; ..." and ends the program by the same signal.
// Call before any other thread starts, as the signals are blocked in every
// thread the program makes afterwards. Throws CliError when it cannot start.
void watchInterrupts();

// Once an interruption is being handled, never returns: the watcher is about
// to end the program. For a thread whose work just failed, perhaps because
// the watcher removed its file, so that it does not report that failure.
void awaitInterruptIfAny();

} // namespace velvane

#endif
