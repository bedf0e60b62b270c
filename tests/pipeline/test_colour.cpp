#include <string.h>

#include <random>
#include <vector>

#include "host/entry_points.h"
#include "kernel_levels.h"
#include "pipeline/colour.h"

namespace {

using namespace velvane;

struct Frame {
    int32_t width, height, stride;
    std::vector<YcPixel> px;
    FrameJob job = {};
    Frame(int32_t w, int32_t h, int32_t s) : width(w), height(h), stride(s), px((size_t)s * h)
    {
        job.width = w;
        job.height = h;
        job.stride = s;
        job.frame = px.data();
    }
    YcPixel &at(int32_t x, int32_t y) { return px[(size_t)y * stride + x]; }
    void randomise(uint32_t seed, int lo = -32768, int hi = 32767)
    {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> d(lo, hi);
        for (auto &p : px)
            p = YcPixel{(int16_t)d(rng), (int16_t)d(rng), (int16_t)d(rng)};
    }
};

struct Settings {
    int32_t track[VV_TRACK_COUNT] = {};
    int32_t check[VV_CHECK_COUNT] = {};
};

bool samePixel(const YcPixel &a, const YcPixel &b) { return a.y == b.y && a.cb == b.cb && a.cr == b.cr; }

class Colour : public AtEveryLevel {
protected:
    // Runs the colour stage on one pixel repeated across a row wide enough for
    // every vector path and checks every copy.
    YcPixel adjustOne(YcPixel in, const Settings &s)
    {
        Frame f(53, 2, 60);
        for (auto &p : f.px)
            p = in;
        adjustColour(f.px.data(), &f.job, settingsFromArrays(s.track, s.check), kernels.pipeline);
        for (int y = 0; y < 2; y++)
            for (int x = 0; x < 53; x++)
                EXPECT_TRUE(samePixel(f.at(x, y), f.at(0, 0))) << "pixel " << x << "," << y;
        return f.at(0, 0);
    }
};

TEST_P(Colour, AllTracksZeroLeaveEverySampleUnchanged)
{
    Frame f(37, 5, 41);
    f.randomise(3);
    const auto before = f.px;
    Settings s;
    s.check[CHECK_411] = 1;
    adjustColour(f.px.data(), &f.job, settingsFromArrays(s.track, s.check), kernels.pipeline);
    EXPECT_EQ(0, memcmp(before.data(), f.px.data(), before.size() * sizeof(YcPixel)));
}

TEST_P(Colour, LumaGainAndOffsetAreNeverClamped)
{
    Settings s;
    s.track[TRACK_GAIN_Y] = 50;
    EXPECT_EQ(478, adjustOne({400, 0, 0}, s).y); // 400 * 306 / 256 = 478.1
    s.track[TRACK_GAIN_Y] = 0;
    s.track[TRACK_OFFSET_Y] = -50;
    EXPECT_EQ(-100, adjustOne({100, 0, 0}, s).y);
    // 32767 * 306 >> 8 = 39166 keeps its low 16 bits.
    s.track[TRACK_GAIN_Y] = 50;
    s.track[TRACK_OFFSET_Y] = 0;
    EXPECT_EQ((int16_t)(39166 - 65536), adjustOne({32767, 0, 0}, s).y);
}

TEST_P(Colour, ChromaGainsScaleEachComponentOnItsOwn)
{
    Settings s;
    s.track[TRACK_GAIN_CB] = 100;  // 356
    s.track[TRACK_GAIN_CR] = -100; // 156
    const YcPixel out = adjustOne({77, -1000, 1000}, s);
    EXPECT_EQ(77, out.y);
    EXPECT_EQ(-1391, out.cb); // -356000 / 256 = -1390.6, floored
    EXPECT_EQ(609, out.cr);   // 156000 / 256 = 609.4
}

TEST_P(Colour, HueRotatesWithEachProductFlooredSeparately)
{
    Settings s;
    s.track[TRACK_HUE] = 30;
    YcPixel out = adjustOne({500, 1000, 0}, s);
    EXPECT_EQ(500, out.y);
    EXPECT_EQ(984, out.cb);
    EXPECT_EQ(164, out.cr);
    out = adjustOne({500, -1, 0}, s);
    EXPECT_EQ(-1, out.cb);
    EXPECT_EQ(-1, out.cr);
}

TEST_P(Colour, HueOfOneDegreeTruncatesTheCosineTo255)
{
    // hs = 1, hc = 255: u = 256 * 255 >> 8 = 255, v = 256 * 1 >> 8 = 1.
    Settings s;
    s.track[TRACK_HUE] = 1;
    const YcPixel out = adjustOne({0, 256, 0}, s);
    EXPECT_EQ(255, out.cb);
    EXPECT_EQ(1, out.cr);
    s.track[TRACK_HUE] = -30; // hs = -42: the rotation turns the other way
    const YcPixel back = adjustOne({0, 1000, 0}, s);
    EXPECT_EQ(984, back.cb);
    EXPECT_EQ(-165, back.cr); // -42000 / 256 = -164.06, floored
}

TEST_P(Colour, BalanceDrivesTheChromaComponentsApart)
{
    Settings s;
    s.track[TRACK_BALANCE] = 30;
    const YcPixel out = adjustOne({0, 100, 0}, s);
    EXPECT_EQ(111, out.cb);
    EXPECT_EQ(-11, out.cr);
}

TEST_P(Colour, PixelsBeyondTheWidthAreNotTouched)
{
    Frame f(21, 3, 30);
    f.randomise(5);
    const auto before = f.px;
    Settings s;
    s.track[TRACK_GAIN_Y] = 7;
    s.track[TRACK_HUE] = 11;
    adjustColour(f.px.data(), &f.job, settingsFromArrays(s.track, s.check), kernels.pipeline);
    for (int y = 0; y < 3; y++) {
        EXPECT_FALSE(samePixel(before[(size_t)y * 30 + 20], f.at(20, y)));
        for (int x = 21; x < 30; x++)
            EXPECT_TRUE(samePixel(before[(size_t)y * 30 + x], f.at(x, y))) << x << "," << y;
    }
}

TEST_P(Colour, In411ModeOnlyEveryFourthPixelIsRotated)
{
    Frame f(40, 2, 40);
    for (auto &p : f.px)
        p = YcPixel{100, 1000, 0};
    Settings s;
    s.track[TRACK_HUE] = 30;
    s.track[TRACK_GAIN_Y] = 50;
    s.check[CHECK_411] = 1;
    adjustColour(f.px.data(), &f.job, settingsFromArrays(s.track, s.check), kernels.pipeline);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 40; x++) {
            EXPECT_EQ(119, f.at(x, y).y) << x; // luma of every pixel
            if (x % 4 == 0) {
                EXPECT_EQ(984, f.at(x, y).cb) << x;
                EXPECT_EQ(164, f.at(x, y).cr) << x;
            } else {
                EXPECT_EQ(1000, f.at(x, y).cb) << x;
                EXPECT_EQ(0, f.at(x, y).cr) << x;
            }
        }
}

TEST_P(Colour, WithoutHueOrBalanceThe411ModeStillScalesEveryPixel)
{
    Frame f(12, 1, 12);
    for (auto &p : f.px)
        p = YcPixel{0, 512, -512};
    Settings s;
    s.track[TRACK_GAIN_CB] = -128 / 2; // 192
    s.check[CHECK_411] = 1;
    adjustColour(f.px.data(), &f.job, settingsFromArrays(s.track, s.check), kernels.pipeline);
    for (int x = 0; x < 12; x++) {
        EXPECT_EQ(384, f.at(x, 0).cb) << x;
        EXPECT_EQ(-512, f.at(x, 0).cr) << x;
    }
}

TEST_P(Colour, SettingsBeyondTheirRangesCountAsTheNearestEnd)
{
    Settings wild, edge;
    wild.track[TRACK_GAIN_Y] = 1 << 30;
    wild.track[TRACK_GAIN_CB] = -(1 << 30);
    wild.track[TRACK_HUE] = 1000;
    wild.track[TRACK_BALANCE] = -1000;
    edge.track[TRACK_GAIN_Y] = 50;
    edge.track[TRACK_GAIN_CB] = -100;
    edge.track[TRACK_HUE] = 30;
    edge.track[TRACK_BALANCE] = -30;
    const YcPixel a = adjustOne({1234, -4321, 999}, wild);
    const YcPixel b = adjustOne({1234, -4321, 999}, edge);
    EXPECT_TRUE(samePixel(a, b));
}

using Chroma411 = AtEveryLevel;

TEST_P(Chroma411, GroupsOfFourTakeTheirAnchorAndTheMeanToTheNext)
{
    Frame f(16, 1, 16);
    for (int x = 0; x < 16; x++)
        f.at(x, 0) = YcPixel{(int16_t)(x * 10), (int16_t)(-x), (int16_t)x};
    f.at(0, 0).cb = 100;
    f.at(4, 0).cb = 201;
    f.at(0, 0).cr = -100;
    f.at(4, 0).cr = -201;
    interpolateChroma411(f.px.data(), &f.job, kernels.pipeline);
    EXPECT_EQ(100, f.at(1, 0).cb);
    EXPECT_EQ(150, f.at(2, 0).cb);
    EXPECT_EQ(150, f.at(3, 0).cb);
    EXPECT_EQ(-100, f.at(1, 0).cr);
    EXPECT_EQ(-151, f.at(2, 0).cr); // floor(-150.5)
    EXPECT_EQ(-151, f.at(3, 0).cr);
    for (int x = 0; x < 16; x++)
        EXPECT_EQ(x * 10, f.at(x, 0).y) << "luma is not touched";
    EXPECT_EQ(201, f.at(4, 0).cb);
    EXPECT_EQ(-8, f.at(8, 0).cb);
    EXPECT_EQ(-12, f.at(12, 0).cb);
    // The last group would need pixel 16: pixels 13 to 15 keep their chroma.
    for (int x = 13; x < 16; x++)
        EXPECT_EQ(-x, f.at(x, 0).cb) << x;
}

TEST_P(Chroma411, ExtremesAverageWithoutOverflow)
{
    Frame f(9, 1, 9);
    for (auto &p : f.px)
        p = YcPixel{0, 32767, -32768};
    f.at(4, 0) = YcPixel{0, 32765, -32767};
    interpolateChroma411(f.px.data(), &f.job, kernels.pipeline);
    EXPECT_EQ(32766, f.at(2, 0).cb);
    EXPECT_EQ(-32768, f.at(2, 0).cr);
    EXPECT_EQ(32766, f.at(6, 0).cb);
    EXPECT_EQ(-32768, f.at(7, 0).cr);
}

TEST_P(Chroma411, TheLastThreePixelsOfA720RowKeepTheHostsChroma)
{
    Frame f(720, 3, 724);
    f.randomise(9, -2000, 2000);
    const auto host = f.px;
    Settings s;
    s.track[TRACK_HUE] = 20;
    s.check[CHECK_411] = 1;
    adjustColour(f.px.data(), &f.job, settingsFromArrays(s.track, s.check), kernels.pipeline);
    interpolateChroma411(f.px.data(), &f.job, kernels.pipeline);
    for (int y = 0; y < 3; y++) {
        for (int x = 717; x < 724; x++) {
            EXPECT_EQ(host[(size_t)y * 724 + x].cb, f.at(x, y).cb) << x;
            EXPECT_EQ(host[(size_t)y * 724 + x].cr, f.at(x, y).cr) << x;
        }
        EXPECT_NE(host[(size_t)y * 724 + 716].cb, f.at(716, y).cb);
        EXPECT_EQ(f.at(712, y).cb, f.at(713, y).cb);
    }
}

TEST_P(Chroma411, A718PixelRowLeavesPixel717)
{
    Frame f(718, 1, 720);
    f.randomise(10);
    const auto host = f.px;
    interpolateChroma411(f.px.data(), &f.job, kernels.pipeline);
    EXPECT_EQ(host[717].cb, f.at(717, 0).cb);
    EXPECT_EQ(host[717].cr, f.at(717, 0).cr);
    EXPECT_EQ(f.at(712, 0).cr, f.at(713, 0).cr);
    EXPECT_EQ((host[712].cr + host[716].cr) >> 1, f.at(715, 0).cr);
    for (int x = 718; x < 720; x++)
        EXPECT_TRUE(samePixel(host[x], f.at(x, 0)));
}

TEST_P(Chroma411, RowsNarrowerThanAGroupAreLeftAlone)
{
    Frame f(4, 2, 8);
    f.randomise(12);
    const auto before = f.px;
    interpolateChroma411(f.px.data(), &f.job, kernels.pipeline);
    EXPECT_EQ(0, memcmp(before.data(), f.px.data(), before.size() * sizeof(YcPixel)));
}

INSTANTIATE_AT_EVERY_LEVEL(Colour);
INSTANTIATE_AT_EVERY_LEVEL(Chroma411);

} // namespace
