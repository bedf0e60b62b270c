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

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/frame_io.h"
#include "run/history.h"
#include "run/options.h"
#include "velvane/filter.h"
#include "velvane/velvane.h"
#include "y4m/y4m.h"

namespace velvane {

// The filter's smallest frame, each way (its borders take two cells).
constexpr int kFilterMinimumSide = 4;

class RunReport;

struct FilterRun {
    FilterSettings settings;
    // Drive the descriptor's plug-in as its host does, instead of the native
    // library (which says when it cannot filter a frame; a plug-in cannot).
    bool plugin = false;
    int threads = 1;        // the native library's filtering threads, 0: one per processor thread
                            // (the plug-in keeps to one)
    unsigned cpuMask = VELVANE_CPU_ALL; // the native library's kernel levels (VELVANE_CPU_*)
    std::optional<Chroma> outputChroma;
    std::optional<int> outputDepth;
    char fieldOrder = 0;    // 't', 'b' or 'p' overrides the input's field order; 0 keeps it
    Snapshot snapshot;
    int show = VELVANE_SHOW_OUTPUT; // write the filtered video, or what the filter takes out
    bool progress = false;  // a progress line on standard error
    int queueFrames = 3;    // frames in flight between each pair of threads
    bool damageIsError = false; // a frame the decoder found damaged ends the run, as input that breaks off
    int minimumSide = 1;    // a plug-in's narrower or lower frames are refused up front (the library's always are)
    // Counts whole frames as they are written, each while the writer holds the
    // output stream's lock (see OutputFile::frames); unset, a count of its own.
    std::atomic<int64_t> *framesWritten = nullptr;
    RunReport *report = nullptr;       // --report: told of every frame
    RunHistory *history = nullptr;     // gets each scene automatic strength measures
};

// A frame the decoder found damaged and concealed (or that follows one it lost).
struct DamagedFrame {
    int64_t frame;    // counted from 0, as written
    std::string what; // what the decoder said
};

struct RunStats {
    int64_t frames = 0;         // frames written
    double seconds = 0;
    Y4mFormat input, output;
    // The settings used; with automatic strength, the thresholds and the dot
    // pass it chose are VELVANE_FROM_STRENGTH here and each choice is a line of
    // strengthNotes.
    int32_t track[VV_TRACK_COUNT] = {};
    int32_t check[VV_CHECK_COUNT] = {};
    int strength = VELVANE_STRENGTH_CUSTOM;
    int32_t moving[3] = {}; // resolveMoving's: the thresholds where the picture moves
    std::vector<std::string> strengthNotes;
    size_t hostFrames = 0;      // host frame buffers the run made (its whole frame footprint)
    size_t hostFrameLimit = 0;  // the most it may make
    // Processor time of reading, of filtering (every thread but the reader and
    // the writer) and of writing: whether the filter or the streams set the pace.
    double readSeconds = 0, filterSeconds = 0, writeSeconds = 0;
    std::vector<DamagedFrame> damaged; // filtered and written as decoded, in order
    std::vector<std::string> warnings; // what the run tells the user beside its summary (the command fills it)
    std::string inputError;     // the input broke off (truncated frame): every frame before it was written
    // --snapshot named a frame past the end of a stream (one not known to be too short up front): no picture
    std::string snapshotMissed;
};

// Throws CliError for frames larger than the filter takes (a plug-in build,
// `plugin`, takes no more than its host's 720 x 480), or narrower or lower
// than `minimumSide`: checked on the stream header, before any frame buffer
// is allocated.
void requireFilterableSize(const Y4mFormat &f, const std::string &name, bool plugin = false, int minimumSide = 1);

// Reads `in` and writes `out`. The descriptor's tables check and complete the
// settings. Throws CliError on every failure that leaves the output unusable;
// input that breaks off ends the output after the last whole frame and is
// reported in RunStats::inputError.
RunStats filterFrames(FilterDescriptor *fd, FrameSource &in, const std::string &inName, FrameSink &out,
                      const FilterRun &run);

// The same from one YUV4MPEG2 stream to another (neither is closed).
RunStats filterStream(FilterDescriptor *fd, FILE *in, const std::string &inName, FILE *out,
                      const std::string &outName, const FilterRun &run);

} // namespace velvane

#endif
