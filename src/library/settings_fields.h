// The fields of VelvaneSettings in the order of the host's settings arrays,
// with the names the API gives them.
#ifndef VELVANE_LIBRARY_SETTINGS_FIELDS_H
#define VELVANE_LIBRARY_SETTINGS_FIELDS_H

#include "velvane/filter.h"
#include "velvane/velvane.h"

namespace velvane {

struct SettingsField {
    int VelvaneSettings::*member;
    const char *name;
};

inline constexpr SettingsField kTrackFields[VV_TRACK_COUNT] = {
    {&VelvaneSettings::luma_low, "luma_low"},       {&VelvaneSettings::luma_high, "luma_high"},
    {&VelvaneSettings::chroma_low, "chroma_low"},   {&VelvaneSettings::chroma_high, "chroma_high"},
    {&VelvaneSettings::gain_y, "gain_y"},           {&VelvaneSettings::gain_cb, "gain_cb"},
    {&VelvaneSettings::gain_cr, "gain_cr"},         {&VelvaneSettings::offset_y, "offset_y"},
    {&VelvaneSettings::hue, "hue"},                 {&VelvaneSettings::balance, "balance"},
    {&VelvaneSettings::border_top, "border_top"},   {&VelvaneSettings::border_bottom, "border_bottom"},
    {&VelvaneSettings::border_left, "border_left"}, {&VelvaneSettings::border_right, "border_right"},
};

inline constexpr SettingsField kCheckFields[VV_CHECK_COUNT] = {
    {&VelvaneSettings::dot_removal, "dot_removal"},     {&VelvaneSettings::interpolate_411, "interpolate_411"},
    {&VelvaneSettings::skip_previous, "skip_previous"}, {&VelvaneSettings::draw_borders, "draw_borders"},
    {&VelvaneSettings::ccir_black, "ccir_black"},
};

// Settings from values in the host's array order.
inline VelvaneSettings velvaneSettingsFromArrays(const int32_t *track, const int32_t *check)
{
    VelvaneSettings s = {};
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        s.*kTrackFields[i].member = track[i];
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        s.*kCheckFields[i].member = check[i];
    return s;
}

} // namespace velvane

#endif
