#include "test_util.h"

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velvane {
namespace testing {

TempDir::TempDir()
{
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/velvane-cli-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir()
{
    for (const auto &name : list())
        unlink(file(name).c_str());
    rmdir(path_.c_str());
}

std::vector<std::string> TempDir::listOf(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

std::vector<uint8_t> randomFrame(const Y4mFormat &f, std::mt19937 &rng)
{
    std::vector<uint8_t> raw(f.frameBytes());
    if (f.depth == 8) {
        for (auto &b : raw)
            b = (uint8_t)rng();
        return raw;
    }
    const uint32_t mask = (1u << f.depth) - 1;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        const uint32_t v = rng() & mask;
        raw[i] = (uint8_t)v;
        raw[i + 1] = (uint8_t)(v >> 8);
    }
    return raw;
}

std::string makeStream(const std::string &header, int frames, uint32_t seed, const std::vector<std::string> &frameTags)
{
    const Y4mFormat f = parseStreamHeader(header);
    std::mt19937 rng(seed);
    std::string s = header + "\n";
    for (int n = 0; n < frames; n++) {
        s += "FRAME";
        if (!frameTags.empty() && !frameTags[n % frameTags.size()].empty())
            s += " " + frameTags[n % frameTags.size()];
        s += "\n";
        std::vector<uint8_t> raw = randomFrame(f, rng);
        s.append((const char *)raw.data(), raw.size());
    }
    return s;
}

PipeFeed::PipeFeed(std::string bytes)
{
    signal(SIGPIPE, SIG_IGN); // a reader that stops early must not kill the tests
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    in_ = fdopen(fds[0], "rb");
    const int wfd = fds[1];
    writer_ = std::thread([wfd, bytes = std::move(bytes)] {
        // Small, uneven writes, so that reads come back short.
        size_t pos = 0, step = 1;
        while (pos < bytes.size()) {
            size_t len = std::min(bytes.size() - pos, (step * 7919) % 65536 + 1);
            ssize_t w = write(wfd, bytes.data() + pos, len);
            if (w <= 0)
                break;
            pos += (size_t)w;
            step++;
        }
        close(wfd);
    });
}

PipeFeed::~PipeFeed()
{
    if (in_)
        fclose(in_); // unblocks the writer if the reader stopped early
    writer_.join();
}

} // namespace testing
} // namespace velvane
