// The two-phase detail shrink of one column (h = 480 unless stated).
#include <math.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <vector>

#include "wavelet_test_support.h"

namespace velvane::test {
namespace {

constexpr int32_t N = kWaveLength;

class Shrink : public LevelTest {
protected:
    ScratchGuard guard;
    AlignedFloats plane{(size_t)N * N};
    float &at(int32_t i, int32_t c) { return plane[(size_t)i * N + c]; }

    template <class F> void fillColumn(int32_t c, int32_t h, F f)
    {
        for (int32_t i = 0; i < h; i++)
            at(i, c) = f(i);
    }
};

TEST_P(Shrink, AllZeroStaysZero)
{
    dsp.shrinkColumns(plane.p, 400, 8, 480, guard.work().shrink);
    for (size_t i = 0; i < plane.size; i++)
        { uint32_t b; memcpy(&b, &plane[i], 4); ASSERT_EQ(b, 0u) << i; }
}

TEST_P(Shrink, ConstantAndRampUnchangedAwayFromTheEnds)
{
    const int32_t h = 480;
    fillColumn(401, h, [](int32_t) { return 100.0f; });
    fillColumn(402, h, [](int32_t i) { return (float)i; });
    dsp.shrinkColumns(plane.p, 401, 2, h, guard.work().shrink);
    for (int32_t i = 8; i < h - 8; i++)
        EXPECT_NEAR(at(i, 401), 100.0f, 0.1f) << i;
    for (int32_t i = 0; i < h - 8; i++)
        EXPECT_NEAR(at(i, 402), (float)i, 1e-3 * std::max(1, i)) << i;
    // Both ends of the constant column look like steps and are altered.
    EXPECT_GT(fabsf(at(h - 1, 401) - 100.0f), 0.1f);
}

TEST_P(Shrink, TwoUpTwoDownIsHalved)
{
    const int32_t h = 480;
    const float vs[] = {1.0f, 3.0f, 20.0f, 1000.0f, -7.25f};
    for (int c = 0; c < 5; c++) {
        float v = vs[c];
        fillColumn(500 + c, h, [v](int32_t i) { return (i & 2) ? -v : v; });
    }
    dsp.shrinkColumns(plane.p, 500, 5, h, guard.work().shrink);
    for (int c = 0; c < 5; c++) {
        float v = vs[c];
        for (int32_t i = 8; i < h - 7; i++)
            ASSERT_NEAR(at(i, 500 + c), ((i & 2) ? -v : v) * 0.5f, 1e-4 * fabsf(v)) << "v=" << v << " i=" << i;
    }
}

TEST_P(Shrink, NegatingOrDoublingCarriesThroughExactly)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-300.0f, 300.0f);
    for (int32_t h : {1, 2, 37, 480, 800}) {
        for (int32_t i = 0; i < h; i++) {
            float x = u(rng);
            at(i, 600) = x;
            at(i, 601) = -x;
            at(i, 602) = 2 * x;
        }
        dsp.shrinkColumns(plane.p, 600, 3, h, guard.work().shrink);
        for (int32_t i = 0; i < h; i++) {
            ASSERT_EQ(at(i, 601), -at(i, 600)) << "h=" << h << " i=" << i;
            ASSERT_EQ(at(i, 602), 2 * at(i, 600)) << "h=" << h << " i=" << i;
        }
    }
}

TEST_P(Shrink, TouchesOnlyItsColumnsAndRows)
{
    std::mt19937 rng(12);
    std::uniform_real_distribution<float> u(-300.0f, 300.0f);
    for (size_t i = 0; i < plane.size; i++)
        plane[i] = u(rng);
    std::vector<float> before(plane.p, plane.p + plane.size);
    const int32_t h = 123, first = 413, count = 19;
    dsp.shrinkColumns(plane.p, first, count, h, guard.work().shrink);
    int changed = 0;
    for (int32_t i = 0; i < N; i++)
        for (int32_t c = 0; c < N; c++) {
            bool inside = i < h && c >= first && c < first + count;
            if (!inside)
                ASSERT_EQ(memcmp(&at(i, c), &before[(size_t)i * N + c], 4), 0) << i << "," << c;
            else
                changed += at(i, c) != before[(size_t)i * N + c];
        }
    EXPECT_GT(changed, count * h / 2);
}

// Work memory is written before it is read: stale contents change nothing.
TEST_P(Shrink, ResultDoesNotDependOnLeftoverWorkRows)
{
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> u(-50.0f, 50.0f);
    fillColumn(450, 300, [&](int32_t) { return u(rng); });
    for (int32_t i = 0; i < 300; i++)
        at(i, 451) = at(i, 450);
    std::fill_n(guard.work().shrink, kShrinkWorkFloats, 1e30f);
    dsp.shrinkColumns(plane.p, 450, 1, 300, guard.work().shrink);
    std::fill_n(guard.work().shrink, kShrinkWorkFloats, -3.0f);
    dsp.shrinkColumns(plane.p, 451, 1, 300, guard.work().shrink);
    for (int32_t i = 0; i < 300; i++)
        ASSERT_EQ(at(i, 450), at(i, 451)) << i;
}

VELVANE_INSTANTIATE_LEVELS(Shrink);

} // namespace
} // namespace velvane::test
