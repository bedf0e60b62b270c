// Motion kernels against their references: block costs, compensated and
// averaged cells, half-pixel planes, halved planes and the split and merge of
// packed pixels, on random inputs and at the ends of their ranges.
#include <string.h>

#include <algorithm>
#include <vector>

#include "checkasm.h"
#include "motion/dsp.h"

namespace {

using namespace velvane;

int16_t motionSample(checkasm::Context &ctx)
{
    switch (ctx.randInt(0, 5)) {
    case 0: return kMotionSampleMin;
    case 1: return kMotionSampleMax;
    default: return (int16_t)ctx.randInt(kMotionSampleMin, kMotionSampleMax);
    }
}

void checkSad(checkasm::Context &ctx, Sad16Fn ref, Sad16Fn fn)
{
    std::vector<uint8_t> a(64 * 40), b(64 * 40);
    for (int iter = 0; iter < 2000; iter++) {
        const int mode = ctx.randInt(0, 3); // random, all 0 against all 255, near each other
        for (size_t i = 0; i < a.size(); i++) {
            a[i] = mode == 1 ? 0 : (uint8_t)ctx.randInt(0, 255);
            b[i] = mode == 1 ? 255 : mode == 2 ? (uint8_t)(a[i] ^ ctx.randInt(0, 3)) : (uint8_t)ctx.randInt(0, 255);
        }
        const int rows = ctx.randInt(1, 36), as = ctx.randInt(16, 64), bs = ctx.randInt(16, 64);
        const int ao = ctx.randInt(0, 64 * 40 - 1 - (rows - 1) * as - 16 + 1);
        const int bo = ctx.randInt(0, 64 * 40 - 1 - (rows - 1) * bs - 16 + 1);
        const uint32_t want = ref(a.data() + ao, as, b.data() + bo, bs, rows);
        const uint32_t got = fn(a.data() + ao, as, b.data() + bo, bs, rows);
        if (want != got) {
            ctx.fail("sad16", "rows %d: %u, reference %u", rows, got, want);
            return;
        }
    }
    ctx.bench("sad16", [&] { ref(a.data(), 64, b.data(), 64, 8); }, [&] { fn(a.data(), 64, b.data(), 64, 8); });
}

void checkSadMany(checkasm::Context &ctx, Sad16x8ManyFn ref, Sad16x8ManyFn fn)
{
    const int stride = 64, height = 40, most = 81;
    std::vector<uint8_t> a(stride * height), b(stride * height);
    const uint8_t *refs[most];
    uint32_t want[most + 1], got[most + 1];
    for (int iter = 0; iter < 1000; iter++) {
        const int mode = ctx.randInt(0, 3); // random, all 0 against all 255, near each other
        for (size_t i = 0; i < a.size(); i++) {
            a[i] = mode == 1 ? 0 : (uint8_t)ctx.randInt(0, 255);
            b[i] = mode == 1 ? 255 : mode == 2 ? (uint8_t)(a[i] ^ ctx.randInt(0, 3)) : (uint8_t)ctx.randInt(0, 255);
        }
        const int count = ctx.randInt(0, 3) == 0 ? most : ctx.randInt(0, 12);
        const int as = ctx.randInt(16, stride), bs = ctx.randInt(16, stride);
        const uint8_t *cur = a.data() + ctx.randInt(0, (int)a.size() - 7 * as - 16);
        for (int k = 0; k < count; k++)
            refs[k] = b.data() + ctx.randInt(0, (int)b.size() - 7 * bs - 16);
        // One past the count stays untouched.
        want[count] = got[count] = 12345;
        ref(cur, as, refs, bs, count, want);
        fn(cur, as, refs, bs, count, got);
        if (memcmp(want, got, sizeof(uint32_t) * (size_t)(count + 1))) {
            ctx.fail("sad16x8Many", "%d candidates, strides %d %d", count, as, bs);
            return;
        }
    }
    for (int k = 0; k < most; k++)
        refs[k] = b.data() + k % 24;
    ctx.bench("sad16x8Many", [&] { ref(a.data(), stride, refs, stride, most, want); },
              [&] { fn(a.data(), stride, refs, stride, most, got); });
}

void checkCompensate(checkasm::Context &ctx, CompensateCellFn ref, CompensateCellFn fn)
{
    const int stride = 40, rowsMost = 8, dstStride = 20;
    std::vector<int16_t> planes[3], cur[3], want[3], got[3];
    for (auto &p : planes)
        p.resize(stride * (rowsMost + 1));
    for (int c = 0; c < 3; c++) {
        cur[c].resize(24 * rowsMost);
        want[c].resize(dstStride * rowsMost);
        got[c].resize(dstStride * rowsMost);
    }
    CellPass passes[kCellPassesMax];
    CompensateCellArgs a = {};
    for (int iter = 0; iter < 3000; iter++) {
        for (auto &p : planes)
            for (auto &v : p)
                v = motionSample(ctx);
        const bool nearly = ctx.randInt(0, 1);
        const int rows = ctx.randInt(1, rowsMost);
        // No pass, a few, or as many as a cell can take, each somewhere in the planes.
        const int count = ctx.randInt(0, 5) == 0 ? ctx.randInt(0, 1) * kCellPassesMax : ctx.randInt(0, 6);
        // Block weights 0 .. 8, all at the most (window weights up to 4096) now and then.
        const bool most = ctx.randInt(0, 4) == 0;
        for (int k = 0; k < count; k++) {
            const int off = ctx.randInt(0, stride - 17);
            for (int c = 0; c < 3; c++)
                passes[k].ref[c] = planes[c].data() + off;
            passes[k].fracX = ctx.randInt(0, 1);
            passes[k].fracY = ctx.randInt(0, 1);
            for (auto &w : passes[k].blockWeight)
                w = (int16_t)(most ? 8 : ctx.randInt(0, 3) == 0 ? 0 : ctx.randInt(0, 8));
        }
        // Differences near the gates and twice the gates from the first pass's samples, or anything.
        const int near = count ? (int)(passes[0].ref[0] - planes[0].data()) : 0;
        for (int r = 0; r < rows; r++)
            for (int i = 0; i < 16; i++)
                for (int c = 0; c < 3; c++) {
                    const int32_t v = nearly ? planes[c][(size_t)(near + r * stride + i)] + ctx.randInt(-64, 64)
                                             : motionSample(ctx);
                    cur[c][(size_t)(24 * r + i)] =
                        (int16_t)(v < kMotionSampleMin ? kMotionSampleMin : v > kMotionSampleMax ? kMotionSampleMax : v);
                }
        a.passes = passes;
        a.count = count;
        a.refStride = stride;
        a.curStride = 24;
        a.dstStride = dstStride;
        a.rows = rows;
        a.gate = (int16_t)(ctx.randInt(0, 4) == 0 ? 16383 * ctx.randInt(0, 1) : ctx.randInt(0, 64));
        a.chromaGate = (int16_t)(ctx.randInt(0, 4) == 0 ? 16383 * ctx.randInt(0, 1) : ctx.randInt(0, 64));
        a.curWeight = ctx.randInt(0, 3) == 0 ? (ctx.randInt(0, 1) ? 32767 : 1) : ctx.randInt(1, 4096);
        // What lies past the rows and the 16 columns stays untouched.
        for (int c = 0; c < 3; c++) {
            std::fill(want[c].begin(), want[c].end(), (int16_t)(-7 - c));
            std::fill(got[c].begin(), got[c].end(), (int16_t)(-7 - c));
        }
        for (int c = 0; c < 3; c++) {
            a.cur[c] = cur[c].data();
            a.dst[c] = want[c].data();
        }
        ref(&a);
        for (int c = 0; c < 3; c++)
            a.dst[c] = got[c].data();
        fn(&a);
        for (int c = 0; c < 3; c++)
            if (want[c] != got[c]) {
                ctx.fail("compensateCell", "plane %d, %d passes, %d rows, gates %d %d, weight %d", c, count, rows,
                         a.gate, a.chromaGate, a.curWeight);
                return;
            }
    }
    for (int k = 0; k < 4; k++) {
        for (int c = 0; c < 3; c++)
            passes[k].ref[c] = planes[c].data() + k;
        passes[k].fracX = k & 1;
        passes[k].fracY = k >> 1;
        for (auto &w : passes[k].blockWeight)
            w = 8;
    }
    a.count = 4;
    a.rows = 8;
    a.gate = 40;
    a.chromaGate = 80;
    a.curWeight = 4096;
    ctx.bench("compensateCell", [&] { ref(&a); }, [&] { fn(&a); });
}

void checkHalfPixel(checkasm::Context &ctx, HalfPixelRowFn ref, HalfPixelRowFn fn)
{
    const int most = 120;
    std::vector<uint8_t> a(most + 1), b(most + 1), want(3 * most), got(3 * most);
    for (int iter = 0; iter < 2000; iter++) {
        const int count = ctx.randInt(1, most), mode = ctx.randInt(0, 2);
        for (int i = 0; i <= count; i++) {
            a[i] = mode == 0 ? (uint8_t)ctx.randInt(0, 255) : mode == 1 ? 255 : (uint8_t)(255 * ctx.randInt(0, 1));
            b[i] = mode == 0 ? (uint8_t)ctx.randInt(0, 255) : mode == 1 ? 254 : (uint8_t)(255 * ctx.randInt(0, 1));
        }
        ref(want.data(), want.data() + most, want.data() + 2 * most, a.data(), b.data(), count);
        fn(got.data(), got.data() + most, got.data() + 2 * most, a.data(), b.data(), count);
        for (int p = 0; p < 3; p++)
            if (memcmp(want.data() + p * most, got.data() + p * most, (size_t)count)) {
                ctx.fail("halfPixelRow", "plane %d, count %d", p, count);
                return;
            }
    }
    ctx.bench("halfPixelRow", [&] { ref(want.data(), want.data() + most, want.data() + 2 * most, a.data(), b.data(), most); },
              [&] { fn(got.data(), got.data() + most, got.data() + 2 * most, a.data(), b.data(), most); });
}

void checkSplit(checkasm::Context &ctx, SplitPixelsRowFn ref, SplitPixelsRowFn fn)
{
    const int most = 100;
    std::vector<YcPixel> src(most);
    std::vector<int16_t> want(3 * most), got(3 * most);
    std::vector<uint8_t> wantSearch(most), gotSearch(most);
    for (int iter = 0; iter < 2000; iter++) {
        const int count = ctx.randInt(1, most), mode = ctx.randInt(0, 2);
        // Any 16-bit sample, the ends of the planes' range and just beyond, or video levels.
        auto sample = [&]() -> int16_t {
            if (mode == 0)
                return (int16_t)ctx.randInt(-32768, 32767);
            if (mode == 1) {
                static const int16_t ends[] = {-32768, -8193, -8192, -8191, -9, -8, -7, 0, 4087, 4088, 8191, 8192, 32767};
                return ends[ctx.randInt(0, 12)];
            }
            return (int16_t)ctx.randInt(-300, 4400);
        };
        for (int i = 0; i < count; i++)
            src[i] = YcPixel{sample(), sample(), sample()};
        ref(want.data(), want.data() + most, want.data() + 2 * most, wantSearch.data(), src.data(), count);
        fn(got.data(), got.data() + most, got.data() + 2 * most, gotSearch.data(), src.data(), count);
        for (int p = 0; p < 3; p++)
            if (memcmp(want.data() + p * most, got.data() + p * most, (size_t)count * sizeof(int16_t))) {
                ctx.fail("splitPixelsRow", "plane %d, count %d", p, count);
                return;
            }
        if (memcmp(wantSearch.data(), gotSearch.data(), (size_t)count)) {
            ctx.fail("splitPixelsRow", "search samples, count %d", count);
            return;
        }
    }
    ctx.bench("splitPixelsRow",
              [&] { ref(want.data(), want.data() + most, want.data() + 2 * most, wantSearch.data(), src.data(), most); },
              [&] { fn(got.data(), got.data() + most, got.data() + 2 * most, gotSearch.data(), src.data(), most); });
}

void checkMerge(checkasm::Context &ctx, MergePixelsRowFn ref, MergePixelsRowFn fn)
{
    const int most = 100;
    std::vector<int16_t> planes(3 * most);
    std::vector<YcPixel> want(most + 1), got(most + 1);
    for (int iter = 0; iter < 2000; iter++) {
        const int count = ctx.randInt(1, most);
        for (auto &v : planes)
            v = ctx.randInt(0, 3) == 0 ? (int16_t)(ctx.randInt(0, 1) ? 32767 : -32768) : (int16_t)ctx.randInt(-32768, 32767);
        // The pixel after the row stays as it was.
        want[(size_t)count] = got[(size_t)count] = YcPixel{1, 2, 3};
        ref(want.data(), planes.data(), planes.data() + most, planes.data() + 2 * most, count);
        fn(got.data(), planes.data(), planes.data() + most, planes.data() + 2 * most, count);
        if (memcmp(want.data(), got.data(), (size_t)(count + 1) * sizeof(YcPixel))) {
            ctx.fail("mergePixelsRow", "count %d", count);
            return;
        }
    }
    ctx.bench("mergePixelsRow", [&] { ref(want.data(), planes.data(), planes.data() + most, planes.data() + 2 * most, most); },
              [&] { fn(got.data(), planes.data(), planes.data() + most, planes.data() + 2 * most, most); });
}

void checkHalve(checkasm::Context &ctx, HalveRowFn ref, HalveRowFn fn)
{
    const int most = 100;
    std::vector<uint8_t> a(2 * most), b(2 * most), want(most), got(most);
    for (int iter = 0; iter < 2000; iter++) {
        const int count = ctx.randInt(1, most), mode = ctx.randInt(0, 2); // random, all 255, 0 and 255
        for (int i = 0; i < 2 * count; i++) {
            a[i] = mode == 0 ? (uint8_t)ctx.randInt(0, 255) : mode == 1 ? 255 : (uint8_t)(255 * ctx.randInt(0, 1));
            b[i] = mode == 0 ? (uint8_t)ctx.randInt(0, 255) : mode == 1 ? 255 : (uint8_t)(255 * ctx.randInt(0, 1));
        }
        ref(want.data(), a.data(), b.data(), count);
        fn(got.data(), a.data(), b.data(), count);
        if (memcmp(want.data(), got.data(), (size_t)count)) {
            ctx.fail("halveRow", "count %d", count);
            return;
        }
    }
    ctx.bench("halveRow", [&] { ref(want.data(), a.data(), b.data(), most); },
              [&] { fn(got.data(), a.data(), b.data(), most); });
}

} // namespace

CHECKASM_GROUP(motion)
{
    MotionDsp ref, opt;
    motionDspInit(&ref, 0);
    motionDspInit(&opt, ctx.flags);
    if (ctx.shouldCheck("sad16", (const void *)opt.sad16))
        checkSad(ctx, ref.sad16, opt.sad16);
    if (ctx.shouldCheck("sad16x8Many", (const void *)opt.sad16x8Many))
        checkSadMany(ctx, ref.sad16x8Many, opt.sad16x8Many);
    if (ctx.shouldCheck("compensateCell", (const void *)opt.compensateCell))
        checkCompensate(ctx, ref.compensateCell, opt.compensateCell);
    if (ctx.shouldCheck("splitPixelsRow", (const void *)opt.splitPixelsRow))
        checkSplit(ctx, ref.splitPixelsRow, opt.splitPixelsRow);
    if (ctx.shouldCheck("mergePixelsRow", (const void *)opt.mergePixelsRow))
        checkMerge(ctx, ref.mergePixelsRow, opt.mergePixelsRow);
    if (ctx.shouldCheck("halveRow", (const void *)opt.halveRow))
        checkHalve(ctx, ref.halveRow, opt.halveRow);
    if (ctx.shouldCheck("halfPixelRow", (const void *)opt.halfPixelRow))
        checkHalfPixel(ctx, ref.halfPixelRow, opt.halfPixelRow);
}
