// The noise a clip carries, measured from the clip: grain of known deviation,
// dots (also along the motion), and scene changes on synthetic frames.
#include <math.h>

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "pipeline/noise_level.h"
#include "pipeline/strength.h"

namespace velvane {
namespace {

constexpr int kW = 320, kH = 160;

struct Picture {
    float lumaSigma = 0, chromaSigma = 0;
    float dots = 0;     // amplitude of dots on the second quarter across, 8-bit code values
    bool pal = false;   // PAL's dots (a quarter cycle on each frame) rather than NTSC's
    bool smooth = false; // grain smoothed along the line, as a decoder leaves noise of the composite signal
    int shift = 0;      // pixels the picture has moved
    bool other = false; // another picture altogether
    float bands = 0;    // amplitude of broad vertical bands (40 pixels a cycle)
    float zoom = 1;     // magnification about the middle
};

// A gentle gradient, with a fine texture on the right quarter, as 8-bit
// samples on the host's scale (luma x 16, chroma (c - 128) x 16).
std::vector<YcPixel> frame(const Picture &p, int n, std::mt19937 &rng)
{
    std::normal_distribution<float> luma(0, p.lumaSigma > 0 ? p.lumaSigma : 1),
        chroma(0, p.chromaSigma > 0 ? p.chromaSigma : 1);
    std::vector<YcPixel> f((size_t)kW * kH);
    // Smoothed grain: white grain through 1 2 2 1 along the line, scaled back
    // to the deviation asked for.
    std::vector<float> grain((size_t)kW + 3);
    for (int y = 0; y < kH; y++) {
        if (p.smooth)
            for (float &g : grain)
                g = luma(rng);
        for (int x = 0; x < kW; x++) {
            const int u = (int)lroundf(kW / 2 + (x - kW / 2) / p.zoom) + p.shift;
            float v = p.other ? 200 - 0.4f * y : 60 + 0.05f * u + 0.05f * y;
            if (!p.other)
                v += p.bands * sinf(2 * (float)M_PI * u / 40);
            if (x >= kW * 3 / 4)
                v += 20 * sinf(u * 1.3f) * cosf(y * 0.9f);
            if (p.dots > 0 && x >= kW / 4 && x < kW / 2 && !p.pal)
                v += p.dots * cosf(2 * (float)M_PI * x / 3.77f + (float)M_PI * (y / 2) + (float)M_PI / 2 * (y % 2) +
                                   (float)M_PI * n);
            if (p.dots > 0 && x >= kW / 4 && x < kW / 2 && p.pal)
                v += p.dots * cosf(2 * (float)M_PI * (x / 3.045f + 0.7516f * (y / 2) + 0.375f * (y % 2) + 0.75f * n));
            float cb = 20 + 0.1f * u, cr = -10 + 0.05f * y;
            if (p.lumaSigma > 0)
                v += p.smooth ? (grain[x] + 2 * grain[x + 1] + 2 * grain[x + 2] + grain[x + 3]) / sqrtf(10)
                              : luma(rng);
            if (p.chromaSigma > 0)
                cb += chroma(rng), cr += chroma(rng);
            auto code = [](float c, float lo, float hi) { return c < lo ? lo : c > hi ? hi : roundf(c); };
            f[(size_t)y * kW + x] = YcPixel{(int16_t)(16 * code(v, 0, 255)), (int16_t)(16 * code(cb, -128, 127)),
                                            (int16_t)(16 * code(cr, -128, 127))};
        }
    }
    return f;
}

NoiseLevel measure(const Picture &p, uint32_t seed, int speed = 1)
{
    std::mt19937 rng(seed);
    Picture moving = p;
    std::vector<std::vector<YcPixel>> frames;
    for (int n = 0; n < 3; n++, moving.shift += speed)
        frames.push_back(frame(moving, n, rng));
    const YcPixel *f[3] = {frames[0].data(), frames[1].data(), frames[2].data()};
    return measureNoise(f, 3, kW, kH, kW);
}

TEST(NoiseLevel, MeasuresGrainDotsAndScenes)
{
    // Grain of known deviation on a moving picture with texture: within a
    // tenth (and a rounding step) of the truth; texture and motion are not grain.
    for (float sigma : {0.0f, 1.0f, 2.0f, 4.0f, 7.0f, 10.0f}) {
        Picture p;
        p.lumaSigma = sigma;
        p.chromaSigma = 0.6f * sigma;
        const NoiseLevel l = measure(p, 7 + (uint32_t)sigma);
        EXPECT_NEAR(l.luma, sigma, 0.1f * sigma + 0.15f) << sigma;
        EXPECT_NEAR(l.chroma, p.chromaSigma, 0.1f * p.chromaSigma + 0.15f) << sigma;
        EXPECT_EQ(l.dotShare, 0.0f) << "no dots at grain " << sigma;
    }

    // Motion: a still picture has none through grain; the gradient moved
    // 40 pixels a frame (4 code values in two frames) moves everywhere.
    for (float sigma : {0.0f, 2.0f}) {
        Picture p;
        p.lumaSigma = sigma;
        EXPECT_EQ(measure(p, 9, 0).motionShare, 0.0f) << sigma;
        EXPECT_GT(measure(p, 9, 40).motionShare, 0.9f) << sigma;
    }

    // Grain smoothed along the line is measured whole, not as the little
    // the finest mask sees of it.
    for (float sigma : {2.0f, 5.0f}) {
        Picture p;
        p.lumaSigma = sigma;
        p.smooth = true;
        const NoiseLevel l = measure(p, 11);
        EXPECT_NEAR(l.luma, sigma, 0.15f * sigma + 0.15f) << sigma;
        EXPECT_EQ(l.dotShare, 0.0f) << sigma;
    }

    // Dots on a quarter of the picture, NTSC's (inverted every frame) and
    // PAL's (a quarter cycle on every frame, back after four): found there,
    // with about their amplitude, through grain; the grain measure is not
    // fooled by them.
    for (bool pal : {false, true})
        for (float sigma : {0.0f, 4.0f}) {
            Picture p;
            p.lumaSigma = sigma;
            p.dots = 8;
            p.pal = pal;
            const NoiseLevel l = measure(p, 3);
            EXPECT_NEAR(l.dotShare, 0.29f, 0.05f) << pal << " " << sigma; // a quarter, and the blocks it touches
            EXPECT_NEAR(l.dotAmplitude, 8.0f, 1.5f) << pal << " " << sigma;
            EXPECT_NEAR(l.luma, sigma, 0.1f * sigma + 0.15f) << pal << " " << sigma;
            EXPECT_EQ(l.dotFourFrame > 0.9f, pal) << pal << " " << sigma;
            EXPECT_EQ(l.dotFourFrame < 0.1f, !pal) << pal << " " << sigma;
        }

    // Along the motion. Dots stay dots where moving the frames cancelled
    // them (a picture panned under dots moves them too): the change from
    // frame to frame has their shape. A change of another shape that the
    // frames as they are take for dots (frame n + 1 the odd one out) counts
    // only where the moved frames show it too. The grain is the lower of the
    // still measure and what moving left.
    {
        std::mt19937 r(13);
        Picture d;
        d.lumaSigma = 2;
        d.dots = 8;
        std::vector<std::vector<YcPixel>> frames;
        for (int n = 0; n < 3; n++)
            frames.push_back(frame(d, n, r));
        const YcPixel *still[3] = {frames[0].data(), frames[1].data(), frames[2].data()};
        const NoiseLevel base = measureNoise(still, 3, kW, kH, kW);
        EXPECT_GT(base.dotShare, 0.2f);
        EXPECT_GT(base.luma, 1.5f);
        NoiseLevel l = base;
        const YcPixel *cancelled[2] = {still[0], still[0]};
        const float residual[2] = {0.5f, 9.0f};
        refineAlongMotion(l, still, cancelled, residual, kW, kH, kW);
        EXPECT_GT(l.dotShare, 0.8f * base.dotShare); // all but blocks the dots only touch
        EXPECT_LE(l.dotShare, base.dotShare);
        EXPECT_EQ(l.luma, 0.5f);
        EXPECT_EQ(l.chroma, base.chroma);
        EXPECT_EQ(l.motionShare, base.motionShare);

        // Frame n + 1 with a change of no dot shape (white, 20 code values)
        // on the left half, frames n and n + 2 the same picture.
        Picture plain;
        std::vector<YcPixel> odd = frame(plain, 0, r), even = odd;
        std::normal_distribution<float> change(0, 20 * 16);
        for (int y = 0; y < kH; y++)
            for (int x = 0; x < kW / 2; x++)
                odd[(size_t)y * kW + x].y = (int16_t)(odd[(size_t)y * kW + x].y + lrintf(change(r)));
        const YcPixel *fooled[3] = {even.data(), odd.data(), even.data()};
        const NoiseLevel taken = measureNoise(fooled, 3, kW, kH, kW);
        EXPECT_GT(taken.dotShare, 0.3f);
        for (bool shown : {false, true}) {
            NoiseLevel m = taken;
            const YcPixel *moved[2] = {shown ? odd.data() : even.data(), even.data()};
            refineAlongMotion(m, fooled, moved, residual, kW, kH, kW);
            if (shown)
                EXPECT_EQ(m.dotShare, taken.dotShare);
            else
                EXPECT_LT(m.dotShare, 0.02f);
        }
    }

    // One or two frames: grain alone, no dots.
    std::mt19937 rng(5);
    Picture p;
    p.lumaSigma = 3;
    p.dots = 8;
    const std::vector<YcPixel> a = frame(p, 0, rng);
    const YcPixel *one[1] = {a.data()};
    const NoiseLevel single = measureNoise(one, 1, kW, kH, kW);
    EXPECT_EQ(single.dotShare, 0.0f);
    EXPECT_GT(single.luma, 0.0f);

    // Scenes: motion and fresh grain are the same scene, another picture is
    // not. A pan or a zoom over broad bands, which changes the cells more
    // than the picture's first cut does, stays one scene from frame to frame;
    // a cut in the middle of it is still one, and so is one from a still
    // picture.
    p.dots = 0;
    Picture moved = p, other = p;
    moved.shift = 3;
    other.other = true;
    SceneSignature sa, sb, sc;
    sceneSignature(a.data(), kW, kH, kW, &sa);
    sceneSignature(frame(moved, 1, rng).data(), kW, kH, kW, &sb);
    sceneSignature(frame(other, 1, rng).data(), kW, kH, kW, &sc);
    EXPECT_LT(sceneChange(sa, sb), 4.0f);
    EXPECT_GT(sceneChange(sb, sc), 50.0f);
    for (bool zoom : {false, true}) {
        SceneCuts cuts;
        Picture m = p;
        m.bands = 60;
        SceneSignature last, s;
        for (int n = 0; n < 8; n++) {
            if (zoom)
                m.zoom = powf(1.1f, (float)n);
            else
                m.shift = 4 * n;
            sceneSignature(frame(m, n, rng).data(), kW, kH, kW, &s);
            EXPECT_EQ(cuts.next(s), n == 0) << zoom << " frame " << n;
            if (n > 0) {
                EXPECT_GT(sceneChange(last, s), 14.0f) << zoom << " frame " << n;
            }
            last = s;
        }
        EXPECT_TRUE(cuts.next(sc)) << zoom;
        EXPECT_FALSE(cuts.next(sc)) << zoom;
        cuts.reset();
        EXPECT_TRUE(cuts.next(sa));
        EXPECT_FALSE(cuts.next(sa));
        EXPECT_FALSE(cuts.next(sb));
        EXPECT_TRUE(cuts.next(sc));
    }

    // Frames too small for a block of the measure give nothing, and read nothing outside.
    const std::vector<YcPixel> tiny(4 * 4, YcPixel{1600, 0, 0});
    const YcPixel *t[3] = {tiny.data(), tiny.data(), tiny.data()};
    const NoiseLevel none = measureNoise(t, 3, 4, 4, 4);
    EXPECT_EQ(none.luma, 0.0f);
    EXPECT_EQ(none.dotShare, 0.0f);
}

// What automatic strength makes of a few dotted blocks: on a clean picture
// that barely moves they are not dots (real ones would show on every
// coloured edge); where the picture moves, where grain hides dots from the
// test, or where they cover more of it, the dot pass and the wide thresholds.
TEST(NoiseLevel, AFewDotsOnACleanStillPictureAreNotTakenForDots)
{
    NoiseLevel few;
    few.luma = few.stillLuma = 0.6f;
    few.chroma = 0.3f;
    few.dotShare = 0.03f;
    few.dotAmplitude = 3;
    few.dotFourFrame = 1;
    few.motionShare = 0.01f;
    const StrengthChoice still = autoStrength(few);
    EXPECT_FALSE(still.dot);
    EXPECT_EQ(still.threshold[1], 0);
    NoiseLevel moving = few, grainy = few, many = few;
    moving.motionShare = 0.3f;
    grainy.luma = grainy.stillLuma = 2.5f;
    many.dotShare = 0.2f;
    for (const NoiseLevel &dotted : {moving, grainy, many}) {
        const StrengthChoice c = autoStrength(dotted);
        EXPECT_TRUE(c.dot) << dotted.motionShare << " " << dotted.luma << " " << dotted.dotShare;
        EXPECT_GE(c.threshold[1], 40) << dotted.motionShare << " " << dotted.luma << " " << dotted.dotShare;
    }
}

} // namespace
} // namespace velvane
