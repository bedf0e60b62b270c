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

} // namespace velvane

#endif
