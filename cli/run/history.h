// The run's history, written into the file it makes: which velvane, with
// which settings, and for automatic strength what it measured and chose in
// each scene. An archive can then tell, years later, what changed a master.
#ifndef VELVANE_CLI_HISTORY_H
#define VELVANE_CLI_HISTORY_H

#include <stdint.h>

#include <string>
#include <vector>

#include "velvane/velvane.h"

struct AVFormatContext;

namespace velvane {

// What a strength chose for a frame, as the library reports it.
struct SceneChoice {
    VelvaneStrengthReport strength;
    VelvaneMovingReport moving;
    VelvaneMotionReport motion; // the averaging along the motion, for the frame reported
};

struct RunHistory {
    std::string version;  // "velvane 1.2.0 (commit, build)"
    std::string settings; // the settings used as options: "--luma-low 10 ... --strength auto"
    // Automatic strength: each measurement, as the filter reported it on the
    // first frame of its scene. Filled by the filtering thread before the
    // output is finished, read when it is.
    std::vector<SceneChoice> scenes;
};

// One line for a measured scene: "frame 0: noise 2.31 luma 1.05 chroma, dots
// 12%, --luma-low 9 --luma-high 10 --chroma-low 9 --chroma-high 12 --dot",
// and "--moving 7,9,5.5" where the picture moves.
std::string sceneLine(const SceneChoice &c);
// What a measured scene chose, as options: "--luma-low 9 ... --dot".
std::string sceneOptions(const SceneChoice &c);

// The settings a run used, as options: each threshold or the dot pass that a
// strength chooses (VELVANE_FROM_STRENGTH) is left to --strength; `moving`
// as resolveMoving gives it.
std::string settingsOptions(const int32_t *track, const int32_t *check, int strength, const int32_t *moving);

// Container tags, set before the header is written: VELVANE_VERSION and
// VELVANE_SETTINGS (QuickTime and MP4 take them as keyed metadata).
void tagHistory(AVFormatContext *oc, const RunHistory &h);
// Set before the trailer: in Matroska, whose tags are all in its header,
// every measured scene becomes a chapter starting at its first frame, titled
// with its line; QuickTime and MP4 (unless written in fragments) get the
// lines as the tag VELVANE_SCENES. `rate` is the frame rate; `frames` the
// frames written.
void tagSceneHistory(AVFormatContext *oc, const RunHistory &h, int rateNum, int rateDen, int64_t frames);
// The movflags QuickTime and MP4 need to write keys of their own.
constexpr const char *kMovMetadataFlag = "use_metadata_tags";

} // namespace velvane

#endif
