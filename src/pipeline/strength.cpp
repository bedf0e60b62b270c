#include "pipeline/strength.h"

#include <math.h>

namespace velvane {
namespace {

int32_t clampThreshold(float v)
{
    const long t = lrintf(v);
    return t < 0 ? 0 : t > kWideThresholdMax ? kWideThresholdMax : (int32_t)t;
}

// The share of dotted blocks above which a picture has dots; clean pictures
// are measured at 0.3% at most.
constexpr float kDotShare = 0.02f;
// The grain (8-bit code values) from which the averaging along the motion runs.
constexpr float kMotionGrain = 1.0f;
// Below this grain, a picture without dots has nothing to clean in its luma:
// clean pictures that move or carry fine texture are measured at up to about
// 0.7 (what the motion leaves), and any averaging there, even of neighbours a
// code value apart, costs more than it removes. Grain of 2 code values is
// measured at 0.8.
constexpr float kCleanGrain = 0.75f;

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

StrengthChoice autoStrength(const NoiseLevel &level)
{
    // Where there are dots, the proportions below were calibrated on the
    // grain as the frames themselves show it, of which the dots leave a
    // little: there they keep to it. Without dots, the grain along the
    // motion, which texture and motion do not inflate.
    NoiseLevel m = level;
    // On a clean picture that barely moves, a composite signal's dots show
    // on every coloured edge: clean still pictures with dots measure a
    // tenth of the picture and more. A few blocks of them there are small
    // things moving inside still blocks (the stars of a star field zooming
    // under a tinted sky), which the dot test cannot tell from dots. Grain
    // hides dots from the test, so only a clean picture is judged so.
    constexpr float kFewDots = 0.1f, kStill = 0.05f, kCleanForDots = 1.5f;
    if (m.dotShare < kFewDots && m.motionShare < kStill && m.luma < kCleanForDots)
        m.dotShare = 0;
    if (m.dotShare > kDotShare)
        m.luma = m.stillLuma > m.luma ? m.stillLuma : m.luma;
    // Calibrated on clips of known grain (deviation 0 to 10 code values),
    // with and without dots, 4:2:2 and 4:1:1 (bench/strength), and on
    // composite video, NTSC and PAL, still, panned and zoomed, with and
    // without noise in the composite signal (bench/composite-strength): the
    // best fixed thresholds of each clip grow in proportion to the grain.
    // Without dots the dot pass still takes out some grain, worth its cost
    // from grain of about 6 code values up.
    constexpr float kDotPassGrain = 6.0f;
    // Where nearly everything moves (a zoom, a fast pan), averaging in time
    // and the dot pass both take away more detail than dots and grain.
    constexpr float kMoving = 0.85f;
    StrengthChoice c;
    if (m.dotShare > kDotShare && m.motionShare > kMoving) {
        c.dot = false;
        c.threshold[0] = clampThreshold(m.luma);
        c.threshold[1] = clampThreshold(3.0f * m.luma);
    } else if (m.dotShare > kDotShare && m.dotFourFrame > 0.5f) {
        // PAL's dots: their neighbours in time carry them a quarter cycle
        // on, not inverted. The dot pass takes much of them out, and the
        // luma high band averages all its neighbours in time: what is left
        // there is mostly dots and the decoder's cross-luminance.
        c.dot = true;
        c.threshold[0] = clampThreshold(3.0f * m.luma + 3.0f);
        c.threshold[1] = kWideThresholdMax;
    } else if (m.dotShare > kDotShare) {
        // NTSC's dots are left to the averaging of the luma high band, whose
        // neighbours in time carry them inverted: the wider the picture they
        // cover, the more a threshold wide enough to take those neighbours
        // in gains over what it blurs.
        // On composite video of pictures panned a pixel or more a field, the
        // widest threshold did best: the moving share of the picture takes
        // the least from 40 (a tenth of it moving) to 60 (two fifths).
        c.dot = true;
        c.threshold[0] = clampThreshold(3.0f * m.luma + 3.0f);
        const float wide = 31.0f + 40.0f * (m.dotShare - 0.24f) + 1.75f * m.luma;
        float ramp = (m.motionShare - 0.1f) / 0.3f;
        ramp = ramp < 0 ? 0 : ramp > 1 ? 1 : ramp;
        const float least = 40.0f + 20.0f * ramp;
        c.threshold[1] = clampThreshold((wide > least ? wide : least));
    } else {
        c.dot = m.luma >= kDotPassGrain;
        c.threshold[0] = clampThreshold(3.5f * m.luma);
        c.threshold[1] = clampThreshold(4.5f * m.luma);
        // After the averaging along the motion and the smoothing within the
        // field, the thresholds that did best on moving pictures with grain
        // of 3.5 to 10 code values were close to the grain itself: wider
        // ones blurred more detail than they removed noise.
        c.alongMotion[0] = c.alongMotion[1] = clampThreshold(m.luma);
        c.alongMotion[2] = c.alongMotion[3] = clampThreshold(m.chroma);
        if (m.luma < kCleanGrain)
            c.threshold[0] = c.threshold[1] = c.alongMotion[0] = c.alongMotion[1] = 0;
    }
    c.threshold[2] = clampThreshold(4.5f * m.chroma);
    c.threshold[3] = clampThreshold(6.0f * m.chroma);
    // Locally, where the picture moves and carries no pattern that inverts
    // from frame to frame, the luma thresholds of a picture without dots: the
    // wide ones that cancel dots only blur there. A part moves where its low
    // band changed by more than two code values and one and a half times the
    // grain.
    const int32_t low = clampThreshold(3.5f * m.luma), high = clampThreshold(4.5f * m.luma);
    c.moving[0] = low < c.threshold[0] ? low : c.threshold[0];
    c.moving[1] = high < c.threshold[1] ? high : c.threshold[1];
    if (c.moving[0] != c.threshold[0] || c.moving[1] != c.threshold[1])
        c.movingBound = (int32_t)lrintf(8.0f * (2.0f + 1.5f * m.luma)); // the bands' scale: 8 a code value
    // Averaging along the motion gains most where the picture moves; a
    // picture with less grain than a code value has little to gain and a
    // little detail to lose (docs/velvane-command.md).
    c.motionRadius = level.luma >= kMotionGrain ? kAutoMotionRadius : 0;
    return c;
}

} // namespace velvane
