// The measurements behind automatic strength, on one clip of known noise
// (bench/strength runs it): the noise of the noisy clip against the clean
// one, what the noise measure finds in its first three frames, and the PSNR
// of luma and chroma against the clean clip for every combination of
// thresholds read from standard input ("luma-low luma-high chroma-low
// chroma-high" per line). The frames are filtered as the command filters them
// (the same conversions, 4:1:1 interpolation for 4:1:1 input); only the
// averaging runs again for each combination, as the thresholds do not change
// what the band cache holds.
//
// Usage: calibrate_strength CLEAN.y4m NOISY.y4m FRAMES DOT < combinations
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "common/cpu_flags.h"
#include "library/convert_kernels.h"
#include "y4m/convert.h"
#include "pipeline/driver.h"
#include "pipeline/instance.h"
#include "pipeline/noise_level.h"
#include "pipeline/settings.h"
#include "y4m/y4m.h"

using namespace velvane;

namespace {

struct Clip {
    Y4mFormat format;
    std::vector<std::vector<uint8_t>> raw;
    std::vector<std::vector<YcPixel>> host;
    int stride = 0;
};

Clip readClip(const std::string &path, int frames)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) {
        perror(path.c_str());
        exit(1);
    }
    Y4mReader r(f, path);
    Clip c;
    c.format = r.readHeader();
    c.stride = (c.format.width + 3) & ~3;
    FrameConverter conv(c.format, c.stride);
    std::string tags;
    for (int n = 0; n < frames; n++) {
        std::vector<uint8_t> raw(c.format.frameBytes());
        if (!r.readFrame(raw.data(), &tags))
            break;
        std::vector<YcPixel> px((size_t)c.stride * c.format.height, YcPixel{0, 0, 0});
        conv.toHost(raw.data(), frameIsInterlaced(c.format, tags), px.data());
        c.raw.push_back(std::move(raw));
        c.host.push_back(std::move(px));
    }
    fclose(f);
    if (c.host.size() < 3) {
        fprintf(stderr, "%s: fewer than 3 frames\n", path.c_str());
        exit(1);
    }
    return c;
}

// Deviation of noisy from clean per plane, in code values.
void trueNoise(const Clip &clean, const Clip &noisy)
{
    double s[3] = {0, 0, 0};
    size_t n[3] = {0, 0, 0};
    const Y4mFormat &f = clean.format;
    for (size_t i = 0; i < clean.raw.size(); i++) {
        const uint8_t *a = clean.raw[i].data(), *b = noisy.raw[i].data();
        for (size_t j = 0; j < f.frameBytes(); j++) {
            const int p = j < f.lumaBytes() ? 0 : j < f.lumaBytes() + f.chromaPlaneBytes() ? 1 : 2;
            const double d = (double)a[j] - b[j];
            s[p] += d * d;
            n[p]++;
        }
    }
    printf("true %.3f %.3f %.3f\n", sqrt(s[0] / n[0]), sqrt(s[1] / n[1]), sqrt(s[2] / n[2]));
}

void measure(const Clip &c)
{
    const YcPixel *f[3] = {c.host[0].data(), c.host[1].data(), c.host[2].data()};
    const NoiseLevel l = measureNoise(f, 3, c.format.width, c.format.height, c.stride);
    printf("measure %.4f %.4f %.4f %.4f %.4f %.4f\n", l.luma, l.chroma, l.dotShare, l.dotAmplitude, l.motionShare,
           l.dotFourFrame);
}

struct FrameStore {
    const Clip *clip;
    static bool reserve(void *) { return true; }
    static const YcPixel *frame(void *self, int32_t m)
    {
        const Clip *c = static_cast<FrameStore *>(self)->clip;
        return m >= 0 && m < (int32_t)c->host.size() ? c->host[m].data() : nullptr;
    }
};

void grid(const Clip &clean, const Clip &noisy, bool dot, const std::vector<std::array<int, 4>> &combos)
{
    const Y4mFormat &f = noisy.format;
    FilterInstance inst;
    // Every size the library takes, PAL's among them (the plug-in's 720 x 480 gate is not the library's).
    inst.maxWidth = inst.maxHeight = kWaveLength;
    startInstance(inst, 2, cpuSimdFlags());
    FrameStore store{&noisy};
    const FrameSource source = {FrameStore::reserve, FrameStore::frame, &store};
    std::vector<YcPixel> out((size_t)noisy.stride * f.height);
    std::vector<double> sy(combos.size()), sc(combos.size());
    const int frames = (int)noisy.host.size();
    int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
    std::copy(kTrackDefaults, kTrackDefaults + VV_TRACK_COUNT, track);
    std::copy(kCheckDefaults, kCheckDefaults + VV_CHECK_COUNT, check);
    check[CHECK_DOT] = dot;
    check[CHECK_411] = f.chroma == Chroma::C411;
    // The host's scale to 8-bit samples, as the command writes them; chroma
    // is compared where each format keeps its samples.
    static uint8_t lumaByte[65536], chromaByte[65536];
    for (int v = -32768; v < 32768; v++) {
        const int16_t s = (int16_t)v;
        lumaFromHost(&lumaByte[(uint16_t)s], &s, 1, 8);
        chromaFromHost(&chromaByte[(uint16_t)s], &s, 1, 8);
    }
    if (f.depth != 8 || (f.chroma != Chroma::C422 && f.chroma != Chroma::C411)) {
        fprintf(stderr, "calibrate_strength: 8-bit 4:2:2 or 4:1:1 clips only\n");
        exit(1);
    }
    const int w = f.width, h = f.height, cw = f.chromaWidth(), cstep = w / cw;
    for (int n = 0; n < frames; n++) {
        const uint8_t *a = clean.raw[n].data();
        for (size_t i = 0; i < combos.size(); i++) {
            for (int k = 0; k < 4; k++)
                track[k] = combos[i][k];
            const FrameSettings s = settingsFromArrays(track, check);
            FrameJob job = {};
            job.frame = out.data();
            job.width = w;
            job.height = h;
            job.stride = noisy.stride;
            job.maxHeight = h;
            job.frameIndex = n;
            job.frameCount = frames;
            filterFrame(inst, job, s, source, serialTasks());
            int64_t y = 0, c = 0;
            for (int r = 0; r < h; r++) {
                const YcPixel *o = &out[(size_t)r * noisy.stride];
                const uint8_t *ay = a + (size_t)r * w;
                for (int x = 0; x < w; x++) {
                    const int d = ay[x] - lumaByte[(uint16_t)o[x].y];
                    y += d * d;
                }
                const uint8_t *acb = a + f.lumaBytes() + (size_t)r * cw;
                const uint8_t *acr = acb + f.chromaPlaneBytes();
                for (int k = 0; k < cw; k++) {
                    const int d1 = acb[k] - chromaByte[(uint16_t)o[k * cstep].cb];
                    const int d2 = acr[k] - chromaByte[(uint16_t)o[k * cstep].cr];
                    c += d1 * d1 + d2 * d2;
                }
            }
            sy[i] += (double)y;
            sc[i] += (double)c;
        }
    }
    stopInstance(inst);
    const double ny = (double)f.lumaBytes() * frames, nc = 2.0 * f.chromaPlaneBytes() * frames;
    auto psnr = [](double mse) { return mse > 0 ? 10 * log10(255.0 * 255.0 / mse) : 99.0; };
    for (size_t i = 0; i < combos.size(); i++)
        printf("grid %d %d %d %d %.4f %.4f\n", combos[i][0], combos[i][1], combos[i][2], combos[i][3],
               psnr(sy[i] / ny), psnr(sc[i] / nc));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: calibrate_strength CLEAN.y4m NOISY.y4m FRAMES DOT < combinations\n");
        return 2;
    }
    try {
        const int frames = atoi(argv[3]);
        const Clip clean = readClip(argv[1], frames), noisy = readClip(argv[2], frames);
        trueNoise(clean, noisy);
        measure(noisy);
        std::vector<std::array<int, 4>> combos;
        std::array<int, 4> c;
        while (scanf("%d %d %d %d", &c[0], &c[1], &c[2], &c[3]) == 4)
            combos.push_back(c);
        grid(clean, noisy, atoi(argv[4]) != 0, combos);
    } catch (const std::exception &e) {
        fprintf(stderr, "calibrate_strength: %s\n", e.what());
        return 1;
    }
    return 0;
}
