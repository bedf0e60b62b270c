// Filters one YUV4MPEG2 stream through the module, as a host does: the
// descriptor's settings arrays and HostServices over a small window of
// frames, initFilter, updateFilter, processFrame per frame, exitFilter.
//
// Three threads overlap the work: one reads and converts frames to the host's
// scale, the calling thread runs the filter, one converts back and writes.
// Frames live in fixed pools, so memory stays flat whatever the length.
#ifndef VELVANE_CLI_PIPELINE_H
#define VELVANE_CLI_PIPELINE_H

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <optional>
#include <string>

#include "options.h"
#include "velvane/filter.h"
#include "y4m.h"

namespace velvane {

struct FilterRun {
    FilterSettings settings;
    // Drive the descriptor's plug-in as its host does, instead of the native
    // library (which says when it cannot filter a frame; a plug-in cannot).
    bool plugin = false;
    int threads = 1;        // the native library's filtering threads, 0: one per processor thread
                            // (the plug-in keeps to one)
    std::optional<Chroma> outputChroma;
    std::optional<int> outputDepth;
    Snapshot snapshot;
    bool progress = false;  // a progress line on standard error
    int queueFrames = 3;    // frames in flight between each pair of threads
};

struct RunStats {
    int64_t frames = 0;         // frames written
    double seconds = 0;
    Y4mFormat input, output;
    int32_t track[VV_TRACK_COUNT] = {};
    int32_t check[VV_CHECK_COUNT] = {};
    size_t hostFrames = 0;      // host frame buffers the run made (its whole frame footprint)
    size_t hostFrameLimit = 0;  // the most it may make
    // Processor time of reading, of filtering (every thread but the reader and
    // the writer) and of writing: whether the filter or the streams set the pace.
    double readSeconds = 0, filterSeconds = 0, writeSeconds = 0;
    std::string inputError;     // the input broke off (truncated frame): every frame before it was written
    std::string warning;        // e.g. a snapshot frame beyond the clip
};

// The smallest frames the filter takes: its band split mirrors two cells.
constexpr int kMinFrameSize = 4;

// Throws CliError for frames larger than the filter takes: checked on the
// stream header, before any frame buffer is allocated.
void requireFilterableSize(const Y4mFormat &f, const std::string &name);

// Reads `in` and writes `out` (neither is closed). The descriptor's tables
// check and complete the settings. Throws CliError on every
// failure that leaves the output unusable; a stream that breaks off inside a
// frame ends the output after the last whole frame and is reported in
// RunStats::inputError.
RunStats filterStream(FilterDescriptor *fd, FILE *in, const std::string &inName, FILE *out,
                      const std::string &outName, const FilterRun &run);

} // namespace velvane

#endif
