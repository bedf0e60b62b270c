// The library's one-pass conversions between 8-bit 4:2:2 planes and pixels,
// against the row kernels they stand for.
#include <string.h>

#include <vector>

#include "checkasm.h"
#include "library/convert_kernels.h"

namespace {

using namespace velvane;

// Widths of every tail length, odd ones among them, and a full row.
int randomWidth(checkasm::Context &ctx) { return ctx.randInt(0, 9) == 0 ? 720 : ctx.randInt(1, 67); }

// Bytes, a third of them 0 or 255.
uint8_t randomByte(checkasm::Context &ctx)
{
    const int r = ctx.randInt(0, 5);
    return (uint8_t)(r == 0 ? 0 : r == 1 ? 255 : ctx.randInt(0, 255));
}

int16_t randomSample(checkasm::Context &ctx)
{
    static const int16_t extremes[] = {-32768, -32767, -2057, -2056, -1, 0, 7, 8, 4087, 4088, 32759, 32767};
    if (ctx.randInt(0, 2) == 0)
        return extremes[ctx.randInt(0, (int)(sizeof extremes / sizeof extremes[0]) - 1)];
    return (int16_t)ctx.randInt(-32768, 32767);
}

void checkToPixels(checkasm::Context &ctx, PlanarToPixels8Fn fn)
{
    const ConvertKernels &c = convertKernelsC();
    for (int iter = 0; iter < 500; iter++) {
        const int width = randomWidth(ctx), cw = (width + 1) / 2;
        // Exact sizes: a read past a row shows under ASan.
        std::vector<uint8_t> y((size_t)width), cb((size_t)cw), cr((size_t)cw);
        for (auto *p : {&y, &cb, &cr})
            for (auto &b : *p)
                b = randomByte(ctx);
        // What the separate kernels give.
        std::vector<int16_t> sy((size_t)width), sc((size_t)cw), sb((size_t)width), sr((size_t)width);
        c.lumaToHost8(sy.data(), y.data(), width);
        c.chromaToHost8(sc.data(), cb.data(), cw);
        upsampleCositedRow(c, sb.data(), sc.data(), width);
        c.chromaToHost8(sc.data(), cr.data(), cw);
        upsampleCositedRow(c, sr.data(), sc.data(), width);
        std::vector<YcPixel> want((size_t)width + 2, YcPixel{7, 7, 7});
        c.interleaveRow(want.data() + 1, sy.data(), sb.data(), sr.data(), width);

        const bool withLuma = ctx.randInt(0, 3) != 0;
        std::vector<YcPixel> got((size_t)width + 2, YcPixel{7, 7, 7});
        std::vector<int16_t> luma((size_t)width + 2, 7);
        fn(got.data() + 1, withLuma ? luma.data() + 1 : nullptr, y.data(), cb.data(), cr.data(), width);
        for (int i = 0; i < width + 2; i++) {
            const YcPixel &a = want[(size_t)i], &b = got[(size_t)i];
            if (a.y != b.y || a.cb != b.cb || a.cr != b.cr) {
                ctx.fail("planarToPixels8", "width %d, pixel %d: (%d %d %d) != (%d %d %d)", width, i - 1, b.y, b.cb,
                         b.cr, a.y, a.cb, a.cr);
                return;
            }
            const int16_t lumaWant = !withLuma || i == 0 || i == width + 1 ? 7 : a.y;
            if (luma[(size_t)i] != lumaWant) {
                ctx.fail("planarToPixels8", "width %d, luma %d: %d != %d", width, i - 1, luma[(size_t)i], lumaWant);
                return;
            }
        }
    }
    std::vector<uint8_t> y(720, 100), cb(360, 90), cr(360, 200);
    std::vector<YcPixel> out(720);
    ctx.bench("planarToPixels8", [&] { planarToPixels8C(out.data(), nullptr, y.data(), cb.data(), cr.data(), 720); },
              [&] { fn(out.data(), nullptr, y.data(), cb.data(), cr.data(), 720); });
}

void checkToPlanar(checkasm::Context &ctx, PixelsToPlanar8Fn fn)
{
    const ConvertKernels &c = convertKernelsC();
    for (int iter = 0; iter < 500; iter++) {
        const int width = randomWidth(ctx), cw = (width + 1) / 2;
        std::vector<YcPixel> src((size_t)width);
        for (auto &p : src)
            p = YcPixel{randomSample(ctx), randomSample(ctx), randomSample(ctx)};
        std::vector<int16_t> sy((size_t)width), sb((size_t)width), sr((size_t)width), sc((size_t)cw);
        std::vector<uint8_t> want[3] = {std::vector<uint8_t>((size_t)width + 2, 7),
                                        std::vector<uint8_t>((size_t)cw + 2, 7), std::vector<uint8_t>((size_t)cw + 2, 7)};
        c.deinterleaveRow(sy.data(), sb.data(), sr.data(), src.data(), width);
        c.lumaFromHost8(want[0].data() + 1, sy.data(), width);
        c.downsampleCosited2(sc.data(), sb.data(), cw);
        c.chromaFromHost8(want[1].data() + 1, sc.data(), cw);
        c.downsampleCosited2(sc.data(), sr.data(), cw);
        c.chromaFromHost8(want[2].data() + 1, sc.data(), cw);

        std::vector<uint8_t> got[3] = {std::vector<uint8_t>((size_t)width + 2, 7),
                                       std::vector<uint8_t>((size_t)cw + 2, 7), std::vector<uint8_t>((size_t)cw + 2, 7)};
        fn(got[0].data() + 1, got[1].data() + 1, got[2].data() + 1, src.data(), width);
        for (int p = 0; p < 3; p++)
            for (size_t i = 0; i < want[p].size(); i++)
                if (want[p][i] != got[p][i]) {
                    ctx.fail("pixelsToPlanar8", "width %d, plane %d, sample %d: %d != %d", width, p, (int)i - 1,
                             got[p][i], want[p][i]);
                    return;
                }
    }
    std::vector<uint8_t> y(720), cb(360), cr(360);
    std::vector<YcPixel> in(720, YcPixel{2000, -100, 300});
    ctx.bench("pixelsToPlanar8", [&] { pixelsToPlanar8C(y.data(), cb.data(), cr.data(), in.data(), 720); },
              [&] { fn(y.data(), cb.data(), cr.data(), in.data(), 720); });
}

} // namespace

CHECKASM_GROUP(convert)
{
    const ConvertKernels &k = convertKernels(ctx.flags);
    // The scalar versions too, at the first level: they are checked against
    // the separate kernels like every other.
    if (ctx.shouldCheck("planarToPixels8", (const void *)k.planarToPixels8))
        checkToPixels(ctx, k.planarToPixels8);
    if (ctx.shouldCheck("pixelsToPlanar8", (const void *)k.pixelsToPlanar8))
        checkToPlanar(ctx, k.pixelsToPlanar8);
}
