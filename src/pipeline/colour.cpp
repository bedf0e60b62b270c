#include "pipeline/colour.h"

#include <math.h>

#include "pipeline/dsp.h"

namespace velvane {
namespace {

// The stage stores the low 16 bits of each 32-bit result, without clamping.
inline int16_t low16(int32_t v) { return (int16_t)(uint16_t)(uint32_t)v; }

} // namespace

void adjustColourRowC(YcPixel *row, int32_t width, const ColourFactors *f)
{
    for (int32_t x = 0; x < width; x++) {
        YcPixel &p = row[x];
        const int32_t y = p.y, cb = p.cb, cr = p.cr;
        p.y = low16(((y * f->kY) >> 8) + f->offsetY);
        if (f->mode == COLOUR_GAINS) {
            p.cb = low16((cb * f->kCb) >> 8);
            p.cr = low16((cr * f->kCr) >> 8);
            continue;
        }
        if (f->mode == COLOUR_ROTATE_411 && (x & 3) != 0)
            continue;
        const int32_t u = ((((cb * f->hc) >> 8) - ((cr * f->hs) >> 8)) * f->kCb) >> 8;
        const int32_t v = ((((cr * f->hc) >> 8) + ((cb * f->hs) >> 8)) * f->kCr) >> 8;
        p.cb = low16(v - ((v * f->kB) >> 8) + ((u * f->kB) >> 8));
        p.cr = low16(u - ((u * f->kB) >> 8) + ((v * f->kB) >> 8));
    }
}

void interpolate411RowC(YcPixel *row, int32_t width)
{
    for (int32_t x = 0; x < width - 4; x += 4) {
        const int32_t cb0 = row[x].cb, cr0 = row[x].cr;
        const int16_t cbMid = (int16_t)((cb0 + row[x + 4].cb) >> 1);
        const int16_t crMid = (int16_t)((cr0 + row[x + 4].cr) >> 1);
        row[x + 1].cb = (int16_t)cb0;
        row[x + 1].cr = (int16_t)cr0;
        row[x + 2].cb = row[x + 3].cb = cbMid;
        row[x + 2].cr = row[x + 3].cr = crMid;
    }
}

bool colourFactors(const FrameSettings &s, ColourFactors *out)
{
    const int32_t gY = s.gainY, gCb = s.gainCb, gCr = s.gainCr, oY = s.offsetY, h = s.hue, b = s.balance;
    if (gY == 0 && gCb == 0 && gCr == 0 && oY == 0 && h == 0 && b == 0)
        return false;

    ColourFactors f;
    f.kY = gY + 256;
    f.offsetY = 4 * oY;
    f.kCb = gCb + 256;
    f.kCr = gCr + 256;
    f.kB = b + 256;
    f.hs = 0;
    f.hc = 256;
    if (h == 0 && b == 0) {
        f.mode = COLOUR_GAINS;
    } else {
        // The angle is h / 180 radians, without a factor pi; computed afresh
        // on every run so each rebuilt frame gets the same factors.
        const double angle = (double)h / 180.0;
        f.hs = (int32_t)(256.0 * sin(angle));
        f.hc = (int32_t)(256.0 * cos(angle));
        f.mode = s.chroma411 ? COLOUR_ROTATE_411 : COLOUR_ROTATE;
    }
    *out = f;
    return true;
}

void adjustColour(YcPixel *frame, const FrameJob *job, const FrameSettings &s, const PipelineDsp &dsp)
{
    ColourFactors f;
    if (!colourFactors(s, &f))
        return;
    for (int32_t y = 0; y < job->height; y++)
        dsp.adjustColourRow(frame + (ptrdiff_t)y * job->stride, job->width, &f);
}

void interpolateChroma411(YcPixel *frame, const FrameJob *job, const PipelineDsp &dsp)
{
    for (int32_t y = 0; y < job->height; y++)
        dsp.interpolate411Row(frame + (ptrdiff_t)y * job->stride, job->width);
}

} // namespace velvane
