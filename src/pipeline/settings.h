#ifndef VELVANE_PIPELINE_SETTINGS_H
#define VELVANE_PIPELINE_SETTINGS_H

#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

// Where each setting sits in the host's arrays of track-bar and check-box values.
enum TrackIndex {
    TRACK_LUMA_LOW = 0,
    TRACK_LUMA_HIGH = 1,
    TRACK_CHROMA_LOW = 2,
    TRACK_CHROMA_HIGH = 3,
    TRACK_GAIN_Y = 4,
    TRACK_GAIN_CB = 5,
    TRACK_GAIN_CR = 6,
    TRACK_OFFSET_Y = 7,
    TRACK_HUE = 8,
    TRACK_BALANCE = 9,
    TRACK_BORDER_TOP = 10,
    TRACK_BORDER_BOTTOM = 11,
    TRACK_BORDER_LEFT = 12,
    TRACK_BORDER_RIGHT = 13
};

enum CheckIndex {
    CHECK_DOT = 0,
    CHECK_411 = 1,
    CHECK_NO_PREVIOUS = 2,
    CHECK_BORDERS = 3,
    CHECK_CCIR_BLACK = 4
};

// Defaults and ranges of the settings, in the host's array order: the
// plug-in's descriptor gives them to its host, and the native library's
// description of its settings starts from them.
//                                                   thresholds   gains Y Cb Cr  OfsY hue bal  borders t b l r
inline constexpr int32_t kTrackDefaults[VV_TRACK_COUNT] = {10, 10, 10, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
inline constexpr int32_t kTrackMinima[VV_TRACK_COUNT] = {0, 0, 0, 0, -50, -100, -100, -50, -30, -30, 0, 0, 0, 0};
inline constexpr int32_t kTrackMaxima[VV_TRACK_COUNT] = {20, 20, 20, 20, 50, 100, 100, 50, 30, 30, 100, 100, 50, 50};
inline constexpr int32_t kCheckDefaults[VV_CHECK_COUNT] = {1, 1, 0, 0, 1};

// The settings of one frame, decoded once from wherever they are kept and
// handed to every stage. Colour values lie within their ranges and the
// thresholds are at least 0; border widths are as given and clipped to the
// frame where they are used.
// Luma thresholds for where the picture moves: the parts of rows whose low
// band changed on to the next frame by more than `bound` (a mean per
// sample, band scale) take these instead of the frame's. Off while bound is 0,
// as the host's settings always leave it.
struct MovingThresholds {
    int32_t bound = 0;
    int32_t lumaLow = 0, lumaHigh = 0;
};

struct FrameSettings {
    int32_t lumaLow, lumaHigh, chromaLow, chromaHigh;
    int32_t gainY, gainCb, gainCr, offsetY, hue, balance;
    int32_t borderTop, borderBottom, borderLeft, borderRight;
    bool dot, chroma411, noPrevious, borders, ccirBlack;
    MovingThresholds moving;
};

// From arrays laid out as the host keeps them: a check box is on only when
// its value is exactly 1.
FrameSettings settingsFromArrays(const int32_t *trackValues, const int32_t *checkValues);

// The defaults of the tables above.
FrameSettings defaultFrameSettings();

} // namespace velvane

#endif
