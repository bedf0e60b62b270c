// The plug-in as a shared library, loaded the way a host loads it: open the
// library, look up its one export, GetFilterTable, and call it.
#ifndef VELVANE_CLI_MODULE_LOADER_H
#define VELVANE_CLI_MODULE_LOADER_H

#include <string>

#include "velvane/filter.h"

namespace velvane {

// The library stays loaded for the life of the process. Throws CliError.
FilterDescriptor *loadModule(const std::string &path);

} // namespace velvane

#endif
