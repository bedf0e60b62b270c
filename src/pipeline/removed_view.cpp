#include "pipeline/removed_view.h"

namespace velvane {
namespace {

constexpr int32_t kMidGrey = 128 * 16;

inline int16_t sat16(int32_t v) { return (int16_t)(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

} // namespace

void removedView(const YcPixel *input, YcPixel *output, int32_t width, int32_t height, int32_t stride)
{
    for (int32_t y = 0; y < height; y++) {
        const YcPixel *in = input + (ptrdiff_t)y * stride;
        YcPixel *out = output + (ptrdiff_t)y * stride;
        for (int32_t x = 0; x < width; x++) {
            out[x].y = sat16(kMidGrey + kRemovedGain * (in[x].y - out[x].y));
            out[x].cb = sat16(kRemovedGain * (in[x].cb - out[x].cb));
            out[x].cr = sat16(kRemovedGain * (in[x].cr - out[x].cr));
        }
    }
}

} // namespace velvane
