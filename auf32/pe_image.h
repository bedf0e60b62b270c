#ifndef VELVANE_AUF32_PE_IMAGE_H
#define VELVANE_AUF32_PE_IMAGE_H

// A 32-bit Windows DLL mapped into this (32-bit) process the way the system
// loader maps it: sections at their addresses with their protections, base
// relocations applied for wherever the image landed, imports bound to
// functions of this program. What runs the TLS callbacks and the entry point
// is the caller's (it chooses how the stack looks when they are entered).

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

namespace velvane {
namespace auf32 {

// The address this program gives an import, or null where it has none.
using ImportResolver = void *(*)(const char *dll, const char *name);

struct Import {
    std::string dll, name;
    uint32_t slot; // RVA of its entry in the import address table
};

class PeImage {
public:
    // Maps `file` at an address the system chooses (so relocation is
    // exercised) and binds every import through `resolve`. Throws
    // std::runtime_error saying what is wrong: not a 32-bit DLL, a table
    // outside the image, a relocation type it does not know, or the list of
    // imports this program does not provide.
    static std::unique_ptr<PeImage> load(const std::vector<uint8_t> &file, ImportResolver resolve);
    ~PeImage();
    PeImage(const PeImage &) = delete;
    PeImage &operator=(const PeImage &) = delete;

    uint8_t *base() const { return base_; }
    uint32_t size() const { return size_; }
    uint32_t preferredBase() const { return preferredBase_; }
    bool contains(const void *p, uint32_t bytes = 1) const;
    void *entryPoint() const { return entry_ ? base_ + entry_ : nullptr; }
    void *exportByName(const char *name) const;
    void *exportByOrdinal(uint32_t ordinal) const;
    const std::vector<Import> &imports() const { return imports_; }
    // RVAs of the 32-bit words the relocations changed.
    const std::vector<uint32_t> &relocated() const { return relocated_; }

    // The TLS directory's fields, relocated (all zero without one).
    struct Tls {
        uint32_t rawStart, rawEnd, indexAddress, callbacks, zeroFill;
    } tls = {};

    // Windows page protection of the page holding `p` (0 outside the image),
    // and a change of it, for the system calls that ask.
    uint32_t protection(const void *p) const;
    bool protect(const void *p, uint32_t bytes, uint32_t windowsProtection, uint32_t *old);

private:
    PeImage() = default;
    uint8_t *base_ = nullptr;
    uint32_t size_ = 0, preferredBase_ = 0, entry_ = 0;
    uint32_t exportDir_ = 0, exportSize_ = 0;
    std::vector<Import> imports_;
    std::vector<uint32_t> relocated_;
    std::vector<uint32_t> pageProtection_;
};

// Windows page protections.
constexpr uint32_t kPageReadOnly = 0x02, kPageReadWrite = 0x04, kPageExecuteRead = 0x20,
                   kPageExecuteReadWrite = 0x40;

} // namespace auf32
} // namespace velvane

#endif
