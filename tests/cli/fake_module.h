// A stand-in module for the command's tests: the same descriptor shape and
// host calls as the plug-in, with a filter simple enough to predict.
#ifndef VELVANE_TESTS_CLI_FAKE_MODULE_H
#define VELVANE_TESTS_CLI_FAKE_MODULE_H

#include <stdint.h>

#include <vector>

#include "velvane/filter.h"

namespace velvane {
namespace fake {

// Output frame n: per component (prev + 2 cur + next) / 4 with the clip's
// ends standing in for missing neighbours, luma plus 4 x trackValues[7],
// and on the last frame of the clip luma plus 64. It asks the host for its
// frames as the plug-in does: setFrameCacheSize, then frames n - 1, n, n + 1.
FilterDescriptor *descriptor();

struct Record {
    int inits = 0, exits = 0, updates = 0;
    int minOffset = 0, maxOffset = 0; // frames requested relative to n
    std::vector<int32_t> frameCounts; // what each call was told
};
Record &record();
void reset();

// The same arithmetic over a clip in memory, for the tests' expectations.
void expected(const std::vector<std::vector<YcPixel>> &clip, int32_t offsetY, std::vector<std::vector<YcPixel>> *out,
              size_t samples);

} // namespace fake
} // namespace velvane

#endif
