// The dot-interference check box from end to end: a still picture carrying a
// dot pattern that inverts from frame to frame, rendered through the module
// as a host would.
#include <math.h>

#include <vector>

#include <gtest/gtest.h>

#include "embedded_host.h"
#include "host/entry_points.h"
#include "host/module_state.h"
#include "pipeline/band_cache.h"

namespace velvane::test {
namespace {

// The amplitude lies well beyond the default averaging thresholds, so that
// without the dot pass the averaging cannot take the pattern away either.
constexpr int32_t W = 96, H = 64, Frames = 8, Amplitude = 300, Border = 10;

int picture(int32_t i, int32_t j) { return 1200 + (int)(300 * sin(i * 0.05) * cos(j * 0.04)) + 4 * i; }
// Alternates across and runs +, +, -, - down; inverted on every other frame.
int dots(int32_t frame, int32_t i, int32_t j) { return ((j & 1) ? -Amplitude : Amplitude) * ((i & 2) ? -1 : 1) * ((frame & 1) ? -1 : 1); }

std::vector<std::vector<YcPixel>> clip(bool withDots)
{
    std::vector<std::vector<YcPixel>> c(Frames, std::vector<YcPixel>((size_t)W * H));
    for (int32_t f = 0; f < Frames; f++)
        for (int32_t i = 0; i < H; i++)
            for (int32_t j = 0; j < W; j++)
                c[f][(size_t)i * W + j] = YcPixel{(int16_t)(picture(i, j) + (withDots ? dots(f, i, j) : 0)), 40, -30};
    return c;
}

class DotCheckBox : public ::testing::TestWithParam<int> {
protected:
    EmbeddedHost host{W, H};
    void SetUp() override
    {
        host.attach(GetFilterTable());
        host.init();
        releaseBandCache(moduleInstance.cache, moduleInstance.frameHeap);
    }
    void TearDown() override { host.exit(); }

    std::vector<YcPixel> render(bool withDots, int32_t dotCheck, int32_t n)
    {
        host.check[CHECK_DOT] = dotCheck;
        host.setClip(clip(withDots));
        host.update(); // the settings changed: rebuild everything
        return host.render(n);
    }
};

// How much of frame n's pattern is in `out` beyond the clean rendering:
// the mean of (out - clean) * pattern / amplitude over the interior.
double patternLeft(const std::vector<YcPixel> &out, const std::vector<YcPixel> &clean, int32_t n)
{
    double sum = 0;
    int count = 0;
    for (int32_t i = Border; i < H - Border; i++)
        for (int32_t j = Border; j < W - Border; j++) {
            const size_t k = (size_t)i * W + j;
            sum += (double)(out[k].y - clean[k].y) * dots(n, i, j) / Amplitude;
            count++;
        }
    return sum / count;
}

TEST_P(DotCheckBox, PatternGoesWithTheCheckBoxOnAndStaysWithItOff)
{
    const int32_t n = GetParam();
    const auto cleanOn = render(false, 1, n);
    const auto cleanOff = render(false, 0, n);
    const auto on = render(true, 1, n);
    const auto off = render(true, 0, n);

    EXPECT_GT(patternLeft(off, cleanOff, n), 0.9 * Amplitude);
    EXPECT_LT(fabs(patternLeft(on, cleanOn, n)), 0.005 * Amplitude) << patternLeft(on, cleanOn, n);
    int far = 0;
    for (int32_t i = Border; i < H - Border; i++)
        for (int32_t j = Border; j < W - Border; j++) {
            const size_t k = (size_t)i * W + j;
            far += abs(on[k].y - cleanOn[k].y) > 2;
            EXPECT_EQ(on[k].cb, cleanOn[k].cb);
            EXPECT_EQ(on[k].cr, cleanOn[k].cr);
        }
    EXPECT_EQ(far, 0);
}

// An inner frame, and the first and last, whose neighbours are one frame twice.
INSTANTIATE_TEST_SUITE_P(Frames, DotCheckBox, ::testing::Values(3, 0, Frames - 1));

} // namespace
} // namespace velvane::test
