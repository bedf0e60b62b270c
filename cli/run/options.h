// The command line: one long option per track bar and check box of the
// module's descriptor (labels, defaults and ranges come from the descriptor),
// the streams, and the demo.
#ifndef VELVANE_CLI_OPTIONS_H
#define VELVANE_CLI_OPTIONS_H

#include <stdint.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>
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

struct Snapshot {
    int64_t frame = -1; // none
    std::string path;
};

struct CommandLine {
    enum Action { Filter, Demo, Version, Exit } action = Filter;
    int exitCode = 0;        // for Exit: --help (0) or a usage error (nonzero)
    std::string message;     // for Exit: what to print (help on stdout, errors on stderr)
    std::string input, output;
    std::string demoDir = "velvane-demo";
    int demoFrames = 40;
    FilterSettings settings;
    std::optional<Chroma> outputChroma;
    std::optional<int> outputDepth;
    Snapshot snapshot;
    std::string report; // --report: the HTML page to write, empty for none
    int show = 0; // a VelvaneShow
    bool quiet = false;
    bool noProgress = false;
    bool verbose = false;
    bool keepPartial = false; // a run that breaks off keeps its whole frames
    // Media files (read and written through FFmpeg's libraries).
    int videoStream = 0;      // among the input's video streams
    char fieldOrder = 0;      // 't', 'b', 'p': overrides the input's; 0 keeps it
    std::string encoder;      // empty: FFV1 at its archival settings
    std::vector<std::pair<std::string, std::string>> encoderOptions;
    bool noAudio = false;
    bool damageIsError = false; // --damage error
    std::string modulePath; // empty: the module linked into the program
    int threads = 0;        // filtering threads; 0: one per processor thread
    unsigned cpuMask = VELVANE_CPU_ALL; // the kernel levels the library may choose (VELVANE_CPU_*)
};

// Parses argv against the descriptor's tables. Never exits the process. A
// setting given twice takes the last value.
CommandLine parseCommandLine(int argc, const char *const *argv, const FilterDescriptor &fd);
CommandLine parseCommandLine(const std::vector<std::string> &args, const FilterDescriptor &fd); // args without argv[0]

// The VELVANE_CPU_* mask that allows the kernels up to a level: "c" (the
// scalar references), "sse2", "avx2", "avx512" or "all". False for another name.
bool cpuMaskFromLevel(const std::string &level, unsigned *mask);

} // namespace velvane

#endif
