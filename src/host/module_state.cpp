#include "host/module_state.h"

namespace velvane {

FilterInstance moduleInstance;
SettingsWindowHandles settingsWindow = {};

} // namespace velvane
