#include <string.h>

#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "embedded_host.h"
#include "host/entry_points.h"
#include "host/module_state.h"
#include "pipeline/band_cache.h"

namespace {

using velvane::moduleInstance;

using velvane::EmbeddedHost;
using velvane::HostCall;

std::vector<std::vector<YcPixel>> makeClip(int32_t frames, int32_t stride, int32_t height, uint32_t seed = 1)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> luma(256, 3760), chroma(-1792, 1792);
    std::vector<std::vector<YcPixel>> clip(frames, std::vector<YcPixel>((size_t)stride * height));
    for (auto &f : clip)
        for (auto &p : f)
            p = YcPixel{(int16_t)luma(rng), (int16_t)chroma(rng), (int16_t)chroma(rng)};
    return clip;
}

bool samePixels(const std::vector<YcPixel> &a, const std::vector<YcPixel> &b)
{
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size() * sizeof(YcPixel)) == 0;
}

class Driver : public ::testing::Test {
protected:
    EmbeddedHost host{16, 12};

    void SetUp() override
    {
        host.attach(GetFilterTable());
        host.init();
        velvane::releaseBandCache(moduleInstance.cache, moduleInstance.frameHeap);
        host.setClip(makeClip(20, 16, 12));
    }
    void TearDown() override { host.exit(); }

    void useClip(int32_t width, int32_t height, int32_t stride, int32_t frames)
    {
        host.setGeometry(width, height, stride);
        host.setClip(makeClip(frames, host.stride(), height));
    }
    // Frames requested while rendering n.
    std::vector<int32_t> requestsFor(int32_t n)
    {
        host.clearCalls();
        host.render(n);
        return host.requestedFrames();
    }
    std::vector<int32_t> tags() const { return {moduleInstance.cache.slotTag, moduleInstance.cache.slotTag + 5}; }
};

using Frames = std::vector<int32_t>;

TEST_F(Driver, ForwardPlaybackRebuildsOneFrameAfterTheFirst)
{
    host.check[velvane::CHECK_DOT] = 0;
    EXPECT_EQ(requestsFor(10), (Frames{9, 10, 11}));
    EXPECT_EQ(requestsFor(11), (Frames{12}));
    EXPECT_EQ(requestsFor(12), (Frames{13}));
    EXPECT_EQ(requestsFor(12), Frames{});
    EXPECT_TRUE(host.calls.empty()); // nothing rebuilt, nothing asked of the host
    // A step back finds n - 1, n, n + 1 still held.
    EXPECT_EQ(requestsFor(11), Frames{});
    // A jump rebuilds what its slots do not hold (slots 4, 0, 1).
    EXPECT_EQ(requestsFor(15), (Frames{14, 15, 16}));
    EXPECT_EQ(tags(), (Frames{15, 16, 12, 13, 14}));
}

TEST_F(Driver, HostCallSequenceWithAndWithoutTheDotPass)
{
    const int32_t stride = host.stride(), maxHeight = 12;
    const HostCall size{HostCall::SetFrameCacheSize, {stride, maxHeight, 3, 0}};
    auto get = [](int32_t m) { return HostCall{HostCall::GetCachedFrame, {m, 0, 0, 0}}; };

    host.check[velvane::CHECK_DOT] = 0;
    host.render(5);
    host.clearCalls();
    host.render(6);
    EXPECT_EQ(host.calls, (std::vector<HostCall>{size, get(7)}));

    host.check[velvane::CHECK_DOT] = 1;
    host.update();
    host.clearCalls();
    host.render(6);
    EXPECT_EQ(host.calls, (std::vector<HostCall>{size, get(4), get(5), get(6), size, get(5), get(6), get(7), size,
                                                 get(6), get(7), get(8)}));
}

TEST_F(Driver, ClipEndsNeverAskForFramesOutsideTheClip)
{
    // Frame 0 builds from frame 1 alone; the last frame from the one before it.
    EXPECT_EQ(requestsFor(0), (Frames{0, 1, 0, 1, 2}));
    EXPECT_EQ(requestsFor(19), (Frames{17, 18, 19, 18, 19}));

    host.check[velvane::CHECK_DOT] = 0;
    host.update();
    EXPECT_EQ(requestsFor(0), (Frames{0, 1}));
    host.update();
    EXPECT_EQ(requestsFor(19), (Frames{18, 19}));

    // A one-frame clip asks for frame 0 only, and with identical neighbours the
    // dot pass leaves it as it is.
    host.setClip(makeClip(1, 16, 12));
    host.update();
    EXPECT_EQ(requestsFor(0), Frames{0});
    const auto dotOff = host.render(0);
    host.check[velvane::CHECK_DOT] = 1;
    host.update();
    EXPECT_EQ(requestsFor(0), Frames{0});
    host.update();
    EXPECT_TRUE(samePixels(host.render(0), dotOff));
}

TEST_F(Driver, CheckValuesOtherThanOneAreOff)
{
    for (int32_t value : {0, 2, -1}) {
        SCOPED_TRACE(value);
        for (int i = 0; i < 5; i++)
            host.check[i] = value;
        host.update();
        EXPECT_EQ(requestsFor(8), (Frames{7, 8, 9}));
        static std::vector<YcPixel> offOutput;
        auto out = host.render(8);
        if (value == 0)
            offOutput = out;
        else
            EXPECT_TRUE(samePixels(out, offOutput));
    }
}

TEST_F(Driver, GateClearsWholeRowsAndKeepsTheCache)
{
    host.render(3);
    const auto before = tags();
    struct Case {
        int32_t width, height, stride, level;
    } cases[] = {{721, 8, 724, 2}, {16, 481, 16, 2}, {16, 12, 16, 0}, {16, 12, 16, 1}, {3, 12, 8, 2},
                 {16, 3, 16, 2},   {16, 12, 15, 2},
                 // The native library takes PAL frames; the plug-in keeps its host's limit.
                 {720, 576, 720, 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " stride " << c.stride << " level "
                                          << c.level);
        moduleInstance.cpuLevel = c.level;
        host.setGeometry(c.width, c.height, c.stride);
        std::vector<YcPixel> frame((size_t)c.stride * c.height + 1, YcPixel{99, 99, 99});
        host.clearCalls();
        host.renderInPlace(0, frame.data());
        for (size_t i = 0; i + 1 < frame.size(); i++)
            ASSERT_TRUE(frame[i].y == 0 && frame[i].cb == 0 && frame[i].cr == 0) << i;
        EXPECT_EQ(frame.back().y, 99); // nothing past stride x height
        EXPECT_TRUE(host.calls.empty());
        EXPECT_EQ(tags(), before);
    }
    moduleInstance.cpuLevel = 2;
}

TEST_F(Driver, FullSizeFramesPassTheGate)
{
    useClip(720, 480, 720, 3);
    auto out = host.render(1);
    EXPECT_EQ(tags()[1], 1);
    bool nonZero = false;
    for (const auto &p : out)
        nonZero |= p.y != 0;
    EXPECT_TRUE(nonZero);
}

TEST_F(Driver, GeometryChangesEmptyTheCacheOnlyWhenTheAlignedSizeChanges)
{
    useClip(718, 480, 720, 8);
    host.render(4);
    host.setGeometry(720, 480, 720);
    EXPECT_EQ(requestsFor(4), Frames{});
    host.setGeometry(704, 480, 720);
    EXPECT_EQ(requestsFor(4), (Frames{2, 3, 4, 3, 4, 5, 4, 5, 6}));
    host.setGeometry(720, 480, 720);
    host.check[velvane::CHECK_DOT] = 0;
    EXPECT_EQ(requestsFor(4), (Frames{3, 4, 5}));
}

TEST_F(Driver, MissingSourceFramesLeaveTheSlotEmptyAndTheFrameAsPassed)
{
    host.check[velvane::CHECK_DOT] = 0;
    const auto &clip = makeClip(20, 16, 12);

    // A host that returns nothing for frame 6: that slot stays empty, and frame
    // 5 (which averages over 6) is left exactly as the host passed it.
    host.nullFrames = {6};
    auto out = host.render(5);
    EXPECT_EQ(tags()[6 % 5], -1);
    EXPECT_EQ(tags()[5 % 5], 5);
    EXPECT_TRUE(samePixels(out, clip[5]));
    host.nullFrames.clear();
    EXPECT_EQ(requestsFor(5), Frames{6}); // tried again
    EXPECT_FALSE(samePixels(host.render(5), clip[5]));

    // With the dot pass on, a null neighbour ends that rebuild at once.
    host.check[velvane::CHECK_DOT] = 1;
    host.update();
    host.nullFrames = {9};
    EXPECT_EQ(requestsFor(9), (Frames{7, 8, 9, 8, 9, 9}));
    EXPECT_EQ(tags(), (Frames{-1, -1, -1, -1, -1}));
    host.nullFrames.clear();

    // A refused frame cache: nothing is fetched, no slot is filled.
    host.update();
    host.refuseCacheSize = true;
    host.clearCalls();
    out = host.render(12);
    EXPECT_TRUE(host.requestedFrames().empty());
    EXPECT_EQ(host.calls.size(), 3u);
    EXPECT_EQ(tags(), (Frames{-1, -1, -1, -1, -1}));
    EXPECT_TRUE(samePixels(out, clip[12]));
    host.refuseCacheSize = false;
}

TEST_F(Driver, SettingsChangesRebuildEverySlot)
{
    host.check[velvane::CHECK_DOT] = 0;
    host.render(7);
    EXPECT_EQ(host.update(), 1);
    EXPECT_EQ(tags(), (Frames{-1, -1, -1, -1, -1}));
    EXPECT_EQ(requestsFor(7), (Frames{6, 7, 8}));
}

TEST_F(Driver, OddSizesAndWideStridesStayInBounds)
{
    // Run under the sanitizers: widths and heights that round up, strides
    // wider than the width and equal to it.
    for (int32_t w : {4, 5, 717, 720})
        for (int32_t h : {4, 5, 479, 480})
            for (int32_t extra : {0, 3}) {
                SCOPED_TRACE(::testing::Message() << w << "x" << h << "+" << extra);
                useClip(w, h, w + extra, 3);
                for (int check3 : {0, 1}) {
                    host.check[velvane::CHECK_BORDERS] = check3;
                    host.track[velvane::TRACK_BORDER_RIGHT] = 50;
                    host.track[velvane::TRACK_BORDER_BOTTOM] = 100;
                    host.update();
                    auto out = host.render(1);
                    // On: the bottom 100 rows (clipped to the frame) are black
                    // across the stride, and so are the last 50 visible pixels
                    // (clipped to the row) of the rows above. Off: every row is
                    // doubled across the stride.
                    const int32_t firstBottom = std::max(0, h - 100), firstRight = std::max(0, w - 50);
                    for (int32_t r = 0; r < h; r++)
                        for (int32_t x = 0; x < w + extra; x++) {
                            const YcPixel &p = out[(size_t)r * (w + extra) + x];
                            const bool black = p.y == 256 && p.cb == 0 && p.cr == 0;
                            if (check3 && (r >= firstBottom || (x >= firstRight && x < w))) {
                                ASSERT_TRUE(black) << r << "," << x;
                            } else if (!check3) {
                                ASSERT_TRUE(p.y % 2 == 0 && p.cb % 2 == 0 && p.cr % 2 == 0) << r << "," << x;
                            }
                        }
                }
            }
}

} // namespace
