// The filter's settings as the command has them: the library's description
// of its settings seen as options, and the settings a run uses.
#include "run/command_settings.h"

#include <iconv.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace velvane {

namespace {

// The names a choice takes, its default's among them (the command's strength
// defaults to another than the library's, whose default is then a choice).
std::vector<NamedValue> offered(const VelvaneSettingInfo &info)
{
    std::vector<NamedValue> names;
    const std::string all = info.choices;
    size_t at = 0;
    for (int k = 0; at <= all.size(); k++) {
        const size_t comma = std::min(all.find(',', at), all.size());
        names.push_back({all.substr(at, comma - at), k});
        at = comma + 1;
    }
    return names;
}

CommandSettings describeSettings()
{
    CommandSettings d;
    const int count = velvane_setting_count();
    for (int i = 0; i < count; i++) {
        VelvaneSettingInfo info;
        velvane_setting_info(i, &info);
        const std::string name = info.name;
        if (info.plugin_track >= 0) {
            d.track[info.plugin_track] = info;
            d.trackName[info.plugin_track] = std::string("--") + info.option;
        } else if (info.plugin_check >= 0) {
            const int c = info.plugin_check;
            d.check[c] = info;
            d.checkOn[c] = std::string("--") + info.option;
            d.checkOff[c] = std::string("--") + info.off_option;
            d.checkHelp[c] = info.help;
            // The interpolation turns any chroma into 4:1:1-like steps; the
            // command turns it on for material that really is 4:1:1.
            if (name == "interpolate_411")
                d.checkHelp[c] += "; unless given, on for C411 input and off for every other chroma format";
        } else if (name == "strength") {
            d.strength = info;
            d.strengths = offered(info);
        } else if (name == "show") {
            d.show = info;
            d.shows = offered(info);
        } else if (name == "moving_luma_low" || name == "moving_luma_high" || name == "moving_change") {
            d.moving[name == "moving_luma_low" ? 0 : name == "moving_luma_high" ? 1 : 2] = info;
        } else {
            d.others.push_back(i);
            d.otherInfo.push_back(info);
        }
    }
    return d;
}

} // namespace

const CommandSettings &commandSettings()
{
    static const CommandSettings d = describeSettings();
    return d;
}

// The native library takes wider values than a plug-in's descriptor says
// where its description says so (the thresholds).
int32_t trackMaximum(const FilterDescriptor &fd, int i, bool plugin)
{
    const VelvaneSettingInfo &info = commandSettings().track[i];
    return !plugin && info.max > info.plugin_max ? info.max : fd.trackMaxima[i];
}

std::string rangeText(const FilterDescriptor &fd, int i, bool plugin)
{
    return std::to_string(fd.trackMinima[i]) + " to " + std::to_string(trackMaximum(fd, i, plugin));
}

const char *trackOptionName(int i) { return commandSettings().trackName[i].c_str(); }
const char *checkOptionName(int i) { return commandSettings().checkOn[i].c_str(); }
const char *checkOffOptionName(int i) { return commandSettings().checkOff[i].c_str(); }
const VelvaneSettingInfo &trackInfo(int i) { return commandSettings().track[i]; }
const VelvaneSettingInfo &checkInfo(int i) { return commandSettings().check[i]; }
const VelvaneSettingInfo &strengthInfo() { return commandSettings().strength; }

std::string librarySettingsOptions(const FilterSettings &s)
{
    std::string text;
    for (const auto &v : s.library) {
        VelvaneSettingInfo info;
        velvane_setting_info(v.first, &info);
        text += std::string(" --") + info.option + " " + std::to_string(v.second);
    }
    return text;
}

void applyLibrarySettings(const std::map<int, int32_t> &values, VelvaneSettings *settings)
{
    for (const auto &v : values) {
        VelvaneSettingInfo info;
        if (velvane_setting_info(v.first, &info) == VELVANE_OK)
            settingField(*settings, info) = v.second;
    }
}

std::string choiceName(const VelvaneSettingInfo &info, int value)
{
    const std::string all = info.choices ? info.choices : "";
    size_t at = 0;
    for (int k = 0; k < value && at != std::string::npos; k++)
        at = all.find(',', at) == std::string::npos ? std::string::npos : all.find(',', at) + 1;
    return at == std::string::npos ? std::to_string(value) : all.substr(at, all.find(',', at) - at);
}

const char *trackMeaning(int i) { return commandSettings().track[i].help; }
const char *checkMeaning(int i) { return commandSettings().checkHelp[i].c_str(); }

VelvaneSettings librarySettings(const int32_t *track, const int32_t *check)
{
    VelvaneSettings s;
    velvane_default_settings(&s);
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        settingField(s, commandSettings().track[i]) = track[i];
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        settingField(s, commandSettings().check[i]) = check[i];
    return s;
}

std::string labelUtf8(const char *shiftJis)
{
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == (iconv_t)-1)
        cd = iconv_open("UTF-8", "SHIFT_JIS");
    if (cd == (iconv_t)-1)
        return shiftJis;
    std::string in = shiftJis;
    std::string out(in.size() * 4 + 4, '\0');
    char *ip = &in[0], *op = &out[0];
    size_t il = in.size(), ol = out.size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == (size_t)-1)
        return shiftJis;
    out.resize(out.size() - ol);
    return out;
}

void validateSettings(const FilterDescriptor &fd, const FilterSettings &s, bool plugin)
{
    for (int i = 0; i < VV_TRACK_COUNT; i++) {
        if (!s.track[i])
            continue;
        const int32_t v = *s.track[i];
        if (v < fd.trackMinima[i] || v > trackMaximum(fd, i, plugin))
            throw CliError(std::string(trackOptionName(i)) + ": " + std::to_string(v) + " is out of range; " +
                           labelUtf8(fd.trackNames[i]) + " takes " + rangeText(fd, i, plugin) +
                           (plugin && trackMaximum(fd, i, false) != fd.trackMaxima[i] ? " in a plug-in build" : ""));
    }
}

void resolveSettings(const FilterDescriptor &fd, const FilterSettings &s, Chroma inputChroma, int32_t *track,
                     int32_t *check)
{
    for (int i = 0; i < VV_TRACK_COUNT; i++)
        track[i] = s.track[i] ? *s.track[i] : fd.trackDefaults[i];
    for (int i = 0; i < VV_CHECK_COUNT; i++)
        check[i] = s.check[i] ? *s.check[i] : fd.checkDefaults[i];
    // The interpolation turns any chroma into 4:1:1-like steps; it is only
    // right for material that really is 4:1:1.
    if (!s.check[1])
        check[1] = inputChroma == Chroma::C411 ? 1 : 0;
    if (s.strength && *s.strength != VELVANE_STRENGTH_CUSTOM) {
        for (int i = 0; i < VV_TRACK_COUNT; i++)
            if (!s.track[i] && commandSettings().track[i].from_strength)
                track[i] = VELVANE_FROM_STRENGTH;
        for (int i = 0; i < VV_CHECK_COUNT; i++)
            if (!s.check[i] && commandSettings().check[i].from_strength)
                check[i] = VELVANE_FROM_STRENGTH;
    }
}

void resolveMoving(const FilterSettings &s, int32_t *moving)
{
    const bool strength = s.strength && *s.strength != VELVANE_STRENGTH_CUSTOM;
    for (int i = 0; i < 3; i++)
        moving[i] = s.moving ? (*s.moving)[i] : strength ? VELVANE_FROM_STRENGTH : 0;
}

std::string movingOption(const int32_t *moving, int strength)
{
    if (moving[2] == VELVANE_FROM_STRENGTH || (moving[2] == 0 && strength == VELVANE_STRENGTH_CUSTOM))
        return std::string();
    char text[64];
    snprintf(text, sizeof text, "--moving %d,%d,%g", (int)moving[0], (int)moving[1],
             moving[2] / (double)commandSettings().moving[2].scale);
    return text;
}

// "LOW,HIGH,CHANGE" of --moving: the three settings where the picture
// moves, the change in the unit of its description (code values, in steps of
// its scale).
bool parseMoving(const std::string &text, std::array<int32_t, 3> *out)
{
    int low, high, used = 0;
    double change;
    if (sscanf(text.c_str(), "%d,%d,%lf%n", &low, &high, &change, &used) != 3 || used != (int)text.size())
        return false;
    const VelvaneSettingInfo *m = commandSettings().moving;
    const double scale = m[2].scale;
    if (low < m[0].min || low > m[0].max || high < m[1].min || high > m[1].max || !(change * scale >= m[2].min) ||
        change * scale > m[2].max)
        return false;
    *out = {low, high, (int32_t)lrint(change * scale)};
    return true;
}

// "LOW,HIGH,CHANGE: two thresholds 0 to 60 and a change of 0 to 60 code values"
std::string movingRanges()
{
    const VelvaneSettingInfo *m = commandSettings().moving;
    char text[160];
    snprintf(text, sizeof text, "LOW,HIGH,CHANGE: two thresholds %d to %d and a change of %g to %g code values",
             m[0].min, m[0].max, m[2].min / (double)m[2].scale, m[2].max / (double)m[2].scale);
    return text;
}

} // namespace velvane
