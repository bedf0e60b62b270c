// The test host's PNG writer, read back with libpng.
#include <gtest/gtest.h>
#include <png.h>

#include <string.h>

#include "png_write.h"

namespace {

struct Decoded {
    bool ok = false;
    png_uint_32 width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

Decoded decode(const std::vector<uint8_t> &file)
{
    Decoded d;
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
        return d;
    image.format = PNG_FORMAT_RGB;
    d.rgb.resize(PNG_IMAGE_SIZE(image));
    d.ok = png_image_finish_read(&image, nullptr, d.rgb.data(), 0, nullptr) != 0;
    d.width = image.width;
    d.height = image.height;
    return d;
}

std::vector<uint8_t> pattern(int width, int height)
{
    std::vector<uint8_t> rgb((size_t)width * height * 3);
    for (size_t i = 0; i < rgb.size(); i++)
        rgb[i] = (uint8_t)(i * 7 + i / 3);
    return rgb;
}

TEST(PngWrite, SmallImageReadsBackExactly)
{
    std::vector<uint8_t> rgb = pattern(5, 3);
    Decoded d = decode(velvane::wintest::encodePng(5, 3, rgb));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 5u);
    EXPECT_EQ(d.height, 3u);
    EXPECT_EQ(d.rgb, rgb);
}

// A window picture spans several 65535-byte stored blocks.
TEST(PngWrite, WindowSizedImageSpansSeveralBlocks)
{
    std::vector<uint8_t> rgb = pattern(320, 480);
    std::vector<uint8_t> file = velvane::wintest::encodePng(320, 480, rgb);
    Decoded d = decode(file);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, 320u);
    EXPECT_EQ(d.height, 480u);
    EXPECT_EQ(d.rgb, rgb);
}

TEST(PngWrite, CorruptedDataIsRejected)
{
    std::vector<uint8_t> file = velvane::wintest::encodePng(8, 8, pattern(8, 8));
    file[file.size() - 20] ^= 0x55; // inside the IDAT data: its CRC no longer matches
    EXPECT_FALSE(decode(file).ok);
}

} // namespace
