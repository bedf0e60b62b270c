#ifndef VELVANE_AUF32_SETTINGS_SCRIPT_H
#define VELVANE_AUF32_SETTINGS_SCRIPT_H

// One fixed session with the settings window, played by the 32-bit host
// against Velvane.auf and by the native reference against the native module:
// the two transcripts must be equal line for line.

#include <string>

#include "embedded_host.h"

namespace velvane {
namespace auf32 {

// With the host attached and started on the frame series' clip: opens the
// window (the module adds its button and font), presses Cache Reset with the
// filter on and off and with another notification code, rendering a frame
// after each press, sends a command for another control and a message the
// module leaves alone, closes the window twice, then opens and closes it once
// more. Returns every message with its result, each followed by the window
// and graphics calls the module made (as the recording layer saw them) and
// the host services it called. Handles are named by their creation order.
std::string playSettingsWindow(EmbeddedHost &host);

} // namespace auf32
} // namespace velvane

#endif
