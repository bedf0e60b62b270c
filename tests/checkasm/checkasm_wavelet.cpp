// Wavelet kernels, the column shrink and the whole dot pass against their C
// references, bit for bit.
#include <float.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "checkasm.h"
#include "common/cpu_flags.h"
#include "pipeline/instance.h"
#include "wavelet/dot_pass.h"
#include "wavelet/dsp.h"

namespace {

using namespace velvane;

constexpr int32_t N = kWaveLength, M = kWaveLength / 2;
constexpr int kPad = 16;              // canary floats on each side of an output
constexpr uint32_t kCanary = 0x7FBADBADu; // a NaN no kernel produces

// A float buffer with room for canaries and a chosen misalignment.
struct Buf {
    std::vector<float> store;
    float *p;
    size_t n;
    Buf(size_t count, int offset) : store(count + 2 * kPad + 8), n(count)
    {
        float *base = store.data() + kPad;
        while ((uintptr_t)base & 15)
            base++;
        p = base + offset;
        uint32_t c = kCanary;
        for (float &f : store)
            memcpy(&f, &c, 4);
    }
    bool same(const Buf &o) const { return !memcmp(store.data(), o.store.data(), store.size() * sizeof(float)); }
    size_t firstDiff(const Buf &o) const
    {
        for (size_t i = 0; i < store.size(); i++)
            if (memcmp(&store[i], &o.store[i], 4))
                return i;
        return 0;
    }
};

enum Signal { Random, RandomWide, Special, Impulse, Constant, Ramp, Alternating, ByTwos, kSignals };
const char *const signalNames[] = {"random", "random-wide", "special", "impulse", "constant", "ramp", "alternating", "by-twos"};

void fillSignal(checkasm::Context &ctx, float *x, int32_t n, Signal s)
{
    static const float specials[] = {0.0f, -0.0f, 1e-45f, -1e-45f, 1.17e-38f, -3e-39f, 1.0f, -1.0f,
                                     1e20f, -1e20f, 3.0e38f, -3.0e38f, 65535.0f, -65535.0f, 0.5f, 7.0f};
    const int32_t at = ctx.randInt(0, n - 1);
    const float v = (float)ctx.randInt(-2000, 2000) * 0.25f;
    for (int32_t i = 0; i < n; i++) {
        switch (s) {
        case Random: x[i] = (float)ctx.randInt(-65535, 65535) * (1.0f / 64); break;
        case RandomWide: {
            const uint32_t bits = (uint32_t)ctx.randInt(INT32_MIN, INT32_MAX);
            float f;
            memcpy(&f, &bits, 4);
            x[i] = (f == f && f - f == 0.0f) ? f * 1e-30f : 1.0f; // finite values of every exponent
            break;
        }
        case Special: x[i] = specials[ctx.randInt(0, 15)]; break;
        case Impulse: x[i] = i == at ? v : 0.0f; break;
        case Constant: x[i] = v; break;
        case Ramp: x[i] = (float)(i - at); break;
        case Alternating: x[i] = (i & 1) ? -v : v; break;
        case ByTwos: x[i] = (i & 2) ? -v : v; break;
        default: break;
        }
    }
}

// Lengths within each kernel's contract: every small one, some random, and
// the one the reducer uses.
std::vector<int32_t> lengths(checkasm::Context &ctx, int32_t step, int32_t min)
{
    std::vector<int32_t> v;
    for (int32_t n = min; n <= min + 12 * step; n += step)
        v.push_back(n);
    for (int i = 0; i < 4; i++)
        v.push_back(min + step * ctx.randInt(0, 120));
    v.push_back(N);
    return v;
}

void checkForward(checkasm::Context &ctx, const char *name, D4ForwardFn ref, D4ForwardFn fn, int32_t step,
                  int32_t min)
{
    for (int32_t n : lengths(ctx, step, min))
        for (int s = 0; s < kSignals; s++) {
            // The even-phase input must be aligned; the odd-phase one need not be.
            const int off = step == 4 ? 0 : ctx.randInt(0, 3);
            Buf x(n, off), o1(n, ctx.randInt(0, 3)), o2(0, 0);
            o2 = o1;
            o2.p = o2.store.data() + (o1.p - o1.store.data());
            fillSignal(ctx, x.p, n, (Signal)s);
            ref(x.p, n, o1.p);
            fn(x.p, n, o2.p);
            if (!o1.same(o2)) {
                ctx.fail(name, "n=%d signal=%s first difference at buffer index %zu", n, signalNames[s],
                         o1.firstDiff(o2));
                return;
            }
        }
}

void checkInverse(checkasm::Context &ctx, D4InverseFn ref, D4InverseFn fn)
{
    for (int32_t m : lengths(ctx, 2, 4))
        for (int s = 0; s < kSignals; s++) {
            Buf a(m, ctx.randInt(0, 3)), d(m, ctx.randInt(0, 3)), o1(2 * m, 0), o2(0, 0);
            o2 = o1;
            o2.p = o2.store.data() + (o1.p - o1.store.data());
            fillSignal(ctx, a.p, m, (Signal)s);
            fillSignal(ctx, d.p, m, (Signal)ctx.randInt(0, kSignals - 1));
            ref(a.p, d.p, m, o1.p);
            fn(a.p, d.p, m, o2.p);
            if (!o1.same(o2)) {
                ctx.fail("d4Inverse", "m=%d signal=%s first difference at buffer index %zu", m, signalNames[s],
                         o1.firstDiff(o2));
                return;
            }
        }
}

void checkOddInverse(checkasm::Context &ctx, D4OddLowInverseFn ref, D4OddLowInverseFn fn)
{
    for (int32_t m : lengths(ctx, 2, 6))
        for (int s = 0; s < kSignals; s++) {
            Buf b(m, ctx.randInt(0, 3)), o1(2 * m, ctx.randInt(0, 3)), o2(0, 0);
            o2 = o1;
            o2.p = o2.store.data() + (o1.p - o1.store.data());
            fillSignal(ctx, b.p, m, (Signal)s);
            ref(b.p, m, o1.p);
            fn(b.p, m, o2.p);
            if (!o1.same(o2)) {
                ctx.fail("d4OddLowInverse", "m=%d signal=%s first difference at buffer index %zu", m,
                         signalNames[s], o1.firstDiff(o2));
                return;
            }
        }
}

// The reducer's work memory, allocated as an instance's start-up does.
struct Scratch {
    std::unique_ptr<FilterInstance> f{new FilterInstance};
    Scratch() { startInstance(*f, 2, 0); }
    ~Scratch() { stopInstance(*f); }
    const DotPassWork &work() const { return f->scratch.work; }
};

void checkShrink(checkasm::Context &ctx, ShrinkColumnsFn ref, ShrinkColumnsFn fn, float *work)
{
    std::vector<float> p1((size_t)N * N), p2;
    const int32_t heights[] = {1, 2, 3, 479, 480, 760, 761, 800, ctx.randInt(4, 799)};
    int trial = 0;
    for (int32_t h : heights)
        for (int s = 0; s < kSignals; s++, trial++) {
            const int32_t count = trial % 5 == 0 ? M : ctx.randInt(1, 67);
            const int32_t column = count == M ? M : ctx.randInt(0, N - count);
            for (int32_t c = 0; c < N; c++) {
                std::vector<float> col(N);
                fillSignal(ctx, col.data(), N, (Signal)s);
                for (int32_t i = 0; i < N; i++)
                    p1[(size_t)i * N + c] = col[i];
            }
            p2 = p1;
            ref(p1.data(), column, count, h, work);
            fn(p2.data(), column, count, h, work);
            if (memcmp(p1.data(), p2.data(), p1.size() * sizeof(float))) {
                size_t i = 0;
                while (!memcmp(&p1[i], &p2[i], 4))
                    i++;
                ctx.fail("shrinkColumns", "h=%d columns %d+%d signal=%s first difference at row %zu column %zu", h,
                         column, count, signalNames[s], i / N, i % N);
                return;
            }
        }
}

// Rows of every width up to 67 and the full ones, full-range luma and
// chroma, with pixels beyond the width that must stay as they are, and
// processed signals that include values to truncate either way, huge ones
// and the 16-bit wrap.
void checkPixelRows(checkasm::Context &ctx, const WaveletDsp &ref, const WaveletDsp &opt)
{
    std::vector<int32_t> widths;
    for (int32_t w = 1; w <= 67; w++)
        widths.push_back(w);
    widths.push_back(720);
    widths.push_back(800);
    static const float specials[] = {0.0f, -0.0f, 0.5f, -0.5f, 0.99999994f, -0.99999994f, 4.9999995f,
                                     -4.9999995f, 65535.0f, -65536.0f, 1e10f, -1e10f, 2147483520.0f, -2147483648.0f};
    for (int32_t w : widths) {
        const int32_t total = w + 9;
        std::vector<YcPixel> f[3];
        for (auto &v : f) {
            v.resize(total);
            for (auto &p : v)
                p = YcPixel{(int16_t)ctx.randInt(-32768, 32767), (int16_t)ctx.randInt(-32768, 32767),
                            (int16_t)ctx.randInt(-32768, 32767)};
        }
        Buf s1(w, ctx.randInt(0, 3)), s2(0, 0);
        s2 = s1;
        s2.p = s2.store.data() + (s1.p - s1.store.data());
        std::vector<YcPixel> c2 = f[1];
        const std::vector<YcPixel> original = f[1];
        ref.dotDifferenceRow(f[0].data(), f[1].data(), f[2].data(), w, s1.p);
        opt.dotDifferenceRow(f[0].data(), c2.data(), f[2].data(), w, s2.p);
        if (!s1.same(s2) || memcmp(f[1].data(), c2.data(), total * sizeof(YcPixel))) {
            ctx.fail("dotDifferenceRow", "w=%d signal or mean differs (first signal difference at buffer index %zu)",
                     w, s1.firstDiff(s2));
            return;
        }
        // The previous frame's luma alone (as copyLumaRow extracts it) must
        // give the plain difference's signal and mean, at either level.
        std::vector<int16_t> luma1(w + 9, 0x5A5A), luma2 = luma1;
        ref.copyLumaRow(f[0].data(), w, luma1.data());
        opt.copyLumaRow(f[0].data(), w, luma2.data());
        for (int32_t j = 0; j < w; j++)
            if (luma1[j] != f[0][j].y) {
                ctx.fail("copyLumaRow", "w=%d the reference's luma %d is not the pixel's", w, j);
                return;
            }
        if (luma1 != luma2) {
            ctx.fail("copyLumaRow", "w=%d lumas or the samples after them differ", w);
            return;
        }
        for (DotDifferenceLumaRowFn fn : {ref.dotDifferenceLumaRow, opt.dotDifferenceLumaRow}) {
            Buf s3(w, 0);
            s3.p = s3.store.data() + (s1.p - s1.store.data());
            std::vector<YcPixel> c3 = original;
            fn(luma2.data(), c3.data(), f[2].data(), w, s3.p);
            if (!s1.same(s3) || memcmp(f[1].data(), c3.data(), total * sizeof(YcPixel))) {
                ctx.fail("dotDifferenceLumaRow", "w=%d signal or mean differs from the plain difference", w);
                return;
            }
        }
        // Both neighbours by their luma alone likewise.
        std::vector<int16_t> nextLuma(w);
        ref.copyLumaRow(f[2].data(), w, nextLuma.data());
        for (DotDifferenceLumasRowFn fn : {ref.dotDifferenceLumasRow, opt.dotDifferenceLumasRow}) {
            Buf s3(w, 0);
            s3.p = s3.store.data() + (s1.p - s1.store.data());
            std::vector<YcPixel> c3 = original;
            fn(luma2.data(), c3.data(), nextLuma.data(), w, s3.p);
            if (!s1.same(s3) || memcmp(f[1].data(), c3.data(), total * sizeof(YcPixel))) {
                ctx.fail("dotDifferenceLumasRow", "w=%d signal or mean differs from the plain difference", w);
                return;
            }
        }
        std::vector<float> t(w);
        for (int32_t j = 0; j < w; j++)
            t[j] = ctx.randInt(0, 3) ? (float)ctx.randInt(-70000, 70000) * 0.37f : specials[ctx.randInt(0, 13)];
        ref.dotWriteBackRow(t.data(), w, f[1].data());
        opt.dotWriteBackRow(t.data(), w, c2.data());
        if (memcmp(f[1].data(), c2.data(), total * sizeof(YcPixel))) {
            int32_t j = 0;
            while (!memcmp(&f[1][j], &c2[j], sizeof(YcPixel)))
                j++;
            ctx.fail("dotWriteBackRow", "w=%d first difference at pixel %d", w, j);
            return;
        }
        // With cur's own luma given too: the same signal, no pixel written; and
        // the write-back from the neighbours' lumas gives the same pixels.
        std::vector<int16_t> curLuma(w);
        ref.copyLumaRow(original.data(), w, curLuma.data());
        for (DotDifferencePlanarRowFn fn : {ref.dotDifferencePlanarRow, opt.dotDifferencePlanarRow}) {
            Buf s3(w, 0);
            s3.p = s3.store.data() + (s1.p - s1.store.data());
            fn(luma2.data(), curLuma.data(), nextLuma.data(), w, s3.p);
            if (!s1.same(s3)) {
                ctx.fail("dotDifferencePlanarRow", "w=%d signal differs from the plain difference", w);
                return;
            }
        }
        for (DotWriteBackMeanRowFn fn : {ref.dotWriteBackMeanRow, opt.dotWriteBackMeanRow}) {
            std::vector<YcPixel> c4 = original;
            fn(t.data(), luma2.data(), nextLuma.data(), w, c4.data());
            if (memcmp(f[1].data(), c4.data(), total * sizeof(YcPixel))) {
                ctx.fail("dotWriteBackMeanRow", "w=%d pixels differ from the difference and write-back in place", w);
                return;
            }
        }
        // And into a copy, halved: the written-back pixels, each sample halved,
        // and nothing past the width.
        std::vector<YcPixel> halved(total, YcPixel{0x5A5, 0x5A5, 0x5A5});
        for (int32_t j = 0; j < w; j++)
            halved[j] = YcPixel{(int16_t)(f[1][j].y >> 1), (int16_t)(f[1][j].cb >> 1), (int16_t)(f[1][j].cr >> 1)};
        for (DotWriteBackHalvedRowFn fn : {ref.dotWriteBackHalvedRow, opt.dotWriteBackHalvedRow}) {
            std::vector<YcPixel> into(total, YcPixel{0x5A5, 0x5A5, 0x5A5});
            fn(t.data(), luma2.data(), nextLuma.data(), original.data(), w, into.data());
            if (memcmp(halved.data(), into.data(), total * sizeof(YcPixel))) {
                ctx.fail("dotWriteBackHalvedRow", "w=%d pixels differ from the write-back halved", w);
                return;
            }
        }
    }
}

// Frames whose difference signal is random, full-range, or one of the
// patterns the pass is built for.
void fillFrames(checkasm::Context &ctx, std::vector<YcPixel> (&f)[3], int32_t w, int32_t h, int32_t stride, int kind)
{
    for (auto &v : f) {
        v.assign((size_t)stride * h, YcPixel{});
        for (auto &p : v)
            p = YcPixel{(int16_t)ctx.randInt(-32768, 32767), (int16_t)ctx.randInt(-32768, 32767),
                        (int16_t)ctx.randInt(-32768, 32767)};
    }
    const int amp = ctx.randInt(1, 60);
    for (int32_t i = 0; i < h; i++)
        for (int32_t j = 0; j < w; j++) {
            const size_t k = (size_t)i * stride + j;
            const int pic = 300 + (i * 3 + j * 2) % 500;
            int s;
            switch (kind) {
            case 0: continue; // full 16-bit range everywhere
            case 1: s = ctx.randInt(-100, 100); break;
            case 2: s = ((j & 1) ? -amp : amp) * ((i & 2) ? -1 : 1); break; // dot pattern
            case 3: s = ((i ^ j) & 1) ? -amp : amp; break;                   // checkerboard
            default: s = (j & 1) ? -amp : amp; break;                        // stripes
            }
            f[0][k].y = f[2][k].y = (int16_t)pic;
            f[1][k].y = (int16_t)(pic + s);
        }
}

void checkDotPass(checkasm::Context &ctx, const WaveletDsp &ref, const WaveletDsp &opt, const DotPassWork &work)
{
    const int32_t sizes[][2] = {{720, 480}, {720, 479}, {13, 1}, {1, 2}, {7, 480}, {333, 2},
                                {800, 800}, {ctx.randInt(1, 720), ctx.randInt(1, 480)}};
    int trial = 0;
    for (const auto &sz : sizes) {
        const int32_t w = sz[0], h = sz[1], stride = w + ctx.randInt(0, 9);
        const int kind = trial++ % 5;
        std::vector<YcPixel> f[3];
        fillFrames(ctx, f, w, h, stride, kind);
        std::vector<YcPixel> cur2 = f[1];
        FrameJob job{};
        job.width = w;
        job.height = h;
        job.stride = stride;
        dotPass(ref, work, &job, f[0].data(), f[1].data(), f[2].data());
        dotPass(opt, work, &job, f[0].data(), cur2.data(), f[2].data());
        if (memcmp(f[1].data(), cur2.data(), cur2.size() * sizeof(YcPixel))) {
            size_t i = 0;
            while (!memcmp(&f[1][i], &cur2[i], sizeof(YcPixel)))
                i++;
            ctx.fail("dotPass", "%dx%d stride %d kind %d first difference at row %zu pixel %zu", w, h, stride, kind,
                     i / stride, i % stride);
            return;
        }
    }
}

} // namespace

CHECKASM_GROUP(wavelet)
{
    Scratch mem;
    WaveletDsp ref, opt;
    waveletDspInit(&ref, 0);
    waveletDspInit(&opt, ctx.flags);

    Buf x(N, 0), o(N, 0), c(N, 0);
    fillSignal(ctx, x.p, N, Random);
    if (ctx.shouldCheck("d4Forward", (const void *)opt.d4Forward)) {
        checkForward(ctx, "d4Forward", ref.d4Forward, opt.d4Forward, 4, 8);
        ctx.bench("d4Forward", [&] { ref.d4Forward(x.p, N, o.p); }, [&] { opt.d4Forward(x.p, N, o.p); });
    }
    if (ctx.shouldCheck("d4Inverse", (const void *)opt.d4Inverse)) {
        checkInverse(ctx, ref.d4Inverse, opt.d4Inverse);
        ctx.bench("d4Inverse", [&] { ref.d4Inverse(x.p, x.p + M, M, o.p); },
                  [&] { opt.d4Inverse(x.p, x.p + M, M, o.p); });
    }
    if (ctx.shouldCheck("d4OddLowForward", (const void *)opt.d4OddLowForward)) {
        checkForward(ctx, "d4OddLowForward", ref.d4OddLowForward, opt.d4OddLowForward, 8, 16);
        ctx.bench("d4OddLowForward", [&] { ref.d4OddLowForward(x.p, N, o.p); },
                  [&] { opt.d4OddLowForward(x.p, N, o.p); });
    }
    if (ctx.shouldCheck("d4OddLowInverse", (const void *)opt.d4OddLowInverse)) {
        checkOddInverse(ctx, ref.d4OddLowInverse, opt.d4OddLowInverse);
        ctx.bench("d4OddLowInverse", [&] { ref.d4OddLowInverse(x.p, M, o.p); },
                  [&] { opt.d4OddLowInverse(x.p, M, o.p); });
    }
    if (ctx.shouldCheck("shrinkColumns", (const void *)opt.shrinkColumns)) {
        float *work = mem.work().shrink;
        checkShrink(ctx, ref.shrinkColumns, opt.shrinkColumns, work);
        std::vector<float> plane((size_t)N * N);
        fillSignal(ctx, plane.data(), N * N, Random);
        ctx.bench("shrinkColumns", [&] { ref.shrinkColumns(plane.data(), M, M, 480, work); },
                  [&] { opt.shrinkColumns(plane.data(), M, M, 480, work); });
    }
    if (ctx.shouldCheck("dotDifferenceRow", (const void *)opt.dotDifferenceRow) |
        ctx.shouldCheck("dotWriteBackRow", (const void *)opt.dotWriteBackRow) |
        ctx.shouldCheck("copyLumaRow", (const void *)opt.copyLumaRow) |
        ctx.shouldCheck("dotDifferenceLumaRow", (const void *)opt.dotDifferenceLumaRow) |
        ctx.shouldCheck("dotDifferenceLumasRow", (const void *)opt.dotDifferenceLumasRow) |
        ctx.shouldCheck("dotDifferencePlanarRow", (const void *)opt.dotDifferencePlanarRow) |
        ctx.shouldCheck("dotWriteBackMeanRow", (const void *)opt.dotWriteBackMeanRow) |
        ctx.shouldCheck("dotWriteBackHalvedRow", (const void *)opt.dotWriteBackHalvedRow))
        checkPixelRows(ctx, ref, opt);
    // The pass is new whenever any kernel it uses is.
    const void *passKey = (const void *)opt.shrinkColumns;
    if (ctx.shouldCheck("dotPass", passKey)) {
        checkDotPass(ctx, ref, opt, mem.work());
        std::vector<YcPixel> f[3];
        fillFrames(ctx, f, 720, 480, 720, 2);
        FrameJob job{};
        job.width = 720;
        job.height = 480;
        job.stride = 720;
        ctx.bench("dotPass", [&] { dotPass(ref, mem.work(), &job, f[0].data(), f[1].data(), f[2].data()); },
                  [&] { dotPass(opt, mem.work(), &job, f[0].data(), f[1].data(), f[2].data()); });
    }
}
