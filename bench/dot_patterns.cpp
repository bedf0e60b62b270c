// What the dot pass does to the dot pattern of each colour system, and to a
// clean picture of each raster. Prints luma PSNR against the clean picture.
//
// A composite decoder leaves the colour subcarrier in the luma where colour
// is strong: "dots". Their phase follows the subcarrier across the raster:
// - 525 lines (NTSC): 227.5 cycles a line, 3.77 samples a cycle at 13.5 MHz;
//   the phase moves half a cycle a line and half a cycle a frame, so the
//   pattern inverts from one frame to the next.
// - 625 lines (PAL): 283.7516 cycles a line, 3.04 samples a cycle; the phase
//   moves about three quarters of a cycle a line and three quarters a frame,
//   so the pattern returns only after four frames (eight fields).
// The amplitude follows the chroma's saturation, up to 9 codes.
//
//   dot_patterns [frames]     (default 24)
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "demo/demo.h"
#include "velvane/velvane.hpp"

namespace {

using velvane::DemoScene;

const double kPi = 3.14159265358979323846;

struct Raster {
    const char *name;
    int width, height, lines;
    double cyclesPerLine, samplesPerCycle;
};

const Raster k525 = {"525 lines, NTSC dots", 720, 480, 525, 227.5, 13.5 / 3.579545};
const Raster k625 = {"625 lines, PAL dots", 720, 576, 625, 283.7516, 13.5 / 4.43361875};

// Deterministic noise: splitmix64 through a sum of four uniforms.
struct Noise {
    uint64_t s = 0x5EED;
    float next()
    {
        float t = 0;
        for (int i = 0; i < 4; i++) {
            uint64_t z = (s += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            t += (float)((z ^ (z >> 31)) >> 40) * (1.0f / 16777216.0f);
        }
        return (t - 2.0f) * 1.7320508f;
    }
};

using Frame = std::vector<uint8_t>; // planar 4:2:2, 8 bits

// Frame n of a top-field-first raster: its clean picture (the demo scene
// moving, or held still at its first frame), and the same with dots (and
// noise of `sigma` codes).
void render(const Raster &r, const DemoScene &scene, int n, bool still, bool dots, float sigma, Noise &noise,
            Frame &clean, Frame &out)
{
    const int w = r.width, h = r.height, cw = (w + 1) / 2;
    clean.resize((size_t)h * (w + 2 * cw));
    scene.render(still ? 0 : n, clean.data(), nullptr);
    out = clean;
    if (!dots && sigma == 0)
        return;
    const uint8_t *cb = clean.data() + (size_t)w * h, *cr = cb + (size_t)cw * h;
    for (int y = 0; y < h; y++) {
        // Lines in the order they are sent: the bottom field half a frame after the top.
        const double line = (double)n * r.lines + (y & 1) * r.lines / 2.0 + (y >> 1);
        const double linePhase = fmod(line * r.cyclesPerLine, 1.0);
        for (int x = 0; x < w; x++) {
            double v = clean[(size_t)y * w + x];
            if (dots) {
                const double sat = fabs(cb[(size_t)y * cw + x / 2] - 128.0) + fabs(cr[(size_t)y * cw + x / 2] - 128.0);
                v += std::min(9.0, 0.12 * sat) * cos(2 * kPi * (x / r.samplesPerCycle + linePhase));
            }
            v += sigma * noise.next();
            out[(size_t)y * w + x] = (uint8_t)std::min(255.0, std::max(0.0, floor(v + 0.5)));
        }
    }
}

double lumaPsnr(const std::vector<Frame> &ref, const std::vector<Frame> &test, int w, int h)
{
    double sse = 0, count = 0;
    for (size_t n = 0; n < ref.size(); n++)
        for (size_t i = 0; i < (size_t)w * h; i++) {
            const double d = (double)ref[n][i] - test[n][i];
            sse += d * d;
            count++;
        }
    return sse > 0 ? 10 * log10(255.0 * 255.0 * count / sse) : 99.0;
}

VelvaneFrame planar(Frame &f, int w, int h)
{
    const int cw = (w + 1) / 2;
    VelvaneFrame v = {};
    v.format = VELVANE_PIXEL_YUV422P8;
    v.width = w;
    v.height = h;
    v.data[0] = f.data();
    v.data[1] = f.data() + (size_t)w * h;
    v.data[2] = f.data() + (size_t)w * h + (size_t)cw * h;
    v.stride[0] = w;
    v.stride[1] = v.stride[2] = cw;
    return v;
}

std::vector<Frame> filter(std::vector<Frame> clip, int w, int h, bool dot, int thresholds)
{
    VelvaneConfig c;
    velvane_default_config(&c);
    c.width = w;
    c.height = h;
    c.settings.dot_removal = dot;
    c.settings.luma_low = c.settings.luma_high = c.settings.chroma_low = c.settings.chroma_high = thresholds;
    velvane::Filter f(c);
    std::vector<Frame> out;
    Frame o(clip[0].size());
    VelvaneFrame of = planar(o, w, h);
    for (auto &frame : clip) {
        f.send(planar(frame, w, h));
        while (f.receive(of))
            out.push_back(o);
    }
    f.end();
    while (f.receive(of))
        out.push_back(o);
    return out;
}

void study(const Raster &r, int frames)
{
    DemoScene scene(r.width, r.height);
    printf("%s (%d x %d, %d frames)\n", r.name, r.width, r.height, frames);
    printf("  %-28s %9s %12s %12s %12s %12s\n", "clip", "input", "dot pass", "defaults", "defaults", "pass alone");
    printf("  %-28s %9s %12s %12s %12s %12s\n", "", "", "alone", "", "no dot pass", "changes");
    const struct {
        const char *name;
        bool still, dots;
        float sigma;
    } kinds[] = {{"moving, clean", false, false, 0}, {"moving, noise (sigma 3)", false, false, 3},
                 {"moving, dots", false, true, 0},   {"moving, dots and noise", false, true, 3},
                 {"still, clean", true, false, 0},   {"still, dots", true, true, 0},
                 {"still, dots and noise", true, true, 3}};
    for (const auto &k : kinds) {
        Noise noise;
        std::vector<Frame> clean(frames), input(frames);
        for (int n = 0; n < frames; n++)
            render(r, scene, n, k.still, k.dots, k.sigma, noise, clean[n], input[n]);
        const int w = r.width, h = r.height;
        // The thresholds at 0 leave the averaging out: what remains is the
        // dot pass, against the same path without it.
        const std::vector<Frame> passAlone = filter(input, w, h, true, 0), none = filter(input, w, h, false, 0);
        const std::vector<Frame> defaults = filter(input, w, h, true, 10), noDot = filter(input, w, h, false, 10);
        printf("  %-28s %6.2f dB %9.2f dB %9.2f dB %9.2f dB %9.2f dB\n", k.name, lumaPsnr(clean, input, w, h),
               lumaPsnr(clean, passAlone, w, h), lumaPsnr(clean, defaults, w, h), lumaPsnr(clean, noDot, w, h),
               lumaPsnr(none, passAlone, w, h));
    }
}

} // namespace

int main(int argc, char **argv)
{
    const int frames = argc > 1 ? atoi(argv[1]) : 24;
    if (frames < 3) {
        fprintf(stderr, "usage: dot_patterns [frames >= 3]\n");
        return 2;
    }
    printf("Luma PSNR against the clean picture; the last column compares the dot pass alone\n"
           "with the same path without it (higher: the pass changes less).\n\n");
    study(k525, frames);
    printf("\n");
    study(k625, frames);
    return 0;
}
