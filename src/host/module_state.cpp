#include "host/module_state.h"

#include <stdlib.h>

namespace velvane {

int32_t cpuLevel = 0;
FrameOutcome lastFrameOutcome = FrameOutcome::NotStarted;
bool startupOutOfMemory = false;
ScratchMemory scratch = {};
ScratchHeap scratchHeap = {malloc, free};
FrameHeap frameHeap = {malloc, realloc, free};
SettingsWindowHandles settingsWindow = {};

} // namespace velvane
