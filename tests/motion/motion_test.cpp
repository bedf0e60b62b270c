// The averaging along the motion: the search against a known pan, no ghost
// at a moving object's edges, nothing across a scene cut, 4:1:1 chroma in its
// place, the same bytes on every thread count, its settings refused where
// out of range, the spatial pass after it, and automatic strength along the
// motion.
#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/cpu_flags.h"
#include "library/thread_pool.h"
#include "motion/motion.h"
#include "motion/spatial.h"
#include "velvane/velvane.hpp"

namespace velvane {
namespace {

using Picture = std::vector<YcPixel>;

// A band-limited texture, continuous in x and y (frame pixels), on the
// 12-bit scale: luma about 480 .. 3500, chroma gentle.
struct Texture {
    double phase[6];
    explicit Texture(uint32_t seed)
    {
        std::mt19937 rng(seed);
        for (double &p : phase)
            p = std::uniform_real_distribution<double>(0, 6.283)(rng);
    }
    YcPixel at(double x, double y) const
    {
        const double l = 2000 + 500 * sin(0.21 * x + phase[0]) * cos(0.17 * y + phase[1]) +
                         350 * sin(0.37 * x - 0.23 * y + phase[2]) + 250 * cos(0.09 * x + 0.31 * y + phase[3]);
        const double cb = 300 * sin(0.05 * x + phase[4]), cr = 300 * cos(0.04 * y + phase[5]);
        return YcPixel{(int16_t)lrint(l), (int16_t)lrint(cb), (int16_t)lrint(cr)};
    }
};

// Frame n of a clip at field rate: field f of frame n shows the moment 2n + f
// (in fields), each pixel from `scene`(x, y, moment).
template <class Scene> Picture render(int width, int height, int n, const Scene &scene)
{
    Picture p((size_t)width * height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            p[(size_t)y * width + x] = scene(x, y, 2 * n + (y & 1));
    return p;
}

Picture noisy(const Picture &clean, double sigma, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, sigma);
    Picture p = clean;
    for (YcPixel &q : p) {
        q.y = (int16_t)lrint(q.y + noise(rng));
        q.cb = (int16_t)lrint(q.cb + noise(rng));
        q.cr = (int16_t)lrint(q.cr + noise(rng));
    }
    return p;
}

// Root mean square of the luma difference over the pixels `where` picks.
template <class Where> double rmsLuma(const Picture &a, const Picture &b, int width, Where where)
{
    double sum = 0;
    long count = 0;
    for (size_t i = 0; i < a.size(); i++)
        if (where((int)(i % width), (int)(i / width))) {
            const double d = a[i].y - b[i].y;
            sum += d * d;
            count++;
        }
    return count ? sqrt(sum / count) : 0;
}
double rmsLuma(const Picture &a, const Picture &b, int width)
{
    return rmsLuma(a, b, width, [](int, int) { return true; });
}

// The motion stage alone over a clip: frame `n` averaged with `radius`
// neighbours on either side.
struct StageRun {
    int width, height;
    std::vector<MotionFrame> frames;
    MotionStage stage;
    StageRun(const std::vector<Picture> &clip, int w, int h, unsigned flags = cpuSimdFlags())
        : width(w), height(h), frames(clip.size()), stage(flags)
    {
        for (size_t n = 0; n < clip.size(); n++)
            frames[n].prepare(stage.dsp(), clip[n].data(), w, h, w, serialTasks());
    }
    Picture average(int n, int radius, int strength = kMotionStrengthDefault, const TaskRunner &tasks = serialTasks())
    {
        const MotionFrame *before[kMotionRadiusMax] = {}, *after[kMotionRadiusMax] = {};
        int nb = 0, na = 0;
        for (int k = 1; k <= radius; k++) {
            if (n - k >= 0)
                before[nb++] = &frames[(size_t)(n - k)];
            if (n + k < (int)frames.size())
                after[na++] = &frames[(size_t)(n + k)];
        }
        MotionSettings s;
        s.radius = radius;
        s.strength = strength;
        Picture out((size_t)width * height);
        stage.average(frames[(size_t)n], before, nb, after, na, s, out.data(), width, tasks);
        return out;
    }
};

const int kW = 192, kH = 128;

TEST(Motion, AKnownSubPixelPanIsFoundAndCompensated)
{
    // 1.75 pixels right and half a line down per field.
    const Texture tex(7);
    auto pan = [&](int x, int y, int t) { return tex.at(x - 1.75 * t, y - 0.5 * t); };
    std::vector<Picture> clean, input;
    for (int n = 0; n < 7; n++) {
        clean.push_back(render(kW, kH, n, pan));
        input.push_back(noisy(clean.back(), 80, 100 + n)); // 5 code values of 8-bit video
    }
    // Without noise the neighbours, moved back, are the picture itself: the
    // average changes it by a fraction of a code value.
    StageRun still(clean, kW, kH);
    const Picture same = still.average(3, 2);
    EXPECT_LT(rmsLuma(same, clean[3], kW), 10.0); // 16 steps make a code value
    EXPECT_NEAR(still.stage.stats().meanVector, 2 * hypot(1.75, 0.5), 0.3); // a frame is two fields

    // With noise, the average of five aligned frames: well over 3 dB.
    StageRun run(input, kW, kH);
    const double before = rmsLuma(input[3], clean[3], kW);
    const double after = rmsLuma(run.average(3, 2), clean[3], kW);
    EXPECT_GT(20 * log10(before / after), 4.0) << before << " -> " << after;
    EXPECT_NEAR(run.stage.stats().noise, 5.0, 1.5);
    EXPECT_GT(run.stage.stats().matchedShare, 0.75);
}

TEST(Motion, AnObjectCrossingLeavesNoGhostAndACutLeaksNothing)
{
    // A bright square crosses a still texture, 3 pixels a field.
    const Texture tex(11);
    auto crossing = [&](int x, int y, int t) {
        const double left = 20 + 3.0 * t;
        if (x >= left && x < left + 40 && y >= 40 && y < 88)
            return YcPixel{3400, -500, 600};
        return tex.at(x, y);
    };
    std::vector<Picture> clean, input;
    for (int n = 0; n < 9; n++) {
        clean.push_back(render(kW, kH, n, crossing));
        input.push_back(noisy(clean.back(), 80, 200 + n));
    }
    StageRun run(input, kW, kH);
    for (int n : {2, 4, 6}) {
        const double left = 20 + 6.0 * n;
        auto nearEdges = [&](int x, int y) {
            const bool inY = y >= 36 && y < 92, inX = x >= left - 4 && x < left + 44;
            return (inY && (fabs(x - left) < 5 || fabs(x - left - 40) < 5)) ||
                   (inX && (abs(y - 40) < 5 || abs(y - 88) < 5));
        };
        const Picture out = run.average(n, 3);
        const double in = rmsLuma(input[(size_t)n], clean[(size_t)n], kW, nearEdges);
        const double got = rmsLuma(out, clean[(size_t)n], kW, nearEdges);
        EXPECT_LE(got, in) << "frame " << n;
        EXPECT_LT(rmsLuma(out, clean[(size_t)n], kW), 0.75 * rmsLuma(input[(size_t)n], clean[(size_t)n], kW));
    }

    // A cut after frame 3: frame 4 takes nothing of frames 0 .. 3, frame 3
    // nothing of 4 .. 7.
    auto other = [](double x, double y) { // another picture: blocks and stripes
        const int level = ((int)(x / 24) * 7 + (int)(y / 16) * 3) % 5;
        return YcPixel{(int16_t)(800 + 500 * level + 200 * (((int)x / 3) & 1)), (int16_t)(100 * level - 200), 50};
    };
    std::vector<Picture> cleanCut, cut;
    for (int n = 0; n < 8; n++) {
        cleanCut.push_back(render(kW, kH, n, [&](int x, int y, int t) {
            return n < 4 ? tex.at(x - t, y) : other(x + 0.5 * t, y);
        }));
        cut.push_back(noisy(cleanCut.back(), 80, 300 + n));
    }
    StageRun cutRun(cut, kW, kH);
    for (int n : {3, 4}) {
        const Picture out = cutRun.average(n, 3);
        const Picture &wrong = cleanCut[(size_t)(n == 3 ? 4 : 3)], &right = cleanCut[(size_t)n];
        // How much of the other scene is in the output: the regression of the
        // error on the difference of the scenes.
        double num = 0, den = 0;
        for (size_t i = 0; i < out.size(); i++) {
            const double e = out[i].y - right[i].y, d = wrong[i].y - right[i].y;
            num += e * d;
            den += d * d;
        }
        EXPECT_LT(fabs(num / den), 0.01) << "frame " << n << " share " << cutRun.stage.stats().matchedShare;
        EXPECT_LT(rmsLuma(out, right, kW), 0.8 * rmsLuma(cut[(size_t)n], right, kW)) << "frame " << n;
    }

    // A wide region that differs in every neighbour (the rest matches): where
    // no block over a cell matches, the cell passes exactly as it came in,
    // nothing of what was compensated before it.
    std::vector<Picture> patched;
    for (int n = 0; n < 7; n++)
        patched.push_back(noisy(render(kW, kH, n, [&](int x, int y, int) {
                                    return n != 3 && x >= 56 && x < 168 ? other(x, y) : tex.at(x, y);
                                }),
                                80, 400 + n));
    StageRun patchedRun(patched, kW, kH);
    patchedRun.average(2, 3); // matches there: the stage's sums hold something
    const Picture out = patchedRun.average(3, 3);
    int changed = 0;
    for (int y = 0; y < kH; y++)
        for (int x = 96; x < 112; x++) {
            const YcPixel a = out[(size_t)(y * kW + x)], b = patched[3][(size_t)(y * kW + x)];
            changed += a.y != b.y || a.cb != b.cb || a.cr != b.cr;
        }
    EXPECT_EQ(changed, 0);
    // Outside it the neighbours still count.
    EXPECT_GT(rmsLuma(out, patched[3], kW, [](int x, int) { return x < 40; }), 0.0);
}

// The spatial pass after the averaging, with the limits the stage's own
// measure gives: a clean texture keeps its detail, the noise left on a smooth
// picture falls, no limits change nothing, and every thread count gives the
// same bytes.
TEST(Motion, TheSpatialPassSmoothsOnlyTheNoiseTheAveragingLeft)
{
    SpatialStage spatial(cpuSimdFlags());
    auto pass = [&](const StageRun &run, const Picture &averaged, const TaskRunner &tasks = serialTasks()) {
        const MotionStats &m = run.stage.stats();
        Picture out(averaged.size());
        spatial.filter(averaged.data(), out.data(), kW, kH, kW, SpatialStage::limits(m.noise, m.matchedShare, 4, 100),
                       tasks);
        return out;
    };
    const Texture tex(5);
    auto pan = [&](int x, int y, int t) { return tex.at(x - 1.25 * t, y - 0.5 * t); };
    // A smooth picture: a slow ramp under a gentle swell.
    auto smooth = [](int x, int y, int t) {
        const double u = x - 0.75 * t;
        return YcPixel{(int16_t)lrint(1200 + 6 * u + 300 * sin(0.03 * u + 0.02 * y)), (int16_t)lrint(2 * u - 200),
                       (int16_t)lrint(150 + y)};
    };
    std::vector<Picture> clean, smoothClean, smoothNoisy;
    for (int n = 0; n < 5; n++) {
        clean.push_back(render(kW, kH, n, pan));
        smoothClean.push_back(render(kW, kH, n, smooth));
        smoothNoisy.push_back(noisy(smoothClean.back(), 80, 400 + n));
    }
    // Clean: the pass changes the texture by a small fraction of a code value.
    StageRun still(clean, kW, kH);
    const Picture averaged = still.average(2, 2);
    const Picture kept = pass(still, averaged);
    EXPECT_LT(rmsLuma(kept, averaged, kW), 2.0) << "noise measured " << still.stage.stats().noise;
    // Noisy and smooth: well over a decibel below the averaging's error.
    StageRun run(smoothNoisy, kW, kH);
    const Picture noisyAveraged = run.average(2, 2);
    const Picture smoothed = pass(run, noisyAveraged);
    const double before = rmsLuma(noisyAveraged, smoothClean[2], kW), after = rmsLuma(smoothed, smoothClean[2], kW);
    EXPECT_GT(20 * log10(before / after), 1.5) << before << " -> " << after;
    // No limits: the very frame; threads: the same bytes.
    Picture same(averaged.size());
    spatial.filter(noisyAveraged.data(), same.data(), kW, kH, kW, SpatialLimits{}, serialTasks());
    EXPECT_EQ(memcmp(same.data(), noisyAveraged.data(), same.size() * sizeof(YcPixel)), 0);
    for (int threads : {2, 3}) {
        ThreadPool pool(threads);
        const Picture t = pass(run, noisyAveraged, pool.runner());
        EXPECT_EQ(memcmp(t.data(), smoothed.data(), t.size() * sizeof(YcPixel)), 0) << threads << " threads";
    }
}

// The library with the averaging along the motion: planar frames in and out.
struct Planar {
    int width, height;
    std::vector<uint8_t> bytes;
    Planar(int w, int h) : width(w), height(h), bytes((size_t)w * h * 2) {}
    size_t offset(int p) const { return p == 0 ? 0 : (size_t)width * height + (p - 1) * (size_t)width / 2 * height; }
    uint8_t *plane(int p) { return bytes.data() + offset(p); }
    const uint8_t *plane(int p) const { return bytes.data() + offset(p); }
    VelvaneFrame frame()
    {
        VelvaneFrame f = {};
        f.format = VELVANE_PIXEL_YUV422P8;
        f.width = width;
        f.height = height;
        for (int p = 0; p < 3; p++) {
            f.data[p] = plane(p);
            f.stride[p] = p ? width / 2 : width;
        }
        return f;
    }
};

std::vector<Planar> filterPlanar(std::vector<Planar> clip, const VelvaneSettings &s, int threads = 1,
                                 const VelvaneSettings *later = nullptr, VelvaneStrengthReport *strength = nullptr)
{
    VelvaneConfig c;
    velvane_default_config(&c);
    c.width = clip[0].width;
    c.height = clip[0].height;
    c.threads = threads;
    c.settings = s;
    Filter f(c);
    std::vector<Planar> out;
    Planar o(c.width, c.height);
    VelvaneFrame of = o.frame();
    for (size_t n = 0; n <= clip.size(); n++) {
        if (n < clip.size())
            EXPECT_TRUE(f.send(clip[n].frame()));
        else
            f.end();
        while (f.receive(of)) {
            out.push_back(o);
            if (later && out.size() == 3)
                f.setSettings(*later);
        }
    }
    EXPECT_EQ(out.size(), clip.size());
    if (strength) {
        EXPECT_EQ(velvane_get_strength(f.get(), strength), VELVANE_OK);
    }
    return out;
}

VelvaneSettings alongMotion(int radius)
{
    VelvaneSettings s;
    velvane_default_settings(&s);
    s.mc_radius = radius;
    return s;
}

// A coloured square moving 2 pixels a field over grey, chroma held as 4:1:1
// (each chroma sample in two columns of the 4:2:2 planes), noisy.
std::vector<Planar> movingSquare(int w, int h, int frames, bool withNoise, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, withNoise ? 5 : 0);
    std::vector<Planar> clip;
    auto clamp8 = [](double v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : lrint(v)); };
    for (int n = 0; n < frames; n++) {
        Planar p(w, h);
        for (int y = 0; y < h; y++) {
            const int left = 16 + 2 * (2 * n + (y & 1));
            auto inside = [&](int x) { return x >= left && x < left + 32 && y >= 24 && y < 72; };
            for (int x = 0; x < w; x++)
                p.plane(0)[(size_t)y * w + x] = clamp8((inside(x) ? 150 : 110) + 10 * sin(x * 0.3) + noise(rng));
            for (int k = 0; k < w / 4; k++) {
                const double cb = inside(4 * k + 2) ? 200 : 128, cr = inside(4 * k + 2) ? 60 : 128;
                const uint8_t b = clamp8(cb + noise(rng)), r = clamp8(cr + noise(rng));
                for (int j = 0; j < 2; j++) {
                    p.plane(1)[(size_t)y * (w / 2) + 2 * k + j] = b;
                    p.plane(2)[(size_t)y * (w / 2) + 2 * k + j] = r;
                }
            }
        }
        clip.push_back(p);
    }
    return clip;
}

TEST(MotionLibrary, ChromaOf411StaysInPlaceAndEveryThreadCountGivesTheSameBytes)
{
    const int w = 160, h = 96, frames = 8;
    const std::vector<Planar> clean = movingSquare(w, h, frames, false, 1), input = movingSquare(w, h, frames, true, 2);
    VelvaneSettings s = alongMotion(2);
    const std::vector<Planar> out = filterPlanar(input, s);
    // Chroma error within four pixels of the square's sides: the averaged
    // neighbours put the colour where the picture has it.
    for (int n = 2; n < frames - 2; n++) {
        double in = 0, got = 0;
        long count = 0;
        for (int p = 1; p < 3; p++)
            for (int y = 24; y < 72; y++) {
                const int left = 16 + 2 * (2 * n + (y & 1));
                for (int c = 0; c < w / 2; c++) {
                    const int x = 2 * c;
                    if (abs(x - left) > 4 && abs(x - left - 32) > 4)
                        continue;
                    const size_t i = (size_t)y * (w / 2) + c;
                    const double e0 = input[n].plane(p)[i] - clean[n].plane(p)[i];
                    const double e1 = out[n].plane(p)[i] - clean[n].plane(p)[i];
                    in += e0 * e0;
                    got += e1 * e1;
                    count++;
                }
            }
        EXPECT_LE(sqrt(got / count), sqrt(in / count)) << "frame " << n;
    }
    // The same bytes on every thread count, the averaging turned off midway included.
    VelvaneSettings off = s;
    off.mc_radius = 0;
    const std::vector<Planar> changed = filterPlanar(input, s, 1, &off);
    for (int threads : {2, 3, 0}) {
        const std::vector<Planar> t = filterPlanar(input, s, threads);
        for (int n = 0; n < frames; n++)
            EXPECT_TRUE(t[n].bytes == out[n].bytes) << threads << " threads, frame " << n;
        const std::vector<Planar> c = filterPlanar(input, s, threads, &off);
        for (int n = 0; n < frames; n++)
            EXPECT_TRUE(c[n].bytes == changed[n].bytes) << threads << " threads, settings changed, frame " << n;
    }
    // What it found is reported for each frame: off, nothing.
    for (int radius : {0, 2}) {
        VelvaneConfig c;
        velvane_default_config(&c);
        c.width = w;
        c.height = h;
        c.settings.mc_radius = radius;
        Filter f(c);
        Planar o(w, h);
        VelvaneFrame of = o.frame();
        std::vector<Planar> in = input;
        int received = 0;
        for (int n = 0; n < frames; n++) {
            f.send(in[n].frame());
            while (f.receive(of)) {
                VelvaneMotionReport r;
                ASSERT_EQ(velvane_get_motion(f.get(), &r), VELVANE_OK);
                if (radius) {
                    EXPECT_NEAR(r.noise, 5.0, 2.0) << "frame " << received;
                    EXPECT_GT(r.matched_share, 0.5);
                    EXPECT_LE(r.matched_share, 1.0);
                } else {
                    EXPECT_EQ(r.matched_share + r.mean_vector + r.noise, 0.0f);
                }
                received++;
            }
        }
        EXPECT_GT(received, 0);
    }
    // Off, the frames are those of the filter without it.
    VelvaneSettings plain;
    velvane_default_settings(&plain);
    const std::vector<Planar> without = filterPlanar(input, plain);
    for (int n = 0; n < frames; n++)
        EXPECT_EQ(changed[n].bytes == without[n].bytes, n >= 3) << "frame " << n;
}

// A texture with fine detail (which a still measure takes for grain)
// panning 1.75 pixels right and half
// a line down a field, as 4:2:2 planes, with grain of `sigma` code values.
std::vector<Planar> finePan(int w, int h, int frames, double sigma, uint32_t seed)
{
    const Texture tex(5);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, sigma > 0 ? sigma : 1);
    auto grain = [&] { return sigma > 0 ? noise(rng) : 0.0; };
    auto clamp8 = [](double v) { return (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : lrint(v)); };
    std::vector<Planar> clip;
    for (int n = 0; n < frames; n++) {
        Planar p(w, h);
        for (int y = 0; y < h; y++) {
            const double t = 2 * n + (y & 1);
            for (int x = 0; x < w; x++) {
                const double u = x - 1.75 * t, v = y - 0.5 * t;
                p.plane(0)[(size_t)y * w + x] =
                    clamp8(tex.at(u, v).y / 16.0 + 12 * sin(1.3 * u + 0.3 * v) + grain());
            }
            for (int k = 0; k < w / 2; k++) {
                const double u = 2 * k - 1.75 * t;
                p.plane(1)[(size_t)y * (w / 2) + k] = clamp8(128 + 20 * sin(0.1 * u) + grain());
                p.plane(2)[(size_t)y * (w / 2) + k] = clamp8(128 + 20 * cos(0.07 * u) + grain());
            }
        }
        clip.push_back(p);
    }
    return clip;
}

// Mean square of the luma difference over a clip, 8-bit code values.
double lumaError(const std::vector<Planar> &a, const std::vector<Planar> &b)
{
    double sum = 0;
    long count = 0;
    for (size_t n = 0; n < a.size(); n++)
        for (size_t i = 0; i < (size_t)a[n].width * a[n].height; i++, count++)
            sum += (a[n].plane(0)[i] - b[n].plane(0)[i]) * (double)(a[n].plane(0)[i] - b[n].plane(0)[i]);
    return sum / (double)count;
}

// A clean star field zooming in about its centre: small bright points on
// black, at the field rate, as 4:2:2 planes.
std::vector<Planar> starZoom(int w, int h, int frames, int stars, double zoomPerField)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> at(-1, 1);
    std::vector<std::pair<double, double>> sky((size_t)stars);
    for (auto &s : sky)
        s = {at(rng) * w, at(rng) * h};
    std::vector<Planar> clip;
    for (int n = 0; n < frames; n++) {
        Planar p(w, h);
        std::vector<double> light((size_t)w * h, 16.0);
        for (int y = 0; y < h; y++) {
            const double z = 1 + zoomPerField * (2 * n + (y & 1));
            for (const auto &s : sky) {
                const double sy = h / 2 + s.second * z, sx = w / 2 + s.first * z;
                if (fabs(sy - y) > 2)
                    continue;
                for (int x = (int)sx - 2; x <= (int)sx + 2; x++)
                    if (x >= 0 && x < w)
                        light[(size_t)y * w + x] += 239 * exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 0.72);
            }
        }
        for (size_t i = 0; i < light.size(); i++)
            p.plane(0)[i] = (uint8_t)std::min(255L, lrint(light[i]));
        memset(p.plane(1), 128, (size_t)w * h); // both chroma planes grey
        clip.push_back(p);
    }
    return clip;
}

TEST(MotionLibrary, AutomaticStrengthFollowsTheMotionAndAGivenRadiusWins)
{
    // Automatic strength takes the averaging along the motion, radius 2,
    // unless a radius is given; the named strengths leave it off.
    VelvaneSettings plain, automatic, named;
    velvane_default_settings(&plain);
    automatic = named = plain;
    velvane_set_strength(&automatic, VELVANE_STRENGTH_AUTO);
    velvane_set_strength(&named, VELVANE_STRENGTH_STRONG);
    EXPECT_EQ(automatic.mc_radius, VELVANE_FROM_STRENGTH);
    EXPECT_EQ(velvane_lookahead(&automatic), velvane_lookahead(&plain) + 2);
    EXPECT_EQ(velvane_lookahead(&named), velvane_lookahead(&plain));
    VelvaneSettings given = automatic;
    for (int radius : {0, 3}) {
        given.mc_radius = radius;
        EXPECT_EQ(velvane_lookahead(&given), velvane_lookahead(&plain) + radius) << radius;
    }

    // A fine texture moving, clean or with grain below a code value (near
    // 8-bit rounding itself): nothing to clean in its luma, which is left as
    // it is. From grain of 0.8 on, it is cleaned.
    const int w = 192, h = 128, frames = 10;
    const std::vector<Planar> clean = finePan(w, h, frames, 0, 1);
    EXPECT_EQ(lumaError(filterPlanar(clean, automatic), clean), 0.0);
    for (double sigma : {0.4, 0.8}) {
        const std::vector<Planar> faint = finePan(w, h, frames, sigma, 9);
        VelvaneStrengthReport r = {};
        const double changed = lumaError(filterPlanar(faint, automatic, 1, nullptr, &r), faint);
        EXPECT_EQ(changed > 0, sigma > 0.5) << sigma;
        EXPECT_EQ(r.luma_low > 0 && r.luma_high > 0, sigma > 0.5) << sigma;
    }

    // A grey star field zooming: its points move inside blocks that stay
    // put, as dots change while the picture stays, but a picture without
    // colour carries no dots. Kept within 45 dB.
    for (double zoom : {0.006, 0.01}) {
        const std::vector<Planar> sky = starZoom(320, 240, 8, 1600, zoom);
        VelvaneStrengthReport r = {};
        const double e = lumaError(filterPlanar(sky, automatic, 1, nullptr, &r), sky);
        EXPECT_EQ(r.dot_share, 0.0f) << zoom;
        EXPECT_EQ(r.dot_removal, 0) << zoom;
        EXPECT_LT(e, 255.0 * 255.0 / 31622.8) << zoom; // 45 dB
    }

    // With grain of 5 code values: well above the input, and above what the
    // thresholds alone do (a given radius 0); a given 2 is what auto takes.
    // Along the motion its thresholds are narrower than without (the frames
    // come to them far cleaner), and do better than the wide ones it takes
    // without; a threshold given wins there too.
    const std::vector<Planar> input = finePan(w, h, frames, 5, 2);
    VelvaneStrengthReport along = {}, without = {};
    const std::vector<Planar> out = filterPlanar(input, automatic, 1, nullptr, &along);
    const double in = lumaError(input, clean), got = lumaError(out, clean);
    given.mc_radius = 0;
    const double still = lumaError(filterPlanar(input, given, 1, nullptr, &without), clean);
    EXPECT_GT(10 * log10(in / got), 1.5) << in << " -> " << got;
    EXPECT_LT(got, still);
    EXPECT_LT(along.luma_low, without.luma_low);
    EXPECT_LT(along.luma_high, without.luma_high);
    given.mc_radius = 2;
    const std::vector<Planar> two = filterPlanar(input, given);
    for (int n = 0; n < frames; n++)
        EXPECT_EQ(two[(size_t)n].bytes, out[(size_t)n].bytes) << n;
    VelvaneSettings wide = given;
    wide.luma_low = without.luma_low;
    wide.luma_high = without.luma_high;
    VelvaneStrengthReport widened = {};
    EXPECT_LT(got, lumaError(filterPlanar(input, wide, 1, nullptr, &widened), clean));
    EXPECT_EQ(widened.luma_low, without.luma_low);
    EXPECT_EQ(widened.luma_high, without.luma_high);

    // Scene by scene: the clean scene without the averaging along the
    // motion, as with a given radius 0, then a cut to a grainy one with it;
    // every thread count gives the same bytes.
    std::vector<Planar> cut = clean;
    for (Planar p : input) {
        for (int i = 0; i < w * h; i++)
            p.plane(0)[i] = (uint8_t)(16 + p.plane(0)[i] / 2); // a darker picture: a cut
        cut.push_back(p);
    }
    const std::vector<Planar> scenes = filterPlanar(cut, automatic);
    given.mc_radius = 0;
    const std::vector<Planar> none = filterPlanar(cut, given);
    for (int n = 0; n < frames - 3; n++)
        EXPECT_EQ(scenes[(size_t)n].bytes, none[(size_t)n].bytes) << n;
    EXPECT_NE(scenes[(size_t)(frames + frames / 2)].bytes, none[(size_t)(frames + frames / 2)].bytes);
    const std::vector<Planar> threaded = filterPlanar(cut, automatic, 3);
    for (size_t n = 0; n < cut.size(); n++)
        EXPECT_EQ(threaded[n].bytes, scenes[n].bytes) << n;
}

TEST(MotionLibrary, SettingsOutOfRangeAreRefusedWithTheirRange)
{
    char message[256];
    struct Case {
        int radius, strength;
        const char *text;
    } cases[] = {{5, 0, "mc_radius is 5; it must lie within 0..4"},
                 {-2, 0, "mc_radius is -2; it must lie within 0..4"},
                 {VELVANE_FROM_STRENGTH, 0, "mc_radius is VELVANE_FROM_STRENGTH, but no strength is chosen"},
                 {2, 401, "mc_strength is 401; it must lie within 0..400"},
                 {2, -3, "mc_strength is -3; it must lie within 0..400"}};
    for (const Case &c : cases) {
        VelvaneSettings s = alongMotion(c.radius);
        s.mc_strength = c.strength;
        EXPECT_EQ(velvane_check_settings(&s, message, sizeof message), VELVANE_EINVAL);
        EXPECT_NE(strstr(message, c.text), nullptr) << message;
        VelvaneConfig config;
        velvane_default_config(&config);
        config.settings = s;
        VelvaneFilter *f = nullptr;
        EXPECT_EQ(velvane_open(&f, &config, message, sizeof message), VELVANE_EINVAL);
        EXPECT_EQ(f, nullptr);
        velvane_default_config(&config);
        ASSERT_EQ(velvane_open(&f, &config, nullptr, 0), VELVANE_OK);
        EXPECT_EQ(velvane_set_settings(f, &s), VELVANE_EINVAL);
        EXPECT_NE(strstr(velvane_last_error(f), c.text), nullptr) << velvane_last_error(f);
        VelvaneSettings kept;
        velvane_get_settings(f, &kept);
        EXPECT_EQ(kept.mc_radius, 0);
        velvane_close(&f);
    }
    VelvaneSettings fine = alongMotion(4);
    fine.mc_strength = 400;
    EXPECT_EQ(velvane_check_settings(&fine, message, sizeof message), VELVANE_OK);
}

} // namespace
} // namespace velvane
