#include "tape.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <new>
#include <sstream>

#include "fixity.h"
#include "measure.h"
#include "run/output_file.h"
#include "y4m/y4m.h"

namespace velvane {
namespace batch {

namespace {

std::string escape(const std::string &v)
{
    std::string s;
    for (char c : v)
        s += c == '\t' ? std::string("\\t") : c == '\n' ? std::string("\\n") : c == '\\' ? std::string("\\\\")
                                                                                             : std::string(1, c);
    return s;
}

std::string unescape(const std::string &v)
{
    std::string s;
    for (size_t i = 0; i < v.size(); i++) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            const char c = v[++i];
            s += c == 't' ? '\t' : c == 'n' ? '\n' : c;
        } else {
            s += v[i];
        }
    }
    return s;
}

std::string errnoText() { return strerror(errno); }

// Writes `text` to `path` under a temporary name, synced, then renamed.
void writeFileAtomic(const std::string &path, const std::string &text)
{
    const std::string temp = path + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        throw CliError("cannot write " + temp + ": " + errnoText());
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const std::string e = errnoText();
            close(fd);
            unlink(temp.c_str());
            throw CliError("cannot write " + temp + ": " + e);
        }
        done += (size_t)n;
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        const std::string e = errnoText();
        unlink(temp.c_str());
        throw CliError("cannot write " + temp + ": " + e);
    }
    if (rename(temp.c_str(), path.c_str()) != 0)
        throw CliError("cannot write " + path + ": " + errnoText());
}

void syncPath(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

void makeFolder(const std::string &path)
{
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        throw CliError("cannot make the folder " + path + ": " + errnoText());
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw CliError(path + " is not a folder");
}

std::string timeText(time_t t)
{
    char buf[64];
    struct tm tm;
    gmtime_r(&t, &tm);
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::string hostName()
{
    char buf[256] = {};
    gethostname(buf, sizeof buf - 1);
    return buf;
}

std::string env(const char *name)
{
    const char *v = getenv(name);
    return v ? v : "";
}

// Which engine's job this is, as its own tools name it.
std::string jobText()
{
    if (!env("SLURM_ARRAY_JOB_ID").empty() && !env("SLURM_ARRAY_TASK_ID").empty())
        return "slurm " + env("SLURM_ARRAY_JOB_ID") + "_" + env("SLURM_ARRAY_TASK_ID");
    if (!env("SLURM_JOB_ID").empty())
        return "slurm " + env("SLURM_JOB_ID");
    if (!env("JOB_COMPLETION_INDEX").empty())
        return "kubernetes pod " + env("HOSTNAME") + " index " + env("JOB_COMPLETION_INDEX");
    if (!env("PARALLEL_SEQ").empty())
        return "parallel seq " + env("PARALLEL_SEQ");
    return "pid " + std::to_string(getpid());
}

std::string number(double v, int digits)
{
    char buf[64];
    snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

// The last line the command said, for the status.
std::string lastLogLine(const std::string &path)
{
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (line.find_first_not_of(" \r") != std::string::npos)
            last = line;
    return last;
}

// Holds the tape's lock while it lives: flock on the lock file, which the
// kernel lets go of when the holder ends, however it ends.
class TapeLock {
public:
    explicit TapeLock(const std::string &path) : path_(path)
    {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0)
            throw CliError("cannot open the lock " + path + ": " + errnoText());
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK)
                throw CliError("cannot lock " + path + ": " + errnoText());
            char buf[512] = {};
            const ssize_t n = pread(fd_, buf, sizeof buf - 1, 0);
            holder_ = n > 0 ? std::string(buf, (size_t)n) : std::string("another job");
            while (!holder_.empty() && holder_.back() == '\n')
                holder_.pop_back();
            return;
        }
        held_ = true;
        const std::string who = jobText() + " on " + hostName() + " (pid " + std::to_string(getpid()) + ") since " +
                                timeText(time(nullptr)) + "\n";
        if (ftruncate(fd_, 0) == 0 && pwrite(fd_, who.data(), who.size(), 0) < 0) {
            // the lock itself holds; the note of who holds it is a courtesy
        }
    }
    ~TapeLock()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool held() const { return held_; }
    const std::string &holder() const { return holder_; }

private:
    std::string path_, holder_;
    int fd_ = -1;
    bool held_ = false;
};

// Standard error goes to the tape's log while it lives, after the runs
// before it (each begins with a line naming its job).
class LogRedirect {
public:
    explicit LogRedirect(const std::string &path)
    {
        fflush(stderr);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        if (fd < 0)
            throw CliError("cannot write " + path + ": " + errnoText());
        saved_ = fcntl(2, F_DUPFD_CLOEXEC, 3);
        dup2(fd, 2);
        close(fd);
    }
    ~LogRedirect()
    {
        fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, 2);
            close(saved_);
        }
    }

private:
    int saved_ = -1;
};

// The checksums, then the master under its own name.
void finishMaster(const TapePaths &p, const std::string &md5, const std::string &framemd5)
{
    const size_t slash = p.master.rfind('/');
    writeFileAtomic(p.md5, md5 + "  " + p.master.substr(slash + 1) + "\n");
    writeFileAtomic(p.framemd5, framemd5);
    syncPath(p.partial);
    if (rename(p.partial.c_str(), p.master.c_str()) != 0)
        throw CliError("cannot name the master " + p.master + ": " + errnoText());
    syncPath(p.dir);
}

} // namespace

std::string Status::get(const std::string &key) const
{
    const auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
}

Status readStatus(const std::string &path)
{
    Status s;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos)
            s.values[line.substr(0, tab)] = unescape(line.substr(tab + 1));
    }
    return s;
}

void writeStatus(const std::string &path, const Status &s)
{
    std::string text;
    for (const auto &kv : s.values)
        text += kv.first + "\t" + escape(kv.second) + "\n";
    writeFileAtomic(path, text);
}

TapePaths::TapePaths(const std::string &out, const std::string &id, const std::string &container)
{
    dir = out + "/" + id;
    lock = dir + "/.lock";
    master = dir + "/master." + container;
    partial = dir + "/master.partial." + container;
    md5 = dir + "/master.md5";
    framemd5 = dir + "/master.framemd5";
    report = dir + "/report.html";
    log = dir + "/log.txt";
    status = dir + "/status.txt";
}

// What a run killed outright (SIGKILL, a lost node) leaves in the tape's
// folder: its temporary master, under any container's name, and the small
// files it was writing. Only with the tape's lock held.
void removeLeftovers(const TapePaths &p)
{
    if (DIR *d = opendir(p.dir.c_str())) {
        std::vector<std::string> left;
        while (const dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.rfind(".master.partial.", 0) == 0 && name.find(".velvane-") != std::string::npos)
                left.push_back(p.dir + "/" + name);
        }
        closedir(d);
        for (const std::string &f : left)
            unlink(f.c_str());
    }
    for (const std::string *f : {&p.status, &p.md5, &p.framemd5})
        unlink((*f + ".tmp").c_str());
}

bool tapeLocked(const std::string &lockPath)
{
    const int fd = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool locked = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return locked;
}

bool fileStamp(const std::string &path, std::string *size, std::string *mtime)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    char buf[64];
    snprintf(buf, sizeof buf, "%lld.%09ld", (long long)st.st_mtim.tv_sec, (long)st.st_mtim.tv_nsec);
    *size = std::to_string((long long)st.st_size);
    *mtime = buf;
    return true;
}

std::string requestText(const TapeRequest &r)
{
    std::vector<std::string> words = r.common;
    words.insert(words.end(), r.row->words.begin(), r.row->words.end());
    return joinWords(words) + (r.container == "mkv" ? std::string() : " (master." + r.container + ")");
}

std::string unfinishedReason(const Status &s, const TapePaths &p, const std::string &request,
                             const std::string &inputPath, const std::string &version, bool verify)
{
    if (s.values.empty())
        return "not run yet";
    const std::string state = s.get("status");
    if (state != "done")
        return state == "running" ? "an earlier run did not finish" : "an earlier run " + state;
    if (s.get("version") != version)
        return "made by " + s.get("version") + ", not " + version;
    if (s.get("request") != request)
        return "made with the options '" + s.get("request") + "', not '" + request + "'";
    std::string size, mtime;
    if (s.get("input") != inputPath)
        return "made from " + s.get("input") + ", not " + inputPath;
    if (!fileStamp(inputPath, &size, &mtime) || size != s.get("input_size") || mtime != s.get("input_mtime"))
        return "the input changed since";
    if (!fileStamp(p.master, &size, &mtime))
        return "the master is missing";
    if (size != s.get("master_size") || mtime != s.get("master_mtime"))
        return "the master changed since (its size or time)";
    std::ifstream md5(p.md5);
    std::string listed;
    md5 >> listed;
    if (listed != s.get("master_md5"))
        return "master.md5 is missing or does not match the status";
    struct stat st;
    if (stat(p.framemd5.c_str(), &st) != 0)
        return "master.framemd5 is missing";
    if (verify) {
        std::string now;
        try {
            now = md5File(p.master);
        } catch (const CliError &e) {
            return e.what();
        }
        if (now != listed)
            return "the master's MD5 is " + now + ", not the " + listed + " it was written with";
    }
    return std::string();
}

int runTape(const Host &host, const TapeRequest &r)
{
    const auto begun = std::chrono::steady_clock::now();
    const ManifestRow &row = *r.row;
    // Signals from here on end the run as the single-file command's do:
    // its output abandoned, the program ended by the signal.
    watchInterrupts();
    makeFolder(r.out);
    const TapePaths p(r.out, row.id, r.container);
    makeFolder(p.dir);
    TapeLock lock(p.lock);
    if (!lock.held()) {
        fprintf(stderr, "velvane: %s: busy: %s holds it\n", row.id.c_str(), lock.holder().c_str());
        return kExitBusy;
    }
    removeLeftovers(p);
    const std::string request = requestText(r);
    const Status old = readStatus(p.status);
    const std::string reason =
        r.force ? std::string("--force") : unfinishedReason(old, p, request, row.inputPath, host.version, r.verify);
    if (reason.empty()) {
        fprintf(stderr, "velvane: %s: finished already (%s)\n", row.id.c_str(),
                r.verify ? "its master's MD5 checked" : "its master's size and time checked");
        return kExitDone;
    }

    Status s;
    s.set("id", row.id);
    s.set("status", "running");
    s.set("row", std::to_string(r.index));
    s.set("manifest", r.manifest->path);
    s.set("manifest_md5", r.manifest->md5);
    s.set("input", row.inputPath);
    std::string size, mtime;
    if (!fileStamp(row.inputPath, &size, &mtime))
        throw CliError(r.manifest->where(row) + ": the input " + row.inputPath + " is not a file");
    s.set("input_size", size);
    s.set("input_mtime", mtime);
    s.set("request", request);
    s.set("version", host.version);
    s.set("build", host.build);
    s.set("host", hostName());
    s.set("job", jobText());
    s.set("pid", std::to_string(getpid()));
    s.set("started", timeText(time(nullptr)));
    s.set("redone_because", reason);
    // The old master goes before anything is written: from here the status
    // says the tape is not finished.
    writeStatus(p.status, s);
    for (const std::string *f : {&p.master, &p.partial, &p.md5, &p.framemd5, &p.report})
        unlink(f->c_str());

    std::vector<std::string> args = r.common;
    args.insert(args.end(), row.words.begin(), row.words.end());
    for (const char *w : {"--no-progress", "--report"})
        args.push_back(w);
    args.push_back(p.report);
    args.push_back(row.inputPath);
    args.push_back(p.partial);
    // From the filter's last frame to the master's name, the partial master
    // is whole but unchecked: an interruption there removes it too.
    const RemovedIfInterrupted unchecked(p.partial, p.partial.substr(p.partial.rfind('/') + 1) +
                                                        " (whole, its checksums not yet taken)");
    int code = 1;
    std::string error;
    FilterOutcome outcome;
    FrameChecksums frames;
    std::string masterMd5;
    int videoStream = 0;
    {
        LogRedirect log(p.log);
        fprintf(stderr, "--- %s: %s on %s, because %s\n", s.get("started").c_str(), s.get("job").c_str(),
                s.get("host").c_str(), reason.c_str());
        try {
            const CommandLine cl = parseCommandLine(args, *host.fd);
            if (cl.action != CommandLine::Filter)
                throw CliError("the options do not ask for a master: " + cl.message);
            videoStream = cl.videoStream;
            std::vector<std::string> all = {"velvane"};
            all.insert(all.end(), args.begin(), args.end());
            code = host.filter(cl, joinWords(all), &outcome);
            if (code == 0) {
                const auto fixity = std::chrono::steady_clock::now();
                masterMd5 = md5File(p.partial);
                frames = frameMd5(p.partial);
                s.set("fixity_seconds",
                      number(std::chrono::duration<double>(std::chrono::steady_clock::now() - fixity).count(), 3));
            }
        } catch (const CliError &e) {
            awaitInterruptIfAny(); // not a failure of the tape's own
            fprintf(stderr, "velvane: %s\n", e.what());
            error = e.what();
            code = 1;
        } catch (const std::bad_alloc &) {
            fprintf(stderr, "velvane: out of memory\n");
            error = "out of memory";
            code = 1;
        }
    }
    if (code == 0) {
        try {
            finishMaster(p, masterMd5, frames.text);
        } catch (const CliError &e) {
            error = e.what(); // a full disk, say: the tape failed, and says why
            code = 1;
        }
    }
    if (code != 0)
        awaitInterruptIfAny();
    if (code == 0) {
        const size_t slash = p.master.rfind('/');
        fileStamp(p.master, &size, &mtime);
        s.set("status", "done");
        s.set("master", p.master.substr(slash + 1));
        s.set("master_size", size);
        s.set("master_mtime", mtime);
        s.set("master_md5", masterMd5);
        s.set("frames", std::to_string((long long)frames.frames));
        s.set("duration", number(frames.seconds, 3));
        s.set("settings", outcome.history.settings);
        s.set("damaged_frames", std::to_string(outcome.stats.damaged.size()));
        s.set("warnings", std::to_string(outcome.stats.warnings.size()));
        s.set("filter_seconds", number(outcome.stats.seconds, 3));
        const auto &scenes = outcome.history.scenes;
        if (!scenes.empty()) {
            double luma = 0, chroma = 0, dots = 0;
            for (const SceneChoice &c : scenes) {
                luma += c.strength.luma_noise;
                chroma += c.strength.chroma_noise;
                dots += c.strength.dot_share;
            }
            const double n = (double)scenes.size();
            s.set("noise_luma", number(luma / n, 2));
            s.set("noise_chroma", number(chroma / n, 2));
            s.set("dots", number(100 * dots / n, 1));
            s.set("noise_measured", std::to_string(scenes.size()) + (scenes.size() == 1 ? " scene" : " scenes"));
        } else {
            // Fixed settings measure nothing as they run: a look at the
            // input's first frames, as automatic strength would take.
            VelvaneNoiseReport level;
            if (measureInputNoise(row.inputPath, videoStream, &level)) {
                s.set("noise_luma", number(level.luma_noise, 2));
                s.set("noise_chroma", number(level.chroma_noise, 2));
                s.set("dots", number(100 * level.dot_share, 1));
                s.set("noise_measured", "the first frames");
            }
        }
    } else {
        for (const std::string *f : {&p.partial, &p.md5, &p.framemd5})
            unlink(f->c_str());
        s.set("status", "failed");
        s.set("error", error.empty() ? lastLogLine(p.log) : "velvane: " + error);
    }
    s.set("exit_code", std::to_string(code));
    s.set("finished", timeText(time(nullptr)));
    s.set("seconds",
          number(std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count(), 3));
    writeStatus(p.status, s);
    if (code == 0)
        fprintf(stderr, "velvane: %s: done, %s frames in %s s\n", row.id.c_str(), s.get("frames").c_str(),
                s.get("seconds").c_str());
    else
        fprintf(stderr, "velvane: %s: failed: %s (see %s)\n", row.id.c_str(), s.get("error").c_str(),
                p.log.c_str());
    return code == 0 ? kExitDone : kExitFailed;
}

} // namespace batch
} // namespace velvane
