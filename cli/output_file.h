// An output that only appears under its name once it is complete: written to
// a temporary file beside it and renamed at the end. A failed run, or one
// stopped by a signal, removes the temporary file.
#ifndef VELVANE_CLI_OUTPUT_FILE_H
#define VELVANE_CLI_OUTPUT_FILE_H

#include <stdio.h>

#include <string>

namespace velvane {

class OutputFile {
public:
    // "-" is standard output, written directly. Throws CliError when the
    // temporary file cannot be made (an unwritable place).
    explicit OutputFile(const std::string &path);
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    FILE *file() const { return file_; }
    const std::string &name() const { return name_; }
    const std::string &temporaryPath() const { return temp_; }
    // Closes the file and gives it its name. Throws CliError on failure.
    void commit();

private:
    std::string path_, name_, temp_;
    FILE *file_ = nullptr;
    bool committed_ = false;
    int pendingSlot_ = -1; // where the signal handler finds the temporary name
};

} // namespace velvane

#endif
