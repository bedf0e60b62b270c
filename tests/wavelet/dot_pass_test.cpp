// The dot-interference pass on whole frames.
#include <math.h>
#include <string.h>

#include <array>
#include <functional>
#include <random>
#include <vector>

#include "wavelet/dot_pass.h"
#include "wavelet_test_support.h"

namespace velvane::test {
namespace {

struct Frames {
    int32_t w, h, stride;
    std::vector<YcPixel> prev, cur, next;
    FrameJob job{};

    Frames(int32_t w_, int32_t h_, int32_t stride_, uint32_t seed)
        : w(w_), h(h_), stride(stride_), prev(size()), cur(size()), next(size())
    {
        // Random chroma and padding, so that stray writes show.
        std::mt19937 rng(seed);
        for (auto *f : {&prev, &cur, &next})
            for (auto &p : *f)
                p = YcPixel{(int16_t)rng(), (int16_t)rng(), (int16_t)rng()};
        job.width = w;
        job.height = h;
        job.stride = stride;
        job.maxHeight = h;
    }
    size_t size() const { return (size_t)stride * h; }
    YcPixel &at(std::vector<YcPixel> &f, int32_t i, int32_t j) { return f[(size_t)i * stride + j]; }

    // cur.y = picture + s, prev.y = next.y = picture, so the mean is the picture.
    void setSignal(const std::function<int(int32_t, int32_t)> &picture, const std::function<int(int32_t, int32_t)> &s)
    {
        for (int32_t i = 0; i < h; i++)
            for (int32_t j = 0; j < w; j++) {
                at(prev, i, j).y = at(next, i, j).y = (int16_t)picture(i, j);
                at(cur, i, j).y = (int16_t)(picture(i, j) + s(i, j));
            }
    }
};

int smoothPicture(int32_t i, int32_t j) { return 600 + (int)(200 * sin(i * 0.03) * cos(j * 0.02)) + i / 4; }

class DotPass : public LevelTest {
protected:
    ScratchGuard guard;

    void run(Frames &f, const YcPixel *prev = nullptr, const YcPixel *next = nullptr)
    {
        dotPass(dsp, guard.work(), &f.job, prev ? prev : f.prev.data(), f.cur.data(), next ? next : f.next.data());
    }

    // Expects out.y - mean = want(i, j) to within one level, 8 pixels inside the border.
    void expectInterior(Frames &f, const std::vector<YcPixel> &out, const std::function<double(int32_t, int32_t)> &want,
                        const char *what)
    {
        int bad = 0;
        for (int32_t i = 8; i < f.h - 8; i++)
            for (int32_t j = 8; j < f.w - 8; j++) {
                const YcPixel &o = out[(size_t)i * f.stride + j];
                int mean = (f.at(f.prev, i, j).y + f.at(f.next, i, j).y) >> 1;
                if (fabs(o.y - mean - want(i, j)) > 1.0 && bad++ < 5)
                    ADD_FAILURE() << what << ": at " << i << "," << j << " got " << o.y - mean << " want "
                                  << want(i, j);
            }
        EXPECT_EQ(bad, 0) << what;
    }
};

TEST_P(DotPass, IdenticalNeighboursLeaveTheFrameUnchanged)
{
    Frames f(257, 99, 260, 1);
    f.prev = f.cur;
    f.next = f.cur;
    const auto before = f.cur;
    run(f);
    EXPECT_EQ(memcmp(f.cur.data(), before.data(), before.size() * sizeof(YcPixel)), 0);
}

TEST_P(DotPass, InvertingDotPatternIsRemovedFromStillPicture)
{
    for (int v : {3, 10, 40}) {
        Frames f(720, 480, 720, 2);
        auto dots = [v](int32_t i, int32_t j) { return ((j & 1) ? -v : v) * ((i & 2) ? -1 : 1); };
        for (int32_t i = 0; i < f.h; i++)
            for (int32_t j = 0; j < f.w; j++) {
                int p = smoothPicture(i, j);
                f.at(f.cur, i, j).y = (int16_t)(p + dots(i, j));
                f.at(f.prev, i, j).y = f.at(f.next, i, j).y = (int16_t)(p - dots(i, j));
            }
        run(f);
        int bad = 0;
        for (int32_t i = 8; i < f.h - 8; i++)
            for (int32_t j = 8; j < f.w - 8; j++)
                bad += abs(f.at(f.cur, i, j).y - smoothPicture(i, j)) > 1;
        EXPECT_EQ(bad, 0) << "v=" << v;
    }
}

TEST_P(DotPass, SignalsThatRiseAndFallByTwosAreHalved)
{
    Frames f(400, 300, 404, 3);
    auto across = [](int32_t, int32_t j) { return (j & 1) ? -24 : 24; };
    f.setSignal(smoothPicture, [&](int32_t i, int32_t j) { return across(i, j) * ((i & 2) ? -1 : 1); });
    auto out = f.cur;
    dotPass(dsp, guard.work(), &f.job, f.prev.data(), out.data(), f.next.data());
    expectInterior(f, out, [&](int32_t i, int32_t j) { return 0.5 * across(i, j) * ((i & 2) ? -1 : 1); },
                   "alternating across");

    f.setSignal(smoothPicture, [](int32_t i, int32_t j) { return ((i & 2) ? -16 : 16) * ((j & 2) ? -1 : 1); });
    out = f.cur;
    dotPass(dsp, guard.work(), &f.job, f.prev.data(), out.data(), f.next.data());
    expectInterior(f, out, [](int32_t i, int32_t j) { return ((i & 2) ? -8 : 8) * ((j & 2) ? -1 : 1); },
                   "by twos both ways");
}

TEST_P(DotPass, StripesAndConstantsPassUnchanged)
{
    struct Case {
        const char *name;
        std::function<int(int32_t, int32_t)> s;
    } cases[] = {
        {"vertical stripes", [](int32_t, int32_t j) { return (j & 1) ? -30 : 30; }},
        {"horizontal stripes", [](int32_t i, int32_t) { return (i & 1) ? -30 : 30; }},
        {"constant", [](int32_t, int32_t) { return 45; }},
        {"negative constant", [](int32_t, int32_t) { return -45; }},
    };
    for (const Case &c : cases) {
        Frames f(333, 201, 333, 4);
        f.setSignal(smoothPicture, c.s);
        auto out = f.cur;
        dotPass(dsp, guard.work(), &f.job, f.prev.data(), out.data(), f.next.data());
        expectInterior(f, out, [&](int32_t i, int32_t j) { return (double)c.s(i, j); }, c.name);
    }
}

TEST_P(DotPass, CheckerboardDependsOnAmplitude)
{
    for (int v : {7, 14, 20}) {
        Frames f(720, 480, 720, 5);
        f.setSignal(smoothPicture, [v](int32_t i, int32_t j) { return ((i ^ j) & 1) ? -v : v; });
        auto out = f.cur;
        dotPass(dsp, guard.work(), &f.job, f.prev.data(), out.data(), f.next.data());
        const double gain = v == 20 ? 0.5 : 1.0;
        expectInterior(f, out, [&](int32_t i, int32_t j) { return gain * (((i ^ j) & 1) ? -v : v); },
                       v == 20 ? "checkerboard 20 halved" : "checkerboard 7/14 kept");
    }
}

TEST_P(DotPass, WritesOnlyTheLumaWithinTheFrame)
{
    Frames f(123, 45, 131, 6);
    std::mt19937 rng(60);
    for (int32_t i = 0; i < f.h; i++)
        for (int32_t j = 0; j < f.w; j++)
            f.at(f.cur, i, j).y = (int16_t)(f.at(f.prev, i, j).y / 2 + (int)(rng() % 200) - 100);
    const auto before = f.cur;
    run(f);
    int lumaChanged = 0;
    for (int32_t i = 0; i < f.h; i++)
        for (int32_t j = 0; j < f.stride; j++) {
            const YcPixel &a = f.at(f.cur, i, j), &b = before[(size_t)i * f.stride + j];
            ASSERT_EQ(a.cb, b.cb);
            ASSERT_EQ(a.cr, b.cr);
            if (j >= f.w)
                ASSERT_EQ(a.y, b.y) << "beyond the width at " << i << "," << j;
            else
                lumaChanged += a.y != b.y;
        }
    EXPECT_GT(lumaChanged, 0);
}

TEST_P(DotPass, MeanRoundsDownAndSumKeepsLow16Bits)
{
    // Neighbours 1 and 2: mean 1 (floor of 1.5); -1 and -2: mean -2.
    Frames f(64, 16, 64, 7);
    for (int32_t i = 0; i < f.h; i++)
        for (int32_t j = 0; j < f.w; j++) {
            bool neg = j >= 32;
            f.at(f.prev, i, j).y = neg ? -1 : 1;
            f.at(f.next, i, j).y = neg ? -2 : 2;
            f.at(f.cur, i, j).y = neg ? -2 : 1; // difference signal zero with floor rounding
        }
    const auto before = f.cur;
    run(f);
    EXPECT_EQ(memcmp(f.cur.data(), before.data(), before.size() * sizeof(YcPixel)), 0);

    // The largest difference: neighbours at -32768, cur at 32767 (s = 65535).
    // The interior comes back as it went in; the ends of the rows and columns
    // look like steps and overshoot, and there the sum wraps rather than clamps.
    Frames g(64, 32, 64, 8);
    for (int32_t i = 0; i < g.h; i++)
        for (int32_t j = 0; j < g.w; j++) {
            g.at(g.prev, i, j).y = g.at(g.next, i, j).y = -32768;
            g.at(g.cur, i, j).y = 32767;
        }
    run(g);
    int interiorKept = 0, wrapped = 0;
    for (int32_t i = 0; i < g.h; i++)
        for (int32_t j = 0; j < g.w; j++) {
            int16_t y = g.at(g.cur, i, j).y;
            if (i >= 8 && i < g.h - 8 && j >= 8 && j < g.w - 8)
                interiorKept += y >= 32766;
            wrapped += y < -16384;
        }
    EXPECT_EQ(interiorKept, (g.h - 16) * (g.w - 16));
    EXPECT_GT(wrapped, 0);
}

TEST_P(DotPass, SameCopyForBothNeighbours)
{
    Frames f(200, 120, 200, 9);
    f.setSignal(smoothPicture, [](int32_t i, int32_t j) { return ((j & 1) ? -12 : 12) * ((i & 2) ? -1 : 1); });
    auto viaBoth = f.cur;
    dotPass(dsp, guard.work(), &f.job, f.prev.data(), viaBoth.data(), f.prev.data());
    auto viaPair = f.cur;
    dotPass(dsp, guard.work(), &f.job, f.prev.data(), viaPair.data(), f.next.data());
    EXPECT_EQ(memcmp(viaBoth.data(), viaPair.data(), viaPair.size() * sizeof(YcPixel)), 0);
    EXPECT_NE(memcmp(viaBoth.data(), f.cur.data(), viaPair.size() * sizeof(YcPixel)), 0);
}

TEST_P(DotPass, BadGeometryOrMissingScratchLeavesTheFrame)
{
    Frames f(64, 16, 64, 10);
    const auto before = f.cur;
    for (auto geom : {std::array<int32_t, 3>{0, 16, 64}, {64, 0, 64}, {801, 16, 801}, {64, 801, 64}, {64, 16, 63}}) {
        f.job.width = geom[0];
        f.job.height = geom[1];
        f.job.stride = geom[2];
        run(f);
        ASSERT_EQ(memcmp(f.cur.data(), before.data(), before.size() * sizeof(YcPixel)), 0);
    }
    f.job.width = 64;
    f.job.height = 16;
    f.job.stride = 64;
    float *saved = guard.work().rowB;
    guard.work().rowB = nullptr;
    run(f);
    guard.work().rowB = saved;
    EXPECT_EQ(memcmp(f.cur.data(), before.data(), before.size() * sizeof(YcPixel)), 0);
    run(f);
    EXPECT_NE(memcmp(f.cur.data(), before.data(), before.size() * sizeof(YcPixel)), 0);
}

// The current frame kept with a pitch of its own (as in a band plane) gets the
// same luma, and each row is reported once, in order, after its write-back.
TEST_P(DotPass, CurrentFrameWithItsOwnPitchAndRowsReportedWhenFinal)
{
    Frames f(61, 23, 64, 11);
    const int32_t pitch = 70;
    std::vector<YcPixel> own((size_t)pitch * f.h, YcPixel{7, 7, 7});
    for (int32_t i = 0; i < f.h; i++)
        memcpy(&own[(size_t)i * pitch], &f.at(f.cur, i, 0), (size_t)f.w * sizeof(YcPixel));
    const std::vector<YcPixel> ownBefore = own;
    run(f);

    struct Seen {
        std::vector<int32_t> rows;
        const std::vector<YcPixel> *own, *want;
        int32_t pitch, w, stride;
        bool finalWhenReported = true;
    } seen{{}, &own, &f.cur, pitch, f.w, f.stride};
    auto rowDone = [](void *c, int32_t row) {
        Seen &s = *static_cast<Seen *>(c);
        s.rows.push_back(row);
        s.finalWhenReported &= memcmp(&(*s.own)[(size_t)row * s.pitch], &(*s.want)[(size_t)row * s.stride],
                                      (size_t)s.w * sizeof(YcPixel)) == 0;
    };
    ASSERT_TRUE(
        dotPassStrided(dsp, guard.work(), &f.job, f.prev.data(), nullptr, own.data(), pitch, f.next.data(), rowDone, &seen));
    EXPECT_TRUE(seen.finalWhenReported);
    ASSERT_EQ(seen.rows.size(), (size_t)f.h);
    for (int32_t i = 0; i < f.h; i++) {
        EXPECT_EQ(seen.rows[i], i);
        EXPECT_EQ(memcmp(&own[(size_t)i * pitch + f.w], &ownBefore[(size_t)i * pitch + f.w],
                         (size_t)(pitch - f.w) * sizeof(YcPixel)),
                  0); // nothing past the width
    }

    // A pitch below the width is refused like a short stride.
    EXPECT_FALSE(
        dotPassStrided(dsp, guard.work(), &f.job, f.prev.data(), nullptr, own.data(), f.w - 1, f.next.data(), rowDone, &seen));
    EXPECT_EQ(seen.rows.size(), (size_t)f.h);
}

// The previous frame given by its luma alone gives the same frame.
TEST_P(DotPass, PreviousFrameByItsLumaAlone)
{
    Frames f(61, 23, 64, 12);
    std::vector<int16_t> luma((size_t)f.w * f.h);
    for (int32_t i = 0; i < f.h; i++)
        for (int32_t j = 0; j < f.w; j++)
            luma[(size_t)i * f.w + j] = f.at(f.prev, i, j).y;
    std::vector<YcPixel> viaLuma = f.cur;
    ASSERT_TRUE(dotPassStrided(dsp, guard.work(), &f.job, nullptr, luma.data(), viaLuma.data(), f.stride, f.next.data()));
    const std::vector<YcPixel> before = f.cur;
    run(f);
    ASSERT_NE(memcmp(f.cur.data(), before.data(), before.size() * sizeof(YcPixel)), 0);
    EXPECT_EQ(memcmp(f.cur.data(), viaLuma.data(), viaLuma.size() * sizeof(YcPixel)), 0);
}

VELVANE_INSTANTIATE_LEVELS(DotPass);

} // namespace
} // namespace velvane::test
