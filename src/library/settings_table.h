// The library's settings, described once: one row per field of
// VelvaneSettings. The checks, the defaults, what a strength chooses, the
// host's arrays and the C API's description (velvane_setting_info) all come
// from these rows; a new setting is one more row.
#ifndef VELVANE_LIBRARY_SETTINGS_TABLE_H
#define VELVANE_LIBRARY_SETTINGS_TABLE_H

#include <stddef.h>

#include "pipeline/settings.h"
#include "pipeline/strength.h"
#include "motion/motion.h"
#include "velvane/filter.h"
#include "velvane/velvane.h"

namespace velvane {

struct SettingRow {
    int VelvaneSettings::*member;
    size_t offset;
    const char *name, *option, *offOption;
    const char *help, *offHelp, *unit, *choices;
    int kind, min, max, defaultValue;
    bool fromStrength; // a strength may choose it
    int track, check;  // where the plug-in's host keeps it, -1 nowhere
    int pluginMax;
    int scale;
};

// The change that counts as motion, in eighths of a code value: 60 code values.
constexpr int kMovingChangeMax = 480;
constexpr int kMovingChangeScale = 8;

namespace settings_rows {

constexpr SettingRow threshold(int VelvaneSettings::*m, size_t offset, const char *name, const char *option,
                               const char *help, const char *unit, int track)
{
    return {m,     offset, name, option, nullptr, help, nullptr, unit, nullptr, VELVANE_SETTING_NUMBER,
            kTrackMinima[track], kWideThresholdMax, kTrackDefaults[track], true, track, -1, kTrackMaxima[track], 1};
}
constexpr SettingRow track(int VelvaneSettings::*m, size_t offset, const char *name, const char *option,
                           const char *help, const char *unit, int track)
{
    return {m,     offset, name, option, nullptr, help, nullptr, unit, nullptr, VELVANE_SETTING_NUMBER,
            kTrackMinima[track], kTrackMaxima[track], kTrackDefaults[track], false, track, -1, kTrackMaxima[track], 1};
}
constexpr SettingRow check(int VelvaneSettings::*m, size_t offset, const char *name, const char *on,
                           const char *off, const char *help, const char *offHelp, int defaultValue, int check,
                           bool fromStrength = false)
{
    return {m, offset, name, on, off, help, offHelp, "", nullptr, VELVANE_SETTING_SWITCH, 0, 1, defaultValue,
            fromStrength, -1, check, 1, 1};
}

} // namespace settings_rows

#define VELVANE_FIELD(f) &VelvaneSettings::f, offsetof(VelvaneSettings, f), #f

inline constexpr SettingRow kSettingRows[] = {
    settings_rows::threshold(VELVANE_FIELD(luma_low), "luma-low",
                             "luma threshold, low band: a step is half a code value of 8-bit video, 2 of 10-bit",
                             "half an 8-bit code value", TRACK_LUMA_LOW),
    settings_rows::threshold(VELVANE_FIELD(luma_high), "luma-high",
                             "luma threshold, high band: a step is one code value of 8-bit video, 4 of 10-bit",
                             "an 8-bit code value", TRACK_LUMA_HIGH),
    settings_rows::threshold(VELVANE_FIELD(chroma_low), "chroma-low",
                             "chroma threshold, low band: a step is half a code value of 8-bit video, 2 of 10-bit",
                             "half an 8-bit code value", TRACK_CHROMA_LOW),
    settings_rows::threshold(VELVANE_FIELD(chroma_high), "chroma-high",
                             "chroma threshold, high band: a step is half a code value of 8-bit video, 2 of 10-bit",
                             "half an 8-bit code value", TRACK_CHROMA_HIGH),
    settings_rows::track(VELVANE_FIELD(gain_y), "gain-y", "luma gain: luma x (256 + N) / 256", "1/256",
                         TRACK_GAIN_Y),
    settings_rows::track(VELVANE_FIELD(gain_cb), "gain-cb", "Cb gain: Cb x (256 + N) / 256", "1/256",
                         TRACK_GAIN_CB),
    settings_rows::track(VELVANE_FIELD(gain_cr), "gain-cr", "Cr gain: Cr x (256 + N) / 256", "1/256",
                         TRACK_GAIN_CR),
    settings_rows::track(VELVANE_FIELD(offset_y), "offset-y", "luma offset, a quarter of an 8-bit code a step",
                         "a quarter of an 8-bit code value", TRACK_OFFSET_Y),
    settings_rows::track(VELVANE_FIELD(hue), "hue", "hue rotation by N / 180 radians", "1/180 radian", TRACK_HUE),
    settings_rows::track(VELVANE_FIELD(balance), "balance", "colour balance: positive drives Cb and Cr apart", "",
                         TRACK_BALANCE),
    settings_rows::track(VELVANE_FIELD(border_top), "border-top", "black border at the top, rows (with --borders)",
                         "a row", TRACK_BORDER_TOP),
    settings_rows::track(VELVANE_FIELD(border_bottom), "border-bottom",
                         "black border at the bottom, rows (with --borders)", "a row", TRACK_BORDER_BOTTOM),
    settings_rows::track(VELVANE_FIELD(border_left), "border-left",
                         "black border at the left, pixels (with --borders)", "a pixel", TRACK_BORDER_LEFT),
    settings_rows::track(VELVANE_FIELD(border_right), "border-right",
                         "black border at the right, pixels (with --borders)", "a pixel", TRACK_BORDER_RIGHT),
    settings_rows::check(VELVANE_FIELD(dot_removal), "dot", "no-dot",
                         "reduce dot interference (a fine pattern inverting every frame)",
                         "leave dot interference alone", kCheckDefaults[CHECK_DOT], CHECK_DOT, true),
    // Frames in a library's hands are 4:2:2; the plug-in's host delivers 4:1:1 material.
    settings_rows::check(VELVANE_FIELD(interpolate_411), "411", "no-411", "rebuild 4:2:2 chroma from 4:1:1 material",
                         "no 4:1:1 interpolation", 0, CHECK_411),
    settings_rows::check(VELVANE_FIELD(skip_previous), "no-prev", "prev",
                         "leave the previous frame out of the averaging", "average with the previous frame too",
                         kCheckDefaults[CHECK_NO_PREVIOUS], CHECK_NO_PREVIOUS),
    settings_rows::check(VELVANE_FIELD(draw_borders), "borders", "no-borders",
                         "draw black borders of the --border-* widths", "no black borders",
                         kCheckDefaults[CHECK_BORDERS], CHECK_BORDERS),
    settings_rows::check(VELVANE_FIELD(ccir_black), "ccir-black", "full-black", "borders at CCIR 601 black (Y 16)",
                         "borders at full-range black (Y 0)", kCheckDefaults[CHECK_CCIR_BLACK], CHECK_CCIR_BLACK),
    {VELVANE_FIELD(strength), "strength", nullptr,
     "choose the four thresholds by name: light, medium (the plug-in's defaults) or strong; or auto, from the noise "
     "measured in the first frames and again after each scene change (auto also runs the dot pass only where it "
     "finds dots or heavy grain); a threshold option or --dot/--no-dot given beside it wins",
     nullptr, "", "custom,light,medium,strong,auto", VELVANE_SETTING_CHOICE, VELVANE_STRENGTH_CUSTOM,
     VELVANE_STRENGTH_AUTO, VELVANE_STRENGTH_CUSTOM, false, -1, -1, VELVANE_STRENGTH_AUTO, 1},
    {VELVANE_FIELD(show), "show", nullptr,
     "write what the filter takes out instead of the filtered video: four times input minus output around "
     "mid-grey, per plane (removed), or the same for the dot pass alone (dots)",
     nullptr, "", "output,removed,dots", VELVANE_SETTING_CHOICE, VELVANE_SHOW_OUTPUT, VELVANE_SHOW_DOTS,
     VELVANE_SHOW_OUTPUT, false, -1, -1, VELVANE_SHOW_DOTS, 1},
    {VELVANE_FIELD(moving_luma_low), "moving-luma-low", nullptr,
     "luma threshold, low band, where the picture moves (see --moving-change); never wider than --luma-low",
     nullptr, "half an 8-bit code value", nullptr, VELVANE_SETTING_NUMBER, 0, kWideThresholdMax, 0, true, -1, -1,
     kWideThresholdMax, 1},
    {VELVANE_FIELD(moving_luma_high), "moving-luma-high", nullptr,
     "luma threshold, high band, where the picture moves (see --moving-change); never wider than --luma-high",
     nullptr, "an 8-bit code value", nullptr, VELVANE_SETTING_NUMBER, 0, kWideThresholdMax, 0, true, -1, -1,
     kWideThresholdMax, 1},
    {VELVANE_FIELD(moving_change), "moving-change", nullptr,
     "the mean change on to the next frame above which a part of a frame that carries no pattern inverting from "
     "frame to frame, as dots do, counts as moving and takes the --moving-luma-* thresholds; 0 is off",
     nullptr, "an 8-bit code value", nullptr, VELVANE_SETTING_NUMBER, 0, kMovingChangeMax, 0, true, -1, -1,
     kMovingChangeMax, kMovingChangeScale},
    {VELVANE_FIELD(mc_radius), "mc-radius", nullptr,
     "average each frame with the frames up to N before and after it, each moved along the picture's motion "
     "(matched field by field, to half a pixel) and taken only where it matches, then smooth what noise is left "
     "within each field; runs after the dot pass and before the thresholds' averaging; 0 is off; --strength auto "
     "takes 2 on grain of a code value or more unless it is given, the named strengths 0",
     nullptr, "a frame", nullptr, VELVANE_SETTING_NUMBER, 0, kMotionRadiusMax, 0, true, -1, -1, kMotionRadiusMax, 1},
    {VELVANE_FIELD(mc_strength), "mc-strength", nullptr,
     "how far a moved neighbour may differ and still be averaged in, and how far the smoothing after it reaches, "
     "in percent of what the measured noise gives; 0 is the default, 100",
     nullptr, "a percent", nullptr, VELVANE_SETTING_NUMBER, 0, kMotionStrengthMax, 0, false, -1, -1,
     kMotionStrengthMax, 1},
};

#undef VELVANE_FIELD

constexpr int kSettingCount = (int)(sizeof kSettingRows / sizeof kSettingRows[0]);

// The row of a field, or null.
const SettingRow *settingRow(int VelvaneSettings::*member);

} // namespace velvane

#endif
