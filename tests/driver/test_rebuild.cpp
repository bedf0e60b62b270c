// The driver prepares a frame row by row in its slot's plane; these tests hold
// its band planes to the plain stage order on whole-frame temporaries:
// dot pass, colour stage, 4:1:1 interpolation, halving, padded copy, split.
#include <stdlib.h>
#include <string.h>

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "host/module_state.h"
#include "embedded_host.h"
#include "host/entry_points.h"
#include "pipeline/band_cache.h"
#include "pipeline/band_split.h"
#include "pipeline/colour.h"
#include "wavelet/dot_pass.h"

namespace {

using namespace velvane;

using Frame = std::vector<YcPixel>;

struct Geometry {
    int32_t width, height, stride;
};

struct Settings {
    bool dot, chroma411, colour;
};

std::vector<Frame> makeClip(int32_t frames, size_t samples, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> luma(-200, 4000), chroma(-1800, 1800);
    std::vector<Frame> clip(frames, Frame(samples));
    for (auto &f : clip)
        for (auto &p : f)
            p = YcPixel{(int16_t)luma(rng), (int16_t)chroma(rng), (int16_t)chroma(rng)};
    return clip;
}

// Both planes of frame m as the plain stages build them.
struct Planes {
    Frame low, high;
};

Planes referencePlanes(const std::vector<Frame> &clip, int32_t m, const Geometry &g, const FilterDescriptor *fd)
{
    const Kernels &k = moduleInstance.kernels; // the started module's
    FrameJob job{};
    job.width = g.width;
    job.height = g.height;
    job.stride = g.stride;
    const size_t samples = (size_t)g.stride * g.height;
    const int32_t count = (int32_t)clip.size();
    // Four spare zero pixels: the padded copy may read up to three past the
    // last row when the stride is below the aligned width.
    Frame cur(samples + 4, YcPixel{0, 0, 0});
    memcpy(cur.data(), clip[m].data(), samples * sizeof(YcPixel));
    if (checkOn(fd->checkValues, CHECK_DOT)) {
        const Frame &prev = clip[m > 0 ? m - 1 : (m + 1 < count ? m + 1 : m)];
        const Frame &next = clip[m + 1 < count ? m + 1 : (m > 0 ? m - 1 : m)];
        dotPass(k.wavelet, moduleInstance.scratch.work, &job, prev.data(), cur.data(), next.data());
    }
    adjustColour(cur.data(), &job, settingsFromArrays(fd->trackValues, fd->checkValues), k.pipeline);
    if (checkOn(fd->checkValues, CHECK_411))
        interpolateChroma411(cur.data(), &job, k.pipeline);
    halveSamples(cur.data(), g.stride, g.height, k.pipeline);
    const int32_t aw = (g.width + 3) & ~3, ah = (g.height + 1) & ~1;
    const size_t cells = (size_t)(aw + 4) * (ah + 4);
    Planes p{Frame(cells), Frame(cells)};
    fillPaddedCopy(cur.data(), g.stride, g.height, p.high.data(), aw, ah);
    splitBands(p.low.data(), p.high.data(), aw, ah, k.pipeline);
    return p;
}

// Compares the low band's frame cells and every cell of the high band.
void expectSlotMatches(const Planes &ref, int32_t slot)
{
    const int32_t aw = moduleInstance.cache.alignedWidth, ah = moduleInstance.cache.alignedHeight, pw = moduleInstance.cache.paddedWidth;
    ASSERT_EQ(ref.high.size(), (size_t)pw * (ah + 4));
    EXPECT_EQ(memcmp(ref.high.data(), moduleInstance.cache.highBand[slot], ref.high.size() * sizeof(YcPixel)), 0);
    for (int32_t y = 0; y < ah; y++)
        ASSERT_EQ(memcmp(ref.low.data() + (size_t)(y + 2) * pw + 2, bandRow(moduleInstance.cache.lowBand[slot], pw, y),
                         (size_t)aw * sizeof(YcPixel)),
                  0)
            << "low band row " << y;
}

class Rebuild : public ::testing::TestWithParam<Geometry> {
protected:
    EmbeddedHost host{16, 12};

    void SetUp() override
    {
        host.attach(GetFilterTable());
        host.init();
    }
    void TearDown() override { host.exit(); }

    // Renders `frames` in order on a fresh cache and checks every slot it
    // holds afterwards against the plain stages.
    void check(int32_t clipLength, std::vector<int32_t> frames, const Settings &s, uint32_t seed)
    {
        const Geometry g = GetParam();
        SCOPED_TRACE(::testing::Message() << g.width << "x" << g.height << " stride " << g.stride << " dot "
                                          << s.dot << " 411 " << s.chroma411 << " colour " << s.colour);
        host.setGeometry(g.width, g.height, g.stride);
        const std::vector<Frame> clip = makeClip(clipLength, (size_t)g.stride * g.height, seed);
        host.setClip(clip);
        host.check[CHECK_DOT] = s.dot;
        host.check[CHECK_411] = s.chroma411;
        host.track[TRACK_GAIN_Y] = s.colour ? 12 : 0;
        host.track[TRACK_GAIN_CB] = s.colour ? -30 : 0;
        host.track[TRACK_HUE] = s.colour ? 17 : 0;
        host.track[TRACK_BALANCE] = s.colour ? -6 : 0;
        host.update(); // empties the cache
        for (int32_t n : frames)
            host.render(n);
        int held = 0;
        for (int32_t slot = 0; slot < kCacheSlots; slot++) {
            const int32_t m = moduleInstance.cache.slotTag[slot];
            if (m < 0)
                continue;
            held++;
            SCOPED_TRACE(::testing::Message() << "frame " << m);
            expectSlotMatches(referencePlanes(clip, m, g, host.descriptor()), slot);
        }
        EXPECT_GT(held, 0);
    }
};

TEST_P(Rebuild, PlanesMatchThePlainStagesThroughAClip)
{
    for (int dot = 0; dot < 2; dot++)
        for (int c411 = 0; c411 < 2; c411++)
            for (int colour = 0; colour < 2; colour++) {
                const Settings s{dot == 1, c411 == 1, colour == 1};
                check(6, {0, 1, 2}, s, 3);    // the first frames, with their clip-start neighbours
                check(6, {3, 4, 5}, s, 4);    // forward playback up to the last frame
                check(6, {5, 2}, s, 5);       // a jump rebuilds three frames
            }
}

TEST_P(Rebuild, ShortClipsUseTheFrameItselfOrItsOneNeighbour)
{
    for (int dot = 0; dot < 2; dot++) {
        const Settings s{dot == 1, true, false};
        check(1, {0}, s, 6);
        check(2, {0}, s, 7);
        check(2, {1}, s, 8);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Rebuild,
                         ::testing::Values(Geometry{16, 12, 16},  // aligned
                                           Geometry{13, 9, 16},   // odd width and height, room in the stride
                                           Geometry{14, 10, 14},  // stride below the aligned width
                                           Geometry{17, 7, 17},   // the same with an odd height
                                           Geometry{20, 4, 24},   // the fewest rows
                                           Geometry{41, 23, 48},
                                           Geometry{718, 479, 736})); // full size, odd height

} // namespace
