#include "report/snapshot.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "report/png_writer.h"

namespace velvane {

SnapshotWriter::SnapshotWriter(const Snapshot &snapshot, int width, int height, int stride)
    : snapshot_(snapshot), width_(width), height_(height), stride_(stride)
{
    if (snapshot_.frame < 0)
        return;
    struct stat st;
    const bool existed = stat(snapshot_.path.c_str(), &st) == 0;
    FILE *f = fopen(snapshot_.path.c_str(), "ab");
    if (!f)
        throw CliError("cannot write " + snapshot_.path + ": " + strerror(errno));
    fclose(f);
    if (!existed)
        unlink(snapshot_.path.c_str());
}

SnapshotWriter::~SnapshotWriter()
{
    if (thread_.joinable())
        thread_.join();
}

void SnapshotWriter::write()
{
    try {
        writeSideBySidePng(snapshot_.path, before_.data(), after_.data(), width_, height_, stride_);
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void SnapshotWriter::take(const YcPixel *before, const YcPixel *after)
{
    const size_t samples = (size_t)stride_ * (size_t)height_;
    before_.assign(before, before + samples);
    after_.assign(after, after + samples);
    taken_ = true;
    try {
        thread_ = std::thread([this] { write(); });
    } catch (const std::system_error &) {
        write(); // no thread to spare: the filter waits for the picture instead
    }
}

void SnapshotWriter::finish()
{
    if (thread_.joinable())
        thread_.join();
    if (failure_)
        std::rethrow_exception(failure_);
}

} // namespace velvane
