#include <string.h>

#include <random>
#include <vector>

#include "host/entry_points.h"
#include "kernel_levels.h"
#include "nr/output.h"

namespace {

using namespace velvane;

struct Output {
    int32_t w, h, stride;
    std::vector<YcPixel> frame, before;
    FrameJob job = {};
    int32_t track[VV_TRACK_COUNT] = {};
    int32_t check[VV_CHECK_COUNT] = {};

    Output(int32_t width, int32_t height, int32_t lineStride) : w(width), h(height), stride(lineStride)
    {
        std::mt19937 rng(width * 31 + height);
        std::uniform_int_distribution<int> d(-16384, 16383);
        frame.resize((size_t)stride * height);
        for (auto &p : frame)
            p = YcPixel{(int16_t)d(rng), (int16_t)d(rng), (int16_t)d(rng)};
        job.frame = frame.data();
        job.width = w;
        job.height = h;
        job.stride = stride;
        before = frame;
    }
    void borders(int top, int bottom, int left, int right, bool ccir = true)
    {
        check[CHECK_BORDERS] = 1;
        check[CHECK_CCIR_BLACK] = ccir ? 1 : 0;
        track[TRACK_BORDER_TOP] = top;
        track[TRACK_BORDER_BOTTOM] = bottom;
        track[TRACK_BORDER_LEFT] = left;
        track[TRACK_BORDER_RIGHT] = right;
    }
    void run(const NrDsp &dsp) { finishOutput(&job, settingsFromArrays(track, check), dsp); }
    const YcPixel &out(int x, int y) const { return frame[(size_t)y * stride + x]; }
    const YcPixel &in(int x, int y) const { return before[(size_t)y * stride + x]; }
    bool isBlack(int x, int y, int16_t level = 256) const
    {
        const YcPixel &p = out(x, y);
        return p.y == level && p.cb == 0 && p.cr == 0;
    }
    bool isDoubled(int x, int y) const
    {
        const YcPixel &p = out(x, y), &q = in(x, y);
        return p.y == (int16_t)(q.y * 2) && p.cb == (int16_t)(q.cb * 2) && p.cr == (int16_t)(q.cr * 2);
    }
};

using Borders = AtEveryLevel;

TEST_P(Borders, WorkedExampleOf720By480)
{
    Output o(720, 480, 720);
    o.borders(8, 8, 4, 6);
    o.run(kernels.nr);
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 720; x++) {
            const bool black = y < 8 || y >= 472 || x < 4 || x >= 714;
            if (black)
                ASSERT_TRUE(o.isBlack(x, y)) << x << "," << y;
            else
                ASSERT_TRUE(o.isDoubled(x, y)) << x << "," << y;
        }
}

TEST_P(Borders, OffMeansEveryRowDoubledAcrossTheStride)
{
    Output o(13, 7, 19);
    o.track[TRACK_BORDER_TOP] = 3;
    o.track[TRACK_BORDER_LEFT] = 3;
    o.check[CHECK_BORDERS] = 0;
    o.check[CHECK_CCIR_BLACK] = 1;
    o.run(kernels.nr);
    for (int y = 0; y < 7; y++)
        for (int x = 0; x < 19; x++)
            ASSERT_TRUE(o.isDoubled(x, y)) << x << "," << y;
}

TEST_P(Borders, OnWithZeroWidthsIsTheSameAsOff)
{
    Output a(21, 6, 24), b(21, 6, 24);
    a.borders(0, 0, 0, 0);
    a.run(kernels.nr);
    b.run(kernels.nr);
    EXPECT_EQ(0, memcmp(a.frame.data(), b.frame.data(), a.frame.size() * sizeof(YcPixel)));
}

TEST_P(Borders, FullRangeBlackIsZeroAndBorderPixelsAreNeverDoubled)
{
    Output o(16, 8, 20);
    o.borders(1, 1, 1, 1, false);
    o.run(kernels.nr);
    EXPECT_TRUE(o.isBlack(0, 0, 0));
    EXPECT_TRUE(o.isBlack(19, 0, 0)) << "top rows span the stride";
    EXPECT_TRUE(o.isBlack(0, 3, 0));
    EXPECT_TRUE(o.isBlack(15, 3, 0));
    EXPECT_TRUE(o.isDoubled(16, 3)) << "beyond the width: doubled, not a border";
    EXPECT_TRUE(o.isBlack(17, 7, 0));
    Output c(16, 8, 20);
    c.borders(1, 1, 1, 1, true);
    c.run(kernels.nr);
    EXPECT_TRUE(c.isBlack(5, 0, 256)); // 256, not 512
    EXPECT_TRUE(c.isBlack(0, 4, 256));
}

TEST_P(Borders, OddWidthRightBorderEndsAtTheLastVisiblePixel)
{
    Output o(701, 4, 704);
    o.borders(0, 0, 0, 10);
    o.run(kernels.nr);
    for (int y = 0; y < 4; y++) {
        EXPECT_TRUE(o.isDoubled(690, y));
        for (int x = 691; x <= 700; x++)
            EXPECT_TRUE(o.isBlack(x, y)) << x;
        for (int x = 701; x < 704; x++)
            EXPECT_TRUE(o.isDoubled(x, y)) << x;
    }
}

TEST_P(Borders, DoublingKeepsTheLow16Bits)
{
    Output o(8, 2, 8);
    o.frame[0] = YcPixel{20000, -20000, -16384};
    o.run(kernels.nr);
    EXPECT_EQ((int16_t)(40000 - 65536), o.frame[0].y);
    EXPECT_EQ((int16_t)(65536 - 40000), o.frame[0].cb);
    EXPECT_EQ(-32768, o.frame[0].cr);
    for (const auto &p : o.frame) {
        EXPECT_EQ(0, p.y & 1);
        EXPECT_EQ(0, p.cr & 1);
    }
}

TEST_P(Borders, SideBordersOnlyInProcessedRows)
{
    Output o(12, 10, 12);
    o.borders(2, 3, 2, 2, false);
    o.frame.assign(o.frame.size(), YcPixel{5, 5, 5});
    o.before = o.frame;
    o.run(kernels.nr);
    for (int y = 0; y < 10; y++) {
        const bool processed = y >= 2 && y < 7;
        EXPECT_EQ(processed, o.isDoubled(5, y)) << y;
        EXPECT_TRUE(o.isBlack(0, y, 0)) << y;
        EXPECT_TRUE(o.isBlack(11, y, 0)) << y;
    }
}

// Settings that do not fit the frame are clipped to it.
TEST_P(Borders, TopAndBottomMeetingLeaveEveryRowBlack)
{
    for (auto tb : {std::pair<int, int>{6, 4}, {10, 10}, {100, 100}, {0, 100}, {100, 0}}) {
        Output o(10, 10, 12);
        o.borders(tb.first, tb.second, 50, 50);
        o.run(kernels.nr);
        for (int y = 0; y < 10; y++)
            for (int x = 0; x < 12; x++)
                ASSERT_TRUE(o.isBlack(x, y)) << tb.first << "/" << tb.second << ": " << x << "," << y;
    }
}

TEST_P(Borders, BordersWiderThanTheFrameCoverTheVisibleRowOnly)
{
    Output o(7, 6, 10);
    o.borders(1, 1, 0, 50);
    o.run(kernels.nr);
    for (int y = 1; y < 5; y++) {
        for (int x = 0; x < 7; x++)
            EXPECT_TRUE(o.isBlack(x, y)) << x << "," << y;
        for (int x = 7; x < 10; x++)
            EXPECT_TRUE(o.isDoubled(x, y)) << x << "," << y;
    }
    Output l(7, 6, 10);
    l.borders(0, 0, 40, 0);
    l.run(kernels.nr);
    for (int y = 0; y < 6; y++) {
        EXPECT_TRUE(l.isBlack(6, y));
        EXPECT_TRUE(l.isDoubled(7, y));
    }
}

TEST_P(Borders, NegativeWidthsCountAsZero)
{
    Output o(9, 6, 9), ref(9, 6, 9);
    o.borders(-3, -1, -50, -2);
    o.run(kernels.nr);
    ref.run(kernels.nr);
    EXPECT_EQ(0, memcmp(o.frame.data(), ref.frame.data(), o.frame.size() * sizeof(YcPixel)));
}

INSTANTIATE_AT_EVERY_LEVEL(Borders);

} // namespace
