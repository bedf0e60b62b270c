// The averaging with the doubling joined in, against the two steps in turn.
#include <string.h>

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "host/entry_points.h"
#include "nr/average.h"
#include "nr/output.h"
#include "kernel_levels.h"
#include "pipeline/band_cache.h"

namespace {

using namespace velvane;

struct Case {
    int32_t width, height, stride;
    bool borders;
    int32_t top, bottom, left, right;
};

class AverageDoubled : public ::testing::TestWithParam<Case> {
protected:
    BandCache cache = kEmptyBandCache;
    const FrameHeap heap = {malloc, realloc, free};
    Kernels k = levelKernels(cpuSimdFlags());
    void TearDown() override { releaseBandCache(cache, heap); }
};

TEST_P(AverageDoubled, GivesTheFrameOfAveragingThenOutput)
{
    const Case c = GetParam();
    releaseBandCache(cache, heap);
    ASSERT_TRUE(ensureCacheGeometry(cache, heap, c.width, c.height));
    std::mt19937 rng(c.width * 31 + c.height);
    std::uniform_int_distribution<int> half(-2000, 2000);
    const size_t cells = (size_t)cache.paddedWidth * (cache.alignedHeight + 4);
    for (int slot = 0; slot < kCacheSlots; slot++)
        for (YcPixel *plane : {cache.lowBand[slot], cache.highBand[slot]})
            for (size_t i = 0; i < cells; i++)
                plane[i] = YcPixel{(int16_t)half(rng), (int16_t)half(rng), (int16_t)half(rng)};

    int32_t track[VV_TRACK_COUNT] = {30, 30, 30, 30};
    int32_t check[VV_CHECK_COUNT] = {};
    check[CHECK_BORDERS] = c.borders;
    check[CHECK_CCIR_BLACK] = 1;
    track[TRACK_BORDER_TOP] = c.top;
    track[TRACK_BORDER_BOTTOM] = c.bottom;
    track[TRACK_BORDER_LEFT] = c.left;
    track[TRACK_BORDER_RIGHT] = c.right;

    std::vector<YcPixel> source((size_t)c.stride * c.height);
    for (auto &p : source)
        p = YcPixel{(int16_t)half(rng), (int16_t)half(rng), (int16_t)half(rng)};
    for (int32_t n : {0, 3, 9}) {
        SCOPED_TRACE(n);
        std::vector<YcPixel> twoSteps = source, joined = source;
        FrameJob job{};
        job.width = c.width;
        job.height = c.height;
        job.stride = c.stride;
        job.frameIndex = n;
        job.frameCount = 10;
        job.frame = twoSteps.data();
        selectiveAverage(&job, cache, settingsFromArrays(track, check), k.nr);
        finishOutput(&job, settingsFromArrays(track, check), k.nr);
        job.frame = joined.data();
        ASSERT_TRUE(selectiveAverageDoubled(&job, cache, settingsFromArrays(track, check), k.nr));
        finishOutputBorders(&job, settingsFromArrays(track, check), k.nr);
        EXPECT_EQ(memcmp(twoSteps.data(), joined.data(), joined.size() * sizeof(YcPixel)), 0);
        EXPECT_NE(memcmp(source.data(), joined.data(), joined.size() * sizeof(YcPixel)), 0);

        // Row by row, each row handed on once.
        std::vector<YcPixel> rowWise = source;
        job.frame = rowWise.data();
        std::vector<int> handed(c.height);
        const FrameRowSink sink = {[](void *h, int32_t r, int32_t) { (*static_cast<std::vector<int> *>(h))[r]++; },
                                   &handed};
        ASSERT_TRUE(averageFrameRows(&job, cache, settingsFromArrays(track, check), k.nr, serialTasks(), &sink));
        EXPECT_EQ(memcmp(twoSteps.data(), rowWise.data(), rowWise.size() * sizeof(YcPixel)), 0);
        EXPECT_EQ(handed, std::vector<int>(c.height, 1));
    }
}

TEST_P(AverageDoubled, DoublesNothingWhenItAveragesNothing)
{
    const Case c = GetParam();
    releaseBandCache(cache, heap);
    ASSERT_TRUE(ensureCacheGeometry(cache, heap, c.width + 4, c.height)); // a cache of another size
    int32_t track[VV_TRACK_COUNT] = {};
    int32_t check[VV_CHECK_COUNT] = {};
    std::vector<YcPixel> frame((size_t)c.stride * c.height, YcPixel{3, 5, 7});
    FrameJob job{};
    job.frame = frame.data();
    job.width = c.width;
    job.height = c.height;
    job.stride = c.stride;
    job.frameCount = 10;
    EXPECT_FALSE(selectiveAverageDoubled(&job, cache, settingsFromArrays(track, check), k.nr));
    EXPECT_FALSE(averageFrameRows(&job, cache, settingsFromArrays(track, check), k.nr, serialTasks(), nullptr));
    for (const YcPixel &p : frame)
        ASSERT_TRUE(p.y == 3 && p.cb == 5 && p.cr == 7);
}

INSTANTIATE_TEST_SUITE_P(Frames, AverageDoubled,
                         ::testing::Values(Case{16, 8, 16, false, 0, 0, 0, 0}, Case{13, 9, 20, true, 1, 2, 3, 2},
                                           Case{14, 10, 14, true, 0, 3, 0, 5}, Case{720, 480, 720, true, 8, 8, 4, 6}));

} // namespace
