#ifndef VELVANE_WINTEST_FRAME_SEQUENCE_H
#define VELVANE_WINTEST_FRAME_SEQUENCE_H

// One deterministic clip and one fixed series of settings and frame requests,
// shared by the Windows test host and the native program that makes the
// reference output, so the two builds of the module can be compared byte for
// byte.

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "embedded_host.h"

namespace velvane {
namespace wintest {

// Clip geometry: width not a multiple of 4 (exercises the cache's rounding),
// a line stride wider than the frame, and a maximum height above the height.
constexpr int32_t kClipWidth = 174;
constexpr int32_t kClipHeight = 118;
constexpr int32_t kClipStride = 180;
constexpr int32_t kClipMaxHeight = 120;
constexpr int32_t kClipFrames = 9;

// Frames of stride x height pixels: slow gradients, a moving edge, noise from
// a fixed generator, and a one-pixel dot pattern whose sign flips every frame.
std::vector<std::vector<YcPixel>> makeClip(int32_t width = kClipWidth, int32_t height = kClipHeight,
                                           int32_t stride = kClipStride, int32_t frames = kClipFrames);

// Renders the series with the host attached and started (its geometry and
// clip as set up for kClip*): four settings on the small clip, then an odd
// width and height, the largest frame size that is processed (the cache is
// reallocated) and one pixel wider, which the gate turns to zeros. Every output frame goes through
// `sink` in order, stride x height YcPixel each. Returns a message describing
// the first failure of a host call, or an empty string.
using FrameSink = void (*)(void *context, const YcPixel *frame, size_t pixels, int32_t stride);
std::string renderSeries(EmbeddedHost &host, FrameSink sink, void *context);

// Number of frames renderSeries writes.
int seriesFrameCount();

// Helper sink writing to a FILE*.
void writeToFile(void *file, const YcPixel *frame, size_t pixels, int32_t stride);

} // namespace wintest
} // namespace velvane

#endif
