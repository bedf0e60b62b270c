// velvane batch's parts that the engine runs reach only by chance: the
// manifest's words and rows, the status file, and when a tape counts as
// finished.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "fixity.h"
#include "manifest.h"
#include "tape.h"
#include "y4m/y4m.h"

using namespace velvane;
using namespace velvane::batch;

namespace {

struct TempDir {
    std::string path;
    TempDir()
    {
        char t[] = "/tmp/velvane-batch-XXXXXX";
        path = mkdtemp(t);
    }
    ~TempDir() { system(("rm -rf '" + path + "'").c_str()); }
    std::string write(const std::string &name, const std::string &text) const
    {
        std::ofstream(path + "/" + name, std::ios::binary) << text;
        return path + "/" + name;
    }
};

void expectRefused(const std::string &text, const std::string &message)
{
    TempDir d;
    try {
        readManifest(d.write("m.tsv", text));
        ADD_FAILURE() << "took: " << text;
    } catch (const CliError &e) {
        EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
}

} // namespace

TEST(BatchManifest, WordsSplitAsAShellDoesAndJoinBack)
{
    const std::vector<std::string> words = splitWords("--encoder-opt 'x=a b' \"--x\\\"y\" c\\ d  e''");
    ASSERT_EQ(words, (std::vector<std::string>{"--encoder-opt", "x=a b", "--x\"y", "c d", "e"}));
    EXPECT_EQ(splitWords(joinWords({"it's", "a b", "", "plain"})),
              (std::vector<std::string>{"it's", "a b", "", "plain"}));
    EXPECT_THROW(splitWords("--x 'open"), CliError);
}

TEST(BatchManifest, RowsResolveAgainstTheManifestsFolder)
{
    TempDir d;
    const std::string m = d.write("m.tsv", "# a comment\r\nid\tinput\toptions\r\n\r\na\tx.dv\t--strength auto\r\n"
                                           "b\t/abs/y.dv\n# c\tz.dv\n");
    const Manifest man = readManifest(m);
    ASSERT_EQ(man.rows.size(), 2u);
    EXPECT_EQ(man.rows[0].inputPath.substr(man.rows[0].inputPath.size() - 5), "/x.dv");
    EXPECT_EQ(man.rows[0].inputPath[0], '/');
    EXPECT_EQ(man.rows[0].words, (std::vector<std::string>{"--strength", "auto"}));
    EXPECT_EQ(man.rows[0].line, 4);
    EXPECT_EQ(man.rows[1].inputPath, "/abs/y.dv");
    EXPECT_EQ(man.md5.size(), 32u);
    EXPECT_EQ(man.find("b"), &man.rows[1]);
}

TEST(BatchManifest, BadTablesNameTheirLine)
{
    expectRefused("id\tinput\n", "no tapes");
    expectRefused("", "no header");
    expectRefused("input\tid\na\tb\n", "line 1: the header");
    expectRefused("id\tinput\na\tx\nb\t\n", "line 3 (b): no input");
    expectRefused("id\tinput\n-a\tx\n", "line 2: the id '-a' is not one");
    expectRefused("id\tinput\nx\ta\ny\tb\nx\tc\n", "line 4: the id 'x' is also the id of an earlier row (line 2)");
    EXPECT_EQ(refusedOption({"--strength", "auto"}), "");
    EXPECT_NE(refusedOption({"--report=x.html"}), "");
    EXPECT_NE(refusedOption({"--keep-partial"}), "");
    EXPECT_EQ(refusedOption({"--reporting"}), ""); // not a prefix match
}

TEST(BatchStatus, ValuesKeepTabsAndLineBreaks)
{
    TempDir d;
    Status s;
    s.set("error", "line one\nline\ttwo \\ three");
    s.set("id", "a");
    writeStatus(d.path + "/status.txt", s);
    EXPECT_EQ(readStatus(d.path + "/status.txt").values, s.values);
    EXPECT_TRUE(readStatus(d.path + "/none.txt").values.empty());
}

// A finished tape's folder, then each thing that makes it unfinished.
TEST(BatchStatus, FinishedOnlyWhenEverythingMatches)
{
    TempDir d;
    const std::string input = d.write("in.dv", "input bytes");
    mkdir((d.path + "/out").c_str(), 0777);
    mkdir((d.path + "/out/a").c_str(), 0777);
    const TapePaths p(d.path + "/out", "a", "mkv");
    d.write("out/a/master.mkv", "master bytes");
    const std::string md5 = md5File(p.master);
    d.write("out/a/master.md5", md5 + "  master.mkv\n");
    d.write("out/a/master.framemd5", "#format: frame checksums\n");
    Status s;
    s.set("status", "done");
    s.set("version", "velvane 1");
    s.set("request", "--strength auto");
    s.set("input", input);
    std::string size, mtime;
    ASSERT_TRUE(fileStamp(input, &size, &mtime));
    s.set("input_size", size);
    s.set("input_mtime", mtime);
    ASSERT_TRUE(fileStamp(p.master, &size, &mtime));
    s.set("master_size", size);
    s.set("master_mtime", mtime);
    s.set("master_md5", md5);
    EXPECT_EQ(unfinishedReason(s, p, "--strength auto", input, "velvane 1", true), "");
    EXPECT_NE(unfinishedReason(s, p, "--strength 3", input, "velvane 1", false), "");
    EXPECT_NE(unfinishedReason(s, p, "--strength auto", input, "velvane 2", false), "");
    EXPECT_NE(unfinishedReason(s, p, "--strength auto", input + "x", "velvane 1", false), "");
    Status running = s;
    running.set("status", "running");
    EXPECT_NE(unfinishedReason(running, p, "--strength auto", input, "velvane 1", false), "");
    // The same size, the time put back: only the MD5 tells.
    struct stat st;
    stat(p.master.c_str(), &st);
    d.write("out/a/master.mkv", "master bytez");
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, p.master.c_str(), times, 0);
    EXPECT_EQ(unfinishedReason(s, p, "--strength auto", input, "velvane 1", false), "");
    EXPECT_NE(unfinishedReason(s, p, "--strength auto", input, "velvane 1", true).find("MD5"), std::string::npos);
    unlink(p.framemd5.c_str());
    EXPECT_NE(unfinishedReason(s, p, "--strength auto", input, "velvane 1", false), "");
    d.write("out/a/master.framemd5", "#format: frame checksums\n");
    ASSERT_EQ(unfinishedReason(s, p, "--strength auto", input, "velvane 1", false), "");
    d.write("in.dv", "input bytes, recaptured");
    EXPECT_NE(unfinishedReason(s, p, "--strength auto", input, "velvane 1", false), "");
}
