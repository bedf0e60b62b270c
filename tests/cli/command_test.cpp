// The velvane program as people run it: exit codes, messages, and what it
// leaves behind.
#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "test_util.h"

namespace velvane {
namespace {

using testing::TempDir;
using testing::makeStream;
using testing::readFile;
using testing::writeFile;

struct Outcome {
    int status;
    std::string err, out;
};

// Runs velvane with `args` (shell words) in `dir`.
Outcome velvane(const TempDir &dir, const std::string &args)
{
    const std::string cmd = "cd '" + dir.path() + "' && '" VELVANE_PATH "' " + args + " > .stdout 2> .stderr";
    Outcome r;
    int s = system(cmd.c_str());
    r.status = WIFEXITED(s) ? WEXITSTATUS(s) : 128;
    r.out = readFile(dir.file(".stdout"));
    r.err = readFile(dir.file(".stderr"));
    unlink(dir.file(".stdout").c_str());
    unlink(dir.file(".stderr").c_str());
    return r;
}

size_t framesIn(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    Y4mReader r(f, path);
    std::vector<uint8_t> raw(r.readHeader().frameBytes());
    size_t count = 0;
    while (r.readFrame(raw.data(), nullptr))
        count++;
    fclose(f);
    return count;
}

TEST(Command, FiltersAFileAndSaysHowFast)
{
    TempDir dir;
    writeFile(dir.file("in.y4m"), makeStream("YUV4MPEG2 W64 H32 F25:1 It C422", 6, 1));
    Outcome r = velvane(dir, "in.y4m out.y4m");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("6 frames in"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("frames per second"), std::string::npos);
    EXPECT_EQ(framesIn(dir.file("out.y4m")), 6u);
    r = velvane(dir, "-q - - < in.y4m");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_TRUE(r.out == readFile(dir.file("out.y4m")));
    // Named like a container, the output is one, whatever the case of its name.
    r = velvane(dir, "-q in.y4m out.MKV");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(readFile(dir.file("out.MKV")).compare(0, 4, "\x1A\x45\xDF\xA3"), 0);
    // A snapshot past the end of a stream fails the run, though the output is whole.
    const std::string cmd = "cd '" + dir.path() + "' && cat in.y4m | '" VELVANE_PATH
                            "' -q --snapshot 6 x.png - late.y4m 2> .stderr";
    const int status = system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_NE(readFile(dir.file(".stderr")).find("ends before frame 6 (it has 6 frames, counted from 0); no picture "
                                                 "written (late.y4m is complete)"),
              std::string::npos)
        << readFile(dir.file(".stderr"));
    EXPECT_EQ(framesIn(dir.file("late.y4m")), 6u);
    for (const char *threads : {"1", "3"}) {
        r = velvane(dir, std::string("-q --threads ") + threads + " - - < in.y4m");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == readFile(dir.file("out.y4m"))) << threads << " threads";
    }
}

TEST(Command, VerboseShowsTheSettingsUsed)
{
    TempDir dir;
    writeFile(dir.file("a.y4m"), makeStream("YUV4MPEG2 W64 H32 C411", 3, 1));
    writeFile(dir.file("b.y4m"), makeStream("YUV4MPEG2 W64 H32 C422", 3, 1));
    Outcome r = velvane(dir, "-v --hue -7 a.y4m out.y4m");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("--hue -7 "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" --411 "), std::string::npos) << r.err; // on by itself for 4:1:1
    EXPECT_NE(r.err.find("filtering"), std::string::npos);
    r = velvane(dir, "-v b.y4m out.y4m");
    EXPECT_NE(r.err.find(" --no-411 "), std::string::npos) << r.err;
    r = velvane(dir, "-v --411 b.y4m out.y4m");
    EXPECT_NE(r.err.find(" --411 "), std::string::npos) << r.err;
    unlink(dir.file("a.y4m").c_str());
    unlink(dir.file("b.y4m").c_str());
    unlink(dir.file("out.y4m").c_str());
}

TEST(Command, ErrorsExitNonZeroAndLeaveNothingBehind)
{
    TempDir dir;
    writeFile(dir.file("text.y4m"), "hello, world\n");
    writeFile(dir.file("big.y4m"), makeStream("YUV4MPEG2 W1280 H720 C420jpeg", 1, 1));
    writeFile(dir.file("alpha.y4m"), "YUV4MPEG2 W8 H8 C444alpha\n");
    writeFile(dir.file("deep.y4m"), "YUV4MPEG2 W8 H8 C422p14\n");
    writeFile(dir.file("nowidth.y4m"), "YUV4MPEG2 H8\n");
    writeFile(dir.file("tiny.y4m"), makeStream("YUV4MPEG2 W3 H8 C444", 2, 1));
    // Containers, by their first bytes whatever their names.
    writeFile(dir.file("tape.mkv"), std::string("\x1A\x45\xDF\xA3\x9F\x42\x86\x81\x01\x42\xF7\x81", 12));
    writeFile(dir.file("tape.avi"), std::string("RIFF\x10\0\0\0AVI LIST", 16));
    writeFile(dir.file("tape.mp4"), std::string("\0\0\0\x18" "ftypisom\0\0\x02\0", 16));
    writeFile(dir.file("tape"), std::string("\x1F\x07\x00\xBF\x68\x78\x78\x78", 8)); // 50 Hz DV
    struct Case {
        const char *args;
        const char *says;
    } cases[] = {
        {"text.y4m out.y4m", "text.y4m is neither a YUV4MPEG2 stream nor a media file velvane can open"},
        {"big.y4m out.y4m", "frames of 1280 x 720 are larger than the filter's limit of 800 x 800"},
        {"alpha.y4m out.y4m", "unsupported chroma"},
        {"deep.y4m out.y4m", "unsupported chroma"},
        {"nowidth.y4m out.y4m", "no frame width"},
        {"tiny.y4m out.y4m", "tiny.y4m: frames of 3 x 8 are smaller than the filter's minimum of 4 x 4"},
        // Containers are opened, and these are broken ones.
        {"tape.mkv out.y4m", "cannot read tape.mkv: it looks like a Matroska file, but "},
        {"tape.avi out.mkv", "cannot read tape.avi: it looks like an AVI file, but "},
        {"tape.mp4 out.y4m", "it looks like an MP4 (or QuickTime) file"},
        {"tape out.y4m", "it looks like a DV stream"},
        {"- out.y4m < tape", "cannot read standard input: it looks like a DV stream, but "},
        {"- out.y4m < /dev/null", "standard input is empty, not a YUV4MPEG2 stream; the program feeding velvane "
                                  "wrote nothing: see its messages above (ffmpeg 5.1 writes 10-bit video as "
                                  "YUV4MPEG2 only with -strict -1"},
        {"missing.y4m out.y4m", "cannot open missing.y4m"},
        {"text.y4m no/such/dir/out.y4m", "cannot write no/such/dir/out.y4m"},
        {"--luma-low 61 text.y4m out.y4m", "--luma-low"},
        {"--hue 31 text.y4m out.y4m", "-30 to 30"},
        {"text.y4m", "needs an INPUT and an OUTPUT"},
    };
    for (const auto &c : cases) {
        Outcome r = velvane(dir, c.args);
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        const auto files = dir.list();
        EXPECT_EQ(files.size(), 10u) << c.args << " left a file behind";
    }
}

// The peak resident memory, in KiB, of velvane filtering `frames` frames fed
// through a pipe, generated as they are written.
long peakMemoryFiltering(int frames)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[0], 0);
        close(fds[0]);
        close(fds[1]);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execl(VELVANE_PATH, "velvane", "-q", "-", "-", (char *)nullptr);
        _exit(127);
    }
    close(fds[0]);
    const std::string one = makeStream("YUV4MPEG2 W360 H240 It C422", 1, 5);
    const std::string header = one.substr(0, one.find('\n') + 1);
    const std::string frame = one.substr(header.size());
    FILE *w = fdopen(fds[1], "wb");
    fwrite(header.data(), 1, header.size(), w);
    for (int n = 0; n < frames; n++)
        fwrite(frame.data(), 1, frame.size(), w);
    fclose(w);
    int status;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

TEST(Command, MemoryStaysFlatWhateverTheLength)
{
#if defined(VELVANE_SANITIZED)
    GTEST_SKIP() << "the sanitizer's quarantine keeps freed blocks, so peak memory grows by design";
#endif
    const long shortClip = peakMemoryFiltering(10);
    const long longClip = peakMemoryFiltering(400);
    ASSERT_GT(shortClip, 0);
    ASSERT_GT(longClip, 0);
    // 400 frames of this size are 100 MiB of samples on the host's scale; a
    // few MiB of difference is the allocator, not frames kept.
    EXPECT_LT(longClip, shortClip + 8 * 1024) << shortClip << " KiB for 10 frames, " << longClip << " for 400";
}

TEST(Command, AFullDiskIsAnError)
{
    TempDir dir;
    writeFile(dir.file("in.y4m"), makeStream("YUV4MPEG2 W64 H32 C422", 4, 1));
    const std::string cmd = "'" VELVANE_PATH "' -q '" + dir.file("in.y4m") + "' - > /dev/full 2> '" +
                            dir.file("err") + "'";
    int s = system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(s) && WEXITSTATUS(s) == 1);
    EXPECT_NE(readFile(dir.file("err")).find("cannot write standard output"), std::string::npos);
}

// Runs velvane in `dir` with standard output into a pipe of which only the
// first `keep` bytes are read before it is closed; returns the wait status.
int runIntoClosingPipe(const TempDir &dir, const std::vector<const char *> &args, size_t keep)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0)
            _exit(127);
        dup2(fds[1], 1);
        const int err = open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, 2);
        close(fds[0]);
        close(fds[1]);
        std::vector<char *> argv{const_cast<char *>("velvane")};
        for (const char *a : args)
            argv.push_back(const_cast<char *>(a));
        argv.push_back(nullptr);
        execv(VELVANE_PATH, argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::vector<char> got(keep);
    size_t have = 0;
    while (have < keep) {
        const ssize_t n = read(fds[0], got.data() + have, keep - have);
        if (n <= 0)
            break;
        have += (size_t)n;
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// Runs `velvane -q in.y4m out.y4m` in `dir` with one resource limit set;
// returns the wait status and what it wrote to standard error.
int filterUnderLimit(const TempDir &dir, int resource, rlim_t limitBytes, std::string *err)
{
    pid_t pid = fork();
    if (pid == 0) {
        struct rlimit limit = {limitBytes, limitBytes};
        if (chdir(dir.path().c_str()) != 0 || setrlimit(resource, &limit) != 0)
            _exit(127);
        const int fd = open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        execl(VELVANE_PATH, "velvane", "-q", "in.y4m", "out.y4m", (char *)nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    *err = readFile(dir.file(".stderr"));
    unlink(dir.file(".stderr").c_str());
    return status;
}

TEST(Command, AClosedPipeIsAnError)
{
    // The reader goes away after the header and a little of the first frame
    // (a player closed, `head -c` done): a message and exit status 1, not a
    // silent death by signal that a script would take for a finished run.
    TempDir dir;
    writeFile(dir.file("in.y4m"), makeStream("YUV4MPEG2 W320 H240 C422", 30, 1));
    const int status = runIntoClosingPipe(dir, {"-q", "in.y4m", "-"}, 100);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(readFile(dir.file(".stderr")).find("cannot write standard output"), std::string::npos)
        << readFile(dir.file(".stderr"));
}

TEST(Command, AnOutputFileThatCannotGrowLeavesNothingBehind)
{
    // A file-size limit fails the writes part way, as a full disk does: the
    // error is reported and neither the output nor its temporary file stays.
    TempDir dir;
    writeFile(dir.file("in.y4m"), makeStream("YUV4MPEG2 W320 H240 C422", 30, 2));
    std::string err;
    const int status = filterUnderLimit(dir, RLIMIT_FSIZE, 256 * 1024, &err);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
    const auto files = dir.list();
    ASSERT_EQ(files.size(), 1u) << files.back();
    EXPECT_EQ(files[0], "in.y4m");
}

TEST(Command, AFullFileSystemLeavesNothingBehind)
{
    // A real full disk: a 256 KiB tmpfs in a private mount namespace (as root,
    // or through a user namespace where the system allows one), too small for
    // the output. Skipped where neither is allowed.
    TempDir dir;
    writeFile(dir.file("in.y4m"), makeStream("YUV4MPEG2 W320 H240 C422", 30, 3));
    ASSERT_EQ(mkdir(dir.file("small").c_str(), 0700), 0);
    const std::string inner = "mount -t tmpfs -o size=256k velvane-test small || exit 99; '" VELVANE_PATH
                              "' -q in.y4m small/out.y4m 2> err; echo \\$? > status; ls -A small > left";
    const std::string cmd = "cd '" + dir.path() + "' && { unshare -m sh -c \"" + inner +
                            "\" || unshare -rm sh -c \"" + inner + "\"; } 2> /dev/null";
    system(cmd.c_str());
    rmdir(dir.file("small").c_str()); // empty again outside the namespace
    if (readFile(dir.file("status")).empty())
        GTEST_SKIP() << "cannot mount a small file system here";
    EXPECT_EQ(readFile(dir.file("status")), "1\n");
    EXPECT_NE(readFile(dir.file("err")).find("No space left on device"), std::string::npos) << readFile(dir.file("err"));
    EXPECT_EQ(readFile(dir.file("left")), ""); // neither the output nor its temporary file
}

TEST(Command, UnderAnyMemoryLimitTheRunSucceedsOrLeavesNothing)
{
#if defined(VELVANE_SANITIZED)
    GTEST_SKIP() << "the sanitizers reserve far more address space than any limit tried here";
#endif
    // Address-space limits from too small to start up to plenty: each run
    // either writes exactly the output of an unlimited run, or fails with a
    // message, no output and no temporary file. Never a crash, never a frame
    // left unfiltered, never success without the work done.
    TempDir dir;
    writeFile(dir.file("in.y4m"), makeStream("YUV4MPEG2 W720 H480 It C422", 6, 4));
    ASSERT_EQ(velvane(dir, "-q in.y4m ref.y4m").status, 0);
    const std::string reference = readFile(dir.file("ref.y4m"));
    unlink(dir.file("ref.y4m").c_str());
    // From where the program and its libraries can just be loaded (the media
    // libraries bring many) to plenty.
    long loads = 30;
    for (std::string err; loads < 1024; loads += 8) {
        const int status = filterUnderLimit(dir, RLIMIT_AS, (rlim_t)loads << 20, &err);
        unlink(dir.file("out.y4m").c_str());
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 127)
            break;
    }
    // Up to what automatic strength's averaging along the motion needs on
    // grain this heavy, with room for a thread's arena or two.
    int succeeded = 0, failed = 0;
    for (long mib = loads - 8; mib <= loads + 220; mib += 3) {
        std::string err;
        const int status = filterUnderLimit(dir, RLIMIT_AS, (rlim_t)mib << 20, &err);
        ASSERT_TRUE(WIFEXITED(status)) << mib << " MiB: ended by signal " << WTERMSIG(status) << ": " << err;
        if (WEXITSTATUS(status) == 127)
            continue; // the program itself could not be loaded in that little
        if (WEXITSTATUS(status) == 0) {
            succeeded++;
            EXPECT_TRUE(readFile(dir.file("out.y4m")) == reference) << mib << " MiB: output differs";
            unlink(dir.file("out.y4m").c_str());
        } else {
            failed++;
            EXPECT_EQ(WEXITSTATUS(status), 1) << mib << " MiB";
            EXPECT_EQ(err.rfind("velvane: ", 0), 0u) << mib << " MiB: " << err;
        }
        const auto files = dir.list();
        ASSERT_EQ(files.size(), 1u) << mib << " MiB left " << files.back();
    }
    EXPECT_GT(succeeded, 0);
    EXPECT_GT(failed, 0);
}

TEST(Command, TruncatedInputKeepsTheFramesBeforeOnlyWhenAsked)
{
    TempDir dir;
    const std::string full = makeStream("YUV4MPEG2 W16 H8 C422", 5, 3);
    writeFile(dir.file("cut.y4m"), full.substr(0, full.size() - 10));
    Outcome r = velvane(dir, "cut.y4m out.y4m");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("frame 4"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("out.y4m not written (--keep-partial keeps the 4 whole frames before it)"), std::string::npos)
        << r.err;
    EXPECT_EQ(dir.list().size(), 1u);
    r = velvane(dir, "--keep-partial cut.y4m out.y4m");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("out.y4m keeps the 4 whole frames before it"), std::string::npos) << r.err;
    EXPECT_EQ(framesIn(dir.file("out.y4m")), 4u);
}

// Starts velvane on a named pipe, feeds it `frames` frames and keeps the pipe
// open, so that it waits for more; then interrupts it. Returns the wait
// status and what it said.
int interruptWhileWaiting(const TempDir &dir, const std::string &option, int frames, std::string *err)
{
    const std::string fifo = dir.file("in.fifo");
    pid_t pid = fork();
    if (pid == 0) {
        const int e = open(dir.file(".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (chdir(dir.path().c_str()) != 0 || e < 0 || dup2(e, 2) < 0)
            _exit(127);
        // The plug-in's settings, whose lookahead is two frames.
        execl(VELVANE_PATH, "velvane", "-q", "--strength=custom", option.c_str(), "in.fifo", "out.y4m", (char *)nullptr);
        _exit(127);
    }
    FILE *w = fopen(fifo.c_str(), "wb");
    const std::string s = makeStream("YUV4MPEG2 W16 H8 C422", frames, 3);
    fwrite(s.data(), 1, s.size(), w);
    fflush(w);
    usleep(300 * 1000);
    bool tempSeen = false;
    for (const auto &f : dir.list())
        tempSeen |= f.find(".out.y4m.velvane-") == 0;
    EXPECT_TRUE(tempSeen); // the output is being written under a temporary name
    kill(pid, SIGINT);
    int status;
    waitpid(pid, &status, 0);
    fclose(w);
    *err = readFile(dir.file(".stderr"));
    unlink(dir.file(".stderr").c_str());
    return status;
}

TEST(Command, AnInterruptedRunSaysWhereAndKeepsItsFramesOnlyWhenAsked)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("in.fifo").c_str(), 0600), 0);
    std::string err;
    int status = interruptWhileWaiting(dir, "--no-progress", 6, &err);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << err;
    // The filter needs two frames past the one it makes: 4 of the 6 are done.
    EXPECT_NE(err.find("interrupted at frame 4; out.y4m not written (--keep-partial keeps the 4 whole frames"),
              std::string::npos)
        << err;
    auto files = dir.list();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], "in.fifo");

    status = interruptWhileWaiting(dir, "--keep-partial", 6, &err);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << err;
    EXPECT_NE(err.find("interrupted at frame 4; out.y4m keeps the 4 whole frames before it"), std::string::npos) << err;
    EXPECT_EQ(framesIn(dir.file("out.y4m")), 4u);
    EXPECT_EQ(dir.list().size(), 2u);
}

bool isKind(const std::string &path, mode_t kind)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

// Reads all a named pipe or a listening socket gives, on a thread; unblocks
// and returns what it got when velvane never came.
class Catcher {
public:
    explicit Catcher(const std::string &fifo) : path_(fifo)
    {
        thread_ = std::thread([this] { got_ = readFile(path_); });
    }
    explicit Catcher(int listening) : listening_(listening)
    {
        thread_ = std::thread([this] {
            struct pollfd p = {listening_, POLLIN, 0};
            if (poll(&p, 1, 10000) != 1)
                return;
            const int c = accept(listening_, nullptr, nullptr);
            char buf[65536];
            ssize_t n;
            while (c >= 0 && (n = read(c, buf, sizeof buf)) > 0)
                got_.append(buf, (size_t)n);
            close(c);
        });
    }
    std::string got()
    {
        if (listening_ < 0) {
            const int unblock = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
            if (unblock >= 0)
                close(unblock);
        }
        thread_.join();
        if (listening_ >= 0)
            close(listening_);
        return got_;
    }

private:
    std::string path_, got_;
    int listening_ = -1;
    std::thread thread_;
};

TEST(Command, WritesIntoWhatTheOutputNamesWithoutReplacingIt)
{
    TempDir dir;
    writeFile(dir.file("in.y4m"), makeStream("YUV4MPEG2 W64 H32 C422", 5, 7));
    ASSERT_EQ(velvane(dir, "-q in.y4m ref.y4m").status, 0);
    const std::string reference = readFile(dir.file("ref.y4m"));
    std::string skipped;

    // A named pipe, read by another program, stays a named pipe.
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    Catcher fromPipe(dir.file("pipe"));
    Outcome r = velvane(dir, "-q in.y4m pipe");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fromPipe.got() == reference);
    EXPECT_TRUE(isKind(dir.file("pipe"), S_IFIFO));

    // So does a listening socket.
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    const std::string sock = dir.file("sock");
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    if (sock.size() < sizeof addr.sun_path) {
        memcpy(addr.sun_path, sock.c_str(), sock.size());
        ASSERT_EQ(bind(listening, (struct sockaddr *)&addr, sizeof addr), 0);
        ASSERT_EQ(listen(listening, 1), 0);
        Catcher fromSocket(listening);
        r = velvane(dir, "-q in.y4m sock");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fromSocket.got() == reference);
        EXPECT_TRUE(isKind(sock, S_IFSOCK));
    } else {
        close(listening);
        skipped += " the socket (its name is too long);";
    }

    // A link in another folder, pointing at a file not made yet, relative to
    // the link: the file is written through it, and the link stays a link.
    ASSERT_EQ(mkdir(dir.file("links").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(symlink("../elsewhere/target.y4m", dir.file("links/out.y4m").c_str()), 0);
    for (int pass = 0; pass < 2; pass++) { // the target new, then replaced
        r = velvane(dir, "-q in.y4m links/out.y4m");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(isKind(dir.file("links/out.y4m"), S_IFLNK));
        EXPECT_TRUE(readFile(dir.file("elsewhere/target.y4m")) == reference);
    }
    EXPECT_EQ(TempDir::listOf(dir.file("links")).size(), 1u);
    EXPECT_EQ(TempDir::listOf(dir.file("elsewhere")).size(), 1u);
    unlink(dir.file("links/out.y4m").c_str());
    unlink(dir.file("elsewhere/target.y4m").c_str());
    rmdir(dir.file("links").c_str());
    rmdir(dir.file("elsewhere").c_str());

    // /dev/null for a user who may not write in /dev, as root in a child
    // that gives up its rights.
    chmod(dir.path().c_str(), 0755);
    chmod(dir.file("in.y4m").c_str(), 0644);
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(77);
        if (geteuid() == 0 || access(VELVANE_PATH, X_OK) != 0 || chdir(dir.path().c_str()) != 0 ||
            access("in.y4m", R_OK) != 0)
            _exit(77);
        execl(VELVANE_PATH, "velvane", "-q", "in.y4m", "/dev/null", (char *)nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        skipped += " /dev/null as an ordinary user (cannot become one, or reach the program or the folder as one);";
    else
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "/dev/null as an ordinary user";
    EXPECT_TRUE(isKind("/dev/null", S_IFCHR));

    // Character devices made here: the null device takes the stream; the full
    // one fails it with the device's own error. Both stay devices.
    const bool made = mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                      mknod(dir.file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    const int probe = made ? open(dir.file("null").c_str(), O_WRONLY) : -1;
    if (probe >= 0) {
        close(probe);
        r = velvane(dir, "-q in.y4m null");
        EXPECT_EQ(r.status, 0) << r.err;
        r = velvane(dir, "-q in.y4m full");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot write full: No space left on device"), std::string::npos) << r.err;
        EXPECT_TRUE(isKind(dir.file("null"), S_IFCHR));
        EXPECT_TRUE(isKind(dir.file("full"), S_IFCHR));
    } else {
        skipped += " character devices (mknod not permitted, or devices not usable here);";
    }
    EXPECT_EQ(dir.list().size(), made ? 6u : 4u); // in, ref, pipe, sock (+ null, full): nothing else
    if (!skipped.empty())
        GTEST_SKIP() << "not tried:" << skipped;
}

TEST(Command, RefusesToWriteOverItsInput)
{
    // The same file under any name: nothing is written, the input is whole.
    TempDir dir;
    const std::string original = makeStream("YUV4MPEG2 W16 H8 C422", 3, 5);
    writeFile(dir.file("in.y4m"), original);
    ASSERT_EQ(link(dir.file("in.y4m").c_str(), dir.file("hard.y4m").c_str()), 0);
    ASSERT_EQ(symlink("in.y4m", dir.file("soft.y4m").c_str()), 0);
    for (const char *args : {"in.y4m in.y4m", "in.y4m hard.y4m", "in.y4m soft.y4m", "soft.y4m in.y4m",
                             "- soft.y4m < in.y4m", "standard output"}) {
        Outcome r;
        if (strcmp(args, "standard output") == 0) { // appended to the input
            const std::string cmd = "cd '" + dir.path() + "' && '" VELVANE_PATH "' in.y4m - >> in.y4m 2> .stderr";
            const int s = system(cmd.c_str());
            r.status = WIFEXITED(s) ? WEXITSTATUS(s) : 128;
            r.err = readFile(dir.file(".stderr"));
            unlink(dir.file(".stderr").c_str());
        } else {
            r = velvane(dir, args);
        }
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("would destroy the input, so nothing was written"), std::string::npos)
            << args << ": " << r.err;
        EXPECT_TRUE(readFile(dir.file("in.y4m")) == original) << args;
        EXPECT_EQ(dir.list().size(), 3u) << args;
    }
    EXPECT_EQ(velvane(dir, "-q in.y4m out.y4m").status, 0); // a file of its own is fine
}

TEST(Command, HelpListsTheSettings)
{
    TempDir dir;
    Outcome r = velvane(dir, "--help");
    EXPECT_EQ(r.status, 0);
    for (const char *opt : {"--luma-low", "--luma-high", "--chroma-low", "--chroma-high", "--gain-y", "--gain-cb",
                            "--gain-cr", "--offset-y", "--hue", "--balance", "--border-top", "--border-bottom",
                            "--border-left", "--border-right", "--dot", "--no-dot", "--411", "--no-411", "--no-prev",
                            "--borders", "--ccir-black", "--full-black", "--snapshot", "--quiet", "--keep-partial",
                            "--version", "--strength", "--show", "--video-stream", "--field-order", "--encoder",
                            "--encoder-opt", "--no-audio", "demo"})
        EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
    r = velvane(dir, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("velvane ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nbuild: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nkernels: "), std::string::npos) << r.out;
}

TEST(Command, DemoWritesItsFilesAndReportsPsnr)
{
    TempDir dir;
    Outcome r = velvane(dir, "demo out --frames 6");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("PSNR"), std::string::npos);
    for (const char *f : {"clean.y4m", "noisy.y4m", "filtered.y4m", "before.png", "after.png", "compare.png"})
        EXPECT_GT(readFile(dir.file(std::string("out/") + f)).size(), 100u) << f;
    for (const char *f : {"clean.y4m", "noisy.y4m", "filtered.y4m", "before.png", "after.png", "compare.png"})
        unlink(dir.file(std::string("out/") + f).c_str());
    rmdir(dir.file("out").c_str());
}

} // namespace
} // namespace velvane
