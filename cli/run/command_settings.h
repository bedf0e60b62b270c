// The filter's settings as the command has them: the library's description
// of its settings (velvane_setting_info) seen as options, what the user set,
// and the settings a run uses.
#ifndef VELVANE_CLI_RUN_COMMAND_SETTINGS_H
#define VELVANE_CLI_RUN_COMMAND_SETTINGS_H

#include <stdint.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "velvane/filter.h"
#include "velvane/velvane.h"
#include "y4m/y4m.h"

namespace velvane {

// What the user set; unset values take the descriptor's defaults, or with a
// strength (a VelvaneStrength), the strength's choice.
struct FilterSettings {
    std::optional<int32_t> track[VV_TRACK_COUNT];
    std::optional<int32_t> check[VV_CHECK_COUNT];
    std::optional<int> strength;
    // --moving: luma thresholds where the picture moves, and the change that
    // counts as motion in eighths of a code value (VelvaneSettings' fields).
    std::optional<std::array<int32_t, 3>> moving;
    // The native library's settings the command has no form of its own for,
    // each given by the option its description names: by the index of the
    // description (velvane_setting_info), the value.
    std::map<int, int32_t> library;
};

// The thresholds (the first four track bars) go beyond the plug-in's range in
// the native library, and a strength chooses them.
constexpr int kThresholdCount = 4;

const char *trackOptionName(int i); // "--luma-low", ...
// "--dot", "--411", "--no-prev", "--borders", "--ccir-black"; checkOffOptionName the opposite.
const char *checkOptionName(int i);
const char *checkOffOptionName(int i);
// The library's description of the setting of track bar or check box i.
const VelvaneSettingInfo &trackInfo(int i);
const VelvaneSettingInfo &checkInfo(int i);
// The description of the strength, and the name of a choice's value ("auto").
const VelvaneSettingInfo &strengthInfo();
std::string choiceName(const VelvaneSettingInfo &info, int value);
// What each setting does, in English, for --help.
const char *trackMeaning(int i);
const char *checkMeaning(int i);

// The field of `s` that `info` (velvane_setting_info's) describes.
inline int &settingField(VelvaneSettings &s, const VelvaneSettingInfo &info)
{
    return *reinterpret_cast<int *>(reinterpret_cast<char *>(&s) + info.offset);
}
// " --NAME VALUE" for each of s.library, or empty.
std::string librarySettingsOptions(const FilterSettings &s);
// Sets the fields of `settings` that `values` (FilterSettings::library) give.
void applyLibrarySettings(const std::map<int, int32_t> &values, VelvaneSettings *settings);
// The library's default settings with these in the host's array order.
VelvaneSettings librarySettings(const int32_t *track, const int32_t *check);

// A descriptor text (Shift-JIS) in UTF-8, for the terminal.
std::string labelUtf8(const char *shiftJis);

// Throws CliError naming the option and its range when a value lies outside
// the descriptor's range; for the native library (not `plugin`), thresholds
// may go up to the library's VELVANE_THRESHOLD_MAX.
void validateSettings(const FilterDescriptor &fd, const FilterSettings &s, bool plugin = true);
// The values a run uses: the descriptor's defaults, except that 4:1:1
// interpolation is on only for 4:1:1 input, then what the user set. With a
// strength, the thresholds and the dot pass the user did not set are
// VELVANE_FROM_STRENGTH.
void resolveSettings(const FilterDescriptor &fd, const FilterSettings &s, Chroma inputChroma, int32_t *track,
                     int32_t *check);
// The thresholds where the picture moves a run uses: as given; else, with a
// strength, VELVANE_FROM_STRENGTH; else off (all 0).
void resolveMoving(const FilterSettings &s, int32_t *moving);
// "--moving 2,3,2.875" (the change in code values), or empty where the
// settings leave it to the strength or a frame has one set of thresholds.
std::string movingOption(const int32_t *moving, int strength);

// The command's view of the library's description of its settings: an
// option for each setting the plug-in keeps (by its place in the plug-in's
// arrays), and the others by name.
struct NamedValue {
    std::string name;
    int value;
};

struct CommandSettings {
    VelvaneSettingInfo track[VV_TRACK_COUNT] = {}, check[VV_CHECK_COUNT] = {};
    std::string trackName[VV_TRACK_COUNT], checkOn[VV_CHECK_COUNT], checkOff[VV_CHECK_COUNT];
    std::string checkHelp[VV_CHECK_COUNT];
    VelvaneSettingInfo strength = {}, show = {}, moving[3] = {};
    // A choice's names but its default's: what the default does needs no option.
    std::vector<NamedValue> strengths, shows;
    // The settings the command has no form of its own for: each an option
    // of the name, range and help the library gives it. A setting the
    // library gains is one of these, unless the command gives it a form.
    std::vector<int> others;
    std::vector<VelvaneSettingInfo> otherInfo;
};


const CommandSettings &commandSettings();

// The largest value of track bar i: the descriptor's, or for the native
// library (not `plugin`) the library's where it takes more (the thresholds).
int32_t trackMaximum(const FilterDescriptor &fd, int i, bool plugin);
// "0 to 60"
std::string rangeText(const FilterDescriptor &fd, int i, bool plugin = false);
// "LOW,HIGH,CHANGE" of --moving into the three settings where the picture
// moves (the change in code values, kept in steps of its scale); false when
// it is not that or out of their ranges.
bool parseMoving(const std::string &text, std::array<int32_t, 3> *out);
// "LOW,HIGH,CHANGE: two thresholds 0 to 60 and a change of 0 to 60 code values"
std::string movingRanges();

} // namespace velvane

#endif
