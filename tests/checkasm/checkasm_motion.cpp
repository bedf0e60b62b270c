// Motion kernels against their references: block costs, compensated rows,
// weighted means, half-pixel planes, halved planes and the split and merge of packed pixels, on random inputs and at the ends of their ranges.
#include <string.h>

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

void checkCompensate(checkasm::Context &ctx, CompensateRowsFn ref, CompensateRowsFn fn)
{
    const int stride = 40, rowsMost = 8;
    std::vector<int16_t> planes[3], cur[3];
    for (auto &p : planes)
        p.resize(stride * (rowsMost + 1));
    for (auto &c : cur)
        c.resize(24 * rowsMost);
    std::vector<int32_t> acc[2][4];
    for (int iter = 0; iter < 3000; iter++) {
        for (auto &p : planes)
            for (auto &v : p)
                v = motionSample(ctx);
        const bool nearly = ctx.randInt(0, 1);
        const int off = ctx.randInt(0, stride - 17), rows = ctx.randInt(1, rowsMost);
        for (int r = 0; r < rows; r++)
            for (int i = 0; i < 16; i++) {
                // Differences near the gates and twice the gates, or anything.
                for (int c = 0; c < 3; c++) {
                    const int32_t v = nearly ? planes[c][(size_t)(off + r * stride + i)] + ctx.randInt(-64, 64)
                                             : motionSample(ctx);
                    cur[c][(size_t)(24 * r + i)] =
                        (int16_t)(v < kMotionSampleMin ? kMotionSampleMin : v > kMotionSampleMax ? kMotionSampleMax : v);
                }
            }
        const int32_t start = ctx.randInt(-(1 << 24), 1 << 24);
        for (auto &side : acc)
            for (int c = 0; c < 4; c++) {
                side[c].resize(20 * rowsMost);
                for (size_t i = 0; i < side[c].size(); i++)
                    side[c][i] = start + 7 * (int32_t)i + c;
            }
        // Block weights 0 .. 8, all at the most (window weights up to 4096) now and then;
        // the sums set instead of added to now and then.
        int16_t blockWeight[4];
        const bool most = ctx.randInt(0, 4) == 0;
        for (auto &w : blockWeight)
            w = (int16_t)(most ? 8 : ctx.randInt(0, 3) == 0 ? 0 : ctx.randInt(0, 8));
        const int32_t store = ctx.randInt(0, 3) == 0;
        CompensateRowsArgs a[2];
        for (int k = 0; k < 2; k++) {
            memcpy(a[k].blockWeight, blockWeight, sizeof blockWeight);
            a[k].store = store;
            for (int c = 0; c < 3; c++) {
                a[k].ref[c] = planes[c].data() + off;
                a[k].cur[c] = cur[c].data();
                a[k].acc[c] = acc[k][c].data();
            }
            a[k].refStride = stride;
            a[k].curStride = 24;
            a[k].accStride = 20;
            a[k].rows = rows;
            a[k].fracX = iter & 1;
            a[k].fracY = (iter >> 1) & 1;
            a[k].wsum = acc[k][3].data();
        }
        a[0].gate = a[1].gate = (int16_t)(ctx.randInt(0, 4) == 0 ? 16383 * ctx.randInt(0, 1) : ctx.randInt(0, 64));
        a[0].chromaGate = a[1].chromaGate =
            (int16_t)(ctx.randInt(0, 4) == 0 ? 16383 * ctx.randInt(0, 1) : ctx.randInt(0, 64));
        ref(&a[0]);
        fn(&a[1]);
        for (int c = 0; c < 4; c++)
            if (acc[0][c] != acc[1][c]) {
                ctx.fail("compensateRows", "plane %d, %d rows, fractions %d %d, gates %d %d, store %d", c, rows,
                         a[0].fracX, a[0].fracY, a[0].gate, a[0].chromaGate, store);
                return;
            }
    }
    CompensateRowsArgs b = {};
    for (int c = 0; c < 3; c++) {
        b.ref[c] = planes[c].data();
        b.cur[c] = cur[c].data();
        b.acc[c] = acc[0][c].data();
    }
    b.refStride = stride;
    b.curStride = 24;
    b.accStride = 20;
    b.rows = 8;
    b.fracX = b.fracY = 1;
    for (auto &w : b.blockWeight)
        w = 8;
    b.gate = 40;
    b.chromaGate = 80;
    b.wsum = acc[0][3].data();
    ctx.bench("compensateRows", [&] { ref(&b); }, [&] { fn(&b); });
}

void checkResolve(checkasm::Context &ctx, ResolveRowFn ref, ResolveRowFn fn)
{
    const int most = 100;
    std::vector<int16_t> cur(most), want(most), got(most);
    std::vector<int32_t> acc(most), wsum(most);
    for (int iter = 0; iter < 3000; iter++) {
        const int count = ctx.randInt(1, most);
        const int32_t curWeight = ctx.randInt(0, 3) == 0 ? (ctx.randInt(0, 1) ? 32767 : 1) : ctx.randInt(1, 4096);
        for (int i = 0; i < count; i++) {
            cur[i] = motionSample(ctx);
            // The sums of up to 16 weighted samples, as the compensation leaves them.
            wsum[i] = 0;
            acc[i] = 0;
            const int terms = ctx.randInt(0, 16);
            for (int t = 0; t < terms; t++) {
                const int32_t w = ctx.randInt(0, 4096);
                wsum[i] += w;
                acc[i] += w * motionSample(ctx);
            }
        }
        ref(want.data(), cur.data(), acc.data(), wsum.data(), curWeight, count);
        fn(got.data(), cur.data(), acc.data(), wsum.data(), curWeight, count);
        if (memcmp(want.data(), got.data(), (size_t)count * sizeof(int16_t))) {
            ctx.fail("resolveRow", "count %d, weight %d", count, curWeight);
            return;
        }
    }
    ctx.bench("resolveRow", [&] { ref(want.data(), cur.data(), acc.data(), wsum.data(), 1024, most); },
              [&] { fn(got.data(), cur.data(), acc.data(), wsum.data(), 1024, most); });
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
    if (ctx.shouldCheck("compensateRows", (const void *)opt.compensateRows))
        checkCompensate(ctx, ref.compensateRows, opt.compensateRows);
    if (ctx.shouldCheck("resolveRow", (const void *)opt.resolveRow))
        checkResolve(ctx, ref.resolveRow, opt.resolveRow);
    if (ctx.shouldCheck("splitPixelsRow", (const void *)opt.splitPixelsRow))
        checkSplit(ctx, ref.splitPixelsRow, opt.splitPixelsRow);
    if (ctx.shouldCheck("mergePixelsRow", (const void *)opt.mergePixelsRow))
        checkMerge(ctx, ref.mergePixelsRow, opt.mergePixelsRow);
    if (ctx.shouldCheck("halveRow", (const void *)opt.halveRow))
        checkHalve(ctx, ref.halveRow, opt.halveRow);
    if (ctx.shouldCheck("halfPixelRow", (const void *)opt.halfPixelRow))
        checkHalfPixel(ctx, ref.halfPixelRow, opt.halfPixelRow);
}
