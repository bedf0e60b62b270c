#include "pipeline/settings.h"

namespace velvane {

namespace {

// Colour settings outside their ranges would overflow the 32-bit
// intermediates of the colour stage; they count as the nearest end.
inline int32_t clampTrack(const int32_t *values, int i)
{
    const int32_t v = values[i];
    return v < kTrackMinima[i] ? kTrackMinima[i] : v > kTrackMaxima[i] ? kTrackMaxima[i] : v;
}

inline int32_t atLeastZero(int32_t v) { return v < 0 ? 0 : v; }

} // namespace

FrameSettings settingsFromArrays(const int32_t *track, const int32_t *check)
{
    FrameSettings s;
    s.lumaLow = atLeastZero(track[TRACK_LUMA_LOW]);
    s.lumaHigh = atLeastZero(track[TRACK_LUMA_HIGH]);
    s.chromaLow = atLeastZero(track[TRACK_CHROMA_LOW]);
    s.chromaHigh = atLeastZero(track[TRACK_CHROMA_HIGH]);
    s.gainY = clampTrack(track, TRACK_GAIN_Y);
    s.gainCb = clampTrack(track, TRACK_GAIN_CB);
    s.gainCr = clampTrack(track, TRACK_GAIN_CR);
    s.offsetY = clampTrack(track, TRACK_OFFSET_Y);
    s.hue = clampTrack(track, TRACK_HUE);
    s.balance = clampTrack(track, TRACK_BALANCE);
    s.borderTop = track[TRACK_BORDER_TOP];
    s.borderBottom = track[TRACK_BORDER_BOTTOM];
    s.borderLeft = track[TRACK_BORDER_LEFT];
    s.borderRight = track[TRACK_BORDER_RIGHT];
    s.dot = check[CHECK_DOT] == 1;
    s.chroma411 = check[CHECK_411] == 1;
    s.noPrevious = check[CHECK_NO_PREVIOUS] == 1;
    s.borders = check[CHECK_BORDERS] == 1;
    s.ccirBlack = check[CHECK_CCIR_BLACK] == 1;
    return s;
}

FrameSettings defaultFrameSettings() { return settingsFromArrays(kTrackDefaults, kCheckDefaults); }

} // namespace velvane
