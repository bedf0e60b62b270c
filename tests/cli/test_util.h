// Helpers for the command's tests: streams in memory, in files and in pipes.
#ifndef VELVANE_TESTS_CLI_TEST_UTIL_H
#define VELVANE_TESTS_CLI_TEST_UTIL_H

#include <stdint.h>
#include <stdio.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "y4m/y4m.h"

namespace velvane {
namespace testing {

// A fresh, empty directory under the system's temporary folder, removed with its files.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    std::vector<std::string> list() const { return listOf(path_); }
    static std::vector<std::string> listOf(const std::string &folder); // its entries but . and ..

private:
    std::string path_;
};

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);

// Random samples of the format's depth (deep ones as little-endian words,
// within 0 .. 2^depth - 1).
std::vector<uint8_t> randomFrame(const Y4mFormat &f, std::mt19937 &rng);
// A whole stream: the header line and `frames` random frames; frame tags
// from `frameTags` (cycled) when given.
std::string makeStream(const std::string &header, int frames, uint32_t seed,
                       const std::vector<std::string> &frameTags = {});

// A pipe whose write end a thread fills with `bytes` and closes; read from in().
class PipeFeed {
public:
    explicit PipeFeed(std::string bytes);
    ~PipeFeed();
    FILE *in() const { return in_; }

private:
    FILE *in_ = nullptr;
    std::thread writer_;
};

} // namespace testing
} // namespace velvane

#endif
