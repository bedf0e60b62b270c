// Averaging and output kernels against their references.
#include <string.h>

#include <vector>

#include "checkasm.h"
#include "nr/dsp.h"

namespace {

using namespace velvane;

const int16_t kExtremes[] = {-32768, -32767, -16385, -16384, -1, 0, 1, 16383, 16384, 32766, 32767};

int16_t randomSample(checkasm::Context &ctx)
{
    if (ctx.randInt(0, 2) == 0)
        return kExtremes[ctx.randInt(0, (int)(sizeof kExtremes / sizeof kExtremes[0]) - 1)];
    return (int16_t)ctx.randInt(-32768, 32767);
}

int16_t clamp16(int32_t v) { return (int16_t)(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

long firstDifference(const std::vector<int16_t> &a, const std::vector<int16_t> &b)
{
    for (size_t i = 0; i < a.size(); i++)
        if (a[i] != b[i])
            return (long)i;
    return -1;
}

// Every threshold the tracks allow (factor x 0 .. 20), now and then any.
int16_t randomThreshold(checkasm::Context &ctx, int factor)
{
    if (ctx.randInt(0, 15) == 0)
        return (int16_t)ctx.randInt(0, 32767);
    return (int16_t)(factor * ctx.randInt(0, 20));
}

// Sources for one row: neighbours near their centre (at, just inside and
// just outside the threshold, and random offsets), or anywhere.
struct AverageSources {
    std::vector<int16_t> planes[9]; // lowCur, lowPrev, lowNext, partners x 3, highCur, highPrev, highNext
    AverageRowArgs args;

    AverageSources(checkasm::Context &ctx, int32_t pixels, bool usePrevious)
    {
        const size_t n = (size_t)pixels * 3;
        for (int k = 0; k < 3; k++) {
            args.lowThreshold[k] = randomThreshold(ctx, 4);
            args.highThreshold[k] = randomThreshold(ctx, k == 0 ? 8 : 4);
        }
        args.usePrevious = usePrevious;
        args.doubled = ctx.randInt(0, 1);
        for (auto &p : planes)
            p.resize(n); // exact sizes: a read past the row shows under ASan
        for (size_t i = 0; i < n; i++) {
            fillLane(ctx, i, 0, 6, args.lowThreshold[i % 3]);
            fillLane(ctx, i, 6, 9, args.highThreshold[i % 3]);
        }
        args.lowCur = planes[0].data();
        args.lowPrev = planes[1].data();
        args.lowNext = planes[2].data();
        args.lowCurPartner = planes[3].data();
        args.lowPrevPartner = planes[4].data();
        args.lowNextPartner = planes[5].data();
        args.highCur = planes[6].data();
        args.highPrev = planes[7].data();
        args.highNext = planes[8].data();
    }
    void fillLane(checkasm::Context &ctx, size_t i, int first, int end, int16_t t)
    {
        // A centre near the middle makes room for the doubled sum; some sit
        // at the extremes so that bounds and sums saturate.
        const int16_t centre = ctx.randInt(0, 3) == 0 ? randomSample(ctx) : (int16_t)ctx.randInt(-16384, 16383);
        planes[first][i] = centre;
        for (int k = first + 1; k < end; k++) {
            int32_t v;
            switch (ctx.randInt(0, 5)) {
            case 0: v = centre + t; break;
            case 1: v = centre - t; break;
            case 2: v = centre + t - 1; break;
            case 3: v = centre - t + 1; break;
            case 4: v = randomSample(ctx); break;
            default: v = centre + ctx.randInt(-2 * t - 2, 2 * t + 2); break;
            }
            planes[k][i] = clamp16(v);
        }
    }
};

void checkAverage(checkasm::Context &ctx, AverageRowFn ref, AverageRowFn fn)
{
    for (int iter = 0; iter < 1000; iter++) {
        const int32_t pixels = ctx.randInt(0, 9) == 0 ? 720 : ctx.randInt(1, 67);
        const bool usePrevious = ctx.randInt(0, 1) == 1;
        AverageSources src(ctx, pixels, usePrevious);
        std::vector<int16_t> a((size_t)pixels * 3 + 48);
        for (auto &s : a)
            s = randomSample(ctx);
        std::vector<int16_t> b = a;
        ref(a.data() + 24, &src.args, pixels);
        fn(b.data() + 24, &src.args, pixels);
        const long d = firstDifference(a, b);
        if (d >= 0) {
            const long i = d - 24;
            ctx.fail("averageRow", "pixels %d, usePrevious %d, doubled %d, sample %ld: %d != %d (thresholds %d %d)",
                     pixels, (int)usePrevious, src.args.doubled, i, b[d], a[d], src.args.lowThreshold[i >= 0 ? i % 3 : 0],
                     src.args.highThreshold[i >= 0 ? i % 3 : 0]);
            break;
        }
    }
    // Every threshold the tracks allow, each for all components at once.
    for (int t = 0; t <= 20; t++)
        for (int usePrevious = 0; usePrevious < 2; usePrevious++) {
            AverageSources src(ctx, 67, usePrevious);
            for (int k = 0; k < 3; k++) {
                src.args.lowThreshold[k] = (int16_t)(4 * t);
                src.args.highThreshold[k] = (int16_t)(k == 0 ? 8 * t : 4 * t);
            }
            // Refill so that the neighbours sit around these thresholds.
            for (size_t i = 0; i < 67 * 3; i++) {
                src.fillLane(ctx, i, 0, 6, src.args.lowThreshold[i % 3]);
                src.fillLane(ctx, i, 6, 9, src.args.highThreshold[i % 3]);
            }
            std::vector<int16_t> a(67 * 3 + 48), b;
            for (auto &s : a)
                s = randomSample(ctx);
            b = a;
            ref(a.data() + 24, &src.args, 67);
            fn(b.data() + 24, &src.args, 67);
            const long d = firstDifference(a, b);
            if (d >= 0) {
                ctx.fail("averageRow", "track value %d, usePrevious %d, sample %ld: %d != %d", t, usePrevious, d - 24,
                         b[d], a[d]);
                return;
            }
        }
    for (int usePrevious = 1; usePrevious >= 0; usePrevious--) {
        AverageSources src(ctx, 720, usePrevious);
        for (int k = 0; k < 3; k++) {
            src.args.lowThreshold[k] = 40;
            src.args.highThreshold[k] = k == 0 ? 80 : 40;
        }
        std::vector<int16_t> dst(720 * 3);
        ctx.bench(usePrevious ? "averageRow" : "averageRow(no previous)", [&] { ref(dst.data(), &src.args, 720); },
                  [&] { fn(dst.data(), &src.args, 720); });
    }
}

// Every sum each weight can reach, through the low band: a centre of 0 with
// the widest threshold selects the first weight - 2 neighbours, which share
// the sum; the rest sit at 32767, outside. Weight 2 takes every centre.
void checkQuotients(checkasm::Context &ctx, AverageRowFn ref, AverageRowFn fn)
{
    std::vector<int16_t> planes[9];
    for (int weight = 2; weight <= 7; weight++)
        for (int32_t s = -32768; s <= 32767; s++) {
            const int k = weight - 2;
            if (k == 1 && (s < -32766 || s > 32766))
                continue;
            planes[0].push_back(k == 0 ? (int16_t)s : 0);
            for (int j = 0; j < 5; j++) {
                int32_t v = 32767;
                if (j < k)
                    v = s / k + (j < (s % k < 0 ? -(s % k) : s % k) ? (s < 0 ? -1 : 1) : 0);
                planes[1 + j].push_back((int16_t)v);
            }
            for (int j = 6; j < 9; j++)
                planes[j].push_back(0);
        }
    while (planes[0].size() % 3)
        for (auto &p : planes)
            p.push_back(0);
    AverageRowArgs a;
    for (int k = 0; k < 3; k++) {
        a.lowThreshold[k] = 32767;
        a.highThreshold[k] = 0;
    }
    a.usePrevious = 1;
    a.lowCur = planes[0].data();
    a.lowPrev = planes[1].data();
    a.lowNext = planes[2].data();
    a.lowCurPartner = planes[3].data();
    a.lowPrevPartner = planes[4].data();
    a.lowNextPartner = planes[5].data();
    a.highCur = planes[6].data();
    a.highPrev = planes[7].data();
    a.highNext = planes[8].data();
    const int32_t pixels = (int32_t)(planes[0].size() / 3);
    std::vector<int16_t> x(planes[0].size()), y(planes[0].size());
    ref(x.data(), &a, pixels);
    fn(y.data(), &a, pixels);
    const long d = firstDifference(x, y);
    if (d >= 0)
        ctx.fail("averageRow", "quotient sweep, sample %ld: %d != %d", d, y[d], x[d]);
}

void checkDouble(checkasm::Context &ctx, DoubleSamplesFn ref, DoubleSamplesFn fn)
{
    for (int iter = 0; iter < 500; iter++) {
        const size_t count = ctx.randInt(0, 9) == 0 ? 720 * 3 : (size_t)ctx.randInt(0, 200);
        std::vector<int16_t> a(count + 32);
        for (auto &s : a)
            s = randomSample(ctx);
        std::vector<int16_t> b = a;
        const size_t lead = (size_t)ctx.randInt(0, 15);
        ref(a.data() + lead, count);
        fn(b.data() + lead, count);
        const long d = firstDifference(a, b);
        if (d >= 0) {
            ctx.fail("doubleSamples", "count %zu, sample %ld: %d != %d", count, d - (long)lead, b[d], a[d]);
            break;
        }
    }
    std::vector<int16_t> frame(720 * 480 * 3);
    ctx.bench("doubleSamples(frame)", [&] { ref(frame.data(), frame.size()); },
              [&] { fn(frame.data(), frame.size()); });
}

void checkFill(checkasm::Context &ctx, FillPixelsFn ref, FillPixelsFn fn)
{
    for (int iter = 0; iter < 500; iter++) {
        const size_t count = ctx.randInt(0, 9) == 0 ? 720 : (size_t)ctx.randInt(0, 67);
        const size_t lead = (size_t)ctx.randInt(0, 7);
        std::vector<int16_t> a((count + lead + 8) * 3);
        for (auto &s : a)
            s = randomSample(ctx);
        std::vector<int16_t> b = a;
        const YcPixel black = {randomSample(ctx), randomSample(ctx), randomSample(ctx)};
        ref(reinterpret_cast<YcPixel *>(a.data()) + lead, count, black);
        fn(reinterpret_cast<YcPixel *>(b.data()) + lead, count, black);
        const long d = firstDifference(a, b);
        if (d >= 0) {
            ctx.fail("fillPixels", "count %zu, sample %ld: %d != %d", count, d - (long)lead * 3, b[d], a[d]);
            break;
        }
    }
    std::vector<YcPixel> rows(720 * 8);
    const YcPixel black = {256, 0, 0};
    ctx.bench("fillPixels(8 rows)", [&] { ref(rows.data(), rows.size(), black); },
              [&] { fn(rows.data(), rows.size(), black); });
}

} // namespace

CHECKASM_GROUP(nr)
{
    NrDsp ref, opt;
    nrDspInit(&ref, 0);
    nrDspInit(&opt, ctx.flags);
    if (ctx.shouldCheck("averageRow", (const void *)opt.averageRow)) {
        checkQuotients(ctx, ref.averageRow, opt.averageRow);
        checkAverage(ctx, ref.averageRow, opt.averageRow);
    }
    if (ctx.shouldCheck("doubleSamples", (const void *)opt.doubleSamples))
        checkDouble(ctx, ref.doubleSamples, opt.doubleSamples);
    if (ctx.shouldCheck("fillPixels", (const void *)opt.fillPixels))
        checkFill(ctx, ref.fillPixels, opt.fillPixels);
}
