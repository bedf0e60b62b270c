// Pictures for people: host frames as RGB PNG files.
#ifndef VELVANE_CLI_PNG_WRITER_H
#define VELVANE_CLI_PNG_WRITER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "velvane/filter.h"

namespace velvane {

// zlib's normal level, with libpng's choice of row filter, for the pictures
// the command writes as files (the demo's and --snapshot's). On the demo's noisy 720 x 480 frames it stores 0.65 of
// the bytes of an uncompressed PNG (0.58 of a filtered one) for about a
// fifth of a second each; footage with less noise shrinks further.
constexpr int kPngLevel = 6;
// The report page's pictures, which every run with --report (and so every
// tape of a batch) makes, at zlib's fastest level: the page is about 7 %
// larger than at the normal level (4.57 against 4.26 MB for the demo clip),
// and a batch tape costs 0.31 s over the plain command instead of 0.82 s.
constexpr int kReportPngLevel = 1;

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
