#include "y4m/convert.h"

#include <string.h>

#include <algorithm>

#include "velvane/velvane.h"

namespace velvane {

namespace {

int16_t *samples(YcPixel *row) { return reinterpret_cast<int16_t *>(row); }
const int16_t *samples(const YcPixel *row) { return reinterpret_cast<const int16_t *>(row); }

} // namespace

FrameConverter::FrameConverter(const Y4mFormat &format, int stride) : f_(format), stride_(stride)
{
    switch (f_.chroma) {
    case Chroma::C444: horizontal_ = Horizontal::Same; break;
    case Chroma::C422:
    case Chroma::C420mpeg2:
    case Chroma::C420paldv: horizontal_ = Horizontal::Cosited2; break;
    case Chroma::C420jpeg:
    case Chroma::C420: horizontal_ = Horizontal::Centred2; break;
    case Chroma::C411: horizontal_ = Horizontal::Repeat4; break;
    case Chroma::Mono: horizontal_ = Horizontal::Same; break;
    }
    vertical_ = f_.hasChroma() && f_.chromaHeight() != f_.height;
    const size_t w = (size_t)f_.width;
    y_.resize(w);
    cb_.resize(w);
    cr_.resize(w);
    cTmp_.resize(w + 4);
    if (vertical_) {
        planeCb_.resize((size_t)f_.chromaWidth() * (size_t)f_.height);
        planeCr_.resize(planeCb_.size());
    }
}

// Interlaced 4:2:0 keeps each field's chroma apart: chroma rows 0, 2, 4, ...
// belong to the top field (frame rows 0, 2, 4, 6, ...), rows 1, 3, 5, ... to
// the bottom field, and each serves two rows of its field.
int FrameConverter::chromaRowFor(int row, bool interlaced) const
{
    const int ch = f_.chromaHeight();
    if (!interlaced)
        return std::min(row >> 1, ch - 1);
    const int field = row & 1;
    const int c = 2 * ((row >> 1) >> 1) + field;
    int last = ch - 1;
    if ((last & 1) != field && last > 0)
        last--;
    return std::min(c, last);
}

void FrameConverter::chromaRowPair(int crow, bool interlaced, int *r1, int *r2) const
{
    const int h = f_.height;
    if (interlaced) {
        const int field = crow & 1;
        *r1 = 4 * (crow >> 1) + field;
        *r2 = *r1 + 2;
    } else {
        *r1 = 2 * crow;
        *r2 = *r1 + 1;
    }
    if (*r2 >= h)
        *r2 = *r1;
}

void FrameConverter::upsample(int16_t *dst, const int16_t *c) const
{
    const int w = f_.width;
    switch (horizontal_) {
    case Horizontal::Same: memcpy(dst, c, (size_t)w * sizeof(int16_t)); break;
    case Horizontal::Cosited2: velvane_chroma_upsample(dst, c, w); break;
    case Horizontal::Centred2:
        for (int x = 0; x < w; x++)
            dst[x] = c[x >> 1];
        break;
    case Horizontal::Repeat4:
        for (int x = 0; x < w; x++)
            dst[x] = c[x >> 2];
        break;
    }
}

void FrameConverter::downsample(int16_t *dst, const int16_t *row) const
{
    const int w = f_.width;
    const int cw = f_.chromaWidth();
    switch (horizontal_) {
    case Horizontal::Same: memcpy(dst, row, (size_t)w * sizeof(int16_t)); break;
    case Horizontal::Cosited2: velvane_chroma_downsample(dst, row, cw); break;
    case Horizontal::Centred2:
        for (int k = 0; k < cw; k++) {
            const int b = std::min(2 * k + 1, w - 1);
            dst[k] = (int16_t)((row[2 * k] + row[b] + 1) >> 1);
        }
        break;
    case Horizontal::Repeat4:
        for (int k = 0; k < cw; k++)
            dst[k] = row[4 * k];
        break;
    }
}

void FrameConverter::toHost(const uint8_t *raw, bool interlaced, YcPixel *dst)
{
    const uint8_t *plane[3] = {raw, raw + f_.lumaBytes(), raw + f_.lumaBytes() + f_.chromaPlaneBytes()};
    const ptrdiff_t stride[3] = {(ptrdiff_t)f_.width * f_.bytesPerSample(),
                                 (ptrdiff_t)f_.chromaWidth() * f_.bytesPerSample(),
                                 (ptrdiff_t)f_.chromaWidth() * f_.bytesPerSample()};
    toHost(plane, stride, interlaced, dst);
}

void FrameConverter::toHost(const uint8_t *const plane[3], const ptrdiff_t stride[3], bool interlaced, YcPixel *dst)
{
    const int w = f_.width, h = f_.height, cw = f_.chromaWidth(), d = f_.depth;
    if (!f_.hasChroma()) {
        std::fill(cb_.begin(), cb_.end(), 0);
        std::fill(cr_.begin(), cr_.end(), 0);
    }
    int lastChromaRow = -1;
    for (int r = 0; r < h; r++) {
        velvane_samples_to_yc48(y_.data(), plane[0] + r * stride[0], w, d, 0);
        if (f_.hasChroma()) {
            const int crow = vertical_ ? chromaRowFor(r, interlaced) : r;
            if (crow != lastChromaRow) {
                velvane_samples_to_yc48(cTmp_.data(), plane[1] + crow * stride[1], cw, d, 1);
                upsample(cb_.data(), cTmp_.data());
                velvane_samples_to_yc48(cTmp_.data(), plane[2] + crow * stride[2], cw, d, 1);
                upsample(cr_.data(), cTmp_.data());
                lastChromaRow = crow;
            }
        }
        velvane_interleave_yc48(samples(dst + (size_t)r * stride_), y_.data(), cb_.data(), cr_.data(), w);
    }
}

void FrameConverter::fromHost(const YcPixel *src, bool interlaced, uint8_t *raw)
{
    uint8_t *const plane[3] = {raw, raw + f_.lumaBytes(), raw + f_.lumaBytes() + f_.chromaPlaneBytes()};
    const ptrdiff_t stride[3] = {(ptrdiff_t)f_.width * f_.bytesPerSample(),
                                 (ptrdiff_t)f_.chromaWidth() * f_.bytesPerSample(),
                                 (ptrdiff_t)f_.chromaWidth() * f_.bytesPerSample()};
    fromHost(src, interlaced, plane, stride);
}

void FrameConverter::fromHost(const YcPixel *src, bool interlaced, uint8_t *const plane[3], const ptrdiff_t stride[3])
{
    const int w = f_.width, h = f_.height, cw = f_.chromaWidth(), d = f_.depth;
    for (int r = 0; r < h; r++) {
        velvane_deinterleave_yc48(y_.data(), cb_.data(), cr_.data(), samples(src + (size_t)r * stride_), w);
        velvane_samples_from_yc48(plane[0] + r * stride[0], y_.data(), w, d, 0);
        if (!f_.hasChroma())
            continue;
        if (vertical_) {
            downsample(planeCb_.data() + (size_t)r * cw, cb_.data());
            downsample(planeCr_.data() + (size_t)r * cw, cr_.data());
        } else {
            downsample(cTmp_.data(), cb_.data());
            velvane_samples_from_yc48(plane[1] + r * stride[1], cTmp_.data(), cw, d, 1);
            downsample(cTmp_.data(), cr_.data());
            velvane_samples_from_yc48(plane[2] + r * stride[2], cTmp_.data(), cw, d, 1);
        }
    }
    if (!vertical_)
        return;
    for (int c = 0; c < f_.chromaHeight(); c++) {
        int r1, r2;
        chromaRowPair(c, interlaced, &r1, &r2);
        for (int p = 0; p < 2; p++) {
            const int16_t *from = p ? planeCr_.data() : planeCb_.data();
            const int16_t *a = from + (size_t)r1 * cw;
            const int16_t *b = from + (size_t)r2 * cw;
            for (int k = 0; k < cw; k++)
                cTmp_[k] = (int16_t)((a[k] + b[k] + 1) >> 1);
            velvane_samples_from_yc48(plane[1 + p] + c * stride[1 + p], cTmp_.data(), cw, d, 1);
        }
    }
}

} // namespace velvane
