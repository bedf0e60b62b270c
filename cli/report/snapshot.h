// The --snapshot picture: one frame before and after filtering, side by side.
// Taking it only copies the two frames; the picture is made and written on a
// thread of its own, so that the filter goes on at once.
#ifndef VELVANE_CLI_SNAPSHOT_H
#define VELVANE_CLI_SNAPSHOT_H

#include <stdint.h>

#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "run/options.h"
#include "velvane/filter.h"

namespace velvane {

class SnapshotWriter {
public:
    // Frames of `stride` x `height` samples, of which `width` are shown. A
    // picture asked for checks at once that its file can be written, rather
    // than fail after the work up to its frame (throws CliError).
    SnapshotWriter(const Snapshot &snapshot, int width, int height, int stride);
    ~SnapshotWriter();
    SnapshotWriter(const SnapshotWriter &) = delete;
    SnapshotWriter &operator=(const SnapshotWriter &) = delete;

    bool wants(int64_t frame) const { return frame == snapshot_.frame; }
    void take(const YcPixel *before, const YcPixel *after);
    bool taken() const { return taken_; }
    // Waits for the picture; throws CliError when it could not be written.
    void finish();

private:
    void write();
    Snapshot snapshot_;
    int width_, height_, stride_;
    std::vector<YcPixel> before_, after_;
    bool taken_ = false;
    std::thread thread_;
    std::exception_ptr failure_;
};

} // namespace velvane

#endif
