#ifndef VELVANE_HOST_ENTRY_POINTS_H
#define VELVANE_HOST_ENTRY_POINTS_H

#include "velvane/filter.h"

namespace velvane {

// The five entry points the descriptor hands to the host.
int32_t VV_CDECL processFrame(FilterDescriptor *fd, FrameJob *job);
int32_t VV_CDECL initFilter(FilterDescriptor *fd);
int32_t VV_CDECL exitFilter(FilterDescriptor *fd);
int32_t VV_CDECL updateFilter(FilterDescriptor *fd);
int32_t VV_CDECL settingsWindowProc(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam, void *fifth,
                                    FilterDescriptor *fd);

// Settings as the host keeps them: a check box is on only when exactly 1.
inline bool checkOn(const int32_t *checkValues, int i) { return checkValues[i] == 1; }

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

} // namespace velvane

#endif
