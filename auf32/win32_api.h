#ifndef VELVANE_AUF32_WIN32_API_H
#define VELVANE_AUF32_WIN32_API_H

// This program's own versions of the Windows functions the DLL imports from
// KERNEL32, msvcrt, USER32 and GDI32: stdcall for the system's, cdecl for the
// C runtime's. The window and graphics calls go to the recording layer the
// native module uses (src/os/posix/window_ops.cpp), so the two can be
// compared call for call. They keep what the host checks afterwards.

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace velvane {
namespace auf32 {

class PeImage;

// The address of this program's version of dll!name, or null.
void *resolveImport(const char *dll, const char *name);

// The loaded module, for the memory queries and GetModuleHandleA.
void setModule(const PeImage *image, const char *fileName);

// Makes %fs reach a thread environment block as on 32-bit Windows (self
// pointer, stack bounds, the TLS slot array holding `tlsBlock` at
// `tlsIndex`). Returns false where the system refuses the segment.
bool installThreadBlock(uint32_t tlsIndex, void *tlsBlock);
// The x87 control word 32-bit Windows starts threads with: 53-bit precision.
constexpr uint16_t kWindowsX87ControlWord = 0x027f;

struct ApiRecord {
    size_t liveBlocks = 0;             // msvcrt heap blocks allocated and not freed
    int vectoredHandlers = 0;          // added and not removed
    int criticalSectionsEntered = 0;   // entered and not left
    std::vector<std::string> output;   // what the module wrote through fwrite/vfprintf
    std::vector<std::string> problems; // misuse: a free of a block it does not own, ...
    std::vector<std::string> lookups;  // GetModuleHandleA, LoadLibraryA, GetProcAddress, FreeLibrary
};
ApiRecord &apiRecord();

} // namespace auf32
} // namespace velvane

#endif
