#ifndef VELVANE_WAVELET_DOT_PASS_H
#define VELVANE_WAVELET_DOT_PASS_H

#include "velvane/filter.h"
#include "wavelet/dsp.h"

namespace velvane {

// Work memory of one dot pass at a time; nothing in it survives a call. The
// planes and rows are 16-byte aligned, `shrink` 32-byte aligned.
struct DotPassWork {
    float *planeA, *planeB;    // kWaveLength rows of kWaveLength floats
    float *rowA, *rowB, *rowC; // kWaveLength floats each
    float *shrink;             // kShrinkWorkFloats
};

// Removes dot interference from the luma of `cur` (width x height of `job`,
// rows job->stride pixels apart) using its neighbours in time, with the
// kernels of `dsp`. prev and next are only read, and only through their sum.
// A frame outside 1..800 x 1..800, a stride below the width, or missing work
// memory leaves cur as it was.
void dotPass(const WaveletDsp &dsp, const DotPassWork &work, const FrameJob *job, const YcPixel *prev,
             YcPixel *cur, const YcPixel *next);

// dotPass for a `cur` whose rows lie curStride pixels apart (prev and next
// keep the job's stride), so the current frame can be worked on where it is
// kept. The same checks apply to curStride as to the stride. A prevLuma that
// is not null stands for prev: the previous frame's luma alone, in rows of
// job width samples, which is all the pass reads of it.
// When `rowDone` is given, it is called with `context` and i as soon as row i
// of cur is final (in order, i = 0 .. height - 1), so the caller can go on
// with the row while it is in the cache; it must not touch rows below i.
// Returns false when it left cur as it was, without calling rowDone.
using DotRowDoneFn = void (*)(void *context, int32_t row);
bool dotPassStrided(const WaveletDsp &dsp, const DotPassWork &work, const FrameJob *job, const YcPixel *prev, const int16_t *prevLuma,
                    YcPixel *cur, int32_t curStride, const YcPixel *next, DotRowDoneFn rowDone = nullptr,
                    void *context = nullptr);

// The pass in its three stages, for callers that run each stage's rows or
// columns on several threads: every row of the analysis, then every column of
// the shrink, then every row of the synthesis, each stage finished before the
// next begins. Rows and columns within a stage are independent; each call
// needs the rows and shrink area of `work` to itself, while the planes are
// shared by every call of one pass.
struct DotFrames {
    const YcPixel *prev;     // job stride; or null with prevLuma
    const int16_t *prevLuma; // rows of `width` samples, standing for prev; or null
    YcPixel *cur;            // curStride
    const YcPixel *next;     // job stride; or null with nextLuma
    int32_t width, height, stride, curStride;
    const int16_t *nextLuma = nullptr; // as prevLuma, for next
    // With both neighbours' lumas, cur's own luma as they are given (rows of
    // `width` samples): the analysis then reads cur through it and leaves cur
    // alone, and the write-back sets cur's luma from the neighbours' mean.
    const int16_t *curLuma = nullptr;
};

// The frames of a pass and their sizes as dotPassStrided checks them; false
// (and nothing to do) for what it would refuse.
bool dotFramesUsable(const DotFrames &f, const DotPassWork &work);

// Analysis of rows begin .. end - 1: the difference signal into the planes.
// With `load`, each row of cur is first copied from it (rows `loadStride`
// pixels apart), so the frame crosses memory once.
void dotAnalyseRows(const WaveletDsp &dsp, const DotPassWork &work, const DotFrames &f, int32_t begin, int32_t end,
                    const YcPixel *load = nullptr, int32_t loadStride = 0);

// The shrink stage has this many columns: the horizontal details of both planes.
constexpr int32_t kDotShrinkColumns = kWaveLength;
// Columns begin .. end - 1 of the shrink stage (multiples of 16 keep the
// widest kernels busy).
void dotShrinkColumns(const WaveletDsp &dsp, const DotPassWork &work, int32_t height, int32_t begin, int32_t end);

// Synthesis and write-back of row i of cur.
void dotSynthesiseRow(const WaveletDsp &dsp, const DotPassWork &work, const DotFrames &f, int32_t i);
// With the neighbours' lumas: synthesis of row i, written back into `into`
// (its first `width` pixels) as `from` with the new luma and every sample
// halved, ready for the band split. cur is not touched.
void dotSynthesiseRowHalved(const WaveletDsp &dsp, const DotPassWork &work, const DotFrames &f, int32_t i,
                            const YcPixel *from, YcPixel *into);

} // namespace velvane

#endif
