#include "report/png_writer.h"

#include <errno.h>
#include <png.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "y4m/y4m.h"

namespace velvane {

namespace {

inline uint8_t clampByte(int v) { return (uint8_t)std::min(std::max(v, 0), 255); }

struct PngFailure {
    char message[200];
};

void pngError(png_structp png, png_const_charp message)
{
    auto *failure = static_cast<PngFailure *>(png_get_error_ptr(png));
    snprintf(failure->message, sizeof failure->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Nothing here may need destroying when libpng jumps back out of an error.
bool encodePng(FILE *f, int width, int height, const uint8_t *rgb, PngFailure *failure)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        snprintf(failure->message, sizeof failure->message, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, kPngLevel);
    png_write_info(png, info);
    for (int r = 0; r < height; r++)
        png_write_row(png, rgb + (size_t)r * (size_t)width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Letters of the labels, 5 x 7, one byte a row with the leftmost pixel in bit 4.
struct Glyph {
    char c;
    uint8_t rows[7];
};
const Glyph kGlyphs[] = {
    {'a', {0x00, 0x00, 0x0E, 0x01, 0x0F, 0x11, 0x0F}}, {'b', {0x10, 0x10, 0x16, 0x19, 0x11, 0x11, 0x1E}},
    {'e', {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E}}, {'f', {0x06, 0x09, 0x08, 0x1C, 0x08, 0x08, 0x08}},
    {'o', {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E}}, {'r', {0x00, 0x00, 0x16, 0x19, 0x10, 0x10, 0x10}},
    {'t', {0x08, 0x08, 0x1C, 0x08, 0x08, 0x09, 0x06}},
};

// White text on a darkened box at the top left of a picture of `width` x
// `height` starting at `rgb`, clipped to it.
void drawLabel(uint8_t *rgb, size_t rowBytes, int width, int height, const char *text)
{
    const int scale = std::max(1, height / 160), pad = 2 * scale, at = 4 * scale;
    const int textWidth = (int)strlen(text) * 6 * scale - scale;
    const int boxRight = std::min(width, at + textWidth + 2 * pad), boxBottom = std::min(height, at + 7 * scale + 2 * pad);
    for (int y = at; y < boxBottom; y++)
        for (int x = at; x < boxRight; x++)
            for (int k = 0; k < 3; k++)
                rgb[(size_t)y * rowBytes + (size_t)x * 3 + k] /= 3;
    for (int i = 0; text[i]; i++) {
        const Glyph *g = nullptr;
        for (const Glyph &candidate : kGlyphs)
            if (candidate.c == text[i])
                g = &candidate;
        for (int gy = 0; g && gy < 7 * scale; gy++)
            for (int gx = 0; gx < 5 * scale; gx++) {
                const int x = at + pad + i * 6 * scale + gx, y = at + pad + gy;
                if (x < boxRight && y < boxBottom && (g->rows[gy / scale] >> (4 - gx / scale) & 1))
                    memset(rgb + (size_t)y * rowBytes + (size_t)x * 3, 255, 3);
            }
    }
}

} // namespace

void hostToRgb(const YcPixel *frame, int width, int height, int stride, uint8_t *rgb, size_t rgbStride)
{
    // In 16-bit fixed point (within one step of the exact sums, and a ninth of
    // their cost in floating point). The host's scale is 16 steps per 8-bit
    // code: Y 16..235 is 256..3760, C +-112 is +-1792; so luma is
    // (Y - 256) x 255 / 3504 and each chroma weight is scaled by 127.5 / 1792.
    const int yScale = 4770, crToR = 6537, cbToG = 1605, crToG = 3330, cbToB = 8263;
    for (int r = 0; r < height; r++) {
        const YcPixel *p = frame + (size_t)r * stride;
        uint8_t *o = rgb + (size_t)r * rgbStride;
        for (int x = 0; x < width; x++) {
            const int y = (p[x].y - 256) * yScale + 32768, cb = p[x].cb, cr = p[x].cr;
            o[3 * x + 0] = clampByte((y + crToR * cr) >> 16);
            o[3 * x + 1] = clampByte((y - cbToG * cb - crToG * cr) >> 16);
            o[3 * x + 2] = clampByte((y + cbToB * cb) >> 16);
        }
    }
}

int dividerWidth(int width) { return std::max(2, width / 180); }

void writePng(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        throw CliError("cannot write " + path + ": " + strerror(errno));
    PngFailure failure = {};
    errno = 0;
    bool ok = encodePng(f, width, height, rgb.data(), &failure);
    std::string why = errno ? strerror(errno) : failure.message;
    if (fclose(f) != 0 && ok) {
        ok = false;
        why = strerror(errno);
    }
    if (!ok) {
        unlink(path.c_str());
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
    const int divider = dividerWidth(width), total = 2 * width + divider;
    const size_t rowBytes = (size_t)total * 3;
    std::vector<uint8_t> rgb(rowBytes * height);
    uint8_t *right = rgb.data() + (size_t)(width + divider) * 3;
    hostToRgb(before, width, height, stride, rgb.data(), rowBytes);
    hostToRgb(after, width, height, stride, right, rowBytes);
    // A light line with dark edges, seen against bright and dark pictures alike.
    for (int y = 0; y < height; y++)
        for (int x = 0; x < divider; x++)
            memset(rgb.data() + (size_t)y * rowBytes + (size_t)(width + x) * 3,
                   x == 0 || x == divider - 1 ? 0 : 255, 3);
    drawLabel(rgb.data(), rowBytes, width, height, "before");
    drawLabel(right, rowBytes, width, height, "after");
    writePng(path, total, height, rgb);
}

} // namespace velvane
