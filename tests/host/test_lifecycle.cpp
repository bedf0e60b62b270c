// Start-up, shut-down and settings changes: scratch memory, band planes and
// the processing gate.
#include <stdlib.h>
#include <string.h>

#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "embedded_host.h"
#include "host/entry_points.h"
#include "host/module_state.h"
#include "pipeline/band_cache.h"

namespace {

using velvane::moduleInstance;


// The heap the scratch memory comes from, counted; it can be told to fail.
struct CountingHeap {
    std::vector<size_t> requested;
    std::vector<void *> handedOut;
    std::vector<void *> released;
    int failAt = -1; // the request that fails, counted from 0
};
CountingHeap *heap = nullptr;

void *countingAllocate(size_t bytes)
{
    const int index = (int)heap->requested.size();
    heap->requested.push_back(bytes);
    if (index == heap->failAt)
        return nullptr;
    void *p = malloc(bytes);
    heap->handedOut.push_back(p);
    return p;
}

void countingRelease(void *p)
{
    heap->released.push_back(p);
    free(p);
}

std::vector<std::vector<YcPixel>> noisyClip(int32_t frames, int32_t stride, int32_t height)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> luma(256, 3760), chroma(-1792, 1792);
    std::vector<std::vector<YcPixel>> clip(frames, std::vector<YcPixel>((size_t)stride * height));
    for (auto &f : clip)
        for (auto &p : f)
            p = YcPixel{(int16_t)luma(rng), (int16_t)chroma(rng), (int16_t)chroma(rng)};
    return clip;
}

bool allZero(const std::vector<YcPixel> &frame)
{
    for (const YcPixel &p : frame)
        if (p.y || p.cb || p.cr)
            return false;
    return true;
}

class Lifecycle : public ::testing::Test {
protected:
    CountingHeap counts;
    velvane::ScratchHeap savedHeap = moduleInstance.scratchHeap;
    velvane::EmbeddedHost host{16, 12};

    void SetUp() override
    {
        heap = &counts;
        moduleInstance.scratchHeap = {countingAllocate, countingRelease};
        host.attach(GetFilterTable());
        host.setClip(noisyClip(8, 16, 12));
    }
    void TearDown() override
    {
        host.exit();
        moduleInstance.scratchHeap = savedHeap;
        heap = nullptr;
    }
    std::vector<float *> alignedBlocks() const
    {
        return {moduleInstance.scratch.work.planeA, moduleInstance.scratch.work.planeB, moduleInstance.scratch.work.rowA, moduleInstance.scratch.work.rowB, moduleInstance.scratch.work.rowC};
    }
    std::vector<YcPixel *> planes() const
    {
        std::vector<YcPixel *> p;
        for (int s = 0; s < velvane::kCacheSlots; ++s) {
            p.push_back(moduleInstance.cache.lowBand[s]);
            p.push_back(moduleInstance.cache.highBand[s]);
        }
        return p;
    }
    std::vector<int32_t> tags() const { return {moduleInstance.cache.slotTag, moduleInstance.cache.slotTag + velvane::kCacheSlots}; }
    void expectNoStorage()
    {
        for (void *raw : moduleInstance.scratch.raw)
            EXPECT_EQ(raw, nullptr);
        for (float *p : alignedBlocks())
            EXPECT_EQ(p, nullptr);
        for (YcPixel *p : planes())
            EXPECT_EQ(p, nullptr);
    }
};

TEST_F(Lifecycle, InitAllocatesFiveBlocksInOrderEachFifteenBytesOver)
{
    EXPECT_EQ(host.init(), 1);
    EXPECT_EQ(moduleInstance.cpuLevel, 2); // this machine has SSE2
    const size_t plane = 800 * 800 * sizeof(float), row = 800 * sizeof(float);
    EXPECT_EQ(counts.requested, (std::vector<size_t>{plane + 15, plane + 15, row + 15, row + 15, row + 15}));
    ASSERT_EQ(counts.handedOut.size(), 5u);
    const std::vector<float *> aligned = alignedBlocks();
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(moduleInstance.scratch.raw[i], counts.handedOut[i]);
        const uintptr_t start = (uintptr_t)moduleInstance.scratch.raw[i], work = (uintptr_t)aligned[i];
        EXPECT_EQ(work % 16, 0u) << i;
        EXPECT_GE(work, start) << i;
        EXPECT_LE(work - start, 15u) << i;
    }
}

TEST_F(Lifecycle, BlocksStayAlignedWhateverTheHeapHandsOut)
{
    // A heap that returns addresses at every offset from 16-byte alignment.
    static std::vector<char *> arenas;
    static int next = 0;
    next = 0;
    moduleInstance.scratchHeap.allocate = [](size_t bytes) -> void * {
        char *arena = static_cast<char *>(malloc(bytes + 32));
        arenas.push_back(arena);
        char *base = arena + (16 - (uintptr_t)arena % 16) % 16;
        return base + (next++ * 3 + 1) % 16;
    };
    moduleInstance.scratchHeap.release = [](void *) {};
    EXPECT_EQ(host.init(), 1);
    const std::vector<float *> aligned = alignedBlocks();
    for (int i = 0; i < 5; ++i) {
        const uintptr_t start = (uintptr_t)moduleInstance.scratch.raw[i], work = (uintptr_t)aligned[i];
        EXPECT_NE(start % 16, 0u) << i;
        EXPECT_EQ(work % 16, 0u) << i;
        EXPECT_LE(work - start, 15u) << i;
        EXPECT_GT(work, start) << i;
    }
    host.exit();
    for (char *a : arenas)
        free(a);
    arenas.clear();
}

TEST_F(Lifecycle, FrameIsProcessedAfterInit)
{
    host.init();
    const std::vector<YcPixel> out = host.render(3);
    EXPECT_FALSE(allZero(out));
    EXPECT_EQ(tags()[3], 3);
}

TEST_F(Lifecycle, FailedScratchAllocationLeavesProcessingOff)
{
    for (int failAt = 0; failAt < 5; ++failAt) {
        counts = CountingHeap{};
        counts.failAt = failAt;
        EXPECT_EQ(host.init(), 1) << failAt;
        EXPECT_EQ(moduleInstance.cpuLevel, 0) << failAt;
        // Whatever was obtained went back at once, and nothing is left pointing at it.
        EXPECT_EQ(counts.released, counts.handedOut) << failAt;
        for (void *raw : moduleInstance.scratch.raw)
            EXPECT_EQ(raw, nullptr);
        for (float *p : alignedBlocks())
            EXPECT_EQ(p, nullptr);

        host.clearCalls();
        EXPECT_TRUE(allZero(host.render(2))) << failAt; // cleared, as for a processor without SSE
        EXPECT_TRUE(host.calls.empty());
        EXPECT_EQ(host.exit(), 1);
    }
}

TEST_F(Lifecycle, ExitFreesEverythingAndLeavesNoPointer)
{
    host.init();
    host.render(3);
    for (YcPixel *p : planes())
        ASSERT_NE(p, nullptr);
    const std::vector<void *> blocks(moduleInstance.scratch.raw, moduleInstance.scratch.raw + 5);

    EXPECT_EQ(host.exit(), 1);
    EXPECT_EQ(counts.released, blocks); // the allocator's pointers, in order
    expectNoStorage();
    EXPECT_EQ(tags(), (std::vector<int32_t>(5, -1)));

    // A second exit and a late frame touch nothing that was freed.
    EXPECT_EQ(host.exit(), 1);
    EXPECT_EQ(counts.released.size(), 5u);
    host.clearCalls();
    EXPECT_TRUE(allZero(host.render(4)));
    EXPECT_TRUE(host.calls.empty());
    expectNoStorage();
}

TEST_F(Lifecycle, RepeatedInitKeepsOnlyOneSetOfBlocks)
{
    host.init();
    const std::vector<void *> first(moduleInstance.scratch.raw, moduleInstance.scratch.raw + 5);
    host.init();
    EXPECT_EQ(counts.released, first);
    EXPECT_EQ(counts.handedOut.size(), 10u);
    host.exit();
    EXPECT_EQ(counts.released.size(), 10u);
}

TEST_F(Lifecycle, UpdateEmptiesTheTagsAndKeepsThePlanes)
{
    host.init();
    host.render(3);
    host.render(4);
    const std::vector<YcPixel *> before = planes();
    const int32_t width = moduleInstance.cache.alignedWidth, height = moduleInstance.cache.alignedHeight;
    std::vector<YcPixel> lowBand0(moduleInstance.cache.lowBand[0],
                                  moduleInstance.cache.lowBand[0] + (size_t)(height + 4) * moduleInstance.cache.paddedWidth);
    EXPECT_NE(tags(), (std::vector<int32_t>(5, -1)));

    EXPECT_EQ(host.update(), 1);
    EXPECT_EQ(tags(), (std::vector<int32_t>(5, -1)));
    EXPECT_EQ(planes(), before);
    EXPECT_EQ(moduleInstance.cache.alignedWidth, width);
    EXPECT_EQ(moduleInstance.cache.alignedHeight, height);
    EXPECT_EQ(memcmp(lowBand0.data(), moduleInstance.cache.lowBand[0], lowBand0.size() * sizeof(YcPixel)), 0);

    // The next frame finds every slot empty and rebuilds its three frames.
    host.check[velvane::CHECK_DOT] = 0;
    host.clearCalls();
    host.render(4);
    EXPECT_EQ(host.requestedFrames(), (std::vector<int32_t>{3, 4, 5}));
}

} // namespace
