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

// stride x height pixels per frame: slow gradients, a moving edge, noise from a
// fixed generator, and a one-pixel dot pattern whose sign flips every frame.
std::vector<std::vector<YcPixel>> makeClip();

// Writes every output frame of the series (stride x height YcPixel each, in
// order) through `sink`; returns a message describing the first failure of a
// host call, or an empty string.
using FrameSink = void (*)(void *context, const YcPixel *frame, size_t pixels);
std::string renderSeries(EmbeddedHost &host, FrameSink sink, void *context);

// Number of frames renderSeries writes.
int seriesFrameCount();

// Helper sink writing to a FILE*.
void writeToFile(void *file, const YcPixel *frame, size_t pixels);

} // namespace wintest
} // namespace velvane

#endif
