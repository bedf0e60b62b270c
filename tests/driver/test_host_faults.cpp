// Hosts that misbehave between frames: a refused frame cache, frames that
// come back null, sizes that change from call to call, settings changed
// between frames, exit called twice. Each leaves the module within its memory
// (the sanitizer build runs these too; frames are served from blocks of
// exactly stride x height pixels), and the next frame of a well-behaved host
// is exactly what a freshly started module makes of it.
#include <stdlib.h>
#include <string.h>

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "embedded_host.h"
#include "host/entry_points.h"
#include "host/module_state.h"

namespace {

using velvane::moduleInstance;

using velvane::EmbeddedHost;
using velvane::FrameOutcome;
using Clip = std::vector<std::vector<YcPixel>>;

Clip makeClip(int32_t frames, int32_t stride, int32_t height, uint32_t seed)
{
    // A still picture with grain and a moving bar, so that every stage has work.
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> grain(-60, 60);
    Clip clip(frames, std::vector<YcPixel>((size_t)stride * height));
    for (int32_t f = 0; f < frames; f++)
        for (int32_t r = 0; r < height; r++)
            for (int32_t x = 0; x < stride; x++) {
                const int base = (x / 4 + f) % 6 == 0 ? 3000 : 1200 + 8 * x;
                clip[f][(size_t)r * stride + x] = YcPixel{(int16_t)(base + grain(rng)), (int16_t)(-300 + grain(rng)),
                                                          (int16_t)(400 + grain(rng))};
            }
    return clip;
}

bool samePixels(const std::vector<YcPixel> &a, const std::vector<YcPixel> &b)
{
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(YcPixel)) == 0;
}

bool allBlack(const std::vector<YcPixel> &a)
{
    return samePixels(a, std::vector<YcPixel>(a.size(), YcPixel{0, 0, 0}));
}

class HostFaults : public ::testing::Test {
protected:
    EmbeddedHost host{48, 20};
    Clip clip;

    void SetUp() override
    {
        host.copyServedFrames = false; // the module reads the clip's own exact-size blocks
        host.attach(GetFilterTable());
        ASSERT_EQ(host.init(), 1);
        ASSERT_EQ(host.update(), 1);
        useClip(48, 20, 48, 8);
    }
    void TearDown() override { host.exit(); }

    void useClip(int32_t width, int32_t height, int32_t stride, int32_t frames, uint32_t seed = 3)
    {
        host.setGeometry(width, height, stride);
        clip = makeClip(frames, stride, height, seed);
        host.setClip(clip);
    }
    std::vector<YcPixel> render(int32_t n)
    {
        std::vector<YcPixel> out(host.frameSamples());
        EXPECT_EQ(host.render(n, out.data()), 1);
        return out;
    }
    // Frame n from a module started afresh with the host's present settings.
    std::vector<YcPixel> fresh(int32_t n)
    {
        EXPECT_EQ(host.exit(), 1);
        EXPECT_EQ(host.init(), 1);
        EXPECT_EQ(host.update(), 1);
        return render(n);
    }
};

TEST_F(HostFaults, ARefusedCacheOrNullFramesLeaveFramesAsPassedAndNothingBehind)
{
    render(0);
    render(1);
    host.refuseCacheSize = true;
    EXPECT_TRUE(samePixels(render(2), clip[2]));
    host.refuseCacheSize = false;
    const auto afterRefusal = render(3);
    EXPECT_FALSE(samePixels(afterRefusal, clip[3]));
    EXPECT_TRUE(samePixels(afterRefusal, fresh(3)));

    // Null answers in the middle of a rebuild, in every role (after a
    // settings change, so that every frame the average needs is rebuilt).
    for (int32_t missing : {3, 4, 5}) {
        ASSERT_EQ(host.update(), 1);
        host.nullFrames = {missing};
        EXPECT_TRUE(samePixels(render(4), clip[4])) << "frame " << missing << " null";
        host.nullFrames.clear();
        EXPECT_TRUE(samePixels(render(4), fresh(4))) << "after frame " << missing << " came back null";
    }
    // A host that has nothing at all.
    host.setFrameSource([](int32_t) { return nullptr; }, 8);
    EXPECT_TRUE(allBlack(render(5)));
    host.setClip(clip);
    EXPECT_TRUE(samePixels(render(5), fresh(5)));
}

TEST_F(HostFaults, SizeChangesBetweenCalls)
{
    render(2);
    // Smaller, with a stride below the rounded width, then too large, then a
    // stride far wider than the width, then back to the first size.
    struct Size {
        int32_t width, height, stride;
    } sizes[] = {{33, 7, 34}, {740, 12, 740}, {21, 9, 64}, {48, 20, 48}};
    for (const Size &s : sizes) {
        useClip(s.width, s.height, s.stride, 8, (uint32_t)s.width);
        const auto out = render(3);
        if (s.width > VV_MAX_WIDTH) {
            EXPECT_TRUE(allBlack(out));
            continue;
        }
        const auto next = render(4);
        EXPECT_TRUE(samePixels(next, fresh(4))) << s.width << " x " << s.height << " stride " << s.stride;
    }
}

TEST_F(HostFaults, SettingsChangedBetweenFrames)
{
    render(1);
    render(2);
    // Every setting moves, the dot pass and the 4:1:1 interpolation go off,
    // and the host says so with updateFilter.
    const int32_t tracks[VV_TRACK_COUNT] = {3, 17, 0, 20, 25, -60, 80, -20, 12, -30, 2, 3, 4, 5};
    std::copy(tracks, tracks + VV_TRACK_COUNT, host.track);
    host.check[velvane::CHECK_DOT] = 0;
    host.check[1] = 0;
    host.check[3] = 1;
    ASSERT_EQ(host.update(), 1);
    const auto changed = render(3);
    EXPECT_TRUE(samePixels(changed, fresh(3)));
    // And back to the defaults.
    host.attach(GetFilterTable());
    ASSERT_EQ(host.update(), 1);
    const auto back = render(4);
    EXPECT_TRUE(samePixels(back, fresh(4)));
}

TEST_F(HostFaults, ExitTwiceThenStartAgain)
{
    const auto before = render(4);
    EXPECT_EQ(host.exit(), 1);
    EXPECT_EQ(host.exit(), 1);
    // A frame asked for while the module is shut: cleared, not processed in freed memory.
    EXPECT_TRUE(allBlack(render(4)));
    ASSERT_EQ(host.init(), 1);
    ASSERT_EQ(host.update(), 1);
    EXPECT_TRUE(samePixels(render(4), before));
}

TEST_F(HostFaults, SettingsFarOutsideTheirRangesStayInBounds)
{
    // A host that does not enforce the declared ranges: thresholds, gains,
    // offsets and borders at the limits of the type. Nothing is read or
    // written out of bounds and every call returns 1; then the declared
    // settings work as before.
    const int32_t extremes[] = {INT32_MIN, -100000, -1, 1000, 100000, INT32_MAX};
    for (int32_t v : extremes) {
        for (int i = 0; i < VV_TRACK_COUNT; i++)
            host.track[i] = (i % 2) ? v : -v - 1;
        for (int i = 0; i < VV_CHECK_COUNT; i++)
            host.check[i] = v;
        ASSERT_EQ(host.update(), 1);
        for (int32_t n = 0; n < 4; n++)
            render(n);
    }
    host.attach(GetFilterTable());
    ASSERT_EQ(host.update(), 1);
    const auto out = render(5);
    EXPECT_TRUE(samePixels(out, fresh(5)));
}

// A heap whose allocation number `failAt` (counted from 0) fails, and every
// one after it while `failing` stays set.
struct FailingHeap {
    static int calls, failAt;
    static bool failing;
    static void *allocate(size_t bytes) { return fail() ? nullptr : malloc(bytes); }
    static void *reallocate(void *p, size_t bytes) { return fail() ? nullptr : realloc(p, bytes); }
    static bool fail()
    {
        failing |= calls++ == failAt;
        return failing;
    }
};
int FailingHeap::calls = 0, FailingHeap::failAt = 0;
bool FailingHeap::failing = false;

TEST_F(HostFaults, EachFrameSaysWhyItWasNotFiltered)
{
    render(2);
    EXPECT_EQ(moduleInstance.lastOutcome, FrameOutcome::Filtered);
    ASSERT_EQ(host.update(), 1);
    host.nullFrames = {4};
    render(3);
    EXPECT_EQ(moduleInstance.lastOutcome, FrameOutcome::MissingFrames);
    host.nullFrames.clear();
    useClip(740, 4, 740, 3);
    render(1);
    EXPECT_EQ(moduleInstance.lastOutcome, FrameOutcome::Unsupported);
    useClip(48, 20, 48, 8);
    host.exit();
    render(1);
    EXPECT_EQ(moduleInstance.lastOutcome, FrameOutcome::NotStarted);

    // Start-up without its working storage: processing stays off, and says why.
    const velvane::ScratchHeap heap = moduleInstance.scratchHeap;
    moduleInstance.scratchHeap.allocate = [](size_t) -> void * { return nullptr; };
    host.init();
    moduleInstance.scratchHeap = heap;
    EXPECT_TRUE(allBlack(render(1)));
    EXPECT_EQ(moduleInstance.lastOutcome, FrameOutcome::OutOfMemory);
    host.init();
    render(1);
    EXPECT_EQ(moduleInstance.lastOutcome, FrameOutcome::Filtered);
}

TEST_F(HostFaults, FailedFrameAllocationsLeaveTheFrameAsPassed)
{
    // Every allocation of a frame in turn fails, with the cache planes to be
    // made anew (a size change) and with only the temporaries (a settings
    // change): the frame comes back as passed and says so, and once memory is
    // there again the next frame is a fresh module's.
    const velvane::FrameHeap heap = moduleInstance.frameHeap;
    for (bool resize : {true, false}) {
        for (int failAt = 0;; failAt++) {
            useClip(resize ? 40 + 4 * (failAt % 2) : 48, 20, 48, 8);
            ASSERT_EQ(host.update(), 1);
            FailingHeap::calls = 0;
            FailingHeap::failAt = failAt;
            FailingHeap::failing = false;
            moduleInstance.frameHeap.allocate = FailingHeap::allocate;
            moduleInstance.frameHeap.reallocate = FailingHeap::reallocate;
            const auto out = render(4);
            moduleInstance.frameHeap = heap;
            if (!FailingHeap::failing) { // fewer allocations than that: every one was tried
                EXPECT_EQ(moduleInstance.lastOutcome, FrameOutcome::Filtered);
                EXPECT_GT(failAt, 0);
                break;
            }
            EXPECT_EQ(moduleInstance.lastOutcome, FrameOutcome::OutOfMemory) << "allocation " << failAt;
            EXPECT_TRUE(samePixels(out, clip[4])) << "allocation " << failAt;
            const auto next = render(5);
            EXPECT_TRUE(samePixels(next, fresh(5))) << "after allocation " << failAt << " failed";
        }
    }
}

} // namespace
