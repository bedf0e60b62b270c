#include "library/frame_io.h"

#include <string.h>

namespace velvane {
namespace {

const uint8_t *row(const VelvaneFrame &f, int plane, int r)
{
    return static_cast<const uint8_t *>(f.data[plane]) + f.stride[plane] * r;
}

uint8_t *row(VelvaneFrame &f, int plane, int r)
{
    return static_cast<uint8_t *>(f.data[plane]) + f.stride[plane] * r;
}

} // namespace

std::string frameProblem(const VelvaneFrame &f, int width)
{
    int planes, bytes, align;
    switch (f.format) {
    case VELVANE_PIXEL_YC48: planes = 1, bytes = 6, align = 2; break;
    case VELVANE_PIXEL_YUV422P8: planes = 3, bytes = 1, align = 1; break;
    case VELVANE_PIXEL_YUV422P16:
        if ((f.bit_depth < 9 || f.bit_depth > 12) && f.bit_depth != 16)
            return "bit_depth is " + std::to_string(f.bit_depth) + "; 16-bit planes hold 9 to 12 or 16 bits";
        planes = 3, bytes = 2, align = 2;
        break;
    default: return "the pixel format " + std::to_string((int)f.format) + " is not one the library knows";
    }
    for (int p = 0; p < planes; p++) {
        const int w = p == 0 ? width : (width + 1) / 2;
        const std::string name = "plane " + std::to_string(p);
        if (!f.data[p])
            return name + " has no data";
        if (f.stride[p] < (ptrdiff_t)w * bytes)
            return name + "'s stride of " + std::to_string((long long)f.stride[p]) + " bytes is shorter than a row of " +
                   std::to_string(w * bytes) + " bytes";
        if ((uintptr_t)f.data[p] % align != 0 || f.stride[p] % align != 0)
            return name + " is not aligned to its " + std::to_string(align) + "-byte samples";
    }
    return std::string();
}

FrameIo::FrameIo(int width, int height, int workers, unsigned cpuFlags)
    : width_(width), height_(height), k_(convertKernels(cpuFlags)),
      rows_((size_t)(workers < 1 ? 1 : workers),
            Rows{std::vector<int16_t>((size_t)width), std::vector<int16_t>((size_t)width),
                 std::vector<int16_t>((size_t)width), std::vector<int16_t>((size_t)width + 4)})
{
}

void FrameIo::toPixels(const VelvaneFrame &f, YcPixel *dst, int stride, const TaskRunner &tasks, int16_t *luma,
                       CopyLumaRowFn copyLuma)
{
    const TaskRunner use = tasks.workers <= (int32_t)rows_.size() ? tasks : serialTasks();
    const int32_t slices = sliceCount(height_, use.workers, 16);
    auto job = [&](int32_t i, int32_t worker) {
        const Span s = slice(height_, slices, i);
        toPixelRows(f, dst, stride, s.begin, s.end, rows_[(size_t)worker], luma, copyLuma);
    };
    runTasks(use, slices, job);
}

void FrameIo::toPixelRows(const VelvaneFrame &f, YcPixel *dst, int stride, int begin, int end, Rows &w,
                          int16_t *luma, CopyLumaRowFn copyLuma) const
{
    const int width = width_, cw = (width + 1) / 2;
    for (int r = begin; r < end; r++) {
        YcPixel *out = dst + (size_t)r * stride;
        // The luma comes from the row just read or written, while it is in the cache.
        const YcPixel *written = out;
        if (f.format == VELVANE_PIXEL_YC48) {
            // A large copy may leave the lines it writes out of the cache.
            written = reinterpret_cast<const YcPixel *>(row(f, 0, r));
            memcpy(out, written, (size_t)width * sizeof(YcPixel));
        } else if (f.format == VELVANE_PIXEL_YUV422P8) {
            k_.planarToPixels8(out, luma ? luma + (size_t)r * width : nullptr, row(f, 0, r), row(f, 1, r),
                               row(f, 2, r), width);
            continue;
        } else {
            const int depth = f.bit_depth; // 16-bit planes
            lumaToHost(w.y.data(), row(f, 0, r), width, depth);
            chromaToHost(w.c.data(), row(f, 1, r), cw, depth);
            upsampleCositedRow(k_, w.cb.data(), w.c.data(), width);
            chromaToHost(w.c.data(), row(f, 2, r), cw, depth);
            upsampleCositedRow(k_, w.cr.data(), w.c.data(), width);
            k_.interleaveRow(out, w.y.data(), w.cb.data(), w.cr.data(), width);
        }
        if (luma)
            copyLuma(written, width, luma + (size_t)r * width);
    }
}

void FrameIo::fromPixelRows(const YcPixel *src, int stride, const VelvaneFrame &fc, int begin, int end,
                            Rows &w) const
{
    VelvaneFrame f = fc;
    const int width = width_, cw = (width + 1) / 2;
    for (int r = begin; r < end; r++) {
        const YcPixel *in = src + (size_t)r * stride;
        if (f.format == VELVANE_PIXEL_YC48) {
            memcpy(row(f, 0, r), in, (size_t)width * sizeof(YcPixel));
            continue;
        }
        if (f.format == VELVANE_PIXEL_YUV422P8) {
            k_.pixelsToPlanar8(row(f, 0, r), row(f, 1, r), row(f, 2, r), in, width);
            continue;
        }
        const int depth = f.bit_depth; // 16-bit planes
        k_.deinterleaveRow(w.y.data(), w.cb.data(), w.cr.data(), in, width);
        lumaFromHost(row(f, 0, r), w.y.data(), width, depth);
        k_.downsampleCosited2(w.c.data(), w.cb.data(), cw);
        chromaFromHost(row(f, 1, r), w.c.data(), cw, depth);
        k_.downsampleCosited2(w.c.data(), w.cr.data(), cw);
        chromaFromHost(row(f, 2, r), w.c.data(), cw, depth);
    }
}

} // namespace velvane
