#ifndef VELVANE_WAVELET_DSP_H
#define VELVANE_WAVELET_DSP_H

#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

// Every transform of the dot pass runs at this fixed length, and its work
// planes are this many rows of this many floats.
constexpr int32_t kWaveLength = 800;

// Daubechies-4 low-pass taps, rounded to single precision once and for all
// (bit patterns 0x3EF746EA, 0x3F5625EF, 0x3E6585F8, 0xBE0483EE). The high-pass
// filter is (h3, -h2, h1, -h0).
constexpr float kD4H0 = 0x1.ee8dd4p-2f;  //  (1+sqrt3)/(4 sqrt2)
constexpr float kD4H1 = 0x1.ac4bdep-1f;  //  (3+sqrt3)/(4 sqrt2)
constexpr float kD4H2 = 0x1.cb0bf0p-3f;  //  (3-sqrt3)/(4 sqrt2)
constexpr float kD4H3 = -0x1.0907dcp-3f; //  (1-sqrt3)/(4 sqrt2)

// All four transforms treat their signal as periodic (indices modulo the
// length), keep no state, and never see input and output overlap. Every
// version gives the same bits as the C reference: interior outputs in single
// precision in the order written in wavelet_c.cpp, the listed boundary outputs
// of the odd phase in double precision rounded to single once.

// Even-phase analysis: x[0..n-1] -> approximations out[0..n/2-1], details
// out[n/2..n-1]. n a multiple of 4, at least 8; x 16-byte aligned.
using D4ForwardFn = void (*)(const float *x, int32_t n, float *out);
// Even-phase synthesis, the transpose (and inverse) of d4Forward: a[0..m-1],
// d[0..m-1] -> out[0..2m-1]. m even, at least 4; out 16-byte aligned.
using D4InverseFn = void (*)(const float *a, const float *d, int32_t m, float *out);
// Odd-phase (one sample later) low-pass analysis: x[0..n-1] -> out[0..n/2-1].
// The last four outputs are formed in double precision. n a multiple of 8, at
// least 16.
using D4OddLowForwardFn = void (*)(const float *x, int32_t n, float *out);
// Odd-phase low-pass synthesis, the transpose of d4OddLowForward: b[0..m-1] ->
// out[0..2m-1]. The outputs of j = 0 and j = m-3..m-1 are formed in double
// precision. m even, at least 6.
using D4OddLowInverseFn = void (*)(const float *b, int32_t m, float *out);
// twoPhaseShrink of the columns column..column+count-1 of a plane whose rows
// are kWaveLength floats apart, each column h long (1 <= h <= 800). Touches
// only rows 0..h-1 of those columns and `work`, kShrinkWorkFloats floats
// 32-byte aligned that belong to the caller alone. column + count <= 800.
using ShrinkColumnsFn = void (*)(float *plane, int32_t column, int32_t count, int32_t h, float *work);
// Sixteen columns at a time need three work rows and half a row per lane.
constexpr size_t kShrinkWorkFloats = (size_t)(3 * kWaveLength + kWaveLength / 2) * 16;
// Difference signal of one row of w >= 1 pixels: with the neighbours' mean
// m = (prev.y + next.y) >> 1 (32-bit sum, arithmetic shift), s[j] = cur.y - m,
// and cur.y becomes m, which the write-back needs and which always fits in 16
// bits; the write-back then reads neither neighbour again. Reads and writes
// only the y of the w pixels; s need not be aligned.
using DotDifferenceRowFn = void (*)(const YcPixel *prev, YcPixel *cur, const YcPixel *next, int32_t w, float *s);
// Write-back of one row whose y holds the mean: cur.y = low 16 bits of cur.y +
// t[j] truncated toward zero (out of the 32-bit range: INT32_MIN, as the
// processor converts), no clamping. Writes only the y of the w pixels.
using DotWriteBackRowFn = void (*)(const float *t, int32_t w, YcPixel *cur);
// luma[j] = row[j].y for j < w >= 1: the part of a neighbour the difference
// needs, a third of the frame's bytes.
using CopyLumaRowFn = void (*)(const YcPixel *row, int32_t w, int16_t *luma);
// dotDifferenceRow with the previous frame's luma given alone (prevLuma[j]
// for prev[j].y); the same results.
using DotDifferenceLumaRowFn = void (*)(const int16_t *prevLuma, YcPixel *cur, const YcPixel *next, int32_t w,
                                        float *s);
// dotDifferenceRow with both neighbours given by their luma alone; the same
// results.
using DotDifferenceLumasRowFn = void (*)(const int16_t *prevLuma, YcPixel *cur, const int16_t *nextLuma, int32_t w,
                                         float *s);
// The difference signal of a row whose own luma is given too (curLuma[j] for
// cur[j].y), every row contiguous: s as dotDifferenceRow gives it, and no
// pixel is written, so the frame may be read where it is kept.
using DotDifferencePlanarRowFn = void (*)(const int16_t *prevLuma, const int16_t *curLuma, const int16_t *nextLuma,
                                          int32_t w, float *s);
// The write-back after dotDifferencePlanarRow: cur.y = low 16 bits of the
// neighbours' mean (from their lumas) + t[j] truncated as dotWriteBackRow
// does it, whatever cur.y held. Writes only the y of the w pixels.
using DotWriteBackMeanRowFn = void (*)(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, int32_t w,
                                       YcPixel *cur);
// The same write-back into a copy that the band split takes as it is: dst[j]
// = src[j] with y as dotWriteBackMeanRow sets it, then y, cb and cr each
// halved (arithmetic shift right by one), j < w. src and dst do not overlap.
using DotWriteBackHalvedRowFn = void (*)(const float *t, const int16_t *prevLuma, const int16_t *nextLuma,
                                         const YcPixel *src, int32_t w, YcPixel *dst);

struct WaveletDsp {
    D4ForwardFn d4Forward;
    D4InverseFn d4Inverse;
    D4OddLowForwardFn d4OddLowForward;
    D4OddLowInverseFn d4OddLowInverse;
    ShrinkColumnsFn shrinkColumns;
    DotDifferenceRowFn dotDifferenceRow;
    DotWriteBackRowFn dotWriteBackRow;
    CopyLumaRowFn copyLumaRow;
    DotDifferenceLumaRowFn dotDifferenceLumaRow;
    DotDifferenceLumasRowFn dotDifferenceLumasRow;
    DotDifferencePlanarRowFn dotDifferencePlanarRow;
    DotWriteBackMeanRowFn dotWriteBackMeanRow;
    DotWriteBackHalvedRowFn dotWriteBackHalvedRow;
};

void waveletDspInit(WaveletDsp *table, unsigned cpuFlags);

// Scalar references.
void d4ForwardC(const float *x, int32_t n, float *out);
void d4InverseC(const float *a, const float *d, int32_t m, float *out);
void d4OddLowForwardC(const float *x, int32_t n, float *out);
void d4OddLowInverseC(const float *b, int32_t m, float *out);
void shrinkColumnsC(float *plane, int32_t column, int32_t count, int32_t h, float *work);
void dotDifferenceRowC(const YcPixel *prev, YcPixel *cur, const YcPixel *next, int32_t w, float *s);
void dotWriteBackRowC(const float *t, int32_t w, YcPixel *cur);
void copyLumaRowC(const YcPixel *row, int32_t w, int16_t *luma);
void dotDifferenceLumaRowC(const int16_t *prevLuma, YcPixel *cur, const YcPixel *next, int32_t w, float *s);
void dotDifferenceLumasRowC(const int16_t *prevLuma, YcPixel *cur, const int16_t *nextLuma, int32_t w, float *s);
void dotDifferencePlanarRowC(const int16_t *prevLuma, const int16_t *curLuma, const int16_t *nextLuma, int32_t w,
                             float *s);
void dotWriteBackMeanRowC(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, int32_t w, YcPixel *cur);
void dotWriteBackHalvedRowC(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, const YcPixel *src,
                            int32_t w, YcPixel *dst);

// One column through the two-phase detail shrink with the C transforms:
// decompose at both phases, halve the detail pairs whose two estimates have
// opposite signs, resynthesise. `rows` holds three work rows of kWaveLength
// floats, 16-byte aligned.
void twoPhaseShrink(float *plane, int32_t column, int32_t h, float *rows);

// Halves both details of each pair k whose exact product is negative.
void shrinkDetailPairsC(float *dPrime, float *d, int32_t count);

} // namespace velvane

#endif
