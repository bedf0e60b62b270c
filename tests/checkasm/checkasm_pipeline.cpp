// Colour, 4:1:1, halving and band split kernels against their references.
#include <string.h>

#include <vector>

#include "checkasm.h"
#include "pipeline/dsp.h"

namespace {

using namespace velvane;

const int16_t kExtremes[] = {-32768, -32767, -16385, -16384, -1, 0, 1, 16383, 16384, 32766, 32767};

// Full-range samples, a third of them saturation extremes.
int16_t randomSample(checkasm::Context &ctx)
{
    if (ctx.randInt(0, 2) == 0)
        return kExtremes[ctx.randInt(0, (int)(sizeof kExtremes / sizeof kExtremes[0]) - 1)];
    return (int16_t)ctx.randInt(-32768, 32767);
}

void randomise(checkasm::Context &ctx, std::vector<int16_t> &v)
{
    for (auto &s : v)
        s = randomSample(ctx);
}

// Widths of every tail length and a full row.
int32_t randomWidth(checkasm::Context &ctx) { return ctx.randInt(0, 9) == 0 ? 720 : ctx.randInt(1, 67); }

// Index of the first differing sample, or -1.
long firstDifference(const std::vector<int16_t> &a, const std::vector<int16_t> &b)
{
    for (size_t i = 0; i < a.size(); i++)
        if (a[i] != b[i])
            return (long)i;
    return -1;
}

ColourFactors randomFactors(checkasm::Context &ctx, ColourMode mode)
{
    auto pick = [&](int lo, int hi) {
        const int r = ctx.randInt(0, 3);
        return r == 0 ? lo : r == 1 ? hi : ctx.randInt(lo, hi);
    };
    ColourFactors f;
    f.kY = 256 + pick(-50, 50);
    f.offsetY = 4 * pick(-50, 50);
    f.kCb = 256 + pick(-100, 100);
    f.kCr = 256 + pick(-100, 100);
    f.kB = 256 + pick(-30, 30);
    // Hue factors of every track value: trunc(256 sin(h / 180)), trunc(256 cos(h / 180)).
    const int h = pick(-30, 30);
    f.hs = (int32_t)(256.0 * __builtin_sin(h / 180.0));
    f.hc = (int32_t)(256.0 * __builtin_cos(h / 180.0));
    f.mode = mode;
    return f;
}

void checkAdjustColour(checkasm::Context &ctx, AdjustColourRowFn ref, AdjustColourRowFn fn)
{
    const char *names[] = {"adjustColourRow/gains", "adjustColourRow/rotate", "adjustColourRow/rotate411"};
    for (int mode = 0; mode < 3; mode++) {
        for (int iter = 0; iter < 300; iter++) {
            const int32_t width = randomWidth(ctx), lead = ctx.randInt(0, 7);
            const ColourFactors f = randomFactors(ctx, (ColourMode)mode);
            std::vector<int16_t> a((size_t)(width + lead + 8) * 3);
            randomise(ctx, a);
            std::vector<int16_t> b = a;
            ref(reinterpret_cast<YcPixel *>(a.data()) + lead, width, &f);
            fn(reinterpret_cast<YcPixel *>(b.data()) + lead, width, &f);
            const long d = firstDifference(a, b);
            if (d >= 0) {
                ctx.fail(names[mode], "width %d, sample %ld: %d != %d (kY %d off %d kCb %d kCr %d hs %d hc %d kB %d)",
                         width, d - lead * 3, b[d], a[d], f.kY, f.offsetY, f.kCb, f.kCr, f.hs, f.hc, f.kB);
                break;
            }
        }
        std::vector<int16_t> row(720 * 3);
        randomise(ctx, row);
        ColourFactors f = randomFactors(ctx, (ColourMode)mode);
        YcPixel *p = reinterpret_cast<YcPixel *>(row.data());
        ctx.bench(names[mode], [&] { ref(p, 720, &f); }, [&] { fn(p, 720, &f); });
    }
}

void checkInterpolate411(checkasm::Context &ctx, Interpolate411RowFn ref, Interpolate411RowFn fn)
{
    for (int iter = 0; iter < 500; iter++) {
        const int32_t width = randomWidth(ctx), lead = ctx.randInt(0, 7);
        std::vector<int16_t> a((size_t)(width + lead + 8) * 3);
        randomise(ctx, a);
        std::vector<int16_t> b = a;
        ref(reinterpret_cast<YcPixel *>(a.data()) + lead, width);
        fn(reinterpret_cast<YcPixel *>(b.data()) + lead, width);
        const long d = firstDifference(a, b);
        if (d >= 0) {
            ctx.fail("interpolate411Row", "width %d, sample %ld: %d != %d", width, d - lead * 3, b[d], a[d]);
            break;
        }
    }
    std::vector<int16_t> row(720 * 3);
    randomise(ctx, row);
    YcPixel *p = reinterpret_cast<YcPixel *>(row.data());
    ctx.bench("interpolate411Row", [&] { ref(p, 720); }, [&] { fn(p, 720); });
}

void checkHalve(checkasm::Context &ctx, HalveSamplesFn ref, HalveSamplesFn fn)
{
    for (int iter = 0; iter < 500; iter++) {
        const size_t count = (size_t)ctx.randInt(0, 9) == 0 ? 720 * 3 * 2 : (size_t)ctx.randInt(1, 200);
        const size_t lead = (size_t)ctx.randInt(0, 15);
        std::vector<int16_t> a(count + lead + 16);
        randomise(ctx, a);
        std::vector<int16_t> b = a;
        ref(a.data() + lead, count);
        fn(b.data() + lead, count);
        const long d = firstDifference(a, b);
        if (d >= 0) {
            ctx.fail("halveSamples", "count %zu, sample %ld: %d != %d", count, d - (long)lead, b[d], a[d]);
            break;
        }
    }
    std::vector<int16_t> frame(720 * 480 * 3);
    randomise(ctx, frame);
    ctx.bench("halveSamples(frame)", [&] { ref(frame.data(), frame.size()); },
              [&] { fn(frame.data(), frame.size()); });
}

void checkLowPass(checkasm::Context &ctx, LowPassRowFn ref, LowPassRowFn fn)
{
    for (int iter = 0; iter < 500; iter++) {
        const int32_t aw = ctx.randInt(0, 9) == 0 ? 720 : 4 * ctx.randInt(1, 20);
        const ptrdiff_t pitch = (ptrdiff_t)(aw + 4) * 3;
        std::vector<int16_t> plane((size_t)pitch * 5);
        // Neighbouring values close together as well as anywhere.
        const int16_t base = randomSample(ctx);
        for (auto &s : plane)
            s = ctx.randInt(0, 1) ? randomSample(ctx) : base;
        const int32_t count = aw * 3;
        std::vector<int16_t> a((size_t)count + 32), b;
        randomise(ctx, a);
        b = a;
        const int16_t *centre = plane.data() + 2 * pitch + 6;
        ref(a.data() + 8, centre, pitch, count);
        fn(b.data() + 8, centre, pitch, count);
        const long d = firstDifference(a, b);
        if (d >= 0) {
            ctx.fail("lowPassRow", "alignedWidth %d, sample %ld: %d != %d", aw, d - 8, b[d], a[d]);
            break;
        }
    }
    const ptrdiff_t pitch = 724 * 3;
    std::vector<int16_t> plane((size_t)pitch * 5), low(720 * 3);
    randomise(ctx, plane);
    const int16_t *centre = plane.data() + 2 * pitch + 6;
    ctx.bench("lowPassRow", [&] { ref(low.data(), centre, pitch, 720 * 3); },
              [&] { fn(low.data(), centre, pitch, 720 * 3); });
}

void checkResidual(checkasm::Context &ctx, ResidualRowFn ref, ResidualRowFn fn)
{
    for (int iter = 0; iter < 500; iter++) {
        const int32_t count = ctx.randInt(0, 9) == 0 ? 720 * 3 : ctx.randInt(12, 200);
        std::vector<int16_t> low((size_t)count), a((size_t)count + 32);
        randomise(ctx, low);
        randomise(ctx, a);
        std::vector<int16_t> b = a;
        ref(a.data() + 8, low.data(), count);
        fn(b.data() + 8, low.data(), count);
        const long d = firstDifference(a, b);
        if (d >= 0) {
            ctx.fail("residualRow", "count %d, sample %ld: %d != %d", count, d - 8, b[d], a[d]);
            break;
        }
    }
    std::vector<int16_t> low(720 * 3), high(720 * 3);
    randomise(ctx, low);
    randomise(ctx, high);
    ctx.bench("residualRow", [&] { ref(high.data(), low.data(), 720 * 3); },
              [&] { fn(high.data(), low.data(), 720 * 3); });
}

} // namespace

CHECKASM_GROUP(pipeline)
{
    PipelineDsp ref, opt;
    pipelineDspInit(&ref, 0);
    pipelineDspInit(&opt, ctx.flags);
    if (ctx.shouldCheck("adjustColourRow", (const void *)opt.adjustColourRow))
        checkAdjustColour(ctx, ref.adjustColourRow, opt.adjustColourRow);
    if (ctx.shouldCheck("interpolate411Row", (const void *)opt.interpolate411Row))
        checkInterpolate411(ctx, ref.interpolate411Row, opt.interpolate411Row);
    if (ctx.shouldCheck("halveSamples", (const void *)opt.halveSamples))
        checkHalve(ctx, ref.halveSamples, opt.halveSamples);
    if (ctx.shouldCheck("lowPassRow", (const void *)opt.lowPassRow))
        checkLowPass(ctx, ref.lowPassRow, opt.lowPassRow);
    if (ctx.shouldCheck("residualRow", (const void *)opt.residualRow))
        checkResidual(ctx, ref.residualRow, opt.residualRow);
}
