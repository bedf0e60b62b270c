#include "host/module_state.h"

namespace velvane {

int32_t cpuLevel = 0;
ScratchMemory scratch = {};

} // namespace velvane
