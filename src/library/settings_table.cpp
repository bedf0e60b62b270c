// The C API's description of the settings, and the settings between the
// API's fields, the host's arrays and a strength's choice.
#include <string.h>

#include "library/settings_fields.h"
#include "library/settings_table.h"

namespace velvane {
namespace {

// Every field of VelvaneSettings has its row, in the order of the fields.
constexpr bool rowsFollowTheFields()
{
    for (int i = 1; i < kSettingCount; i++)
        if (kSettingRows[i].offset != kSettingRows[i - 1].offset + sizeof(int))
            return false;
    return kSettingRows[0].offset == 0 &&
           kSettingRows[kSettingCount - 1].offset + sizeof(int) == offsetof(VelvaneSettings, reserved);
}
static_assert(rowsFollowTheFields(), "one row per field of VelvaneSettings, in their order");

} // namespace

const SettingRow *settingRow(int VelvaneSettings::*member)
{
    for (const SettingRow &r : kSettingRows)
        if (r.member == member)
            return &r;
    return nullptr;
}

FrameSettings frameSettings(const VelvaneSettings &s)
{
    int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        track[i] = s.*kTrackFields[(size_t)i].member;
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        check[i] = s.*kCheckFields[(size_t)i].member;
    FrameSettings f = settingsFromArrays(track, check);
    f.moving.lumaLow = s.moving_luma_low;
    f.moving.lumaHigh = s.moving_luma_high;
    f.moving.bound = s.moving_change;
    return f;
}

VelvaneSettings velvaneSettings(const FrameSettings &f)
{
    const int32_t track[VV_TRACK_COUNT] = {f.lumaLow,    f.lumaHigh,     f.chromaLow,  f.chromaHigh, f.gainY,
                                           f.gainCb,     f.gainCr,       f.offsetY,    f.hue,        f.balance,
                                           f.borderTop,  f.borderBottom, f.borderLeft, f.borderRight};
    const int32_t check[VV_CHECK_COUNT] = {f.dot, f.chroma411, f.noPrevious, f.borders, f.ccirBlack};
    VelvaneSettings s = velvaneSettingsFromArrays(track, check);
    s.moving_luma_low = f.moving.lumaLow;
    s.moving_luma_high = f.moving.lumaHigh;
    s.moving_change = f.moving.bound;
    return s;
}

VelvaneSettings strengthChoiceSettings(const StrengthChoice &c)
{
    VelvaneSettings s = {};
    s.luma_low = c.threshold[0];
    s.luma_high = c.threshold[1];
    s.chroma_low = c.threshold[2];
    s.chroma_high = c.threshold[3];
    s.dot_removal = c.dot ? 1 : 0;
    s.moving_luma_low = c.moving[0];
    s.moving_luma_high = c.moving[1];
    s.moving_change = c.movingBound;
    s.mc_radius = c.motionRadius;
    return s;
}

} // namespace velvane

using namespace velvane;

extern "C" {

int velvane_setting_count(void) { return kSettingCount; }

int velvane_setting_info(int index, VelvaneSettingInfo *info)
{
    if (index < 0 || index >= kSettingCount || !info)
        return VELVANE_EINVAL;
    const SettingRow &r = kSettingRows[index];
    memset(info, 0, sizeof *info);
    info->name = r.name;
    info->option = r.option;
    info->off_option = r.offOption;
    info->help = r.help;
    info->off_help = r.offHelp;
    info->unit = r.unit;
    info->choices = r.choices;
    info->kind = r.kind;
    info->min = r.min;
    info->max = r.max;
    info->default_value = r.defaultValue;
    info->from_strength = r.fromStrength ? 1 : 0;
    info->plugin_track = r.track;
    info->plugin_check = r.check;
    info->plugin_max = r.pluginMax;
    info->scale = r.scale;
    info->offset = r.offset;
    return VELVANE_OK;
}

int velvane_setting_find(const char *name)
{
    if (!name)
        return -1;
    for (int i = 0; i < kSettingCount; i++) {
        const SettingRow &r = kSettingRows[i];
        if (strcmp(name, r.name) == 0 || strcmp(name, r.option) == 0 || (r.offOption && strcmp(name, r.offOption) == 0))
            return i;
    }
    return -1;
}

int velvane_strength_settings(int strength, VelvaneSettings *settings)
{
    if (!settings || (strength != VELVANE_STRENGTH_LIGHT && strength != VELVANE_STRENGTH_MEDIUM &&
                      strength != VELVANE_STRENGTH_STRONG))
        return VELVANE_EINVAL;
    const VelvaneSettings chosen = strengthChoiceSettings(presetStrength(static_cast<Strength>(strength)));
    for (const SettingRow &r : kSettingRows)
        if (r.fromStrength && settings->*r.member == VELVANE_FROM_STRENGTH)
            settings->*r.member = chosen.*r.member;
    return VELVANE_OK;
}

} // extern "C"
