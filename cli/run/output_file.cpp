#include "run/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "y4m/y4m.h"

namespace velvane {

namespace {

// The outputs being written, for the interrupt watcher. A few slots, as the
// program writes at most a few files at once (the demo writes two); plain
// storage, so nothing is torn down under a watcher that wakes during exit.
const int kSlots = 8;
OutputFile *registry[kSlots];
std::mutex registryLock;

void enlistLocked(OutputFile *o)
{
    for (auto &slot : registry)
        if (!slot) {
            slot = o;
            return;
        }
}

void enlist(OutputFile *o)
{
    std::lock_guard<std::mutex> lock(registryLock);
    enlistLocked(o);
}

void delist(OutputFile *o)
{
    for (auto &slot : registry)
        if (slot == o)
            slot = nullptr;
}

// Files made whole that an interruption removes, in the same manner.
RemovedIfInterrupted *removals[kSlots];

std::string errnoText() { return strerror(errno); }

std::string framesText(int64_t n)
{
    return std::to_string(n) + (n == 1 ? " whole frame" : " whole frames");
}

// Where a write to `path` lands: symbolic links followed, also when the last
// one points at nothing yet (the write then makes that file).
std::string followLinks(const std::string &path)
{
    std::string p = path;
    for (int hops = 0;; hops++) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        if (hops == 40)
            throw CliError("cannot write " + path + ": " + strerror(ELOOP));
        std::vector<char> buf(PATH_MAX);
        const ssize_t n = readlink(p.c_str(), buf.data(), buf.size());
        if (n < 0 || (size_t)n >= buf.size())
            throw CliError("cannot write " + path + ": cannot read the link " + p);
        std::string target(buf.data(), (size_t)n);
        const size_t slash = p.rfind('/');
        if (target[0] != '/' && slash != std::string::npos)
            target = p.substr(0, slash + 1) + target;
        p = target;
    }
}

// Opens what is not a regular file for writing as it is; -1 with errno set
// when it cannot.
int openStraight(const std::string &path, const struct stat &st)
{
    if (!S_ISSOCK(st.st_mode))
        return open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(addr.sun_path, path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, (const struct sockaddr *)&addr, sizeof addr) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

sigset_t watchedSignals;
std::atomic<bool> interrupting{false};

void *watchForSignals(void *)
{
    int sig = 0;
    while (sigwait(&watchedSignals, &sig) != 0) {
    }
    // A reader downstream that stopped reading must not keep the program
    // from ending while the last frames are flushed.
    alarm(3);
    interrupting = true;
    registryLock.lock(); // for good: the program ends here
    std::string text = isatty(2) ? "\r\033[K" : ""; // past the progress line
    bool any = false;
    for (OutputFile *o : registry) {
        // One committed or abandoned is settled, and its stream closed.
        if (!o || o->settled())
            continue;
        int64_t frames = 0;
        const std::string fate = abandonLocked(*o, true, &frames);
        text += "velvane: interrupted at frame " + std::to_string(frames) + "; " + fate + "\n";
        any = true;
    }
    for (RemovedIfInterrupted *r : removals)
        if (r && unlink(r->path().c_str()) == 0) {
            text += "velvane: interrupted; " + r->name() + " removed\n";
            any = true;
        }
    if (!any)
        text += "velvane: interrupted\n";
    if (write(2, text.data(), text.size()) < 0) {
        // nowhere left to say it
    }
    signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(sig);
    _exit(128 + sig);
}

} // namespace

// With the registry locked. From the watcher (`interrupted`) other threads
// still run: the frame being written is waited for by taking the stream's
// lock, which is kept, and the stream is flushed but left open.
std::string abandonLocked(OutputFile &o, bool interrupted, int64_t *framesOut)
{
    o.done_ = true;
    if (interrupted)
        flockfile(o.file_);
    const int64_t n = *framesOut = o.frames_;
    if (o.temp_.empty()) {
        bool written = fflush(o.file_) == 0;
        if (!interrupted && o.file_ != stdout)
            written = fclose(o.file_) == 0 && written;
        if (n == 0)
            return "no frame went to " + o.name_;
        return (written ? "the " : "up to ") + framesText(n) + " before it went to " + o.name_;
    }
    std::string fate;
    if (o.keepPartial_ && n > 0) {
        if (o.finisher_) {
            try {
                o.finisher_();
            } catch (...) {
                // the frames stay, without the container's end
            }
        }
        bool written = fflush(o.file_) == 0;
        if (!interrupted) {
            written = fclose(o.file_) == 0 && written;
            o.file_ = nullptr;
        }
        if (written && rename(o.temp_.c_str(), o.path_.c_str()) == 0)
            return o.name_ + " keeps the " + framesText(n) + " before it";
        fate = o.name_ + " not written: the frames could not be kept: " + errnoText();
    } else {
        fate = o.name_ + " not written";
        if (n > 0)
            fate += " (--keep-partial keeps the " + framesText(n) + " before it)";
    }
    if (!interrupted && o.file_)
        fclose(o.file_);
    unlink(o.temp_.c_str());
    return fate;
}

OutputFile::OutputFile(const std::string &path, bool keepPartial) : path_(path), name_(path), keepPartial_(keepPartial)
{
    if (path == "-") {
        name_ = "standard output";
        file_ = stdout;
        enlist(this);
        return;
    }
    path_ = followLinks(path);
    struct stat st;
    const bool exists = stat(path_.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        throw CliError("cannot write " + path + ": it is a directory, not a file");
    if (exists && !S_ISREG(st.st_mode)) {
        const int fd = openStraight(path_, st);
        if (fd < 0)
            throw CliError("cannot write " + path + ": " + errnoText());
        file_ = fdopen(fd, "wb");
        if (!file_) {
            close(fd);
            throw CliError("cannot write " + path + ": " + errnoText());
        }
        setvbuf(file_, nullptr, _IOFBF, 1 << 16);
        enlist(this);
        return;
    }

    const size_t slash = path_.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    if (base.empty())
        throw CliError("cannot write " + path + ": it names a directory, not a file");
    std::string tmpl = dir + "." + base + ".velvane-XXXXXX";
    if (tmpl.size() >= PATH_MAX)
        throw CliError("cannot write " + path + ": the name is too long");
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    // The temporary file and its place among the outputs an interrupt
    // abandons come together: a signal between the two left the file behind.
    std::unique_lock<std::mutex> lock(registryLock);
    int fd = mkstemp(buf.data());
    if (fd < 0)
        throw CliError("cannot write " + path + ": " + errnoText());
    temp_ = buf.data();
    // mkstemp makes the file private; give it the mode of the file it
    // replaces, or the one a new file would get.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask);
    file_ = fdopen(fd, "wb");
    if (!file_) {
        close(fd);
        unlink(temp_.c_str());
        throw CliError("cannot write " + path + ": " + errnoText());
    }
    setvbuf(file_, nullptr, _IOFBF, 1 << 16); // frames are larger, and go straight to the file
    enlistLocked(this);
}

OutputFile::~OutputFile()
{
    std::lock_guard<std::mutex> lock(registryLock);
    delist(this);
    if (done_)
        return;
    if (file_ && file_ != stdout)
        fclose(file_);
    if (!temp_.empty())
        unlink(temp_.c_str());
}

void OutputFile::commit()
{
    std::lock_guard<std::mutex> lock(registryLock);
    if (file_ == stdout) {
        if (fflush(file_) != 0)
            throw CliError("cannot write " + name_ + ": " + errnoText());
        done_ = true;
        return;
    }
    FILE *f = file_;
    file_ = nullptr;
    if (fclose(f) != 0)
        throw CliError("cannot write " + name_ + ": " + errnoText());
    if (!temp_.empty() && rename(temp_.c_str(), path_.c_str()) != 0)
        throw CliError("cannot write " + name_ + ": " + errnoText());
    done_ = true;
}

void awaitInterruptIfAny()
{
    while (interrupting)
        sleep(1);
}

RemovedIfInterrupted::RemovedIfInterrupted(const std::string &path, const std::string &name) : path_(path), name_(name)
{
    std::lock_guard<std::mutex> lock(registryLock);
    for (auto &slot : removals)
        if (!slot) {
            slot = this;
            return;
        }
}

RemovedIfInterrupted::~RemovedIfInterrupted()
{
    std::lock_guard<std::mutex> lock(registryLock);
    for (auto &slot : removals)
        if (slot == this)
            slot = nullptr;
}

void OutputFile::setFinisher(std::function<void()> finisher)
{
    std::lock_guard<std::mutex> lock(registryLock);
    finisher_ = std::move(finisher);
}

std::string OutputFile::abandon()
{
    std::lock_guard<std::mutex> lock(registryLock);
    int64_t frames;
    return abandonLocked(*this, false, &frames);
}

void refuseSameFile(int inputFd, const std::string &inName, const std::string &outPath)
{
    struct stat in, out;
    if (fstat(inputFd, &in) != 0 || !(S_ISREG(in.st_mode) || S_ISBLK(in.st_mode)))
        return;
    const bool toStdout = outPath == "-";
    if ((toStdout ? fstat(1, &out) : stat(outPath.c_str(), &out)) != 0)
        return;
    if (in.st_dev != out.st_dev || in.st_ino != out.st_ino)
        return;
    const std::string outName = toStdout ? " (standard output)" : ", " + outPath + ",";
    const std::string what = inName == outPath ? inName + " is both the input and the output"
                                               : "the output" + outName + " is the same file as the input" +
                                                     (inName == "standard input" ? " (standard input)" : ", " + inName);
    throw CliError(what + "; writing it would destroy the input, so nothing was written. Give another OUTPUT.");
}

void watchInterrupts()
{
    static bool started = false;
    if (started)
        return;
    sigemptyset(&watchedSignals);
    int watched = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction now;
        // A signal the caller ignores (a background job's Ctrl-C) stays ignored.
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN)
            continue;
        sigaddset(&watchedSignals, sig);
        watched++;
    }
    if (watched == 0)
        return;
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &watchedSignals, &before);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 << 10);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int e = pthread_create(&thread, &attr, watchForSignals, nullptr);
    pthread_attr_destroy(&attr);
    if (e != 0) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        throw CliError(std::string("cannot start a thread: ") + strerror(e));
    }
    started = true;
}

} // namespace velvane
