// The C API's measures and views apart from an instance: scene cuts, the
// noise automatic strength measures, the removed view; and the sample
// conversions of the planar formats, for callers with other layouts.
#include <string.h>

#include <new>
#include <vector>

#include "library/convert_kernels.h"
#include "library/frame_io.h"
#include "pipeline/noise_level.h"
#include "pipeline/removed_view.h"
#include "velvane/velvane.h"

namespace velvane {
namespace {

bool sizeTaken(int width, int height)
{
    return width >= VELVANE_MIN_SIZE && height >= VELVANE_MIN_SIZE && width <= VELVANE_MAX_WIDTH &&
           height <= VELVANE_MAX_HEIGHT;
}

bool depthTaken(int depth) { return (depth >= 8 && depth <= 12) || depth == 16; }

bool readable(const VelvaneFrame *f, int width, int height)
{
    return f && f->width == width && f->height == height && f->stride[0] >= 0 && f->stride[1] >= 0 &&
           f->stride[2] >= 0 && frameProblem(*f, width).empty();
}

// A caller's frame as rows of pixels `stride` apart.
struct Pixels {
    int width, height, stride;
    std::vector<YcPixel> pixels;

    Pixels(int w, int h) : width(w), height(h), stride(w), pixels((size_t)w * (size_t)h) {}
    void from(const VelvaneFrame &f)
    {
        FrameIo(width, height).toPixels(f, pixels.data(), stride, serialTasks());
    }
};

} // namespace
} // namespace velvane

using namespace velvane;

struct VelvaneSceneCuts {
    int width, height;
    SceneCuts cuts;
    std::vector<YcPixel> pixels;
};

extern "C" {

int velvane_scene_cuts_open(VelvaneSceneCuts **cuts, int width, int height)
{
    if (!cuts)
        return VELVANE_EINVAL;
    *cuts = nullptr;
    if (!sizeTaken(width, height))
        return VELVANE_EINVAL;
    *cuts = new (std::nothrow) VelvaneSceneCuts{width, height, SceneCuts(), {}};
    return *cuts ? VELVANE_OK : VELVANE_ENOMEM;
}

int velvane_scene_cuts_next(VelvaneSceneCuts *c, const VelvaneFrame *f)
{
    if (!c || !readable(f, c->width, c->height))
        return VELVANE_EINVAL;
    const int width = c->width, height = c->height;
    SceneSignature s;
    if (f->format == VELVANE_PIXEL_YC48) {
        try {
            c->pixels.resize((size_t)width * (size_t)height);
        } catch (const std::bad_alloc &) {
            return VELVANE_ENOMEM;
        }
        for (int r = 0; r < height; r++)
            memcpy(&c->pixels[(size_t)r * width], (const uint8_t *)f->data[0] + (size_t)r * (size_t)f->stride[0],
                   (size_t)width * sizeof(YcPixel));
        sceneSignature(c->pixels.data(), width, height, width, &s);
    } else {
        // The cells' means from the luma plane, in 8-bit code values, from
        // every fourth pixel of every fourth row: they tell scenes apart as
        // well, for a sixteenth of the reading.
        const bool wide = f->format == VELVANE_PIXEL_YUV422P16;
        const double scale = wide ? 1.0 / (double)(1 << (f->bit_depth - 8)) : 1.0;
        for (int cy = 0; cy < 32; cy++) {
            const int y0 = cy * height / 32, y1 = (cy + 1) * height / 32;
            for (int cx = 0; cx < 32; cx++) {
                const int x0 = cx * width / 32, x1 = (cx + 1) * width / 32;
                int64_t sum = 0, n = 0;
                for (int y = y0; y < y1; y += 4) {
                    const uint8_t *row = (const uint8_t *)f->data[0] + (size_t)y * (size_t)f->stride[0];
                    if (!wide)
                        for (int x = x0; x < x1; x += 4, n++)
                            sum += row[x];
                    else
                        for (int x = x0; x < x1; x += 4, n++)
                            sum += row[2 * x] | row[2 * x + 1] << 8;
                }
                s.cell[cy * 32 + cx] = n > 0 ? (float)((double)sum / (double)n * scale) : 0.0f;
            }
        }
    }
    return c->cuts.next(s) ? 1 : 0;
}

void velvane_scene_cuts_reset(VelvaneSceneCuts *c)
{
    if (c)
        c->cuts.reset();
}

void velvane_scene_cuts_close(VelvaneSceneCuts **c)
{
    if (!c)
        return;
    delete *c;
    *c = nullptr;
}

int velvane_measure_noise(const VelvaneFrame *frames, int count, VelvaneNoiseReport *report)
{
    if (!frames || count < 1 || count > 3 || !report || !sizeTaken(frames[0].width, frames[0].height))
        return VELVANE_EINVAL;
    const int width = frames[0].width, height = frames[0].height;
    for (int i = 0; i < count; i++)
        if (!readable(&frames[i], width, height))
            return VELVANE_EINVAL;
    try {
        std::vector<Pixels> pixels;
        const YcPixel *at[3];
        pixels.reserve((size_t)count);
        for (int i = 0; i < count; i++) {
            pixels.emplace_back(width, height);
            pixels.back().from(frames[i]);
            at[i] = pixels.back().pixels.data();
        }
        const NoiseLevel level = measureNoise(at, count, width, height, width);
        memset(report, 0, sizeof *report);
        report->luma_noise = level.luma;
        report->chroma_noise = level.chroma;
        report->dot_share = level.dotShare;
        report->motion_share = level.motionShare;
    } catch (const std::bad_alloc &) {
        return VELVANE_ENOMEM;
    }
    return VELVANE_OK;
}

int velvane_removed_view(const VelvaneFrame *input, VelvaneFrame *output)
{
    if (!input || !output || input->format != VELVANE_PIXEL_YC48 || output->format != VELVANE_PIXEL_YC48 ||
        !sizeTaken(input->width, input->height) || !readable(input, input->width, input->height) ||
        !readable(output, input->width, input->height))
        return VELVANE_EINVAL;
    const int width = input->width, height = input->height;
    try {
        Pixels in(width, height), out(width, height);
        in.from(*input);
        out.from(*output);
        removedView(in.pixels.data(), out.pixels.data(), width, height, width);
        for (int r = 0; r < height; r++)
            memcpy((uint8_t *)output->data[0] + (size_t)r * (size_t)output->stride[0], &out.pixels[(size_t)r * width],
                   (size_t)width * sizeof(YcPixel));
    } catch (const std::bad_alloc &) {
        return VELVANE_ENOMEM;
    }
    return VELVANE_OK;
}

int velvane_samples_to_yc48(int16_t *dst, const void *src, int n, int bit_depth, int chroma)
{
    if (!depthTaken(bit_depth))
        return VELVANE_EINVAL;
    (chroma ? chromaToHost : lumaToHost)(dst, (const uint8_t *)src, n, bit_depth);
    return VELVANE_OK;
}

int velvane_samples_from_yc48(void *dst, const int16_t *src, int n, int bit_depth, int chroma)
{
    if (!depthTaken(bit_depth))
        return VELVANE_EINVAL;
    (chroma ? chromaFromHost : lumaFromHost)((uint8_t *)dst, src, n, bit_depth);
    return VELVANE_OK;
}

void velvane_interleave_yc48(int16_t *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int n)
{
    convertKernels().interleaveRow((YcPixel *)dst, y, cb, cr, n);
}

void velvane_deinterleave_yc48(int16_t *y, int16_t *cb, int16_t *cr, const int16_t *src, int n)
{
    convertKernels().deinterleaveRow(y, cb, cr, (const YcPixel *)src, n);
}

void velvane_chroma_upsample(int16_t *dst, const int16_t *chroma, int width)
{
    upsampleCositedRow(convertKernels(), dst, chroma, width);
}

void velvane_chroma_downsample(int16_t *dst, const int16_t *row, int n)
{
    convertKernels().downsampleCosited2(dst, row, n);
}

} // extern "C"
