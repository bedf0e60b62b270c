#include "y4m/convert.h"
#include "library/convert_kernels.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>

#include "test_util.h"

namespace velvane {
namespace {

// Random samples with the extremes mixed in, where the vector versions
// saturate and the scalar ones clamp.
std::vector<int16_t> hostSamples(size_t n, std::mt19937 &rng)
{
    static const int16_t extremes[] = {-32768, -32767, -32760, -8, -1, 0, 7, 8, 4079, 4080, 4088, 32759, 32760, 32767};
    std::vector<int16_t> v(n);
    for (auto &s : v)
        s = (rng() % 4) ? (int16_t)rng() : extremes[rng() % (sizeof extremes / sizeof extremes[0])];
    return v;
}

#if defined(VELVANE_HAVE_SSE2_CONVERT)
TEST(ConvertKernels, VectorVersionsMatchTheReferenceBitForBit)
{
    std::mt19937 rng(20261208);
    const ConvertKernels &c = convertKernelsC();
    const ConvertKernels &v = convertKernels();
    ASSERT_NE(c.interleaveRow, v.interleaveRow);
    for (int n = 0; n <= 80; n++) {
        for (int offset = 0; offset < 3; offset++) {
            const size_t total = (size_t)n + offset + 4;
            std::vector<int16_t> y = hostSamples(total, rng), cb = hostSamples(total, rng), cr = hostSamples(total, rng);
            std::vector<uint8_t> bytes(total);
            for (auto &b : bytes)
                b = (uint8_t)rng();
            // Canaries past the end catch a store that is too wide.
            std::vector<YcPixel> a(total), b(total);
            memset(a.data(), 0x5A, total * sizeof(YcPixel));
            memset(b.data(), 0x5A, total * sizeof(YcPixel));
            c.interleaveRow(a.data() + offset, y.data() + offset, cb.data() + offset, cr.data() + offset, n);
            v.interleaveRow(b.data() + offset, y.data() + offset, cb.data() + offset, cr.data() + offset, n);
            ASSERT_EQ(memcmp(a.data(), b.data(), total * sizeof(YcPixel)), 0) << "interleaveRow n=" << n;

            std::vector<int16_t> ya(total, 77), cba(total, 77), cra(total, 77), yb(total, 77), cbb(total, 77),
                crb(total, 77);
            c.deinterleaveRow(ya.data() + offset, cba.data() + offset, cra.data() + offset, a.data() + offset, n);
            v.deinterleaveRow(yb.data() + offset, cbb.data() + offset, crb.data() + offset, a.data() + offset, n);
            ASSERT_EQ(ya, yb) << "deinterleaveRow n=" << n;
            ASSERT_EQ(cba, cbb);
            ASSERT_EQ(cra, crb);

            std::vector<int16_t> ha(total, 77), hb(total, 77);
            c.lumaToHost8(ha.data() + offset, bytes.data() + offset, n);
            v.lumaToHost8(hb.data() + offset, bytes.data() + offset, n);
            ASSERT_EQ(ha, hb) << "lumaToHost8 n=" << n;
            c.chromaToHost8(ha.data() + offset, bytes.data() + offset, n);
            v.chromaToHost8(hb.data() + offset, bytes.data() + offset, n);
            ASSERT_EQ(ha, hb) << "chromaToHost8 n=" << n;

            std::vector<uint8_t> oa(total, 0xA5), ob(total, 0xA5);
            c.lumaFromHost8(oa.data() + offset, y.data() + offset, n);
            v.lumaFromHost8(ob.data() + offset, y.data() + offset, n);
            ASSERT_EQ(oa, ob) << "lumaFromHost8 n=" << n;
            c.chromaFromHost8(oa.data() + offset, cb.data() + offset, n);
            v.chromaFromHost8(ob.data() + offset, cb.data() + offset, n);
            ASSERT_EQ(oa, ob) << "chromaFromHost8 n=" << n;

            // Twice as many samples on one side; extremes check the mean cannot overflow.
            std::vector<int16_t> wide = hostSamples(2 * total + 2, rng);
            std::vector<int16_t> ua(2 * total + 2, 77), ub(2 * total + 2, 77);
            c.upsampleCosited2(ua.data() + offset, y.data() + offset, n);
            v.upsampleCosited2(ub.data() + offset, y.data() + offset, n);
            ASSERT_EQ(ua, ub) << "upsampleCosited2 n=" << n;
            std::vector<int16_t> da(total, 77), db(total, 77);
            c.downsampleCosited2(da.data() + offset, wide.data() + offset, n);
            v.downsampleCosited2(db.data() + offset, wide.data() + offset, n);
            ASSERT_EQ(da, db) << "downsampleCosited2 n=" << n;
        }
    }
}
#endif

TEST(ConvertKernels, CoSitedKernelsStayInsideExactRows)
{
    // Rows held in blocks of exactly the samples the kernels may touch: an
    // odd-width row has 2n - 1 samples. The sanitizer build sees any access
    // past them.
    std::mt19937 rng(7);
    const ConvertKernels &v = convertKernels();
    for (int n = 1; n <= 40; n++) {
        std::vector<int16_t> row = hostSamples((size_t)(2 * n - 1), rng);
        std::vector<int16_t> down((size_t)n);
        v.downsampleCosited2(down.data(), row.data(), n);
        for (int k = 0; k < n; k++)
            ASSERT_EQ(down[(size_t)k], row[(size_t)(2 * k)]) << "n=" << n;

        std::vector<int16_t> c = hostSamples((size_t)n + 1, rng);
        std::vector<int16_t> up((size_t)(2 * n));
        v.upsampleCosited2(up.data(), c.data(), n);
        for (int k = 0; k < n; k++)
            ASSERT_EQ(up[(size_t)(2 * k)], c[(size_t)k]) << "n=" << n;
    }
}

TEST(ConvertKernels, CoSitedMeanIsTheFlooredMean)
{
    const int16_t c[] = {-32768, 32767, -1, 0, 1, 3, -3, -32768, -32768, 32767, 32767, 5, 6, 7, 8, 9, 10};
    int16_t out[32];
    for (const ConvertKernels *k : {&convertKernelsC(), &convertKernels()}) {
        k->upsampleCosited2(out, c, 16);
        for (int i = 0; i < 16; i++) {
            EXPECT_EQ(out[2 * i], c[i]);
            EXPECT_EQ(out[2 * i + 1], (int16_t)((c[i] + c[i + 1]) >> 1)) << i;
        }
    }
}

TEST(SampleScale, EightBitLandsOnTheHostScale)
{
    const uint8_t in[] = {0, 16, 128, 235, 255};
    int16_t y[5], c[5];
    lumaToHost(y, in, 5, 8);
    chromaToHost(c, in, 5, 8);
    EXPECT_EQ(y[1], 256); // CCIR 601 black
    EXPECT_EQ(y[3], 3760);
    EXPECT_EQ(c[2], 0);   // neutral chroma
    EXPECT_EQ(c[0], -2048);
    EXPECT_EQ(c[4], 2032);
}

TEST(SampleScale, DeeperSamplesLandOnTheSameRange)
{
    // Black, mid-grey chroma and white at each depth meet the 8-bit values.
    struct Case {
        int depth;
        int black, mid, white;
    } cases[] = {{10, 64, 512, 940}, {12, 256, 2048, 3760}, {16, 4096, 32768, 60160}};
    for (const auto &c : cases) {
        uint8_t raw[6];
        const int v[3] = {c.black, c.mid, c.white};
        for (int i = 0; i < 3; i++) {
            raw[2 * i] = (uint8_t)v[i];
            raw[2 * i + 1] = (uint8_t)(v[i] >> 8);
        }
        int16_t y[3], ch[3];
        lumaToHost(y, raw, 3, c.depth);
        chromaToHost(ch, raw, 3, c.depth);
        EXPECT_EQ(y[0], 256) << c.depth;
        EXPECT_EQ(ch[1], 0) << c.depth;
        EXPECT_EQ(y[2], 3760) << c.depth;
    }
}

TEST(SampleScale, SamplesAboveTheDepthCountAsItsLargest)
{
    // A 10- or 12-bit stream carries samples in 16-bit words; a word above the
    // depth's range is broken input and must not wrap round the host's scale.
    for (int depth : {10, 12}) {
        const int maxv = (1 << depth) - 1;
        const uint16_t words[3] = {(uint16_t)maxv, (uint16_t)(maxv + 1), 0xFFFF};
        uint8_t raw[6];
        for (int i = 0; i < 3; i++) {
            raw[2 * i] = (uint8_t)words[i];
            raw[2 * i + 1] = (uint8_t)(words[i] >> 8);
        }
        int16_t y[3], ch[3];
        lumaToHost(y, raw, 3, depth);
        chromaToHost(ch, raw, 3, depth);
        for (int i = 1; i < 3; i++) {
            EXPECT_EQ(y[i], y[0]) << "depth " << depth << " word " << words[i];
            EXPECT_EQ(ch[i], ch[0]) << "depth " << depth << " word " << words[i];
        }
        EXPECT_LE(y[0], 4096);
        EXPECT_LE(ch[0], 2048);
    }
}

TEST(SampleScale, OutputRoundsToNearestAndClamps)
{
    const int16_t host[] = {-500, 0, 7, 8, 23, 24, 4072, 4080, 4088, 5000};
    uint8_t y8[10], c8[10];
    lumaFromHost(y8, host, 10, 8);
    const uint8_t expectY[] = {0, 0, 0, 1, 1, 2, 255, 255, 255, 255};
    EXPECT_EQ(0, memcmp(y8, expectY, 10));
    chromaFromHost(c8, host, 10, 8);
    const uint8_t expectC[] = {97, 128, 128, 129, 129, 130, 255, 255, 255, 255};
    EXPECT_EQ(0, memcmp(c8, expectC, 10));
    const int16_t low[] = {-2056, -2048, -2041};
    chromaFromHost(c8, low, 3, 8);
    EXPECT_EQ(c8[0], 0);
    EXPECT_EQ(c8[1], 0);
    EXPECT_EQ(c8[2], 0);
    // 10 bits: four host steps a code; 16 bits: sixteen codes a host step.
    const int16_t h10[] = {1, 2, 4093, 4095};
    uint8_t o[8];
    lumaFromHost(o, h10, 4, 10);
    EXPECT_EQ(o[0] | (o[1] << 8), 0);
    EXPECT_EQ(o[2] | (o[3] << 8), 1);
    EXPECT_EQ(o[6] | (o[7] << 8), 1023);
    const int16_t h16[] = {-3, 4095};
    lumaFromHost(o, h16, 2, 16);
    EXPECT_EQ(o[0] | (o[1] << 8), 0);
    EXPECT_EQ(o[2] | (o[3] << 8), 65520);
}

class FrameRoundTrip : public ::testing::TestWithParam<const char *> {};

// A frame that goes to the host's scale and back unchanged comes out as it
// went in: exactly for 8 to 12 bits, to the top 12 bits for 16.
TEST_P(FrameRoundTrip, IsExact)
{
    for (const char *interlace : {"Ip", "It"}) {
        for (int size : {0, 1}) {
            const int w = size ? 17 : 24, h = size ? 9 : 12;
            const Y4mFormat f = parseStreamHeader("YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " " +
                                                  interlace + " C" + GetParam());
            std::mt19937 rng(99);
            std::vector<uint8_t> raw = testing::randomFrame(f, rng);
            if (f.depth == 16)
                for (size_t i = 0; i < raw.size(); i += 2)
                    raw[i] &= 0xF0; // keep to what 12 bits carry
            // 4:2:0 with centred chroma repeats each sample on both pixels of a pair,
            // and co-sited chroma interpolates the pixels between samples: both come back.
            const int stride = w + 3;
            std::vector<YcPixel> host((size_t)stride * h);
            FrameConverter conv(f, stride);
            const bool fields = frameIsInterlaced(f, "");
            conv.toHost(raw.data(), fields, host.data());
            std::vector<uint8_t> back(raw.size());
            conv.fromHost(host.data(), fields, back.data());
            EXPECT_EQ(raw, back) << GetParam() << " " << interlace << " " << w << "x" << h;

            // The same through planes of padded rows, as a decoder lays them
            // out: the same host frame, and back into the rows, padding untouched.
            const ptrdiff_t lumaRow = (ptrdiff_t)f.width * f.bytesPerSample();
            const ptrdiff_t chromaRow = (ptrdiff_t)f.chromaWidth() * f.bytesPerSample();
            const ptrdiff_t stride3[3] = {lumaRow + 13, chromaRow + 7, chromaRow + 7};
            const int rows[3] = {h, f.chromaHeight(), f.chromaHeight()};
            const uint8_t *from = raw.data();
            std::vector<uint8_t> padded[3];
            uint8_t *planes[3];
            for (int p = 0; p < 3; p++) {
                padded[p].assign((size_t)(stride3[p] * rows[p]), 0xA5);
                const ptrdiff_t row = p ? chromaRow : lumaRow;
                for (int r = 0; r < rows[p]; r++, from += row)
                    memcpy(padded[p].data() + r * stride3[p], from, (size_t)row);
                planes[p] = padded[p].data();
            }
            std::vector<YcPixel> viaPlanes(host.size());
            conv.toHost(planes, stride3, fields, viaPlanes.data());
            for (int r = 0; r < h; r++)
                EXPECT_EQ(memcmp(&viaPlanes[(size_t)r * stride], &host[(size_t)r * stride], (size_t)w * sizeof(YcPixel)), 0)
                    << GetParam() << " row " << r;
            std::vector<uint8_t> before[3] = {padded[0], padded[1], padded[2]};
            for (auto &p : padded)
                for (int r = 0; r < (int)p.size(); r++)
                    p[r] ^= 0xFF; // the rows must all be written again
            for (int p = 0; p < 3; p++)
                for (int r = 0; r < rows[p]; r++)
                    for (ptrdiff_t x = p ? chromaRow : lumaRow; x < stride3[p]; x++)
                        padded[p][r * stride3[p] + x] = before[p][r * stride3[p] + x];
            conv.fromHost(host.data(), fields, planes, stride3);
            for (int p = 0; p < 3; p++)
                EXPECT_TRUE(padded[p] == before[p] || (!f.hasChroma() && p > 0)) << GetParam() << " plane " << p;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, FrameRoundTrip,
                         ::testing::Values("444", "422", "411", "420jpeg", "420mpeg2", "420paldv", "420", "mono",
                                           "444p10", "422p10", "420p10", "mono10", "422p12", "420p12", "444p16",
                                           "422p16", "420p16", "mono16"));

TEST(FrameConvert, FourOneOneCarriesTheRealSampleOnEveryFourthPixel)
{
    const Y4mFormat f = parseStreamHeader("YUV4MPEG2 W12 H1 C411");
    std::vector<uint8_t> raw(f.frameBytes(), 16);
    raw[12 + 0] = 100; // Cb samples 0..2
    raw[12 + 1] = 150;
    raw[12 + 2] = 200;
    std::vector<YcPixel> host(12);
    FrameConverter(f, 12).toHost(raw.data(), false, host.data());
    for (int x = 0; x < 12; x++)
        EXPECT_EQ(host[x].cb, (raw[12 + x / 4] - 128) * 16) << x;
}

TEST(FrameConvert, CoSitedChromaInterpolatesBetweenSamples)
{
    const Y4mFormat f = parseStreamHeader("YUV4MPEG2 W6 H1 C422");
    std::vector<uint8_t> raw = {16, 16, 16, 16, 16, 16, 100, 110, 131, 128, 128, 128};
    std::vector<YcPixel> host(6);
    FrameConverter(f, 6).toHost(raw.data(), false, host.data());
    const int expect[] = {100, 105, 110, 120, 131, 131}; // the last pixel repeats its left sample
    for (int x = 0; x < 6; x++)
        EXPECT_EQ(host[x].cb * 2, (expect[x] - 128) * 32 + (x == 3 ? 16 : 0)) << x;
}

TEST(FrameConvert, Interlaced420KeepsTheFieldsApart)
{
    // Chroma rows 0 and 2 (top field) are 60, rows 1 and 3 (bottom field) 200.
    const Y4mFormat f = parseStreamHeader("YUV4MPEG2 W4 H8 It C420mpeg2");
    std::vector<uint8_t> raw(f.frameBytes(), 128);
    for (int plane = 0; plane < 2; plane++)
        for (int row = 0; row < 4; row++)
            for (int k = 0; k < 2; k++)
                raw[32 + plane * 8 + row * 2 + k] = (row & 1) ? 200 : 60;
    std::vector<YcPixel> host(32);
    FrameConverter conv(f, 4);
    conv.toHost(raw.data(), true, host.data());
    for (int r = 0; r < 8; r++)
        EXPECT_EQ(host[r * 4].cb, ((r & 1) ? 200 - 128 : 60 - 128) * 16) << "row " << r;
    // Read as progressive the same chroma would mix the fields.
    conv.toHost(raw.data(), false, host.data());
    EXPECT_EQ(host[0].cb, host[4].cb);
    EXPECT_EQ(host[8].cb, (200 - 128) * 16);
}

TEST(FrameConvert, MixedStreamsFollowEachFramesTag)
{
    const Y4mFormat f = parseStreamHeader("YUV4MPEG2 W4 H4 Im C420");
    EXPECT_TRUE(frameIsInterlaced(f, "Itti"));
    EXPECT_FALSE(frameIsInterlaced(f, "Xa Itpp"));
    EXPECT_TRUE(frameIsInterlaced(f, ""));
    EXPECT_FALSE(frameIsInterlaced(parseStreamHeader("YUV4MPEG2 W4 H4 Ip"), "Itti"));
    EXPECT_TRUE(frameIsInterlaced(parseStreamHeader("YUV4MPEG2 W4 H4 Ib"), ""));
}

TEST(FrameConvert, ChromaFormatsConvertIntoEachOther)
{
    // 4:1:1 in, 4:2:2 out: every other pixel's chroma, so the repeated samples
    // come out twice each.
    const Y4mFormat in = parseStreamHeader("YUV4MPEG2 W8 H1 C411");
    const Y4mFormat out = withSampling(in, Chroma::C422, 8);
    std::vector<uint8_t> raw = {16, 32, 48, 64, 80, 96, 112, 128, 90, 170, 100, 180};
    std::vector<YcPixel> host(8);
    FrameConverter(in, 8).toHost(raw.data(), false, host.data());
    std::vector<uint8_t> back(out.frameBytes());
    FrameConverter(out, 8).fromHost(host.data(), false, back.data());
    const std::vector<uint8_t> expect = {16, 32, 48, 64, 80, 96, 112, 128, 90, 90, 170, 170, 100, 100, 180, 180};
    EXPECT_EQ(back, expect);
}

} // namespace
} // namespace velvane
