// Pictures for people: host frames as RGB PNG files.
#ifndef VELVANE_CLI_PNG_WRITER_H
#define VELVANE_CLI_PNG_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "velvane/filter.h"

namespace velvane {

// One host frame to 8-bit RGB (ITU-R BT.601, limited range: luma 256..3760
// on the host's scale is black to white), `rgbStride` bytes per row.
void hostToRgb(const YcPixel *frame, int width, int height, int stride, uint8_t *rgb, size_t rgbStride);
// Throws CliError when the file cannot be written.
void writePng(const std::string &path, int width, int height, const std::vector<uint8_t> &rgb);
void writeFramePng(const std::string &path, const YcPixel *frame, int width, int height, int stride);
// Pixels between the two frames of a side-by-side picture.
int dividerWidth(int width);
// Two frames next to each other, `before` on the left, each labelled, with a
// divider between them.
void writeSideBySidePng(const std::string &path, const YcPixel *before, const YcPixel *after, int width, int height,
                        int stride);

} // namespace velvane

#endif
