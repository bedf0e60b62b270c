#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include "host/entry_points.h"
#include "kernel_levels.h"
#include "nr/average.h"
#include "pipeline/band_cache.h"

namespace {

using namespace velvane;

// A band plane laid out as the cache lays it out.
struct Plane {
    int32_t aw, ah;
    std::vector<YcPixel> cells;
    Plane(int32_t alignedWidth, int32_t alignedHeight, YcPixel fill = {0, 0, 0})
        : aw(alignedWidth), ah(alignedHeight), cells((size_t)(alignedHeight + 4) * (alignedWidth + 4), fill)
    {
    }
    YcPixel &at(int32_t x, int32_t y) { return cells[(size_t)(y + 2) * (aw + 4) + x + 2]; }
    void randomise(std::mt19937 &rng, int lo, int hi)
    {
        std::uniform_int_distribution<int> d(lo, hi);
        for (auto &p : cells)
            p = YcPixel{(int16_t)d(rng), (int16_t)d(rng), (int16_t)d(rng)};
    }
};

// The bands of previous, current and next frame and a frame buffer.
struct Scene {
    int32_t w, h, stride, aw, ah;
    Plane lowPrev, lowCur, lowNext, highPrev, highCur, highNext;
    std::vector<YcPixel> frame;
    FrameJob job = {};
    int32_t track[VV_TRACK_COUNT] = {};
    int32_t check[VV_CHECK_COUNT] = {};
    MovingThresholds moving;

    Scene(int32_t width, int32_t height, int32_t lineStride = 0)
        : w(width), h(height), stride(lineStride ? lineStride : width), aw((width + 3) & ~3),
          ah((height + 1) & ~1), lowPrev(aw, ah), lowCur(aw, ah), lowNext(aw, ah), highPrev(aw, ah),
          highCur(aw, ah), highNext(aw, ah), frame((size_t)stride * height, YcPixel{-7, -7, -7})
    {
        job.frame = frame.data();
        job.width = w;
        job.height = h;
        job.stride = stride;
        job.frameIndex = 5;
        job.frameCount = 10;
    }
    YcPixel &out(int32_t x, int32_t y) { return frame[(size_t)y * stride + x]; }
    void run(const NrDsp &dsp)
    {
        AverageBands b = {lowCur.cells.data(),  lowPrev.cells.data(),  lowNext.cells.data(),
                          highCur.cells.data(), highPrev.cells.data(), highNext.cells.data(),
                          aw,                   ah};
        FrameSettings settings = settingsFromArrays(track, check);
        settings.moving = moving;
        averageBands(&job, b, settings, dsp);
    }
};

using Averaging = AtEveryLevel;

TEST_P(Averaging, WorkedExampleOfTheLowBand)
{
    Scene s(16, 4);
    s.track[TRACK_LUMA_LOW] = 2; // Ty = 8
    // Row 2 has partner row 3.
    s.lowCur.at(5, 2).y = 100;
    s.lowPrev.at(5, 2).y = 104;
    s.lowNext.at(5, 2).y = 108;
    s.lowCur.at(5, 3).y = 95;
    s.lowPrev.at(5, 3).y = 92;
    s.lowNext.at(5, 3).y = 100;
    s.run(kernels.nr);
    EXPECT_EQ(100, s.out(5, 2).y); // 499 / 5 = 99.8
}

TEST_P(Averaging, AllThresholdsZeroGiveLowPlusHigh)
{
    Scene s(36, 6, 40);
    std::mt19937 rng(4);
    for (Plane *p : {&s.lowPrev, &s.lowCur, &s.lowNext, &s.highPrev, &s.highCur, &s.highNext})
        p->randomise(rng, -16384, 16383); // doubled centres do not saturate
    s.run(kernels.nr);
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 36; x++)
            for (int k = 0; k < 3; k++) {
                int32_t v = (&s.lowCur.at(x, y).y)[k] + (&s.highCur.at(x, y).y)[k];
                v = v > 32767 ? 32767 : v < -32768 ? -32768 : v;
                ASSERT_EQ(v, (&s.out(x, y).y)[k]) << x << "," << y << "," << k;
            }
    for (int y = 0; y < 6; y++)
        for (int x = 36; x < 40; x++)
            EXPECT_EQ(-7, s.out(x, y).y) << "beyond alignedWidth";
}

TEST_P(Averaging, ThresholdsAreStrict)
{
    Scene s(8, 2);
    s.track[TRACK_LUMA_LOW] = 1; // Ty = 4
    s.lowCur.at(0, 0).y = 100;
    s.lowNext.at(0, 0).y = 96; // exactly T away
    s.lowCur.at(1, 0).y = 100;
    s.lowNext.at(1, 0).y = 97; // T - 1 away
    s.lowCur.at(2, 0).y = 100;
    s.lowNext.at(2, 0).y = 104;
    s.lowCur.at(3, 0).y = 100;
    s.lowNext.at(3, 0).y = 103;
    // the partner row (1) holds 0: far away
    s.run(kernels.nr);
    EXPECT_EQ(100, s.out(0, 0).y);
    EXPECT_EQ(99, s.out(1, 0).y); // 297 / 3
    EXPECT_EQ(100, s.out(2, 0).y);
    EXPECT_EQ(101, s.out(3, 0).y); // 303 / 3
}

TEST_P(Averaging, HighBandLumaThresholdIsEightTimesTheTrack)
{
    Scene s(8, 2);
    s.track[TRACK_LUMA_HIGH] = 1;
    s.track[TRACK_LUMA_LOW] = 1;
    for (int x = 0; x < 8; x++)
        for (int y = 0; y < 2; y++) {
            s.highCur.at(x, y).y = 1000;
            s.lowCur.at(x, y).y = 1000;
            s.lowNext.at(x, y).y = 5000;
        }
    s.highNext.at(0, 0).y = 1007; // selected: within 8
    s.highNext.at(1, 0).y = 1008; // not
    s.lowNext.at(2, 0).y = 1003;  // selected: within 4
    s.lowNext.at(3, 0).y = 1004;  // not
    s.lowCur.at(2, 1).y = 5000;   // partners far away
    s.lowCur.at(3, 1).y = 5000;
    s.run(kernels.nr);
    EXPECT_EQ(1000 + 1002, s.out(0, 0).y); // 3007 / 3 = 1002.3
    EXPECT_EQ(2000, s.out(1, 0).y);
    EXPECT_EQ(1001 + 1000, s.out(2, 0).y); // 3003 / 3
    EXPECT_EQ(2000, s.out(3, 0).y);
}

TEST_P(Averaging, ChromaComponentsAreSelectedIndependently)
{
    Scene s(8, 2);
    s.track[TRACK_CHROMA_LOW] = 2; // Tc = 8
    s.lowCur.at(4, 0) = YcPixel{0, 100, 100};
    s.lowNext.at(4, 0) = YcPixel{0, 106, 400}; // cb close, cr far
    s.lowCur.at(4, 1) = YcPixel{0, -500, -500};
    s.run(kernels.nr);
    EXPECT_EQ(102, s.out(4, 0).cb); // 306 / 3
    EXPECT_EQ(100, s.out(4, 0).cr);
}

TEST_P(Averaging, PartnerRowIsTheOtherLineOfThePair)
{
    Scene s(8, 6);
    s.track[TRACK_LUMA_LOW] = 5; // Ty = 20
    const int16_t rows[6] = {0, 1000, 2000, 2010, 2015, 5000};
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 8; x++) {
            s.lowCur.at(x, y).y = rows[y];
            s.lowPrev.at(x, y).y = s.lowNext.at(x, y).y = -9999;
        }
    s.run(kernels.nr);
    EXPECT_EQ(2003, s.out(2, 2).y); // with row 3: 6010 / 3 = 2003.3
    EXPECT_EQ(2007, s.out(2, 3).y); // with row 2, not 4: 6020 / 3 = 2006.7
    EXPECT_EQ(2015, s.out(2, 4).y); // with row 5, too far, not 3
}

TEST_P(Averaging, AnOddFirstProcessedRowPairsWithRowZero)
{
    Scene s(8, 6);
    s.check[CHECK_BORDERS] = 1;
    s.track[TRACK_BORDER_TOP] = 1;
    s.track[TRACK_LUMA_LOW] = 5;
    s.lowCur.at(3, 1).y = 300;
    s.lowCur.at(3, 0).y = 309;
    s.lowCur.at(3, 2).y = 291; // row 1 must not pair with row 2
    s.lowPrev.at(3, 1).y = s.lowNext.at(3, 1).y = 9000;
    s.lowPrev.at(3, 0).y = s.lowNext.at(3, 0).y = 9000;
    s.run(kernels.nr);
    EXPECT_EQ(303, s.out(3, 1).y);
    EXPECT_EQ(-7, s.out(3, 0).y) << "row 0 is a border row";
}

TEST_P(Averaging, PreviousFrameCanBeLeftOutOfBothPasses)
{
    Scene s(8, 2);
    s.track[TRACK_LUMA_LOW] = 5;  // 20
    s.track[TRACK_LUMA_HIGH] = 5; // 40
    s.lowCur.at(0, 0).y = 100;
    s.lowPrev.at(0, 0).y = 110;
    s.lowCur.at(0, 1).y = -999;
    s.lowPrev.at(0, 1).y = -999;
    s.lowNext.at(0, 0).y = -999;
    s.lowNext.at(0, 1).y = -999;
    s.highCur.at(1, 0).y = 50;
    s.highPrev.at(1, 0).y = 59;
    s.highNext.at(1, 0).y = 999;
    s.run(kernels.nr);
    EXPECT_EQ(103, s.out(0, 0).y); // 310 / 3
    EXPECT_EQ(53, s.out(1, 0).y);  // 159 / 3
    s.check[CHECK_NO_PREVIOUS] = 1;
    s.run(kernels.nr);
    EXPECT_EQ(100, s.out(0, 0).y);
    EXPECT_EQ(50, s.out(1, 0).y);
    s.highNext.at(1, 0).y = 53;
    s.run(kernels.nr);
    EXPECT_EQ(51, s.out(1, 0).y); // 153 / 3 with the next frame still in
}

TEST_P(Averaging, QuotientIsExactDivisionRoundedToEven)
{
    Scene s(8, 2);
    s.track[TRACK_LUMA_LOW] = 2; // Ty = 8
    for (int x = 0; x < 8; x++)
        for (int y = 0; y < 2; y++)
            s.lowCur.at(x, y).y = s.lowPrev.at(x, y).y = s.lowNext.at(x, y).y = 5000;
    auto place = [&](int x, int ctr, int prev, int next, int curP, int prevP, int nextP) {
        s.lowCur.at(x, 0).y = (int16_t)ctr;
        s.lowPrev.at(x, 0).y = (int16_t)prev;
        s.lowNext.at(x, 0).y = (int16_t)next;
        s.lowCur.at(x, 1).y = (int16_t)curP;
        s.lowPrev.at(x, 1).y = (int16_t)prevP;
        s.lowNext.at(x, 1).y = (int16_t)nextP;
    };
    place(0, 5, 0, 0, 5000, 5000, 5000);  // 10 / 4 = 2.5 -> 2
    place(1, 7, 0, 0, 5000, 5000, 5000);  // 14 / 4 = 3.5 -> 4
    place(2, 0, 1, 1, 1, 0, 5000);        // 3 / 6 = 0.5 -> 0 (a reciprocal estimate gives 1)
    place(3, 1, 1, 1, 1, 5000, 5000);     // 5 / 5 = 1
    place(4, -5, 0, 0, 5000, 5000, 5000); // -10 / 4 = -2.5 -> -2
    place(5, 3, 0, 0, 0, 0, 3);           // 9 / 7 = 1.29 -> 1
    place(6, 0, 1, 1, 1, 1, 1);           // 5 / 7 = 0.71 -> 1
    s.run(kernels.nr);
    const int expected[7] = {2, 4, 0, 1, -2, 1, 1};
    for (int x = 0; x < 7; x++)
        EXPECT_EQ(expected[x], s.out(x, 0).y) << x;
}

TEST_P(Averaging, SumsBoundsAndTheSecondPassSaturate)
{
    Scene s(8, 2);
    s.track[TRACK_LUMA_LOW] = 20;  // 80
    s.track[TRACK_LUMA_HIGH] = 20; // 160
    for (Plane *p : {&s.lowPrev, &s.lowCur, &s.lowNext})
        for (auto &c : p->cells)
            c = YcPixel{20000, -32768, 32767};
    for (Plane *p : {&s.highPrev, &s.highCur, &s.highNext})
        for (auto &c : p->cells)
            c = YcPixel{30000, -32768, 0};
    s.run(kernels.nr);
    // Luma: both sums stick at 32767; the low weight reaches 7, the high 4.
    EXPECT_EQ((int)lrint(32767.0 / 7) + (int)lrint(32767.0 / 4), s.out(0, 0).y);
    // Chroma at -32768: the lower bound saturates to -32768 and a neighbour
    // equal to it is not above it, so nothing is selected: -16384 twice.
    EXPECT_EQ(-32768, s.out(0, 0).cb);
    // cr at 32767: the upper bound saturates, nothing is selected, and
    // 32767 / 2 rounds to the even 16384; the high band adds 0.
    EXPECT_EQ(16384, s.out(0, 0).cr);

    // 16384 from each pass: the second pass's addition saturates.
    for (Plane *p : {&s.lowCur, &s.highCur})
        for (auto &c : p->cells)
            c = YcPixel{16384, 16500, -16500};
    s.track[TRACK_LUMA_LOW] = s.track[TRACK_LUMA_HIGH] = 0;
    s.run(kernels.nr);
    EXPECT_EQ(32767, s.out(0, 0).y);
    EXPECT_EQ(32767, s.out(0, 0).cb);
    EXPECT_EQ(-32768, s.out(0, 0).cr);
}

TEST_P(Averaging, BorderRowsAreNotTouched)
{
    Scene s(12, 20);
    std::mt19937 rng(8);
    for (Plane *p : {&s.lowPrev, &s.lowCur, &s.lowNext, &s.highPrev, &s.highCur, &s.highNext})
        p->randomise(rng, -100, 100);
    s.check[CHECK_BORDERS] = 1;
    s.track[TRACK_BORDER_TOP] = 2;
    s.track[TRACK_BORDER_BOTTOM] = 3;
    s.run(kernels.nr);
    for (int y = 0; y < 20; y++) {
        const bool processed = y >= 2 && y <= 16;
        EXPECT_EQ(processed, s.out(0, y).y != -7 || s.out(0, y).cb != -7 || s.out(0, y).cr != -7) << y;
    }
    // With the borders off every row is processed.
    s.check[CHECK_BORDERS] = 0;
    s.run(kernels.nr);
    for (int y = 0; y < 20; y++)
        EXPECT_FALSE(s.out(5, y).y == -7 && s.out(5, y).cb == -7 && s.out(5, y).cr == -7) << y;
}

TEST_P(Averaging, BordersFillingTheFrameLeaveNothingToProcess)
{
    Scene s(8, 6);
    s.check[CHECK_BORDERS] = 1;
    s.track[TRACK_BORDER_TOP] = 4;
    s.track[TRACK_BORDER_BOTTOM] = 2;
    s.run(kernels.nr);
    for (auto &p : s.frame)
        ASSERT_EQ(-7, p.y);
    s.track[TRACK_BORDER_TOP] = 100;
    s.track[TRACK_BORDER_BOTTOM] = 100;
    s.run(kernels.nr);
    for (auto &p : s.frame)
        ASSERT_EQ(-7, p.y);
}

TEST_P(Averaging, ColumnsFromTheStrideOnAreNotStored)
{
    // Width 6: the cache holds 8 columns, the host's rows are 6 apart.
    Scene s(6, 4, 6);
    for (Plane *p : {&s.lowCur})
        for (auto &c : p->cells)
            c = YcPixel{11, 22, 33};
    s.check[CHECK_BORDERS] = 1;
    s.track[TRACK_BORDER_BOTTOM] = 1;
    s.run(kernels.nr);
    for (int x = 0; x < 6; x++)
        EXPECT_EQ(11, s.out(x, 2).y);
    for (int x = 0; x < 6; x++)
        EXPECT_EQ(-7, s.out(x, 3).y) << "row 3 is not processed and nothing spills into it";
}

TEST_P(Averaging, PartsThatMoveWithoutInvertingTakeTheMovingThresholds)
{
    // Segments of 16 pixels, the last one taking in the rest (48 .. 69):
    // moved and still in the low band, the high band still (+30 against +20
    // in both neighbours) or inverting (+30 against -30).
    enum Part { Moves, MovesInverting, Still, MovesToTheEnd };
    const Part parts[4] = {Moves, MovesInverting, Still, MovesToTheEnd};
    Scene s(70, 4);
    s.track[TRACK_LUMA_HIGH] = 20; // 160: takes in both neighbours
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 70; x++) {
            const Part part = parts[x / 16 < 3 ? x / 16 : 3];
            s.lowCur.at(x, y).y = s.lowPrev.at(x, y).y = 800;
            s.lowNext.at(x, y).y = part == Still ? 800 : 840; // five code values
            const int16_t other = part == MovesInverting ? -30 : 20;
            s.highCur.at(x, y).y = 30;
            s.highPrev.at(x, y).y = s.highNext.at(x, y).y = other;
        }
    const int16_t wide[4] = {800 + 25, 800 + 0, 800 + 25, 800 + 25}; // (2 x 30 + both) / 4
    s.run(kernels.nr);
    for (int x = 0; x < 70; x++)
        ASSERT_EQ(wide[parts[x / 16 < 3 ? x / 16 : 3]], s.out(x, 2).y) << "no moving thresholds: x " << x;

    s.moving.bound = 8; // a code value
    s.moving.lumaHigh = 0;
    s.run(kernels.nr);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 70; x++) {
            const Part part = parts[x / 16 < 3 ? x / 16 : 3];
            const int16_t want = part == Moves || part == MovesToTheEnd ? 800 + 30 : wide[part];
            ASSERT_EQ(want, s.out(x, y).y) << "x " << x << ", y " << y;
        }

    s.moving.bound = 8 * 6; // the change is below it
    s.run(kernels.nr);
    for (int x = 0; x < 70; x++)
        ASSERT_EQ(wide[parts[x / 16 < 3 ? x / 16 : 3]], s.out(x, 1).y) << "x " << x;
}

INSTANTIATE_AT_EVERY_LEVEL(Averaging);

// selectiveAverage itself: the slots it reads from the band cache.
class CacheSlots : public ::testing::Test {
protected:
    BandCache cache = kEmptyBandCache;
    const FrameHeap heap = {malloc, realloc, free};
    Kernels k = levelKernels(cpuSimdFlags());
    void SetUp() override
    {
        releaseBandCache(cache, heap);
        ASSERT_TRUE(ensureCacheGeometry(cache, heap, 8, 2));
        for (int slot = 0; slot < kCacheSlots; slot++) {
            Plane low(8, 2, YcPixel{(int16_t)(100 + slot), 0, 0}), high(8, 2);
            memcpy(cache.lowBand[slot], low.cells.data(), low.cells.size() * sizeof(YcPixel));
            memcpy(cache.highBand[slot], high.cells.data(), high.cells.size() * sizeof(YcPixel));
        }
        job.frame = frame.data();
        job.width = 8;
        job.height = 2;
        job.stride = 8;
        job.frameCount = 20;
        track[TRACK_LUMA_LOW] = 1; // Ty = 4: slots one apart are selected
    }
    void TearDown() override { releaseBandCache(cache, heap); }
    int16_t averageOf(int32_t n)
    {
        job.frameIndex = n;
        selectiveAverage(&job, cache, settingsFromArrays(track, check), k.nr);
        return frame[0].y;
    }
    std::vector<YcPixel> frame = std::vector<YcPixel>(16);
    FrameJob job = {};
    int32_t track[VV_TRACK_COUNT] = {};
    int32_t check[VV_CHECK_COUNT] = {};
};

TEST_F(CacheSlots, NeighboursComeFromTheSlotsOfTheAdjacentFrames)
{
    // n = 7 in slot 2 (102), previous slot 1 (101), next slot 3 (103):
    // (204 + 101 + 103 + 102 + 101 + 103) / 7 = 102.
    EXPECT_EQ(102, averageOf(7));
    // n = 5 in slot 0 (100): slots 4 (104) and 1 (101); only 101 is near.
    // (200 + 101 + 100 + 101) / 5 = 100.4
    EXPECT_EQ(100, averageOf(5));
    // n = 9 in slot 4 (104): slots 3 (103) and 0 (100).
    // (208 + 103 + 104 + 103) / 5 = 103.6
    EXPECT_EQ(104, averageOf(9));
}

TEST_F(CacheSlots, AFrameOfAnotherSizeThanTheCacheIsLeftAlone)
{
    frame.assign(frame.size(), YcPixel{-5, -5, -5});
    job.width = 12; // the cache holds 8-pixel rows
    job.frameIndex = 7;
    selectiveAverage(&job, cache, settingsFromArrays(track, check), k.nr);
    for (const YcPixel &p : frame)
        ASSERT_EQ(-5, p.y);
    job.width = 8;
    job.frameIndex = -1;
    selectiveAverage(&job, cache, settingsFromArrays(track, check), k.nr);
    for (const YcPixel &p : frame)
        ASSERT_EQ(-5, p.y);
}

TEST_F(CacheSlots, TheFirstAndLastFrameUseTheCurrentFrameForTheMissingOne)
{
    // Slot 4 holds 104; a wrong previous slot (4 for n - 1 = -1) is avoided.
    // n = 0, slot 0 (100): previous = itself, next slot 1 (101); every sample
    // is near: (200 + 100 + 101 + 100 + 100 + 101) / 7 = 100.3.
    EXPECT_EQ(100, averageOf(0));
    cache.lowBand[0][2 * 12 + 2].y = 103; // centre of pixel (0, 0)
    // 206 + 103 (itself as previous) + 101 (next) + 100 + 100 + 101 = 711 / 7 = 101.57
    EXPECT_EQ(102, averageOf(0));
    // The last frame, n = 19 in slot 4 (104): next = itself, previous slot 3.
    EXPECT_EQ(104, averageOf(19)); // (208 + 103 + 104 + 104 + 103 + 104) / 7 = 103.7
}

} // namespace
