// The whole frame path through the embedded host: the averaging and the
// output stage on frames the driver prepared.
#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include "common/cpu_flags.h"
#include "embedded_host.h"
#include "host/entry_points.h"
#include "host/module_state.h"
#include "kernel_levels.h"
#include "pipeline/colour.h"

namespace {

using namespace velvane;

using Clip = std::vector<std::vector<YcPixel>>;

int16_t evenBelow(int16_t v) { return (int16_t)(2 * (v >> 1)); }

Clip randomClip(int frames, int32_t stride, int32_t height, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> luma(-2000, 6000), chroma(-3000, 3000);
    Clip clip((size_t)frames, std::vector<YcPixel>((size_t)stride * height));
    for (auto &f : clip)
        for (auto &p : f)
            p = YcPixel{(int16_t)luma(rng), (int16_t)chroma(rng), (int16_t)chroma(rng)};
    return clip;
}

class EndToEnd : public AtEveryLevel {
protected:
    EmbeddedHost host{40, 12, 44};

    void start(const Clip &clip, int32_t width, int32_t height, int32_t stride)
    {
        host.setGeometry(width, height, stride);
        host.attach(GetFilterTable());
        host.init();
        ASSERT_EQ(2, moduleInstance.cpuLevel) << "this processor does not pass the capability test";
        moduleInstance.kernels = kernels;
        host.setClip(clip);
    }
    void TearDown() override { host.exit(); }
    void zeroThresholds()
    {
        for (int t = TRACK_LUMA_LOW; t <= TRACK_CHROMA_HIGH; t++)
            host.track[t] = 0;
        host.update();
    }
};

TEST_P(EndToEnd, ZeroThresholdsGiveThePreparedFrameRoundedDownToEven)
{
    const int32_t w = 38, h = 11, stride = 44; // alignedWidth 40, an odd height
    const Clip clip = randomClip(4, stride, h, 1);
    start(clip, w, h, stride);
    host.check[CHECK_DOT] = 0;
    host.check[CHECK_411] = 0;
    zeroThresholds();
    for (int32_t n = 0; n < 4; n++) {
        const std::vector<YcPixel> out = host.render(n);
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < stride; x++) {
                const YcPixel &v = clip[n][(size_t)y * stride + x], &o = out[(size_t)y * stride + x];
                if (x < 40) {
                    // The cached columns, the three beyond the width included.
                    ASSERT_EQ(evenBelow(v.y), o.y) << n << ": " << x << "," << y;
                    ASSERT_EQ(evenBelow(v.cb), o.cb) << n << ": " << x << "," << y;
                    ASSERT_EQ(evenBelow(v.cr), o.cr) << n << ": " << x << "," << y;
                } else {
                    // Not averaged, only doubled.
                    ASSERT_EQ((int16_t)(2 * v.y), o.y) << n << ": " << x << "," << y;
                    ASSERT_EQ((int16_t)(2 * v.cr), o.cr) << n << ": " << x << "," << y;
                }
            }
    }
}

TEST_P(EndToEnd, ZeroThresholdsKeepTheColourStagesResult)
{
    const int32_t w = 40, h = 8;
    const Clip clip = randomClip(3, w, h, 2);
    start(clip, w, h, w);
    host.check[CHECK_DOT] = 0;
    host.check[CHECK_411] = 1;
    host.track[TRACK_GAIN_Y] = 13;
    host.track[TRACK_GAIN_CR] = -40;
    host.track[TRACK_HUE] = -17;
    host.track[TRACK_BALANCE] = 9;
    zeroThresholds();
    FrameJob job = {};
    job.width = w;
    job.height = h;
    job.stride = w;
    for (int32_t n = 0; n < 3; n++) {
        std::vector<YcPixel> prepared = clip[n];
        adjustColour(prepared.data(), &job, settingsFromArrays(host.track, host.check), kernels.pipeline);
        interpolateChroma411(prepared.data(), &job, kernels.pipeline);
        const std::vector<YcPixel> out = host.render(n);
        for (size_t i = 0; i < out.size(); i++) {
            ASSERT_EQ(evenBelow(prepared[i].y), out[i].y) << n << ": " << i;
            ASSERT_EQ(evenBelow(prepared[i].cb), out[i].cb) << n << ": " << i;
            ASSERT_EQ(evenBelow(prepared[i].cr), out[i].cr) << n << ": " << i;
        }
    }
}

// A still picture whose two fields differ by far more than the thresholds:
// the temporal neighbours equal the centre and the field partner is never
// taken, so the averaging gives back the cached half-scale frame.
TEST_P(EndToEnd, AStillClipComesOutUnchangedApartFromTheRounding)
{
    const int32_t w = 64, h = 24;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> texture(-60, 60);
    std::vector<YcPixel> still((size_t)w * h);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            const int field = (y & 1) ? 1200 : 0;
            const int16_t luma = (int16_t)(1000 + field + texture(rng));
            const int16_t cb = (int16_t)(-field / 2 + texture(rng)), cr = (int16_t)(field / 2 + texture(rng));
            still[(size_t)y * w + x] = YcPixel{luma, cb, cr};
        }
    start(Clip(6, still), w, h, w);
    host.check[CHECK_411] = 0; // default thresholds, dot pass on
    host.update();
    for (int32_t n : {0, 1, 2, 3, 4, 5}) {
        const std::vector<YcPixel> out = host.render(n);
        for (size_t i = 0; i < out.size(); i++) {
            ASSERT_EQ(evenBelow(still[i].y), out[i].y) << n << ": " << i;
            ASSERT_EQ(evenBelow(still[i].cb), out[i].cb) << n << ": " << i;
            ASSERT_EQ(evenBelow(still[i].cr), out[i].cr) << n << ": " << i;
        }
    }
}

// Noise on a still picture: each frame's own noise, the default settings.
TEST_P(EndToEnd, NoiseOnAStillPictureComesOutLower)
{
    const int32_t w = 96, h = 64, frames = 7;
    std::vector<YcPixel> clean((size_t)w * h);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++)
            clean[(size_t)y * w + x] = YcPixel{(int16_t)(800 + 20 * x + 10 * y), (int16_t)(300 - 6 * x),
                                               (int16_t)(-200 + 8 * y)};
    std::mt19937 rng(4);
    std::normal_distribution<double> noise(0.0, 24.0);
    Clip clip((size_t)frames, clean);
    for (auto &f : clip)
        for (auto &p : f) {
            p.y = (int16_t)lrint(p.y + noise(rng));
            p.cb = (int16_t)lrint(p.cb + noise(rng));
            p.cr = (int16_t)lrint(p.cr + noise(rng));
        }
    start(clip, w, h, w);
    host.check[CHECK_411] = 0;
    host.update();
    auto rms = [&](const std::vector<YcPixel> &f, int k) {
        double e = 0;
        for (size_t i = 0; i < f.size(); i++) {
            const double d = (&f[i].y)[k] - (&clean[i].y)[k];
            e += d * d;
        }
        return sqrt(e / (double)f.size());
    };
    for (int32_t n = 0; n < frames; n++) {
        const std::vector<YcPixel> out = host.render(n);
        for (int k = 0; k < 3; k++) {
            const double before = rms(clip[n], k), after = rms(out, k);
            RecordProperty(("rms_" + std::to_string(n) + "_" + std::to_string(k)).c_str(),
                           std::to_string(before) + " -> " + std::to_string(after));
            EXPECT_LT(after, 0.75 * before) << "frame " << n << " component " << k << ": " << before << " -> " << after;
        }
    }
}

// Every kernel level renders the same bytes, whatever the settings.
TEST_P(EndToEnd, EveryLevelRendersTheSameFrames)
{
    const int32_t w = 117, h = 37, stride = 128;
    const Clip clip = randomClip(5, stride, h, 5);
    start(clip, w, h, stride);
    host.track[TRACK_GAIN_CB] = 31;
    host.track[TRACK_OFFSET_Y] = -7;
    host.track[TRACK_HUE] = 23;
    host.track[TRACK_BALANCE] = -12;
    host.track[TRACK_LUMA_HIGH] = 20;
    host.check[CHECK_BORDERS] = 1;
    host.track[TRACK_BORDER_TOP] = 3;
    host.track[TRACK_BORDER_BOTTOM] = 2;
    host.track[TRACK_BORDER_LEFT] = 5;
    host.track[TRACK_BORDER_RIGHT] = 6;
    for (int noPrevious = 0; noPrevious < 2; noPrevious++) {
        host.check[CHECK_NO_PREVIOUS] = noPrevious;
        std::vector<std::vector<YcPixel>> rendered[2];
        for (int pass = 0; pass < 2; pass++) {
            moduleInstance.kernels = levelKernels(pass == 0 ? 0 : GetParam().flags);
            host.update();
            for (int32_t n = 0; n < 5; n++)
                rendered[pass].push_back(host.render(n));
        }
        for (int32_t n = 0; n < 5; n++)
            EXPECT_EQ(0, memcmp(rendered[0][n].data(), rendered[1][n].data(), rendered[0][n].size() * sizeof(YcPixel)))
                << "frame " << n << ", previous frame " << (noPrevious ? "off" : "on");
    }
}

INSTANTIATE_AT_EVERY_LEVEL(EndToEnd);

} // namespace
