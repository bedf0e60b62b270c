// The noise of a tape filtered with fixed settings, for the index of a run:
// what automatic strength would measure on the input's first frames.
#ifndef VELVANE_CLI_BATCH_MEASURE_H
#define VELVANE_CLI_BATCH_MEASURE_H

#include <string>

#include "velvane/velvane.h"

namespace velvane {
namespace batch {

// Measures the first three frames of the input's video stream `videoStream`
// (a media file or a YUV4MPEG2 stream). False when they cannot be read.
bool measureInputNoise(const std::string &path, int videoStream, VelvaneNoiseReport *out);

} // namespace batch
} // namespace velvane

#endif
