#ifndef VELVANE_WINTEST_PNG_WRITE_H
#define VELVANE_WINTEST_PNG_WRITE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace velvane {
namespace wintest {

// Encodes 8-bit RGB rows (width * 3 bytes each, top row first) as a PNG file
// image: one IDAT of uncompressed deflate blocks, no filtering.
std::vector<uint8_t> encodePng(int width, int height, const std::vector<uint8_t> &rgb);

// Writes the bytes to `path`; returns false when the file cannot be written.
bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes);

} // namespace wintest
} // namespace velvane

#endif
