#include "demo/demo.h"

#include <gtest/gtest.h>
#include <math.h>

#include "run/output_file.h"
#include "test_util.h"

namespace velvane {
namespace {

using testing::TempDir;

TEST(DemoScene, IsTheSameEveryTime)
{
    DemoScene a, b;
    const Y4mFormat f = a.format();
    EXPECT_EQ(f.width, 720);
    EXPECT_EQ(f.height, 480);
    EXPECT_TRUE(frameIsInterlaced(f, ""));
    std::vector<uint8_t> ca(f.frameBytes()), na(f.frameBytes()), cb(f.frameBytes()), nb(f.frameBytes());
    a.render(7, ca.data(), na.data());
    b.render(7, cb.data(), nb.data());
    EXPECT_TRUE(ca == cb);
    EXPECT_TRUE(na == nb);
    EXPECT_FALSE(ca == na);
}

TEST(DemoScene, MovesBetweenFramesAndBetweenFields)
{
    DemoScene s;
    const Y4mFormat f = s.format();
    std::vector<uint8_t> c0(f.frameBytes()), c1(f.frameBytes());
    s.render(0, c0.data(), nullptr);
    s.render(1, c1.data(), nullptr);
    EXPECT_FALSE(c0 == c1);
    // In the panning bars the bottom field is seen later than the top one, so
    // two lines of a pair differ while the scene itself has no vertical detail there.
    const int row = 60;
    int differ = 0;
    for (int x = 0; x < f.width; x++)
        differ += c0[(size_t)row * f.width + x] != c0[(size_t)(row + 1) * f.width + x];
    EXPECT_GT(differ, f.width / 4);
}

// The noise and the dots: what the noisy clip adds to the clean one.
std::vector<double> addedLuma(const DemoScene &s, int n)
{
    const Y4mFormat f = s.format();
    std::vector<uint8_t> c(f.frameBytes()), d(f.frameBytes());
    s.render(n, c.data(), d.data());
    std::vector<double> r(f.lumaBytes());
    for (size_t i = 0; i < r.size(); i++)
        r[i] = (double)d[i] - (double)c[i];
    return r;
}

double correlation(const std::vector<double> &a, const std::vector<double> &b)
{
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size(); i++) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return ab / sqrt(aa * bb);
}

TEST(DemoScene, NoiseIsTemporalAndTheDotsInvertEveryFrameAndLine)
{
    DemoScene s;
    const std::vector<double> a = addedLuma(s, 10), b = addedLuma(s, 11), c = addedLuma(s, 12);
    // Independent noise would leave no correlation; the dots, which keep their
    // place and flip their sign, make consecutive frames anti-correlated and
    // frames two apart correlated.
    EXPECT_LT(correlation(a, b), -0.05);
    EXPECT_GT(correlation(a, c), 0.05);
    // As the subcarrier's do, they also invert from one line of a field to
    // the next (two rows down), which is what tells them from grain and
    // detail within a frame.
    const size_t w = (size_t)s.format().width;
    const std::vector<double> upper(a.begin(), a.end() - 2 * w), lower(a.begin() + 2 * w, a.end());
    EXPECT_LT(correlation(upper, lower), -0.05);
    double energy = 0;
    for (double v : a)
        energy += v * v;
    EXPECT_GT(sqrt(energy / a.size()), 2.0); // noise of a few codes
}

TEST(Psnr, MeasuresTheMeanSquaredError)
{
    TempDir dir;
    const Y4mFormat f = parseStreamHeader("YUV4MPEG2 W8 H4 C422");
    auto write = [&](const std::string &name, int lumaDelta, int chromaDelta) {
        OutputFile out(dir.file(name));
        Y4mWriter w(out.file(), name);
        w.writeHeader(f);
        std::vector<uint8_t> raw(f.frameBytes(), 100);
        for (size_t i = 0; i < raw.size(); i++)
            raw[i] = (uint8_t)(100 + (i < f.lumaBytes() ? lumaDelta : chromaDelta));
        for (int n = 0; n < 3; n++)
            w.writeFrame(raw.data(), "");
        w.finish();
        out.commit();
    };
    write("a.y4m", 0, 0);
    write("b.y4m", 1, 4);
    Psnr p = psnrOfFiles(dir.file("a.y4m"), dir.file("b.y4m"));
    EXPECT_NEAR(p.luma, 20 * log10(255.0), 1e-9);
    EXPECT_NEAR(p.chroma, 20 * log10(255.0 / 4), 1e-9);
    EXPECT_GT(psnrOfFiles(dir.file("a.y4m"), dir.file("a.y4m")).luma, 90);
}

} // namespace
} // namespace velvane
