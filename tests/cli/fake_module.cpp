#include "fake_module.h"

#include <string.h>

#include <algorithm>

namespace velvane {
namespace fake {

namespace {

Record rec;

const char *const trackNames[VV_TRACK_COUNT] = {"T0", "T1", "T2", "T3", "T4", "T5", "T6",
                                                "T7", "T8", "T9", "T10", "T11", "T12", "T13"};
const int32_t trackDefaults[VV_TRACK_COUNT] = {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const int32_t trackMinima[VV_TRACK_COUNT] = {0, 0, 0, 0, -5, -5, -5, -50, -5, -5, 0, 0, 0, 0};
const int32_t trackMaxima[VV_TRACK_COUNT] = {9, 9, 9, 9, 5, 5, 5, 50, 5, 5, 7, 7, 7, 7};
const char *const checkNames[VV_CHECK_COUNT] = {"C0", "C1", "C2", "C3", "C4"};
const int32_t checkDefaults[VV_CHECK_COUNT] = {1, 1, 0, 0, 1};

inline int16_t mix(int16_t a, int16_t b, int16_t c) { return (int16_t)((a + 2 * b + c) >> 2); }

void combine(const YcPixel *p, const YcPixel *c, const YcPixel *n, YcPixel *out, size_t samples, int addY)
{
    for (size_t i = 0; i < samples; i++) {
        out[i].y = (int16_t)(mix(p[i].y, c[i].y, n[i].y) + addY);
        out[i].cb = mix(p[i].cb, c[i].cb, n[i].cb);
        out[i].cr = mix(p[i].cr, c[i].cr, n[i].cr);
    }
}

int32_t VV_CDECL processFrame(FilterDescriptor *fd, FrameJob *job)
{
    const size_t samples = (size_t)job->stride * (size_t)job->height;
    const int32_t n = job->frameIndex, count = job->frameCount;
    rec.frameCounts.push_back(count);
    if (fd->hostServices->setFrameCacheSize(fd, job->stride, job->maxHeight, 3, 0) != 1)
        return 1;
    std::vector<YcPixel> f[3];
    for (int j = -1; j <= 1; j++) {
        const int32_t m = std::min(std::max(n + j, 0), count - 1);
        rec.minOffset = std::min(rec.minOffset, m - n);
        rec.maxOffset = std::max(rec.maxOffset, m - n);
        const YcPixel *src = fd->hostServices->getCachedFrame(fd, job->editHandle, m);
        f[j + 1].assign(src, src + samples);
    }
    const int addY = 4 * fd->trackValues[7] + (n == count - 1 ? 64 : 0);
    combine(f[0].data(), f[1].data(), f[2].data(), job->frame, samples, addY);
    return 1;
}

int32_t VV_CDECL initFilter(FilterDescriptor *) { rec.inits++; return 1; }
int32_t VV_CDECL exitFilter(FilterDescriptor *) { rec.exits++; return 1; }
int32_t VV_CDECL updateFilter(FilterDescriptor *) { rec.updates++; return 1; }

FilterDescriptor table = {
    0, 320, 480, "Fake", VV_TRACK_COUNT, trackNames, trackDefaults, trackMinima, trackMaxima,
    VV_CHECK_COUNT, checkNames, checkDefaults, processFrame, initFilter, exitFilter, updateFilter, nullptr,
    nullptr, nullptr, nullptr, nullptr, "fake", nullptr, nullptr, nullptr, nullptr, nullptr, {},
};

} // namespace

FilterDescriptor *descriptor() { return &table; }
Record &record() { return rec; }
void reset() { rec = Record(); }

void expected(const std::vector<std::vector<YcPixel>> &clip, int32_t offsetY, std::vector<std::vector<YcPixel>> *out,
              size_t samples)
{
    const int count = (int)clip.size();
    out->assign(clip.size(), std::vector<YcPixel>(samples));
    for (int n = 0; n < count; n++) {
        const int p = std::max(n - 1, 0), q = std::min(n + 1, count - 1);
        combine(clip[p].data(), clip[n].data(), clip[q].data(), (*out)[n].data(), samples,
                4 * offsetY + (n == count - 1 ? 64 : 0));
    }
}

} // namespace fake
} // namespace velvane
