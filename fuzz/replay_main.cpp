// Runs a fuzz target's entry over saved inputs, without libFuzzer: the seed
// corpus and every input that once broke something stay tests in the normal
// and the sanitizer builds. Arguments are files or folders of files.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; i++) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            for (const auto &e : fs::directory_iterator(argv[i]))
                if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                    files.push_back(e.path());
        } else if (fs::is_regular_file(argv[i], ec)) {
            files.push_back(argv[i]);
        } else {
            fprintf(stderr, "replay: %s is neither a file nor a folder\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        fprintf(stderr, "replay: no inputs\n");
        return 2;
    }
    for (const auto &f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            fprintf(stderr, "replay: cannot read %s\n", f.c_str());
            return 2;
        }
        fprintf(stderr, "replay: %s (%zu bytes)\n", f.c_str(), bytes.size());
        // An empty vector's data() may be null; the entry gets a valid pointer.
        static const uint8_t none = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    }
    printf("replay: %zu inputs passed\n", files.size());
    return 0;
}
