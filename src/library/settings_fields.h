// The fields of VelvaneSettings in the order of the host's settings arrays,
// with the names the API gives them: taken from the settings' rows.
#ifndef VELVANE_LIBRARY_SETTINGS_FIELDS_H
#define VELVANE_LIBRARY_SETTINGS_FIELDS_H

#include <array>

#include "library/settings_table.h"
#include "velvane/filter.h"
#include "velvane/velvane.h"

namespace velvane {

struct SettingsField {
    int VelvaneSettings::*member;
    const char *name;
};

// The rows the host keeps in its track-bar (track) or check-box values, by
// their index there.
template <size_t N> constexpr std::array<SettingsField, N> hostFields(bool track)
{
    std::array<SettingsField, N> fields = {};
    for (const SettingRow &r : kSettingRows) {
        const int i = track ? r.track : r.check;
        if (i >= 0)
            fields[(size_t)i] = {r.member, r.name};
    }
    return fields;
}

inline constexpr std::array<SettingsField, VV_TRACK_COUNT> kTrackFields = hostFields<VV_TRACK_COUNT>(true);
inline constexpr std::array<SettingsField, VV_CHECK_COUNT> kCheckFields = hostFields<VV_CHECK_COUNT>(false);

// Settings from values in the host's array order; the fields the host does
// not keep are 0.
inline VelvaneSettings velvaneSettingsFromArrays(const int32_t *track, const int32_t *check)
{
    VelvaneSettings s = {};
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        s.*kTrackFields[(size_t)i].member = track[i];
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        s.*kCheckFields[(size_t)i].member = check[i];
    return s;
}

// The frame settings of fully resolved settings (no VELVANE_FROM_STRENGTH),
// and back.
FrameSettings frameSettings(const VelvaneSettings &s);
VelvaneSettings velvaneSettings(const FrameSettings &f);

// What a strength's choice sets, in the fields it sets; the others are 0.
VelvaneSettings strengthChoiceSettings(const StrengthChoice &c);

} // namespace velvane

#endif
