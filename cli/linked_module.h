// What only the module built into the program can tell its host: why it left
// the last frame unfiltered. Included by the program, not by the library, so
// that the library still runs with any module.
#ifndef VELVANE_CLI_LINKED_MODULE_H
#define VELVANE_CLI_LINKED_MODULE_H

#include <string>

#include "host/module_state.h"

namespace velvane {

// In words for the user; empty when the last frame was filtered.
inline std::string linkedModuleFrameCheck()
{
    switch (lastFrameOutcome) {
    case FrameOutcome::Filtered: return std::string();
    case FrameOutcome::OutOfMemory: return "the filter ran out of memory";
    case FrameOutcome::NotStarted: return "the filter is not running (it needs a processor with SSE2)";
    case FrameOutcome::Unsupported: return "the filter does not take frames of this size";
    case FrameOutcome::MissingFrames: break;
    }
    return "the frames around it did not reach the filter";
}

} // namespace velvane

#endif
