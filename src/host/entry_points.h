#ifndef VELVANE_HOST_ENTRY_POINTS_H
#define VELVANE_HOST_ENTRY_POINTS_H

#include "pipeline/settings.h"
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

} // namespace velvane

#endif
