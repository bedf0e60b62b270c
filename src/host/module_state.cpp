#include "host/module_state.h"

#include <stdlib.h>

namespace velvane {

int32_t cpuLevel = 0;
ScratchMemory scratch = {};
ScratchHeap scratchHeap = {malloc, free};
SettingsWindowHandles settingsWindow = {};

} // namespace velvane
