#include "png_writer.h"

#include <errno.h>
#include <png.h>
#include <string.h>

#include <algorithm>

#include "y4m.h"

namespace velvane {

namespace {
inline uint8_t clampByte(float v)
{
    v = std::min(std::max(v + 0.5f, 0.0f), 255.0f);
    return (uint8_t)v;
}
} // namespace

void hostToRgb(const YcPixel *frame, int width, int height, int stride, uint8_t *rgb, size_t rgbStride)
{
    for (int r = 0; r < height; r++) {
        const YcPixel *p = frame + (size_t)r * stride;
        uint8_t *o = rgb + (size_t)r * rgbStride;
        for (int x = 0; x < width; x++) {
            // Host scale is 16 steps per 8-bit code: Y 16..235 is 256..3760, C +-112 is +-1792.
            const float y = (p[x].y - 256) * (255.0f / 3504.0f);
            const float cb = p[x].cb * (127.5f / 1792.0f);
            const float cr = p[x].cr * (127.5f / 1792.0f);
            o[3 * x + 0] = clampByte(y + 1.402f * cr);
            o[3 * x + 1] = clampByte(y - 0.344136f * cb - 0.714136f * cr);
            o[3 * x + 2] = clampByte(y + 1.772f * cb);
        }
    }
}

void writePng(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = (png_uint_32)width;
    image.height = (png_uint_32)height;
    image.format = PNG_FORMAT_RGB;
    image.flags = PNG_IMAGE_FLAG_FAST;
    errno = 0;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), width * 3, nullptr)) {
        std::string why = errno ? strerror(errno) : image.message;
        png_image_free(&image);
        throw CliError("cannot write " + path + ": " + why);
    }
}

void writeFramePng(const std::string &path, const YcPixel *frame, int width, int height, int stride)
{
    std::vector<uint8_t> rgb((size_t)width * height * 3);
    hostToRgb(frame, width, height, stride, rgb.data(), (size_t)width * 3);
    writePng(path, width, height, rgb);
}

void writeSideBySidePng(const std::string &path, const YcPixel *before, const YcPixel *after, int width, int height,
                        int stride)
{
    const size_t rowBytes = (size_t)width * 2 * 3;
    std::vector<uint8_t> rgb(rowBytes * height);
    hostToRgb(before, width, height, stride, rgb.data(), rowBytes);
    hostToRgb(after, width, height, stride, rgb.data() + (size_t)width * 3, rowBytes);
    writePng(path, width * 2, height, rgb);
}

} // namespace velvane
