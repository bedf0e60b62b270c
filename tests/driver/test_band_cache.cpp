#include <vector>

#include <gtest/gtest.h>

#include "host/module_state.h"
#include "pipeline/band_cache.h"

namespace {

using velvane::moduleInstance;


struct PaddedCopy {
    int32_t width, height, stride, alignedWidth, alignedHeight;
    std::vector<YcPixel> src, plane;

    PaddedCopy(int32_t w, int32_t h, int32_t s)
        : width(w), height(h), stride(s), alignedWidth((w + 3) & ~3), alignedHeight((h + 1) & ~1),
          src((size_t)s * h + 4), plane((size_t)(alignedHeight + 4) * (alignedWidth + 4))
    {
        // Each source pixel names itself: y = column, cb = row, cr = 7.
        for (int32_t r = 0; r < h; r++)
            for (int32_t c = 0; c < s; c++)
                src[(size_t)r * s + c] = YcPixel{(int16_t)c, (int16_t)r, 7};
        velvane::fillPaddedCopy(src.data(), stride, height, plane.data(), alignedWidth, alignedHeight);
    }
    // (column, row) of the source pixel that plane cell (row, col) came from.
    std::pair<int, int> cell(int row, int col) const
    {
        const YcPixel &p = plane[(size_t)row * (alignedWidth + 4) + col];
        EXPECT_EQ(p.cr, 7);
        return {p.y, p.cb};
    }
};

TEST(BandCache, GeometryIsAlignedAndResizedOnlyOnChange)
{
    velvane::releaseBandCache(moduleInstance.cache, moduleInstance.frameHeap);
    for (int32_t w = 717; w <= 720; w++) {
        ASSERT_TRUE(velvane::ensureCacheGeometry(moduleInstance.cache, moduleInstance.frameHeap, w, 479));
        EXPECT_EQ(moduleInstance.cache.alignedWidth, 720);
        EXPECT_EQ(moduleInstance.cache.paddedWidth, 724);
        EXPECT_EQ(moduleInstance.cache.alignedHeight, 480);
    }
    for (int s = 0; s < 5; s++) {
        EXPECT_NE(moduleInstance.cache.lowBand[s], nullptr);
        EXPECT_NE(moduleInstance.cache.highBand[s], nullptr);
        EXPECT_EQ(moduleInstance.cache.slotTag[s], -1);
    }
    // A size that rounds to the same geometry keeps the slots...
    moduleInstance.cache.slotTag[2] = 7;
    ASSERT_TRUE(velvane::ensureCacheGeometry(moduleInstance.cache, moduleInstance.frameHeap, 718, 480));
    EXPECT_EQ(moduleInstance.cache.slotTag[2], 7);
    // ...another one empties them.
    ASSERT_TRUE(velvane::ensureCacheGeometry(moduleInstance.cache, moduleInstance.frameHeap, 704, 480));
    EXPECT_EQ(moduleInstance.cache.slotTag[2], -1);
    EXPECT_EQ(moduleInstance.cache.paddedWidth, 708);

    moduleInstance.cache.slotTag[1] = 6;
    velvane::invalidateBandCache(moduleInstance.cache);
    EXPECT_EQ(moduleInstance.cache.slotTag[1], -1);
    EXPECT_EQ(moduleInstance.cache.alignedWidth, 704);
    EXPECT_NE(moduleInstance.cache.lowBand[1], nullptr);
    velvane::releaseBandCache(moduleInstance.cache, moduleInstance.frameHeap);
    EXPECT_EQ(moduleInstance.cache.lowBand[1], nullptr);
    EXPECT_EQ(moduleInstance.cache.alignedWidth, -1);
}

TEST(BandCache, ColumnsMirrorWithoutRepeatingTheEdge)
{
    PaddedCopy c(8, 8, 8);
    const int expect[12] = {2, 1, 0, 1, 2, 3, 4, 5, 6, 7, 6, 5};
    for (int row = 0; row < 12; row++)
        for (int col = 0; col < 12; col++)
            EXPECT_EQ(c.cell(row, col).first, expect[col]) << row << "," << col;
}

TEST(BandCache, RowsMirrorWithinTheirField)
{
    PaddedCopy c(8, 8, 8);
    const int expect[12] = {2, 3, 0, 1, 2, 3, 4, 5, 6, 7, 5, 6};
    for (int row = 0; row < 12; row++)
        for (int col = 0; col < 12; col++)
            EXPECT_EQ(c.cell(row, col).second, expect[row]) << row << "," << col;
    EXPECT_EQ(c.cell(0, 0), std::make_pair(2, 2));
    EXPECT_EQ(c.cell(1, 1), std::make_pair(1, 3));
}

TEST(BandCache, OddHeightTakesTheMissingRowFromTheSameField)
{
    PaddedCopy c(8, 7, 8); // alignedHeight 8: frame row 7 does not exist
    EXPECT_EQ(c.alignedHeight, 8);
    EXPECT_EQ(c.cell(7 + 2, 4).second, 5);
    EXPECT_EQ(c.cell(8 + 2, 4).second, 5); // row alignedHeight takes alignedHeight - 3
    EXPECT_EQ(c.cell(9 + 2, 4).second, 6);
}

TEST(BandCache, ColumnsBeyondTheWidthComeFromTheStrideArea)
{
    PaddedCopy c(6, 4, 10); // alignedWidth 8 reads columns 6 and 7 of each row
    EXPECT_EQ(c.cell(2, 2 + 7).first, 7);
    EXPECT_EQ(c.cell(2, 8 + 2).first, 6);
    EXPECT_EQ(c.cell(2, 8 + 3).first, 5);
}

} // namespace
