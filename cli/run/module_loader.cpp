#include "run/module_loader.h"

#include <dlfcn.h>

#include "y4m/y4m.h"

namespace velvane {

FilterDescriptor *loadModule(const std::string &path)
{
    // A bare name would make dlopen search the library path; a path names the file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void *lib = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib)
        throw CliError(std::string("cannot load the module: ") + dlerror());
    using GetFilterTableFn = FilterDescriptor *(*)();
    auto get = reinterpret_cast<GetFilterTableFn>(dlsym(lib, "GetFilterTable"));
    if (!get)
        throw CliError(path + " does not export GetFilterTable; it is not a Velvane module");
    FilterDescriptor *fd = get();
    if (!fd || fd->trackCount != VV_TRACK_COUNT || fd->checkCount != VV_CHECK_COUNT || !fd->processFrame ||
        !fd->initFilter || !fd->exitFilter || !fd->updateFilter)
        throw CliError(path + ": its filter table is not the one this program knows (14 track bars, 5 check boxes "
                              "and its entry points)");
    return fd;
}

} // namespace velvane
