#include "pipeline/strength.h"

#include <math.h>

namespace velvane {
namespace {

int32_t clampThreshold(float v)
{
    const long t = lrintf(v);
    return t < 0 ? 0 : t > kWideThresholdMax ? kWideThresholdMax : (int32_t)t;
}

} // namespace

StrengthChoice presetStrength(Strength s)
{
    // Light suits grain of about 2 code values, medium (the plug-in's
    // defaults) about 3, strong about 6 with dots to cancel; what auto would
    // choose for those.
    switch (s) {
    case Strength::Light: return {{7, 9, 9, 12}, true};
    case Strength::Strong: return {{21, 40, 27, 36}, true};
    default: return {{10, 10, 10, 10}, true};
    }
}

StrengthChoice autoStrength(const NoiseLevel &m)
{
    // Calibrated on clips of known grain (deviation 0 to 10 code values),
    // with and without dots, 4:2:2 and 4:1:1 (bench/strength): the best fixed
    // thresholds of each clip grow in proportion to the grain. Dots are left
    // to the averaging of the luma high band, whose neighbours in time carry
    // them inverted: the wider the picture they cover, the more a threshold
    // wide enough to take those neighbours in gains over what it blurs.
    // Clean pictures are measured as a share of dotted blocks of at most 0.3%.
    constexpr float kDotShare = 0.02f;
    // Without dots the dot pass still takes out some grain, worth its cost
    // from grain of about 6 code values up.
    constexpr float kDotPassGrain = 6.0f;
    StrengthChoice c;
    if (m.dotShare > kDotShare) {
        c.dot = true;
        c.threshold[0] = clampThreshold(3.0f * m.luma + 3.0f);
        c.threshold[1] = clampThreshold(31.0f + 40.0f * (m.dotShare - 0.24f) + 1.75f * m.luma);
    } else {
        c.dot = m.luma >= kDotPassGrain;
        c.threshold[0] = clampThreshold(3.5f * m.luma);
        c.threshold[1] = clampThreshold(4.5f * m.luma);
    }
    c.threshold[2] = clampThreshold(4.5f * m.chroma);
    c.threshold[3] = clampThreshold(6.0f * m.chroma);
    return c;
}

} // namespace velvane
