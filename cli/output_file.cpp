#include "output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "y4m.h"

namespace velvane {

namespace {

// The temporary files a signal handler must remove: a few slots, as the
// program writes at most a few files at once (the demo writes two).
const int kPendingSlots = 4;
char pendingPath[kPendingSlots][PATH_MAX];
volatile sig_atomic_t pendingSet[kPendingSlots];
std::mutex pendingLock;

void removePendingAndDie(int sig)
{
    for (int i = 0; i < kPendingSlots; i++)
        if (pendingSet[i])
            unlink(pendingPath[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}

int claimPending(const std::string &path)
{
    std::lock_guard<std::mutex> lock(pendingLock);
    for (int i = 0; i < kPendingSlots; i++) {
        if (!pendingSet[i]) {
            strcpy(pendingPath[i], path.c_str());
            pendingSet[i] = 1;
            return i;
        }
    }
    return -1; // more files than slots: this one is only removed on a clean failure
}

void releasePending(int slot)
{
    if (slot < 0)
        return;
    std::lock_guard<std::mutex> lock(pendingLock);
    pendingSet[slot] = 0;
}

void installHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction sa;
            memset(&sa, 0, sizeof sa);
            sa.sa_handler = removePendingAndDie;
            sigemptyset(&sa.sa_mask);
            sigaction(sig, &sa, nullptr);
        }
    });
}

std::string errnoText() { return strerror(errno); }

} // namespace

OutputFile::OutputFile(const std::string &path) : path_(path)
{
    if (path == "-") {
        name_ = "standard output";
        file_ = stdout;
        return;
    }
    name_ = path;
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty())
        throw CliError("cannot write " + path + ": it names a directory, not a file");
    std::string tmpl = dir + "." + base + ".velvane-XXXXXX";
    if (tmpl.size() >= PATH_MAX)
        throw CliError("cannot write " + path + ": the name is too long");
    installHandlers();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    int fd = mkstemp(buf.data());
    if (fd < 0)
        throw CliError("cannot write " + path + ": " + errnoText());
    temp_ = buf.data();
    // mkstemp makes the file private; give it the mode a new file would get.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    pendingSlot_ = claimPending(temp_);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        close(fd);
        unlink(temp_.c_str());
        releasePending(pendingSlot_);
        throw CliError("cannot write " + path + ": " + errnoText());
    }
    setvbuf(file_, nullptr, _IOFBF, 1 << 16); // frames are larger, and go straight to the file
}

OutputFile::~OutputFile()
{
    if (committed_ || temp_.empty())
        return;
    if (file_)
        fclose(file_);
    unlink(temp_.c_str());
    releasePending(pendingSlot_);
}

void OutputFile::commit()
{
    if (temp_.empty()) {
        if (fflush(file_) != 0)
            throw CliError("cannot write " + name_ + ": " + errnoText());
        committed_ = true;
        return;
    }
    FILE *f = file_;
    file_ = nullptr;
    if (fclose(f) != 0)
        throw CliError("cannot write " + path_ + ": " + errnoText());
    if (rename(temp_.c_str(), path_.c_str()) != 0)
        throw CliError("cannot write " + path_ + ": " + errnoText());
    releasePending(pendingSlot_);
    committed_ = true;
}

} // namespace velvane
