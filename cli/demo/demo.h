// The built-in demonstration: a deterministic interlaced test clip, filtered
// with the plug-in, measured against its clean original.
#ifndef VELVANE_CLI_DEMO_H
#define VELVANE_CLI_DEMO_H

#include <stdint.h>

#include <string>
#include <vector>

#include "run/options.h"
#include "run/filter_run.h"
#include "velvane/filter.h"
#include "y4m/y4m.h"

namespace velvane {

// An interlaced 4:2:2 8-bit scene (top field first, the bottom field half a
// frame later): a moving disc, panning bars, a still textured band and smooth
// colour, plus, in the noisy version, temporal noise and a dot pattern on the
// coloured parts whose sign inverts from frame to frame.
class DemoScene {
public:
    DemoScene(int width = 720, int height = 480);
    Y4mFormat format() const;
    // Frame n's planes (format().frameBytes() each); `noisy` may be null.
    void render(int n, uint8_t *clean, uint8_t *noisy) const;

private:
    int width_, height_;
    // Per column, the dot carrier (about 3.8 pixels a cycle) a quarter cycle
    // on for each k of dotPhase_[k].
    std::vector<float> dotPhase_[4];
    std::vector<uint8_t> texture_;
};

struct Psnr {
    double luma = 0;
    double chroma = 0; // Cb and Cr together
};

// PSNR of two streams of the same format, over all their frames (the shorter
// one decides). Throws CliError on unreadable files.
Psnr psnrOfFiles(const std::string &reference, const std::string &test);

struct DemoReport {
    int frames = 0;
    Psnr noisy, filtered;
    double filterSeconds = 0;
    std::vector<std::string> files;
};

// Writes clean.y4m, noisy.y4m, filtered.y4m, before.png, after.png and
// compare.png into dir (made if missing). With `plugin`, filters through the
// descriptor's plug-in instead of the native library, else on `threads`
// threads (0: one per processor thread).
DemoReport runDemo(FilterDescriptor *fd, const std::string &dir, int frames, const FilterSettings &settings,
                   bool progress, bool plugin = false, int threads = 1);

} // namespace velvane

#endif
