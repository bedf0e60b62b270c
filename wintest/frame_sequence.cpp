#include "frame_sequence.h"

#include <string.h>

namespace velvane {
namespace wintest {

namespace {

// Setting indexes as the descriptor lists them.
enum {
    kLumaLow = 0, kLumaHigh = 1, kChromaLow = 2, kChromaHigh = 3,
    kGainY = 4, kGainCb = 5, kGainCr = 6, kOffsetY = 7, kHue = 8, kBalance = 9,
    kBorderTop = 10, kBorderBottom = 11, kBorderLeft = 12, kBorderRight = 13
};
enum { kDot = 0, k411 = 1, kNoPrevious = 2, kBorders = 3, kCcirBlack = 4 };

struct Step {
    const char *what;
    void (*apply)(EmbeddedHost &h);
    std::vector<int32_t> frames;
};

const std::vector<Step> &series()
{
    static const std::vector<Step> steps = {
        {"defaults: dot pass on, 4:1:1 interpolation on",
         [](EmbeddedHost &) {},
         {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"dot pass off",
         [](EmbeddedHost &h) { h.check[kDot] = 0; },
         {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"dot pass on, borders at CCIR 601 black, hue +12, colour adjusted, seeking",
         [](EmbeddedHost &h) {
             h.check[kDot] = 1;
             h.check[kBorders] = 1;
             h.track[kBorderTop] = 6;
             h.track[kBorderBottom] = 5;
             h.track[kBorderLeft] = 7;
             h.track[kBorderRight] = 9;
             h.track[kHue] = 12;
             h.track[kBalance] = -7;
             h.track[kGainY] = 10;
             h.track[kGainCb] = -20;
             h.track[kGainCr] = 30;
             h.track[kOffsetY] = 5;
         },
         {4, 5, 6, 2, 8, 0}},
        {"dot pass off, borders at full-range black, hue -25, previous frame left out, no 4:1:1",
         [](EmbeddedHost &h) {
             h.check[kDot] = 0;
             h.check[k411] = 0;
             h.check[kNoPrevious] = 1;
             h.check[kCcirBlack] = 0;
             h.track[kHue] = -25;
             h.track[kBalance] = 13;
             h.track[kLumaLow] = 20;
             h.track[kLumaHigh] = 3;
             h.track[kChromaLow] = 15;
             h.track[kChromaHigh] = 0;
         },
         {0, 1, 2, 3, 4, 5, 6, 7, 8}},
    };
    return steps;
}

uint32_t nextRandom(uint32_t &state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

} // namespace

std::vector<std::vector<YcPixel>> makeClip(int32_t width, int32_t height, int32_t stride, int32_t frames)
{
    std::vector<std::vector<YcPixel>> clip(frames, std::vector<YcPixel>((size_t)stride * height));
    uint32_t state = 0x5EED1234u;
    for (int32_t f = 0; f < frames; f++) {
        for (int32_t y = 0; y < height; y++) {
            for (int32_t x = 0; x < stride; x++) {
                YcPixel &p = clip[f][(size_t)y * stride + x];
                int32_t noise = (int32_t)(nextRandom(state) % 97) - 48;
                int32_t luma = 256 + (x * 18 * kClipWidth) / width + (y * 7 * kClipHeight) / height; // gradient
                if (x > 40 + 6 * f && x < 90 + 6 * f)              // an edge that moves right
                    luma += 900;
                int32_t dot = ((x + y + f) & 1) ? 60 : -60;        // flips sign every frame
                p.y = (int16_t)(luma + noise + dot);
                p.cb = (int16_t)((x - width / 2) * 9 * kClipWidth / width + (int32_t)(nextRandom(state) % 41) - 20);
                p.cr = (int16_t)((height / 2 - y) * 11 * kClipHeight / height + (int32_t)(nextRandom(state) % 41) - 20);
            }
        }
    }
    return clip;
}

// The frame sizes at the end of the series: odd width and height, the
// largest that is processed, then one pixel wider.
constexpr int32_t kOddWidth = 175, kOddHeight = 117, kOddFrames = 4;
constexpr int32_t kLargeFrames = 3;

int seriesFrameCount()
{
    int n = 0;
    for (const Step &s : series())
        n += (int)s.frames.size();
    return n + kOddFrames + kLargeFrames + 1;
}

std::string renderSeries(EmbeddedHost &host, FrameSink sink, void *context)
{
    std::vector<YcPixel> out(host.frameSamples());
    for (const Step &s : series()) {
        s.apply(host);
        if (host.update() != 1)
            return std::string("updateFilter did not return 1 before: ") + s.what;
        for (int32_t n : s.frames) {
            if (host.render(n, out.data()) != 1)
                return std::string("processFrame did not return 1 in: ") + s.what;
            sink(context, out.data(), out.size(), host.stride());
        }
    }

    // Odd width and height (a stride of another parity, a maximum height
    // above the height) with the dot pass, the 4:1:1 interpolation and the
    // borders on.
    host.check[kDot] = 1;
    host.check[k411] = 1;
    host.check[kBorders] = 1;
    if (host.update() != 1)
        return std::string("updateFilter did not return 1 before the odd size");
    host.setGeometry(kOddWidth, kOddHeight, kOddWidth + 2, kOddHeight + 2);
    host.setClip(makeClip(kOddWidth, kOddHeight, kOddWidth + 2, kOddFrames));
    out.assign(host.frameSamples(), YcPixel{});
    for (int32_t n = 0; n < kOddFrames; n++) {
        if (host.render(n, out.data()) != 1)
            return std::string("processFrame did not return 1 for a 175 x 117 frame");
        sink(context, out.data(), out.size(), host.stride());
    }

    // 720 x 480 with the same settings; the host's frames change size
    // without a settings change, as when a clip of another size is opened.
    host.setGeometry(VV_MAX_WIDTH, VV_MAX_HEIGHT, VV_MAX_WIDTH + 8, VV_MAX_HEIGHT);
    host.setClip(makeClip(VV_MAX_WIDTH, VV_MAX_HEIGHT, VV_MAX_WIDTH + 8, kLargeFrames));
    out.assign(host.frameSamples(), YcPixel{});
    for (int32_t n = 0; n < kLargeFrames; n++) {
        if (host.render(n, out.data()) != 1)
            return std::string("processFrame did not return 1 for a 720 x 480 frame");
        sink(context, out.data(), out.size(), host.stride());
    }
    host.setGeometry(VV_MAX_WIDTH + 1, VV_MAX_HEIGHT, VV_MAX_WIDTH + 8, VV_MAX_HEIGHT);
    host.setClip(makeClip(VV_MAX_WIDTH + 1, VV_MAX_HEIGHT, VV_MAX_WIDTH + 8, 1));
    if (host.render(0, out.data()) != 1)
        return std::string("processFrame did not return 1 for a 721 x 480 frame");
    sink(context, out.data(), out.size(), host.stride());
    return std::string();
}

void writeToFile(void *file, const YcPixel *frame, size_t pixels, int32_t)
{
    fwrite(frame, sizeof(YcPixel), pixels, (FILE *)file);
}

} // namespace wintest
} // namespace velvane
