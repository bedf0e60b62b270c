// Frames as the library's callers hold them, to and from the filter's rows of
// YcPixel: packed 16-bit pixels as they are, planar 4:2:2 through the sample
// scaling of convert_kernels.h (luma x 16, chroma (c - 128) x 16 for 8 bits).
#ifndef VELVANE_LIBRARY_FRAME_IO_H
#define VELVANE_LIBRARY_FRAME_IO_H

#include <stdint.h>

#include <string>
#include <vector>

#include "common/cpu_flags.h"
#include "common/tasks.h"
#include "library/convert_kernels.h"
#include "wavelet/dsp.h"
#include "velvane/filter.h"
#include "velvane/velvane.h"

namespace velvane {

// Empty when `f` describes a usable frame `width` pixels wide, else why not.
std::string frameProblem(const VelvaneFrame &f, int width);

class FrameIo {
public:
    // Converts slices of rows as jobs of up to `workers` workers at once, on
    // the kernels the CPU flags (common/cpu_flags.h) allow.
    FrameIo(int width, int height, int workers = 1, unsigned cpuFlags = CPU_SSE2);
    // Fills pixels 0 .. width - 1 of every row of `dst` (rows `stride` pixels
    // apart), and with `luma` their lumas alone, rows of width samples.
    void toPixels(const VelvaneFrame &f, YcPixel *dst, int stride, const TaskRunner &tasks, int16_t *luma = nullptr,
                  CopyLumaRowFn copyLuma = nullptr);
    // Row r of `src` (rows `stride` pixels apart) into f, by worker `worker`
    // (below the workers given at construction).
    void fromPixelRow(const YcPixel *src, int stride, const VelvaneFrame &f, int r, int worker)
    {
        fromPixelRows(src, stride, f, r, r + 1, rows_[(size_t)worker]);
    }

private:
    // One worker's rows of separate samples.
    struct Rows {
        std::vector<int16_t> y, cb, cr, c;
    };
    void toPixelRows(const VelvaneFrame &f, YcPixel *dst, int stride, int begin, int end, Rows &w, int16_t *luma,
                     CopyLumaRowFn copyLuma) const;
    void fromPixelRows(const YcPixel *src, int stride, const VelvaneFrame &f, int begin, int end, Rows &w) const;

    int width_, height_;
    const ConvertKernels &k_;
    std::vector<Rows> rows_;
};

} // namespace velvane

#endif
