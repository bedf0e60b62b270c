// Strengths a user can choose instead of four thresholds: named ones, and one
// chosen from the noise measured in the video itself.
#ifndef VELVANE_PIPELINE_STRENGTH_H
#define VELVANE_PIPELINE_STRENGTH_H

#include <stdint.h>

#include "pipeline/noise_level.h"

namespace velvane {

// The same numbers as VelvaneStrength in velvane.h.
enum class Strength : int32_t { Custom = 0, Light = 1, Medium = 2, Strong = 3, Auto = 4 };

// The thresholds beyond the plug-in's 0..20 that the native library and the
// command take: heavy grain and strong dots need wider ones.
constexpr int32_t kWideThresholdMax = 60;

// What a strength chooses: the four thresholds (luma low, luma high, chroma
// low, chroma high) and whether the dot pass runs.
struct StrengthChoice {
    int32_t threshold[4];
    bool dot;
};

// A named strength (Light, Medium, Strong); the dot pass is on in all three.
StrengthChoice presetStrength(Strength s);

// The choice for a measured noise level: thresholds in proportion to the
// grain (luma to the luma noise, chroma to the chroma noise), a wide luma
// high band where dots are left for the averaging to cancel, and the dot pass
// only where there are dots. The proportions were calibrated on clips of
// known noise (bench/strength, docs/comparison/strength.md).
StrengthChoice autoStrength(const NoiseLevel &level);

} // namespace velvane

#endif
