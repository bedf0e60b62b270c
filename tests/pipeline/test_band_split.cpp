#include <string.h>

#include <random>
#include <vector>

#include "kernel_levels.h"
#include "pipeline/band_split.h"

namespace {

using namespace velvane;

// A pair of padded planes as the band cache lays them out: frame pixel (x, y)
// in cell (y + 2, x + 2), rows alignedWidth + 4 cells apart.
struct Planes {
    int32_t aw, ah, pw;
    std::vector<YcPixel> low, high;
    Planes(int32_t alignedWidth, int32_t alignedHeight)
        : aw(alignedWidth), ah(alignedHeight), pw(alignedWidth + 4),
          low((size_t)(alignedHeight + 4) * (alignedWidth + 4)), high(low.size())
    {
    }
    YcPixel &P(int32_t x, int32_t y) { return high[(size_t)(y + 2) * pw + x + 2]; }
    YcPixel &L(int32_t x, int32_t y) { return low[(size_t)(y + 2) * pw + x + 2]; }
    void fillPadded(YcPixel v)
    {
        for (auto &p : high)
            p = v;
    }
    void split(const PipelineDsp &dsp) { splitBands(low.data(), high.data(), aw, ah, dsp); }
};

int32_t sat16(int32_t v) { return v < -32768 ? -32768 : v > 32767 ? 32767 : v; }

using Halving = AtEveryLevel;

TEST_P(Halving, EverySampleOfStrideTimesHeightIsShiftedRight)
{
    const int32_t stride = 37, height = 5;
    std::vector<YcPixel> f((size_t)stride * height + 1, YcPixel{4095, -1, -4095});
    f.back() = YcPixel{1111, 2222, 3333}; // just past the frame
    f[(size_t)stride * height - 1] = YcPixel{-32768, 32767, 1};
    halveSamples(f.data(), stride, height, kernels.pipeline);
    for (size_t i = 0; i + 1 < f.size() - 1; i++) {
        ASSERT_EQ(2047, f[i].y) << i;
        ASSERT_EQ(-1, f[i].cb) << i;
        ASSERT_EQ(-2048, f[i].cr) << i;
    }
    const YcPixel last = f[(size_t)stride * height - 1];
    EXPECT_EQ(-16384, last.y);
    EXPECT_EQ(16383, last.cb);
    EXPECT_EQ(0, last.cr);
    EXPECT_EQ(1111, f.back().y);
    EXPECT_EQ(3333, f.back().cr);
}

using BandSplit = AtEveryLevel;

TEST_P(BandSplit, UniformAreasSplitIntoLowAndResidual)
{
    Planes a(24, 6);
    a.fillPadded({2048, -1024, 0});
    a.split(kernels.pipeline);
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 24; x++) {
            // 16 x 2048 saturates on the sixteenth addition.
            ASSERT_EQ(2047, a.L(x, y).y);
            ASSERT_EQ(1, a.P(x, y).y);
            ASSERT_EQ(-1024, a.L(x, y).cb);
            ASSERT_EQ(0, a.P(x, y).cb);
            ASSERT_EQ(0, a.L(x, y).cr);
        }
}

TEST_P(BandSplit, ASingleBrightPixelSpreadsOverItsOwnField)
{
    Planes a(32, 12);
    a.P(9, 5) = YcPixel{1600, -16, 0};
    a.split(kernels.pipeline);
    for (int y = 0; y < 12; y++)
        for (int x = 0; x < 32; x++) {
            const int dx = x - 9 < 0 ? 9 - x : x - 9, dy = y - 5 < 0 ? 5 - y : y - 5;
            int weight = 0;
            if (dx <= 1 && (dy == 0 || dy == 2))
                weight = (dx == 0 ? 2 : 1) * (dy == 0 ? 2 : 1);
            ASSERT_EQ(100 * weight, a.L(x, y).y) << x << "," << y;
            ASSERT_EQ(-weight, a.L(x, y).cb) << x << "," << y; // -16 / 16 x weight
            const int16_t p = (x == 9 && y == 5) ? 1600 : 0;
            ASSERT_EQ(p - 100 * weight, a.P(x, y).y) << x << "," << y;
        }
    EXPECT_EQ(400, a.L(9, 5).y);
    EXPECT_EQ(0, a.L(9, 4).y);
    EXPECT_EQ(0, a.L(9, 6).y);
}

TEST_P(BandSplit, NegativeSumsFloor)
{
    Planes a(12, 4);
    a.P(4, 1) = YcPixel{-1, -4, -17};
    a.split(kernels.pipeline);
    EXPECT_EQ(-1, a.L(4, 1).y); // -4 / 16 floors to -1, not 0
    EXPECT_EQ(-1, a.L(4, 1).cb);
    EXPECT_EQ(-5, a.L(4, 1).cr); // -68 / 16 = -4.25
    EXPECT_EQ(-1, a.L(5, 3).y);  // -1 / 16
    EXPECT_EQ(0, a.P(4, 1).y);
}

// Direct evaluation of the low-pass and the residual from an untouched copy
// of the padded plane, to check the order in which rows are overwritten.
TEST_P(BandSplit, MatchesTheDefinitionOnRandomPlanesWithExtremes)
{
    std::mt19937 rng(21);
    std::uniform_int_distribution<int> any(-32768, 32767), pick(0, 6);
    const int16_t extremes[7] = {-32768, -32767, -1, 0, 1, 32766, 32767};
    for (int32_t aw : {4, 8, 20, 28, 64}) {
        Planes a(aw, 10);
        for (auto &p : a.high) {
            int16_t *s = &p.y;
            for (int k = 0; k < 3; k++)
                s[k] = (int16_t)(rng() % 3 == 0 ? extremes[pick(rng)] : any(rng));
        }
        const std::vector<YcPixel> padded = a.high;
        auto P = [&](int x, int y, int k) { return (&padded[(size_t)(y + 2) * a.pw + x + 2].y)[k]; };
        a.split(kernels.pipeline);
        for (int y = 0; y < 10; y++)
            for (int x = 0; x < aw; x++)
                for (int k = 0; k < 3; k++) {
                    const int32_t terms[16] = {P(x - 1, y - 2, k), P(x, y - 2, k), P(x, y - 2, k), P(x + 1, y - 2, k),
                                               P(x - 1, y, k),     P(x - 1, y, k), P(x, y, k),     P(x, y, k),
                                               P(x, y, k),         P(x, y, k),     P(x + 1, y, k), P(x + 1, y, k),
                                               P(x - 1, y + 2, k), P(x, y + 2, k), P(x, y + 2, k), P(x + 1, y + 2, k)};
                    int32_t s = terms[0];
                    for (int t = 1; t < 16; t++)
                        s = sat16(s + terms[t]);
                    const int32_t l = s >> 4;
                    ASSERT_EQ(l, (&a.L(x, y).y)[k]) << aw << ": " << x << "," << y << "," << k;
                    ASSERT_EQ(sat16(P(x, y, k) - l), (&a.P(x, y).y)[k]) << aw << ": " << x << "," << y << "," << k;
                }
        // Border cells keep the padded copy.
        for (int x = -2; x < aw + 2; x++) {
            ASSERT_EQ(P(x, -1, 0), a.P(x, -1).y);
            ASSERT_EQ(P(x, 10, 2), a.P(x, 10).cr);
        }
    }
}

INSTANTIATE_AT_EVERY_LEVEL(Halving);
INSTANTIATE_AT_EVERY_LEVEL(BandSplit);

} // namespace
