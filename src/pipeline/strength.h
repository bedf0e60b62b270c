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
    // Where the picture moves, these luma thresholds (low, high) instead of
    // the first two; MovingThresholds.bound as in settings.h, 0 for none.
    int32_t movingBound = 0;
    int32_t moving[2] = {0, 0};
    // Frames on either side of the averaging along the motion (0: off).
    int32_t motionRadius = 0;
    // The four thresholds instead, for frames averaged along the motion
    // first, which reach the thresholds' averaging far cleaner than they came
    // in; -1: the same as without.
    int32_t alongMotion[4] = {-1, -1, -1, -1};
};

// The radius automatic strength gives the averaging along the motion where
// it may choose it.
constexpr int32_t kAutoMotionRadius = 2;

// A named strength (Light, Medium, Strong); the dot pass is on in all three.
StrengthChoice presetStrength(Strength s);

// The choice for a measured noise level: thresholds in proportion to the
// grain (luma to the luma noise, chroma to the chroma noise); where there are
// dots that invert every frame (NTSC's), a wide luma high band that leaves
// them to the averaging to cancel; where they come back after four frames
// (PAL's), the dot pass and the widest luma high band; and neither averaging
// nor the dot pass where nearly all of the picture moves. Wide luma
// thresholds only serve to cancel dots: the parts of a frame that move and
// carry no pattern that inverts from frame to frame take those of a picture
// without dots. The proportions were calibrated on clips of known noise
// (bench/strength) and on composite video (bench/composite-strength; both in
// docs/comparison/strength.md).
StrengthChoice autoStrength(const NoiseLevel &level);

} // namespace velvane

#endif
