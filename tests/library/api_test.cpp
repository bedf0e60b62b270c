// The native library: its errors, its frames against the plug-in's, planar
// frames, and instances that share nothing.
#include <stddef.h>
#include <string.h>

#include <algorithm>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/cpu_flags.h"
#include "embedded_host.h"
#include "library/settings_fields.h"
#include "library/stream_filter.h"
#include "velvane/velvane.hpp"

inline bool operator==(const YcPixel &x, const YcPixel &y) { return x.y == y.y && x.cb == y.cb && x.cr == y.cr; }

namespace velvane {
namespace {

using Clip = std::vector<std::vector<YcPixel>>;

// Noisy moving content with a dot pattern that inverts every frame, on the
// host's 12-bit scale; rows `width` pixels apart.
Clip makeClip(int width, int height, int frames, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0, 40);
    Clip clip(frames, std::vector<YcPixel>((size_t)width * height));
    for (int n = 0; n < frames; n++)
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                const int dot = ((x + y / 2 + n) & 1) ? 60 : -60;
                clip[n][(size_t)y * width + x] = YcPixel{(int16_t)(1600 + 8 * ((x + 2 * n) % 97) + dot + noise(rng)),
                                                         (int16_t)(200 + noise(rng)), (int16_t)(-300 + noise(rng))};
            }
    return clip;
}

VelvaneFrame packed(std::vector<YcPixel> &pixels, int width, int64_t userData = 0)
{
    VelvaneFrame f = {};
    f.format = VELVANE_PIXEL_YC48;
    f.width = width;
    f.height = (int)(pixels.size() / (size_t)width);
    f.data[0] = pixels.data();
    f.stride[0] = (ptrdiff_t)width * (ptrdiff_t)sizeof(YcPixel);
    f.user_data = userData;
    return f;
}

VelvaneConfig configFor(int width, int height, int threads = 1)
{
    VelvaneConfig c;
    velvane_default_config(&c);
    c.width = width;
    c.height = height;
    c.threads = threads;
    return c;
}

// The whole clip through the API, settings changed to `later` before frame `change` comes out.
Clip filterClip(Clip clip, int width, int height, const VelvaneSettings *later = nullptr, int change = 0,
                int threads = 1)
{
    Filter f(configFor(width, height, threads));
    Clip out;
    std::vector<YcPixel> o((size_t)width * height);
    VelvaneFrame of = packed(o, width);
    auto drain = [&] {
        while (true) {
            if ((int)out.size() == change && later)
                f.setSettings(*later);
            if (!f.receive(of))
                return;
            EXPECT_EQ(of.user_data, (int64_t)out.size() + 100);
            out.push_back(o);
        }
    };
    for (size_t n = 0; n < clip.size(); n++) {
        EXPECT_TRUE(f.send(packed(clip[n], width, (int64_t)n + 100)));
        drain();
    }
    f.end();
    drain();
    return out;
}

TEST(Api, RefusesWhatItCannotTakeWithAMessage)
{
    char message[256];
    VelvaneFilter *filter = reinterpret_cast<VelvaneFilter *>(1);
    auto refused = [&](VelvaneConfig c, const char *says) {
        EXPECT_EQ(velvane_open(&filter, &c, message, sizeof message), VELVANE_EINVAL) << says;
        EXPECT_EQ(filter, nullptr);
        EXPECT_NE(std::string(message).find(says), std::string::npos) << message;
    };
    VelvaneConfig c = configFor(720, 480);
    c.width = 3;
    refused(c, "at least 4 x 4");
    c = configFor(720, 801);
    refused(c, "larger than the filter's limit of 800 x 800");
    c = configFor(64, 32, 65);
    refused(c, "threads is 65; it must lie within 0..64");
    c.threads = -1;
    refused(c, "threads is -1");
    c = configFor(64, 32);
    c.settings.luma_high = 61;
    refused(c, "luma_high is 61; it must lie within 0..60");
    c = configFor(64, 32);
    c.settings.ccir_black = 2;
    refused(c, "ccir_black is 2; it must be 0 or 1");
    c = configFor(64, 32);
    c.settings.reserved[2] = 1;
    refused(c, "settings.reserved[2] is 1; it must be 0");
    c = configFor(64, 32);
    c.reserved[0] = -1;
    refused(c, "config.reserved[0] is -1; it must be 0");
    EXPECT_EQ(velvane_open(&filter, nullptr, message, sizeof message), VELVANE_EINVAL);
    EXPECT_EQ(velvane_open(nullptr, &c, nullptr, 0), VELVANE_EINVAL);

    ASSERT_EQ(velvane_open(&filter, &(c = configFor(8, 4)), message, sizeof message), VELVANE_OK);
    VelvaneSettings s;
    velvane_default_settings(&s);
    s.hue = -31;
    EXPECT_EQ(velvane_set_settings(filter, &s), VELVANE_EINVAL);
    EXPECT_NE(std::string(velvane_last_error(filter)).find("hue is -31"), std::string::npos);

    // Frame descriptions: each fault named, nothing taken.
    std::vector<uint8_t> bytes(4096);
    auto frameRefused = [&](VelvaneFrame f, const char *says) {
        EXPECT_EQ(velvane_send_frame(filter, &f), VELVANE_EINVAL) << says;
        EXPECT_NE(std::string(velvane_last_error(filter)).find(says), std::string::npos) << velvane_last_error(filter);
    };
    VelvaneFrame f = {VELVANE_PIXEL_YUV422P8, 0, 8, 5, {bytes.data(), bytes.data() + 64, nullptr}, {8, 4, 4}, 0};
    frameRefused(f, "the frame is 8 x 5 (its width and height), but the instance filters frames of 8 x 4");
    f.height = 4;
    frameRefused(f, "plane 2 has no data");
    f.data[2] = bytes.data() + 128;
    f.stride[1] = 3;
    frameRefused(f, "plane 1's stride of 3 bytes is shorter than a row of 4 bytes");
    f.stride[1] = -4;
    frameRefused(f, "plane 1's stride is negative (-4): bottom-up frames are not taken");
    f.stride[1] = 4;
    f.format = VELVANE_PIXEL_YUV422P16;
    f.stride[0] = 16, f.stride[1] = f.stride[2] = 8;
    f.bit_depth = 14;
    frameRefused(f, "bit_depth is 14");
    f.bit_depth = 10;
    f.data[1] = bytes.data() + 65;
    frameRefused(f, "plane 1 is not aligned");
    f.format = 7;
    frameRefused(f, "pixel format 7");

    // The order of calls: nothing out before the lookahead, nothing sent after the end.
    std::vector<YcPixel> px(8 * 4, YcPixel{1600, 0, 0});
    VelvaneFrame p = packed(px, 8);
    EXPECT_EQ(velvane_receive_frame(filter, &f), VELVANE_EINVAL); // a bad output frame is found at once
    EXPECT_NE(std::string(velvane_last_error(filter)).find("output frame: the pixel format 7"), std::string::npos);
    EXPECT_EQ(velvane_get_strength(filter, nullptr), VELVANE_EINVAL);
    EXPECT_STREQ(velvane_last_error(filter), "no place for the report given");
    EXPECT_EQ(velvane_receive_frame(filter, &p), VELVANE_EAGAIN);
    for (int n = 0; n < 3; n++)
        EXPECT_EQ(velvane_send_frame(filter, &p), VELVANE_OK);
    EXPECT_EQ(velvane_send_frame(filter, &p), VELVANE_EAGAIN);
    EXPECT_EQ(velvane_receive_frame(filter, &p), VELVANE_OK);
    EXPECT_EQ(velvane_send_frame(filter, nullptr), VELVANE_OK);
    EXPECT_EQ(velvane_send_frame(filter, &p), VELVANE_EINVAL);
    EXPECT_EQ(velvane_receive_frame(filter, &p), VELVANE_OK);
    EXPECT_EQ(velvane_receive_frame(filter, &p), VELVANE_OK);
    EXPECT_EQ(velvane_receive_frame(filter, &p), VELVANE_EOF);
    EXPECT_EQ(velvane_send_frame(filter, nullptr), VELVANE_EOF); // the end again: still the end
    EXPECT_EQ(velvane_flush(filter), VELVANE_OK);
    EXPECT_EQ(velvane_send_frame(filter, &p), VELVANE_OK);
    velvane_close(&filter);
    EXPECT_EQ(filter, nullptr);
    velvane_close(&filter);
}

TEST(Api, FramesAreThePluginsFramesSettingsChangesIncluded)
{
    const int w = 46, h = 20;
    const Clip clip = makeClip(w, h, 9, 1);
    VelvaneSettings later;
    velvane_default_settings(&later);
    later.hue = 12;
    later.luma_low = 17;
    later.skip_previous = 1;
    const Clip out = filterClip(clip, w, h, &later, 4);

    // The plug-in in a host that holds the whole clip, told of the change
    // before frame 4. Its rows are padded to a multiple of 4 with zeros, as
    // the library pads them.
    const int stride = (w + 3) & ~3;
    Clip padded(clip.size(), std::vector<YcPixel>((size_t)stride * h, YcPixel{0, 0, 0}));
    for (size_t n = 0; n < clip.size(); n++)
        for (int y = 0; y < h; y++)
            memcpy(&padded[n][(size_t)y * stride], &clip[n][(size_t)y * w], w * sizeof(YcPixel));
    EmbeddedHost host(w, h, stride);
    host.attach(GetFilterTable());
    VelvaneSettings first;
    velvane_default_settings(&first);
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        host.track[i] = first.*kTrackFields[i].member;
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        host.check[i] = first.*kCheckFields[i].member;
    host.setClip(padded);
    host.init();
    ASSERT_EQ(out.size(), clip.size());
    for (int n = 0; n < (int)clip.size(); n++) {
        if (n == 4) {
            for (int i = 0; i < VV_TRACK_COUNT; i++)
                host.track[i] = later.*kTrackFields[i].member;
            host.check[CHECK_NO_PREVIOUS] = 1;
            host.update();
        }
        const std::vector<YcPixel> plugin = host.render(n);
        for (int y = 0; y < h; y++)
            ASSERT_EQ(memcmp(&plugin[(size_t)y * stride], &out[n][(size_t)y * w], w * sizeof(YcPixel)), 0)
                << "frame " << n << " row " << y;
    }
    host.exit();
}

TEST(Api, PlanarFramesKeepEverySampleWhenNothingIsAveraged)
{
    // With every threshold 0 and the dot pass off the filter gives each
    // sample's even floor on its 12-bit scale: 8- and 10-bit samples land on
    // even values, so planar frames must come back exactly.
    for (int depth : {8, 10}) {
        const int w = 37, h = 6, cw = (w + 1) / 2, bytes = depth > 8 ? 2 : 1, frames = 4;
        VelvaneConfig c = configFor(w, h);
        c.settings.luma_low = c.settings.luma_high = c.settings.chroma_low = c.settings.chroma_high = 0;
        c.settings.dot_removal = 0;
        Filter f(c);
        std::mt19937 rng(depth);
        const ptrdiff_t strides[3] = {w * bytes + 6, cw * bytes + 4, cw * bytes + 8};
        std::vector<std::vector<uint8_t>> in(frames);
        auto describe = [&](std::vector<uint8_t> &block) {
            VelvaneFrame fr = {};
            fr.format = depth > 8 ? VELVANE_PIXEL_YUV422P16 : VELVANE_PIXEL_YUV422P8;
            fr.bit_depth = depth;
            fr.width = w;
            fr.height = h;
            block.resize((strides[0] + strides[1] + strides[2]) * h);
            uint8_t *base = block.data();
            for (int p = 0; p < 3; p++) {
                fr.data[p] = base;
                fr.stride[p] = strides[p];
                base += strides[p] * h;
            }
            return fr;
        };
        std::vector<uint8_t> outBlock;
        VelvaneFrame out = describe(outBlock);
        int received = 0;
        auto check = [&] {
            while (f.receive(out)) {
                VelvaneFrame want = describe(in[received]);
                for (int p = 0; p < 3; p++)
                    for (int r = 0; r < h; r++)
                        ASSERT_EQ(memcmp((uint8_t *)out.data[p] + r * strides[p], (uint8_t *)want.data[p] + r * strides[p],
                                         (size_t)(p ? cw : w) * bytes),
                                  0)
                            << depth << "-bit frame " << received << " plane " << p << " row " << r;
                received++;
            }
        };
        for (int n = 0; n < frames; n++) {
            VelvaneFrame fr = describe(in[n]);
            for (auto &b : in[n])
                b = (uint8_t)rng();
            if (depth > 8)
                for (int p = 0; p < 3; p++)
                    for (int r = 0; r < h; r++)
                        for (int x = 0; x < (p ? cw : w); x++)
                            ((uint8_t *)fr.data[p] + r * strides[p])[2 * x + 1] &= 3; // 10 bits
            ASSERT_TRUE(f.send(fr));
            check();
        }
        f.end();
        check();
        EXPECT_EQ(received, frames);
    }
}

TEST(Api, AFrameTheFilterCouldNotFilterIsAnErrorAndCanBeReceivedAgain)
{
    const int w = 24, h = 8;
    Clip clip = makeClip(w, h, 5, 2);
    const Clip whole = filterClip(clip, w, h);
    VelvaneSettings defaults;
    velvane_default_settings(&defaults);
    int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        track[i] = defaults.*kTrackFields[i].member;
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        check[i] = defaults.*kCheckFields[i].member;
    StreamFilter s(w, h, cpuSimdFlags(), settingsFromArrays(track, check)); // the kernels this processor runs
    for (int n = 0; n < 3; n++) {
        const VelvaneFrame in = packed(clip[n], w);
        ASSERT_EQ(s.send(&in), VELVANE_OK);
    }
    std::vector<YcPixel> o((size_t)w * h);
    VelvaneFrame of = packed(o, w);
    const FrameHeap heap = s.instance().frameHeap;
    s.instance().frameHeap.allocate = [](size_t) -> void * { return nullptr; };
    s.instance().frameHeap.reallocate = [](void *, size_t) -> void * { return nullptr; };
    EXPECT_EQ(s.receive(of), VELVANE_ENOMEM);
    EXPECT_EQ(s.error(), "frame 0 could not be filtered: the filter ran out of memory");
    s.instance().frameHeap = heap;
    ASSERT_EQ(s.receive(of), VELVANE_OK);
    EXPECT_EQ(memcmp(o.data(), whole[0].data(), o.size() * sizeof(YcPixel)), 0);
}

TEST(Api, InstancesInTwoThreadsGiveTheBytesEachGivesAlone)
{
    const Clip a = makeClip(64, 24, 12, 3), b = makeClip(30, 16, 15, 4);
    const Clip aloneA = filterClip(a, 64, 24), aloneB = filterClip(b, 30, 16);
    Clip togetherA, togetherB;
    std::thread ta([&] { togetherA = filterClip(a, 64, 24); });
    std::thread tb([&] { togetherB = filterClip(b, 30, 16); });
    ta.join();
    tb.join();
    EXPECT_TRUE(togetherA == aloneA);
    EXPECT_TRUE(togetherB == aloneB);
    EXPECT_FALSE(aloneA == Clip(a)) << "the clip went through unfiltered";
}

// Threads never change a byte: every thread count against one, for frames
// from the smallest to nearly the largest (odd sizes cut the slices
// unevenly), clips of one to a few frames (their ends stand in for missing
// neighbours), a settings change in the middle, and planar frames.
TEST(Api, EveryThreadCountGivesTheBytesOfOne)
{
    struct Case {
        int w, h, frames, change;
    };
    const Case cases[] = {{4, 4, 1, 0}, {37, 23, 2, 1}, {130, 61, 3, 1}, {46, 200, 7, 3}, {718, 477, 4, 2}};
    VelvaneSettings later;
    velvane_default_settings(&later);
    later.dot_removal = 0;
    later.interpolate_411 = 1;
    later.skip_previous = 1;
    later.hue = -9;
    later.draw_borders = 1;
    later.border_top = 3;
    later.border_right = 5;
    VelvaneSettings moving; // thresholds of their own where the picture moves
    velvane_default_settings(&moving);
    moving.luma_high = 40;
    moving.moving_luma_high = 2;
    moving.moving_change = 4;
    uint32_t seed = 10;
    for (const Case &c : cases) {
        const Clip clip = makeClip(c.w, c.h, c.frames, seed++);
        const VelvaneSettings *changes[] = {nullptr, &later, &moving};
        for (const VelvaneSettings *change : changes) {
            const Clip one = filterClip(clip, c.w, c.h, change, c.change, 1);
            ASSERT_EQ(one.size(), clip.size());
            EXPECT_FALSE(one == clip) << c.w << " x " << c.h << ": the clip went through unfiltered";
            for (int threads : {2, 3, 4, 0})
                EXPECT_TRUE(filterClip(clip, c.w, c.h, change, c.change, threads) == one)
                    << c.w << " x " << c.h << ", " << c.frames << " frames, " << threads << " threads"
                    << (change ? ", settings changed" : "");
        }
    }

    // Planar frames are converted in slices of rows too.
    const int w = 131, h = 45, cw = (w + 1) / 2;
    const Clip clip = makeClip(w, h, 4, 30);
    auto planar = [&](int threads) {
        Filter f(configFor(w, h, threads));
        std::vector<uint8_t> in((size_t)(w + 2 * cw) * h), out(in.size());
        auto frame = [&](std::vector<uint8_t> &b) {
            VelvaneFrame fr = {};
            fr.format = VELVANE_PIXEL_YUV422P8;
            fr.width = w;
            fr.height = h;
            fr.data[0] = b.data();
            fr.data[1] = b.data() + (size_t)w * h;
            fr.data[2] = b.data() + (size_t)(w + cw) * h;
            fr.stride[0] = w;
            fr.stride[1] = fr.stride[2] = cw;
            return fr;
        };
        std::vector<uint8_t> all;
        VelvaneFrame o = frame(out);
        for (size_t n = 0; n <= clip.size(); n++) {
            if (n < clip.size()) {
                for (size_t i = 0; i < in.size(); i++) {
                    const YcPixel &p = clip[n][i % ((size_t)w * h)];
                    in[i] = (uint8_t)((i < (size_t)w * h ? p.y : p.cb) >> 4);
                }
                EXPECT_TRUE(f.send(frame(in)));
            } else {
                f.end();
            }
            while (f.receive(o))
                all.insert(all.end(), out.begin(), out.end());
        }
        return all;
    };
    const std::vector<uint8_t> one = planar(1);
    EXPECT_EQ(one.size(), clip.size() * (size_t)(w + 2 * cw) * h);
    EXPECT_TRUE(planar(3) == one);
}

} // namespace
} // namespace velvane

namespace velvane {
namespace {

VelvaneStrengthReport report(const Filter &f)
{
    VelvaneStrengthReport r;
    EXPECT_EQ(velvane_get_strength(f.get(), &r), VELVANE_OK);
    return r;
}

// A clean picture: a gentle gradient and a dark block, still.
Clip cleanClip(int width, int height, int frames, int level)
{
    Clip clip(frames, std::vector<YcPixel>((size_t)width * height));
    for (auto &f : clip)
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                f[(size_t)y * width + x] =
                    YcPixel{(int16_t)(16 * (level + x / 8 + (x > width / 2 && y > height / 2 ? -40 : 0))), 160, -96};
    return clip;
}

TEST(Api, AStrengthChoosesWhatIsLeftToItAndWhatIsGivenWins)
{
    char message[256];
    VelvaneSettings s;
    memset(&s, 0x5a, sizeof s); // the defaults cover every field, whatever the memory held
    velvane_default_settings(&s);
    EXPECT_EQ(s.strength, VELVANE_STRENGTH_CUSTOM);
    EXPECT_EQ(s.show, VELVANE_SHOW_OUTPUT);
    s.luma_low = VELVANE_FROM_STRENGTH;
    EXPECT_EQ(velvane_check_settings(&s, message, sizeof message), VELVANE_EINVAL);
    EXPECT_NE(std::string(message).find("no strength is chosen"), std::string::npos) << message;
    s.strength = VELVANE_STRENGTH_STRONG;
    EXPECT_EQ(velvane_check_settings(&s, message, sizeof message), VELVANE_OK) << message;
    s.luma_low = 10; // every setting given overrides the strength, which then chooses nothing
    EXPECT_EQ(velvane_check_settings(&s, message, sizeof message), VELVANE_OK) << message;
    s.strength = VELVANE_STRENGTH_AUTO;
    EXPECT_EQ(velvane_check_settings(&s, message, sizeof message), VELVANE_OK) << message;
    EXPECT_EQ(velvane_set_strength(&s, 5), VELVANE_EINVAL);
    EXPECT_EQ(velvane_set_strength(&s, VELVANE_STRENGTH_CUSTOM), VELVANE_OK);
    EXPECT_EQ(s.luma_low, 10);
    EXPECT_EQ(s.dot_removal, 1);

    // A named strength with one threshold given: the report shows both, and
    // the frames are those of the same thresholds given outright.
    const int w = 40, h = 16;
    const Clip clip = makeClip(w, h, 6, 9);
    VelvaneConfig c = configFor(w, h);
    velvane_set_strength(&c.settings, VELVANE_STRENGTH_LIGHT);
    c.settings.chroma_high = 33;
    Filter light(c);
    const VelvaneStrengthReport r = report(light);
    EXPECT_EQ(r.chroma_high, 33);
    EXPECT_EQ(r.dot_removal, 1);
    EXPECT_EQ(r.measured_at, -1);
    VelvaneConfig given = configFor(w, h);
    given.settings.luma_low = r.luma_low;
    given.settings.luma_high = r.luma_high;
    given.settings.chroma_low = r.chroma_low;
    given.settings.chroma_high = 33;
    Filter outright(given);
    std::vector<YcPixel> a((size_t)w * h), b((size_t)w * h);
    VelvaneFrame fa = packed(a, w), fb = packed(b, w);
    for (size_t n = 0; n < clip.size(); n++) {
        std::vector<YcPixel> in = clip[n];
        ASSERT_TRUE(light.send(packed(in, w)));
        ASSERT_TRUE(outright.send(packed(in, w)));
        if (n >= 2) {
            ASSERT_TRUE(light.receive(fa));
            ASSERT_TRUE(outright.receive(fb));
            EXPECT_EQ(memcmp(a.data(), b.data(), a.size() * sizeof(YcPixel)), 0) << n;
        }
    }

    // Thresholds where the picture moves: refused without a strength to
    // choose them and beyond their ranges; never wider than the frame's;
    // left off by a named strength. Given as wide as the frame's they change
    // no byte, narrower on a moving clip they do.
    VelvaneSettings m;
    velvane_default_settings(&m);
    EXPECT_EQ(m.moving_change, 0);
    m.moving_change = VELVANE_FROM_STRENGTH;
    EXPECT_EQ(velvane_check_settings(&m, message, sizeof message), VELVANE_EINVAL);
    EXPECT_NE(std::string(message).find("moving_change is VELVANE_FROM_STRENGTH, but no strength"), std::string::npos);
    m.moving_change = 481;
    EXPECT_EQ(velvane_check_settings(&m, message, sizeof message), VELVANE_EINVAL);
    EXPECT_NE(std::string(message).find("moving_change is 481; it must lie within 0..480"), std::string::npos);
    m.moving_change = 8;
    m.moving_luma_high = 61;
    EXPECT_EQ(velvane_check_settings(&m, message, sizeof message), VELVANE_EINVAL);
    EXPECT_NE(std::string(message).find("moving_luma_high is 61"), std::string::npos) << message;
    EXPECT_EQ(velvane_set_strength(&m, VELVANE_STRENGTH_AUTO), VELVANE_OK);
    EXPECT_EQ(m.moving_luma_low + m.moving_luma_high + m.moving_change, 3 * VELVANE_FROM_STRENGTH);
    VelvaneMovingReport mr;
    EXPECT_EQ(velvane_get_moving(light.get(), &mr), VELVANE_OK);
    EXPECT_EQ(mr.change, 0);
    EXPECT_EQ(velvane_get_moving(light.get(), nullptr), VELVANE_EINVAL);
    auto framesWith = [&](int movingLow, int movingHigh, int change) {
        VelvaneConfig mc = configFor(w, h);
        mc.settings.moving_luma_low = movingLow;
        mc.settings.moving_luma_high = movingHigh;
        mc.settings.moving_change = change;
        Filter f(mc);
        VelvaneMovingReport in;
        EXPECT_EQ(velvane_get_moving(f.get(), &in), VELVANE_OK);
        EXPECT_EQ(in.luma_low, movingLow < 10 ? movingLow : 10) << "never wider than luma_low";
        EXPECT_EQ(in.luma_high, movingHigh < 10 ? movingHigh : 10);
        Clip frames;
        for (size_t n = 0; n < clip.size(); n++) {
            std::vector<YcPixel> in = clip[n];
            EXPECT_TRUE(f.send(packed(in, w)));
            if (n >= 2 && f.receive(fa))
                frames.push_back(a);
        }
        return frames;
    };
    const Clip plain = framesWith(0, 0, 0);
    EXPECT_TRUE(framesWith(10, 30, 1) == plain);
    EXPECT_FALSE(framesWith(0, 0, 1) == plain);
    // Automatic strength on NTSC's dots across the middle of a coloured
    // picture whose left half moves chooses thresholds for where it moves,
    // and what it reports, given outright, gives its frames.
    {
        const int dw = 128, dh = 64;
        Clip dotted(8, std::vector<YcPixel>((size_t)dw * dh));
        std::mt19937 rng(3);
        std::normal_distribution<float> grain(0, 1);
        for (int n = 0; n < 8; n++)
            for (int y = 0; y < dh; y++)
                for (int x = 0; x < dw; x++) {
                    const float picture = x < dw / 2 ? 100 + 40 * sinf((x + 3 * n) / 5.0f) : 120 + 0.2f * y;
                    const float dots = (x < dw / 4 || x >= 3 * dw / 4 ? 0 : 10) * cosf(2 * (float)M_PI * x / 3.77f + (float)M_PI * (y / 2 + n) +
                                                 (float)M_PI / 2 * (y % 2));
                    dotted[n][(size_t)y * dw + x] =
                        YcPixel{(int16_t)lrintf(16 * (picture + dots + grain(rng))), 16 * 30, -16 * 20};
                }
        VelvaneConfig ac = configFor(dw, dh), given = configFor(dw, dh);
        velvane_set_strength(&ac.settings, VELVANE_STRENGTH_AUTO);
        ac.settings.mc_radius = 0; // a radius given wins: the thresholds alone, reproduced below
        Filter chosen(ac);
        for (size_t n = 0; n < 3; n++)
            ASSERT_TRUE(chosen.send(packed(dotted[n], dw)));
        std::vector<YcPixel> out((size_t)dw * dh);
        VelvaneFrame of = packed(out, dw);
        ASSERT_TRUE(chosen.receive(of));
        const VelvaneStrengthReport r = report(chosen);
        VelvaneMovingReport mv;
        ASSERT_EQ(velvane_get_moving(chosen.get(), &mv), VELVANE_OK);
        EXPECT_GT(r.dot_share, 0.2f);
        EXPECT_GT(mv.change, 0);
        EXPECT_LT(mv.luma_high, r.luma_high);
        given.settings.luma_low = r.luma_low, given.settings.luma_high = r.luma_high;
        given.settings.chroma_low = r.chroma_low, given.settings.chroma_high = r.chroma_high;
        given.settings.dot_removal = r.dot_removal;
        given.settings.moving_luma_low = mv.luma_low, given.settings.moving_luma_high = mv.luma_high;
        given.settings.moving_change = mv.change;
        Filter outright(given);
        std::vector<YcPixel> again((size_t)dw * dh);
        VelvaneFrame ag = packed(again, dw);
        for (size_t n = 0; n < 3; n++)
            ASSERT_TRUE(outright.send(packed(dotted[n], dw)));
        ASSERT_TRUE(outright.receive(ag));
        EXPECT_EQ(out, again);
        given.settings.moving_change = 0;
        Filter whole(given);
        for (size_t n = 0; n < 3; n++)
            ASSERT_TRUE(whole.send(packed(dotted[n], dw)));
        ASSERT_TRUE(whole.receive(ag));
        EXPECT_NE(out, again) << "the moving half takes other thresholds";
    }

    // Automatic strength on a clean clip takes nothing out: no grain, no
    // dots, so every threshold 0 and no dot pass, and the frames come back as
    // they went in; but a threshold given stays. A new scene is measured anew.
    const int cw = 64, ch = 48;
    Clip clean = cleanClip(cw, ch, 4, 60), other = cleanClip(cw, ch, 3, 180);
    clean.insert(clean.end(), other.begin(), other.end());
    VelvaneConfig a2 = configFor(cw, ch);
    velvane_set_strength(&a2.settings, VELVANE_STRENGTH_AUTO);
    a2.settings.chroma_low = 12;
    Filter automatic(a2);
    EXPECT_EQ(report(automatic).luma_low, VELVANE_FROM_STRENGTH);
    EXPECT_EQ(report(automatic).chroma_low, 12);
    std::vector<YcPixel> o((size_t)cw * ch);
    VelvaneFrame of = packed(o, cw);
    int out = 0;
    auto drain = [&] {
        while (automatic.receive(of)) {
            EXPECT_EQ(memcmp(o.data(), clean[out].data(), o.size() * sizeof(YcPixel)), 0) << out;
            const VelvaneStrengthReport ar = report(automatic);
            EXPECT_EQ(ar.measured_at, out < 4 ? 0 : 4) << out;
            EXPECT_EQ(ar.measurements, out < 4 ? 1 : 2) << out;
            EXPECT_EQ(ar.luma_low + ar.luma_high + ar.chroma_high + ar.dot_removal, 0) << out;
            EXPECT_EQ(ar.chroma_low, 12);
            EXPECT_EQ(ar.luma_noise, 0.0f);
            out++;
        }
    };
    for (auto &f : clean) {
        ASSERT_TRUE(automatic.send(packed(f, cw)));
        drain();
    }
    automatic.end();
    drain();
    EXPECT_EQ(out, (int)clean.size());

    // What the filter takes out, shown: nothing, so mid-grey and no colour.
    VelvaneConfig shown = configFor(cw, ch);
    shown.settings.show = VELVANE_SHOW_REMOVED;
    shown.settings.luma_low = shown.settings.luma_high = shown.settings.chroma_low = shown.settings.chroma_high = 0;
    shown.settings.dot_removal = 0;
    Filter view(shown);
    for (int n = 0; n < 3; n++)
        ASSERT_TRUE(view.send(packed(clean[n], cw)));
    ASSERT_TRUE(view.receive(of));
    for (const YcPixel &p : o)
        ASSERT_TRUE(p.y == 2048 && p.cb == 0 && p.cr == 0);
    shown.settings.show = VELVANE_SHOW_DOTS;
    EXPECT_EQ(velvane_check_settings(&shown.settings, message, sizeof message), VELVANE_EINVAL);
    EXPECT_NE(std::string(message).find("dot pass is off"), std::string::npos) << message;
}

// The settings the library describes are those it checks, defaults and
// leaves to a strength, and those the plug-in keeps where it keeps them.
TEST(Api, TheSettingsDescribedAreTheSettingsTaken)
{
    const FilterDescriptor &fd = *GetFilterTable();
    const int count = velvane_setting_count();
    EXPECT_EQ(count, (int)(offsetof(VelvaneSettings, reserved) / sizeof(int))) << "one entry per field";
    VelvaneSettings defaults, chosen;
    velvane_default_settings(&defaults);
    chosen = defaults;
    velvane_set_strength(&chosen, VELVANE_STRENGTH_STRONG);
    VelvaneSettingInfo info;
    EXPECT_EQ(velvane_setting_info(count, &info), VELVANE_EINVAL);
    EXPECT_EQ(velvane_setting_info(-1, &info), VELVANE_EINVAL);
    bool tracks[VV_TRACK_COUNT] = {}, checks[VV_CHECK_COUNT] = {};
    auto all = [](const bool *b, int n) { return std::count(b, b + n, true) == n; };
    char message[256];
    for (int i = 0; i < count; i++) {
        ASSERT_EQ(velvane_setting_info(i, &info), VELVANE_OK);
        SCOPED_TRACE(info.name);
        auto field = [&](VelvaneSettings &s) -> int & { return *(int *)((char *)&s + info.offset); };
        EXPECT_EQ(velvane_setting_find(info.name), i);
        EXPECT_EQ(velvane_setting_find(info.option), i);
        if (info.off_option) {
            EXPECT_EQ(velvane_setting_find(info.off_option), i);
        }
        EXPECT_EQ(field(defaults), info.default_value);
        EXPECT_EQ(field(chosen) == VELVANE_FROM_STRENGTH, info.from_strength == 1);
        ASSERT_TRUE(info.help && info.help[0]);
        // Both ends are taken, one step beyond either is refused by name.
        for (int v : {info.min, info.max, info.min - 1, info.max + 1}) {
            VelvaneSettings s = defaults;
            field(s) = v;
            if (strcmp(info.name, "show") == 0 && v == VELVANE_SHOW_DOTS)
                s.dot_removal = 1;
            const bool inside = v >= info.min && v <= info.max;
            if (v == VELVANE_FROM_STRENGTH && info.from_strength)
                continue;
            EXPECT_EQ(velvane_check_settings(&s, message, sizeof message), inside ? VELVANE_OK : VELVANE_EINVAL) << v;
            if (!inside) {
                EXPECT_EQ(std::string(message).rfind(std::string(info.name) + " is ", 0), 0u) << message;
            }
        }
        if (info.kind == VELVANE_SETTING_CHOICE) {
            EXPECT_EQ(std::count(info.choices, info.choices + strlen(info.choices), ','), info.max) << info.choices;
        }
        // The plug-in's own ranges and defaults, and the library's wider thresholds.
        if (info.plugin_track >= 0) {
            tracks[info.plugin_track] = true;
            EXPECT_EQ(fd.trackMinima[info.plugin_track], info.min);
            EXPECT_EQ(fd.trackMaxima[info.plugin_track], info.plugin_max);
            EXPECT_EQ(fd.trackDefaults[info.plugin_track], info.default_value);
            EXPECT_EQ(info.max, info.from_strength ? VELVANE_THRESHOLD_MAX : info.plugin_max);
        }
        if (info.plugin_check >= 0) {
            checks[info.plugin_check] = true;
            EXPECT_EQ(info.kind, VELVANE_SETTING_SWITCH);
            if (info.plugin_check != CHECK_411) { // 4:2:2 in a library's hands
                EXPECT_EQ(fd.checkDefaults[info.plugin_check], info.default_value);
            }
        }
    }
    EXPECT_TRUE(all(tracks, VV_TRACK_COUNT)) << "every track bar of the plug-in is described";
    EXPECT_TRUE(all(checks, VV_CHECK_COUNT)) << "every check box of the plug-in is described";
    EXPECT_EQ(velvane_setting_find("no-such-setting"), -1);
    EXPECT_EQ(velvane_setting_find(nullptr), -1);

    // A named strength's choice is what an instance with it reports, and
    // leaves what is given; the others choose nothing here.
    for (int strength : {VELVANE_STRENGTH_LIGHT, VELVANE_STRENGTH_MEDIUM, VELVANE_STRENGTH_STRONG}) {
        VelvaneConfig c = configFor(16, 8);
        velvane_set_strength(&c.settings, strength);
        c.settings.chroma_low = 3;
        VelvaneSettings s = c.settings;
        ASSERT_EQ(velvane_strength_settings(strength, &s), VELVANE_OK);
        Filter f(c);
        const VelvaneStrengthReport r = report(f);
        EXPECT_EQ(s.luma_low, r.luma_low);
        EXPECT_EQ(s.luma_high, r.luma_high);
        EXPECT_EQ(s.chroma_low, 3);
        EXPECT_EQ(s.chroma_high, r.chroma_high);
        EXPECT_EQ(s.dot_removal, r.dot_removal);
        EXPECT_EQ(s.moving_change, 0);
        EXPECT_EQ(velvane_check_settings(&s, message, sizeof message), VELVANE_OK) << message;
    }
    VelvaneSettings s = chosen;
    EXPECT_EQ(velvane_strength_settings(VELVANE_STRENGTH_AUTO, &s), VELVANE_EINVAL);
    EXPECT_EQ(velvane_strength_settings(VELVANE_STRENGTH_CUSTOM, &s), VELVANE_EINVAL);
    EXPECT_EQ(memcmp(&s, &chosen, sizeof s), 0);

    // The lookahead is what an instance keeps: a frame comes out once that
    // many after it have gone in, and not before; the averaging along the
    // motion keeps its radius more.
    for (int radius : {0, 3}) {
        VelvaneConfig c = configFor(96, 64);
        c.settings.mc_radius = radius;
        const int ahead = velvane_lookahead(&c.settings);
        ASSERT_GE(ahead, 1);
        const VelvaneConfig plain = configFor(96, 64);
        EXPECT_EQ(ahead, velvane_lookahead(&plain.settings) + radius);
        Filter f(c);
        Clip clip = makeClip(96, 64, ahead + 1, 5);
        std::vector<YcPixel> o(96 * 64);
        VelvaneFrame of = packed(o, 96);
        for (int n = 0; n < ahead; n++) {
            ASSERT_TRUE(f.send(packed(clip[n], 96)));
            EXPECT_FALSE(f.receive(of)) << n;
        }
        ASSERT_TRUE(f.send(packed(clip[ahead], 96)));
        EXPECT_TRUE(f.receive(of)) << radius;
        c.settings.hue = 99;
        EXPECT_EQ(velvane_lookahead(&c.settings), VELVANE_EINVAL);
    }

    EXPECT_EQ(velvane_thread_count(5), 5);
    EXPECT_GE(velvane_thread_count(0), 1);
    EXPECT_EQ(velvane_thread_count(65), 0);
}

// The measures a program can take without filtering are those automatic
// strength takes, and the removed view is that of VELVANE_SHOW_REMOVED.
TEST(Api, MeasuresAndViewsAreThoseOfTheInstance)
{
    const int w = 64, h = 48;
    Clip clip = makeClip(w, h, 4, 21), other = makeClip(w, h, 4, 22);
    for (auto &f : other)
        for (YcPixel &p : f)
            p.y = (int16_t)(3400 - p.y); // another picture: a scene cut at frame 4
    clip.insert(clip.end(), other.begin(), other.end());

    // The same clip as 8-bit planes, through the row conversions.
    const int cw = (w + 1) / 2;
    std::vector<std::vector<uint8_t>> planes(clip.size(), std::vector<uint8_t>((size_t)(w + 2 * cw) * h));
    Clip fromPlanes(clip.size(), std::vector<YcPixel>((size_t)w * h));
    for (size_t n = 0; n < clip.size(); n++) {
        std::vector<int16_t> y(w), cb(w), cr(w), c(cw);
        for (int r = 0; r < h; r++) {
            velvane_deinterleave_yc48(y.data(), cb.data(), cr.data(), (const int16_t *)&clip[n][(size_t)r * w], w);
            uint8_t *py = &planes[n][(size_t)r * w], *pb = &planes[n][(size_t)w * h + (size_t)r * cw],
                    *pr = pb + (size_t)cw * h;
            ASSERT_EQ(velvane_samples_from_yc48(py, y.data(), w, 8, 0), VELVANE_OK);
            velvane_chroma_downsample(c.data(), cb.data(), cw);
            velvane_samples_from_yc48(pb, c.data(), cw, 8, 1);
            velvane_chroma_downsample(c.data(), cr.data(), cw);
            velvane_samples_from_yc48(pr, c.data(), cw, 8, 1);
            // And back to pixels, as the library takes planar frames in.
            velvane_samples_to_yc48(y.data(), py, w, 8, 0);
            velvane_samples_to_yc48(c.data(), pb, cw, 8, 1);
            velvane_chroma_upsample(cb.data(), c.data(), w);
            velvane_samples_to_yc48(c.data(), pr, cw, 8, 1);
            velvane_chroma_upsample(cr.data(), c.data(), w);
            velvane_interleave_yc48((int16_t *)&fromPlanes[n][(size_t)r * w], y.data(), cb.data(), cr.data(), w);
        }
    }
    EXPECT_EQ(velvane_samples_to_yc48(nullptr, nullptr, 0, 14, 0), VELVANE_EINVAL);
    auto planar = [&](size_t n) {
        VelvaneFrame f = {};
        f.format = VELVANE_PIXEL_YUV422P8;
        f.width = w, f.height = h;
        f.data[0] = planes[n].data();
        f.data[1] = planes[n].data() + (size_t)w * h;
        f.data[2] = planes[n].data() + (size_t)(w + cw) * h;
        f.stride[0] = w, f.stride[1] = f.stride[2] = cw;
        return f;
    };

    // Automatic strength on the planes, against the detector, the noise
    // measure and the removed view on the same frames.
    VelvaneConfig c = configFor(w, h);
    velvane_set_strength(&c.settings, VELVANE_STRENGTH_AUTO);
    Filter automatic(c);
    // What VELVANE_SHOW_REMOVED shows of each frame.
    VelvaneConfig removedConfig = c;
    removedConfig.settings.show = VELVANE_SHOW_REMOVED;
    Clip shown;
    {
        Filter removed(removedConfig);
        std::vector<YcPixel> frame((size_t)w * h);
        VelvaneFrame sf = packed(frame, w);
        for (size_t n = 0; n <= fromPlanes.size(); n++) {
            if (n < fromPlanes.size())
                ASSERT_TRUE(removed.send(packed(fromPlanes[n], w)));
            else
                removed.end();
            while (removed.receive(sf))
                shown.push_back(frame);
        }
    }
    VelvaneSceneCuts *cuts = nullptr, *packedCuts = nullptr;
    EXPECT_EQ(velvane_scene_cuts_open(&cuts, 2, h), VELVANE_EINVAL);
    EXPECT_EQ(cuts, nullptr);
    ASSERT_EQ(velvane_scene_cuts_open(&cuts, w, h), VELVANE_OK);
    ASSERT_EQ(velvane_scene_cuts_open(&packedCuts, w, h), VELVANE_OK);
    std::vector<YcPixel> out((size_t)w * h);
    VelvaneFrame of = packed(out, w);
    std::vector<int64_t> begins, measured;
    size_t received = 0;
    auto drain = [&] {
        while (automatic.receive(of)) {
            const VelvaneStrengthReport r = report(automatic);
            if (measured.empty() || measured.back() != r.measured_at) {
                measured.push_back(r.measured_at);
                // The measure of the scene's first three frames.
                VelvaneFrame three[3] = {planar(r.measured_at), planar(r.measured_at + 1), planar(r.measured_at + 2)};
                VelvaneNoiseReport noise;
                ASSERT_EQ(velvane_measure_noise(three, 3, &noise), VELVANE_OK);
                EXPECT_EQ(noise.luma_noise, r.luma_noise);
                EXPECT_EQ(noise.chroma_noise, r.chroma_noise);
                EXPECT_EQ(noise.dot_share, r.dot_share);
            }
            // What went out beside what came in, as the removed view.
            std::vector<YcPixel> view = out;
            VelvaneFrame vf = packed(view, w), in = packed(fromPlanes[received], w);
            ASSERT_EQ(velvane_removed_view(&in, &vf), VELVANE_OK);
            ASSERT_LT(received, shown.size());
            EXPECT_EQ(view, shown[received]) << received;
            received++;
        }
    };
    for (size_t n = 0; n < clip.size(); n++) {
        const VelvaneFrame f = planar(n);
        const int cut = velvane_scene_cuts_next(cuts, &f);
        VelvaneFrame p = packed(fromPlanes[n], w);
        EXPECT_EQ(velvane_scene_cuts_next(packedCuts, &p), cut) << n;
        if (cut == 1)
            begins.push_back((int64_t)n);
        ASSERT_TRUE(automatic.send(f));
        drain();
    }
    automatic.end();
    drain();
    EXPECT_EQ(begins, (std::vector<int64_t>{0, 4}));
    EXPECT_EQ(measured, begins);
    velvane_scene_cuts_reset(cuts);
    const VelvaneFrame f5 = planar(5);
    EXPECT_EQ(velvane_scene_cuts_next(cuts, &f5), 1) << "after a reset, a frame begins a scene";
    VelvaneFrame wrong = packed(out, w / 2);
    EXPECT_EQ(velvane_scene_cuts_next(cuts, &wrong), VELVANE_EINVAL);
    velvane_scene_cuts_close(&cuts);
    velvane_scene_cuts_close(&packedCuts);
    EXPECT_EQ(cuts, nullptr);
    VelvaneNoiseReport noise;
    EXPECT_EQ(velvane_measure_noise(&f5, 4, &noise), VELVANE_EINVAL);
    VelvaneFrame in8 = planar(0);
    EXPECT_EQ(velvane_removed_view(&in8, &of), VELVANE_EINVAL) << "the view is of packed frames";
}

} // namespace
} // namespace velvane
