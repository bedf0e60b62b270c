// Row kernels between 8-bit planar samples and the host's scale, and
// between three sample rows and a row of YcPixel. Every kernel has a scalar
// reference (...C); the vector versions give the same bytes.
//
// The host's scale: luma Y at Y x 16 (8-bit black 16 is 256), chroma C at
// (C - 128) x 16. Going back, samples round to nearest (halves up) and clamp
// to 0..255.
#ifndef VELVANE_LIBRARY_CONVERT_KERNELS_H
#define VELVANE_LIBRARY_CONVERT_KERNELS_H

#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

// dst[i] = {y[i], cb[i], cr[i]} for i < n.
using InterleaveRowFn = void (*)(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int n);
// The reverse: three rows out of one row of n pixels.
using DeinterleaveRowFn = void (*)(int16_t *y, int16_t *cb, int16_t *cr, const YcPixel *src, int n);
// 8-bit samples to the host's scale, n samples.
using ToHost8Fn = void (*)(int16_t *dst, const uint8_t *src, int n);
// The host's scale to 8-bit samples, n samples, rounded and clamped.
using FromHost8Fn = void (*)(uint8_t *dst, const int16_t *src, int n);

// Co-sited chroma to one sample per pixel: dst[2k] = c[k] and dst[2k + 1] =
// floor((c[k] + c[k + 1]) / 2) for k < n; reads c[0] .. c[n].
using UpsampleFn = void (*)(int16_t *dst, const int16_t *c, int n);
// And back: dst[k] = row[2k] for k < n; reads row[0] .. row[2n - 2] only, so
// an odd-width row of 2n - 1 samples is enough.
using DownsampleFn = void (*)(int16_t *dst, const int16_t *row, int n);

// One row of 8-bit 4:2:2 planes straight to `width` >= 1 pixels: what
// lumaToHost8, chromaToHost8 and upsampleCositedRow of both chroma rows, then
// interleaveRow, give, in one pass. With `luma`, luma[i] = dst[i].y as well.
// Reads y[0 .. width - 1], cb and cr [0 .. (width + 1) / 2 - 1].
using PlanarToPixels8Fn = void (*)(YcPixel *dst, int16_t *luma, const uint8_t *y, const uint8_t *cb,
                                   const uint8_t *cr, int width);
// And back in one pass: what deinterleaveRow, lumaFromHost8, and
// downsampleCosited2 and chromaFromHost8 of both chroma rows give.
using PixelsToPlanar8Fn = void (*)(uint8_t *y, uint8_t *cb, uint8_t *cr, const YcPixel *src, int width);

struct ConvertKernels {
    InterleaveRowFn interleaveRow;
    DeinterleaveRowFn deinterleaveRow;
    ToHost8Fn lumaToHost8;
    ToHost8Fn chromaToHost8;
    FromHost8Fn lumaFromHost8;
    FromHost8Fn chromaFromHost8;
    UpsampleFn upsampleCosited2;
    DownsampleFn downsampleCosited2;
    PlanarToPixels8Fn planarToPixels8;
    PixelsToPlanar8Fn pixelsToPlanar8;
};

void interleaveRowC(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int n);
void deinterleaveRowC(int16_t *y, int16_t *cb, int16_t *cr, const YcPixel *src, int n);
void lumaToHost8C(int16_t *dst, const uint8_t *src, int n);
void chromaToHost8C(int16_t *dst, const uint8_t *src, int n);
void lumaFromHost8C(uint8_t *dst, const int16_t *src, int n);
void chromaFromHost8C(uint8_t *dst, const int16_t *src, int n);
void upsampleCosited2C(int16_t *dst, const int16_t *c, int n);
void downsampleCosited2C(int16_t *dst, const int16_t *row, int n);
void planarToPixels8C(YcPixel *dst, int16_t *luma, const uint8_t *y, const uint8_t *cb, const uint8_t *cr, int width);
void pixelsToPlanar8C(uint8_t *y, uint8_t *cb, uint8_t *cr, const YcPixel *src, int width);
// The scalar versions from pixel `begin` (even) on: the vector versions' tails.
void planarToPixels8From(YcPixel *dst, int16_t *luma, const uint8_t *y, const uint8_t *cb, const uint8_t *cr,
                         int begin, int width);
void pixelsToPlanar8From(uint8_t *y, uint8_t *cb, uint8_t *cr, const YcPixel *src, int begin, int width);

#if defined(__SSE2__)
#define VELVANE_HAVE_SSE2_CONVERT 1
void interleaveRowSse2(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int n);
void deinterleaveRowSse2(int16_t *y, int16_t *cb, int16_t *cr, const YcPixel *src, int n);
void lumaToHost8Sse2(int16_t *dst, const uint8_t *src, int n);
void chromaToHost8Sse2(int16_t *dst, const uint8_t *src, int n);
void lumaFromHost8Sse2(uint8_t *dst, const int16_t *src, int n);
void chromaFromHost8Sse2(uint8_t *dst, const int16_t *src, int n);
void upsampleCosited2Sse2(int16_t *dst, const int16_t *c, int n);
void downsampleCosited2Sse2(int16_t *dst, const int16_t *row, int n);
void planarToPixels8Sse2(YcPixel *dst, int16_t *luma, const uint8_t *y, const uint8_t *cb, const uint8_t *cr,
                         int width);
void pixelsToPlanar8Sse2(uint8_t *y, uint8_t *cb, uint8_t *cr, const YcPixel *src, int width);
#endif
void planarToPixels8Avx2(YcPixel *dst, int16_t *luma, const uint8_t *y, const uint8_t *cb, const uint8_t *cr,
                         int width);
void pixelsToPlanar8Avx2(uint8_t *y, uint8_t *cb, uint8_t *cr, const YcPixel *src, int width);

// The scalar table, and the fastest one this build has (SSE2 is part of
// x86-64), or the fastest the CPU flags (common/cpu_flags.h) allow.
const ConvertKernels &convertKernelsC();
const ConvertKernels &convertKernels();
const ConvertKernels &convertKernels(unsigned cpuFlags);

// Samples of any depth (8, 10, 12 or 16 bits, deep ones as host-order 16-bit
// words) to and from the host's scale. Deeper samples land on the same 12-bit
// range: 10-bit x 4, 12-bit as is, 16-bit / 16 rounded.
void lumaToHost(int16_t *dst, const uint8_t *src, int n, int depth);
void chromaToHost(int16_t *dst, const uint8_t *src, int n, int depth);
void lumaFromHost(uint8_t *dst, const int16_t *src, int n, int depth);
void chromaFromHost(uint8_t *dst, const int16_t *src, int n, int depth);

// A row of `width` pixels' chroma from (width + 1) / 2 co-sited samples: the
// sample on every even pixel, the mean of its two neighbours on odd ones, and
// the last sample repeated where a row ends on an odd pixel.
void upsampleCositedRow(const ConvertKernels &k, int16_t *dst, const int16_t *c, int width);

} // namespace velvane

#endif
