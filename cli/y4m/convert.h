// Whole frames between YUV4MPEG2 planes and the host's YcPixel rows.
//
// Chroma comes to one sample per pixel and goes back so that a frame that
// passes through unchanged comes out byte for byte as it went in (8 to 12
// bits; 16-bit samples keep their top 12 bits):
// - 4:2:2 and the horizontally co-sited 4:2:0 forms (mpeg2, paldv): the real
//   sample on every even pixel, the mean of its two neighbours on odd pixels;
//   back, the even pixel's sample.
// - 4:2:0 with centred chroma (jpeg, plain 420): both pixels of a pair carry
//   the sample; back, the mean of the pair.
// - 4:1:1: the real sample on every fourth pixel, repeated on the three after
//   it, for the filter's 4:1:1 interpolation to rebuild; back, every fourth pixel.
// - 4:2:0 rows: each chroma row serves the two rows of its field (both rows of
//   the frame when progressive); back, the mean of those two rows.
#ifndef VELVANE_CLI_CONVERT_H
#define VELVANE_CLI_CONVERT_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "velvane/filter.h"
#include "y4m/y4m.h"

namespace velvane {

class FrameConverter {
public:
    // Host frames are `stride` pixels per row (at least the width), height
    // rows. The samples go through the library's conversions of its planar
    // frames (velvane.h).
    FrameConverter(const Y4mFormat &format, int stride);
    // raw: one frame's planes as read (format.frameBytes()).
    void toHost(const uint8_t *raw, bool interlaced, YcPixel *dst);
    // Columns from the width to the stride are not read.
    void fromHost(const YcPixel *src, bool interlaced, uint8_t *raw);
    // The same for planes anywhere, each row `stride` bytes after the one
    // before (a decoder's frame); mono uses the first plane only.
    void toHost(const uint8_t *const plane[3], const ptrdiff_t stride[3], bool interlaced, YcPixel *dst);
    void fromHost(const YcPixel *src, bool interlaced, uint8_t *const plane[3], const ptrdiff_t stride[3]);
    const Y4mFormat &format() const { return f_; }

private:
    enum class Horizontal { Same, Cosited2, Centred2, Repeat4 };
    int chromaRowFor(int row, bool interlaced) const;
    void chromaRowPair(int crow, bool interlaced, int *r1, int *r2) const;
    void upsample(int16_t *dst, const int16_t *c) const;
    void downsample(int16_t *dst, const int16_t *row) const;

    Y4mFormat f_;
    int stride_;
    Horizontal horizontal_;
    bool vertical_; // 4:2:0
    std::vector<int16_t> y_, cb_, cr_, cTmp_;
    std::vector<int16_t> planeCb_, planeCr_; // 4:2:0 going back: each row's chroma, horizontally reduced
};

} // namespace velvane

#endif
