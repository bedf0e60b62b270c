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

FrameIo::FrameIo(int width, int height)
    : width_(width), height_(height), k_(convertKernels()), y_((size_t)width), cb_((size_t)width), cr_((size_t)width),
      c_((size_t)width + 4)
{
}

void FrameIo::toPixels(const VelvaneFrame &f, YcPixel *dst, int stride)
{
    const int w = width_, cw = (w + 1) / 2;
    for (int r = 0; r < height_; r++) {
        YcPixel *out = dst + (size_t)r * stride;
        if (f.format == VELVANE_PIXEL_YC48) {
            memcpy(out, row(f, 0, r), (size_t)w * sizeof(YcPixel));
            continue;
        }
        const int depth = f.format == VELVANE_PIXEL_YUV422P8 ? 8 : f.bit_depth;
        lumaToHost(y_.data(), row(f, 0, r), w, depth);
        chromaToHost(c_.data(), row(f, 1, r), cw, depth);
        upsampleCositedRow(k_, cb_.data(), c_.data(), w);
        chromaToHost(c_.data(), row(f, 2, r), cw, depth);
        upsampleCositedRow(k_, cr_.data(), c_.data(), w);
        k_.interleaveRow(out, y_.data(), cb_.data(), cr_.data(), w);
    }
}

void FrameIo::fromPixels(const YcPixel *src, int stride, const VelvaneFrame &fc)
{
    VelvaneFrame f = fc;
    const int w = width_, cw = (w + 1) / 2;
    for (int r = 0; r < height_; r++) {
        const YcPixel *in = src + (size_t)r * stride;
        if (f.format == VELVANE_PIXEL_YC48) {
            memcpy(row(f, 0, r), in, (size_t)w * sizeof(YcPixel));
            continue;
        }
        const int depth = f.format == VELVANE_PIXEL_YUV422P8 ? 8 : f.bit_depth;
        k_.deinterleaveRow(y_.data(), cb_.data(), cr_.data(), in, w);
        lumaFromHost(row(f, 0, r), y_.data(), w, depth);
        k_.downsampleCosited2(c_.data(), cb_.data(), cw);
        chromaFromHost(row(f, 1, r), c_.data(), cw, depth);
        k_.downsampleCosited2(c_.data(), cr_.data(), cw);
        chromaFromHost(row(f, 2, r), c_.data(), cw, depth);
    }
}

} // namespace velvane
