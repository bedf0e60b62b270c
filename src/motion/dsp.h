// Kernels of the motion-compensated averaging: block matching on 8-bit search
// planes, and the windowed, weighted mean of compensated fields in 16-bit
// samples.
#ifndef VELVANE_MOTION_DSP_H
#define VELVANE_MOTION_DSP_H

#include <stddef.h>
#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

// Samples of the compensation planes lie within this range (the search and
// the averaging clamp to it), so that the sum of four of them plus rounding
// fits 16 bits.
constexpr int16_t kMotionSampleMin = -8192, kMotionSampleMax = 8191;

// Sum of absolute differences of a block 16 samples wide and `rows` rows high
// (1 .. 64) of `a` and `b`, rows `aStride` and `bStride` bytes apart. Reads
// exactly 16 bytes of each row.
using Sad16Fn = uint32_t (*)(const uint8_t *a, ptrdiff_t aStride, const uint8_t *b, ptrdiff_t bStride,
                             int32_t rows);

// The costs of `count` (0 ..) candidates for one block 16 samples wide and 8
// rows high: sads[k] = the sum of absolute differences of the block at `cur`
// (rows `curStride` bytes apart) and the one at refs[k] (rows `refStride`
// bytes apart). The block is read once for all of them.
using Sad16x8ManyFn = void (*)(const uint8_t *cur, ptrdiff_t curStride, const uint8_t *const *refs,
                               ptrdiff_t refStride, int32_t count, uint32_t *sads);

// One compensation of a cell of 16 x 8 field pixels: the cell's samples
// moved along one vector, weighted by the windows of the blocks over the cell
// that carry that vector.
struct CellPass {
    const int16_t *ref[3];  // y, cb, cr: the cell's sample (0, 0), the vector's whole pixels applied
    int32_t fracX, fracY;   // the vector's half pixels, 0 or 1 each
    int16_t blockWeight[4]; // left top, right top, left bottom, right bottom: 0 .. 8
};

constexpr int32_t kCellPassesMax = 32;

// The averaged samples of `rows` rows (1 .. 8) of one cell, 16 pixels wide,
// from `count` (0 .. kCellPassesMax) compensations of it. Row r of a plane
// lies r strides on from its pointer. For each pass and each pixel at row r
// and column i, per plane c (y, cb, cr) the prediction p_c = the sample at
// ref[c][i] when fracX and fracY are 0, (a + b + 1) >> 1 of it and its right
// neighbour (fracX 1) or the one below, `refStride` samples on (fracY 1),
// and (a + b + c + d + 2) >> 2 of the four (both 1). The window weight is
// (31 - 2i) x ((15 - 2r) x blockWeight[0] + (2r + 1) x blockWeight[2]) +
// (2i + 1) x ((15 - 2r) x blockWeight[1] + (2r + 1) x blockWeight[3]): the
// cell lies under a quarter of the windows of four blocks, each window 32 x
// 16 of weights 1, 3, .. 31, 31, .. 1 across times 1, 3, .. 15, 15, .. 1
// down, scaled by its block's weight (0 where the block has another
// vector). With d = |p_y - cur[0][i]| and e the larger of |p_cb - cur[1][i]|
// and |p_cr - cur[2][i]|, the pass's weight w is the window weight where d
// <= gate and e <= chromaGate, half of it (shifted right) where d <= 2 x gate
// and e <= 2 x chromaGate, else 0. Over all passes, in 32 bits, acc_c = the
// sum of w x p_c and wsum = the sum of w; then dst[c][i] = the nearest
// integer (ties to even) of (float)(cur[c][i] x curWeight + acc_c) x (1.0f /
// (float)(curWeight + wsum)), each step a float operation as written. ref and
// cur samples lie within kMotionSampleMin .. kMotionSampleMax, the gates
// within 0 .. 16383, curWeight within 1 .. 32767.
struct CompensateCellArgs {
    const CellPass *passes;
    int32_t count;
    ptrdiff_t refStride; // of every pass's planes
    const int16_t *cur[3];
    ptrdiff_t curStride;
    int16_t gate, chromaGate;
    int32_t curWeight;
    int16_t *dst[3];
    ptrdiff_t dstStride;
    int32_t rows;
};
using CompensateCellFn = void (*)(const CompensateCellArgs *a);

// The window weights of column i across a cell: (31 - 2i) x left + (2i + 1) x right.
constexpr int16_t kWindowLeft[16] = {31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1};
constexpr int16_t kWindowRight[16] = {1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31};

// The left and right factors of a pass's window weight on row r of the cell.
inline void windowFactors(const CellPass &p, int32_t r, int16_t *left, int16_t *right)
{
    const int32_t top = 15 - 2 * r, bottom = 2 * r + 1;
    const int16_t *bw = p.blockWeight;
    *left = (int16_t)(top * bw[0] + bottom * bw[2]);
    *right = (int16_t)(top * bw[1] + bottom * bw[3]);
}

// A cell's passes by their pair of fractions (fracX + 2 x fracY), for the
// kernels that take each pair in turn: the passes of pair f are
// passes[order[begin[f]]] .. passes[order[begin[f + 1] - 1]].
struct PassesByFraction {
    uint8_t order[kCellPassesMax];
    int32_t begin[5];
    explicit PassesByFraction(const CompensateCellArgs *a)
    {
        int32_t at[4] = {};
        for (int32_t k = 0; k < a->count; k++)
            at[fraction(a->passes[k])]++;
        begin[0] = 0;
        for (int f = 0; f < 4; f++) {
            begin[f + 1] = begin[f] + at[f];
            at[f] = begin[f];
        }
        for (int32_t k = 0; k < a->count; k++)
            order[at[fraction(a->passes[k])]++] = (uint8_t)k;
    }
    static int fraction(const CellPass &p) { return (p.fracX ? 1 : 0) + (p.fracY ? 2 : 0); }
};

// The half-pixel search planes of one row: for x < count, h[x] = (a[x] +
// a[x + 1] + 1) >> 1, v[x] = (a[x] + b[x] + 1) >> 1 and d[x] = (a[x] + a[x +
// 1] + b[x] + b[x + 1] + 2) >> 2, b being the row below a. Reads a and b up
// to index count.
using HalfPixelRowFn = void (*)(uint8_t *h, uint8_t *v, uint8_t *d, const uint8_t *a, const uint8_t *b,
                                int32_t count);

// One row of a field's planes from `count` packed pixels: y[x], cb[x] and
// cr[x] the pixel's samples clamped to kMotionSampleMin .. kMotionSampleMax,
// and search[x] = (y[x] + 8) >> 4 of the clamped luma, clamped to 0 .. 255.
using SplitPixelsRowFn = void (*)(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, const YcPixel *src,
                                  int32_t count);

// The inverse of the split: dst[x] = {y[x], cb[x], cr[x]} for x < count.
using MergePixelsRowFn = void (*)(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr,
                                  int32_t count);

// A row of a plane halved in each direction: dst[x] = (a[2x] + a[2x + 1] +
// b[2x] + b[2x + 1] + 2) >> 2 for x < count, b being the row below a.
using HalveRowFn = void (*)(uint8_t *dst, const uint8_t *a, const uint8_t *b, int32_t count);

// Kernel table of the motion stage. Every slot holds the scalar reference
// (suffix C) after init, then the fastest version the CPU flags allow.
struct MotionDsp {
    Sad16Fn sad16;
    Sad16x8ManyFn sad16x8Many;
    CompensateCellFn compensateCell;
    HalfPixelRowFn halfPixelRow;
    SplitPixelsRowFn splitPixelsRow;
    HalveRowFn halveRow;
    MergePixelsRowFn mergePixelsRow;
};

uint32_t sad16C(const uint8_t *a, ptrdiff_t aStride, const uint8_t *b, ptrdiff_t bStride, int32_t rows);
void sad16x8ManyC(const uint8_t *cur, ptrdiff_t curStride, const uint8_t *const *refs, ptrdiff_t refStride,
                  int32_t count, uint32_t *sads);
void compensateCellC(const CompensateCellArgs *a);

void halfPixelRowC(uint8_t *h, uint8_t *v, uint8_t *d, const uint8_t *a, const uint8_t *b, int32_t count);

void splitPixelsRowC(int16_t *y, int16_t *cb, int16_t *cr, uint8_t *search, const YcPixel *src, int32_t count);

void mergePixelsRowC(YcPixel *dst, const int16_t *y, const int16_t *cb, const int16_t *cr, int32_t count);
void halveRowC(uint8_t *dst, const uint8_t *a, const uint8_t *b, int32_t count);

void motionDspInit(MotionDsp *table, unsigned cpuFlags);

} // namespace velvane

#endif
