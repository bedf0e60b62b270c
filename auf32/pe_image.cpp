#include "pe_image.h"

#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

#include <stdexcept>

namespace velvane {
namespace auf32 {

namespace {

constexpr uint32_t kPage = 4096;

[[noreturn]] void bad(const std::string &what)
{
    throw std::runtime_error(what);
}

uint32_t read32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

uint16_t read16(const uint8_t *p)
{
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}

std::string hex(uint32_t v)
{
    char buf[16];
    snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

int posixProtection(uint32_t windows)
{
    switch (windows) {
    case kPageReadOnly: return PROT_READ;
    case kPageReadWrite: return PROT_READ | PROT_WRITE;
    case kPageExecuteRead: return PROT_READ | PROT_EXEC;
    case kPageExecuteReadWrite: return PROT_READ | PROT_WRITE | PROT_EXEC;
    default: return -1;
    }
}

uint32_t sectionProtection(uint32_t characteristics)
{
    const bool x = characteristics & 0x20000000u, w = characteristics & 0x80000000u;
    return x ? (w ? kPageExecuteReadWrite : kPageExecuteRead) : (w ? kPageReadWrite : kPageReadOnly);
}

} // namespace

bool PeImage::contains(const void *p, uint32_t bytes) const
{
    uintptr_t a = (uintptr_t)p, b = (uintptr_t)base_;
    return a >= b && bytes <= size_ && a - b <= size_ - bytes;
}

std::unique_ptr<PeImage> PeImage::load(const std::vector<uint8_t> &file, ImportResolver resolve)
{
    const uint8_t *f = file.data();
    auto inFile = [&](uint64_t off, uint64_t len) { return off <= file.size() && len <= file.size() - off; };
    if (!inFile(0, 0x40) || f[0] != 'M' || f[1] != 'Z')
        bad("not a Windows executable (no MZ header)");
    const uint32_t pe = read32(f + 0x3c);
    if (!inFile(pe, 24 + 96) || memcmp(f + pe, "PE\0\0", 4) != 0)
        bad("no PE header");
    const uint8_t *coff = f + pe + 4, *opt = coff + 20;
    const uint16_t sections = read16(coff + 2), optSize = read16(coff + 16);
    if (read16(coff) != 0x14c || read16(opt) != 0x10b)
        bad("not a 32-bit x86 image (PE32, machine i386)");
    if (!(read16(coff + 18) & 0x2000))
        bad("not a DLL");
    if (!inFile(pe + 24, optSize + 40ull * sections) || optSize < 96 + 16 * 8)
        bad("section table outside the file");

    std::unique_ptr<PeImage> img(new PeImage);
    img->entry_ = read32(opt + 16);
    img->preferredBase_ = read32(opt + 28);
    img->size_ = read32(opt + 56);
    const uint32_t headers = read32(opt + 60);
    auto dir = [&](int i, uint32_t &rva, uint32_t &size) {
        rva = read32(opt + 96 + 8 * i);
        size = read32(opt + 100 + 8 * i);
        if (size && !img->contains(img->base_ + rva, size))
            bad("data directory " + std::to_string(i) + " lies outside the image");
    };
    if (img->size_ == 0 || img->size_ > (256u << 20) || headers > img->size_ || !inFile(0, headers))
        bad("implausible image size " + hex(img->size_));

    void *m = mmap(nullptr, img->size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED)
        bad("cannot reserve " + hex(img->size_) + " bytes for the image");
    img->base_ = (uint8_t *)m;
    uint8_t *base = img->base_;
    memcpy(base, f, headers);
    img->pageProtection_.assign((img->size_ + kPage - 1) / kPage, kPageReadOnly);

    const uint8_t *sec = opt + optSize;
    for (int i = 0; i < sections; i++, sec += 40) {
        const uint32_t vsize = read32(sec + 8), rva = read32(sec + 12), raw = read32(sec + 16),
                       rawAt = read32(sec + 20);
        const uint32_t copy = raw < vsize ? raw : vsize;
        if (!img->contains(base + rva, vsize) || !inFile(rawAt, copy))
            bad("section " + std::string((const char *)sec, strnlen((const char *)sec, 8)) + " outside the image");
        memcpy(base + rva, f + rawAt, copy);
        for (uint32_t p = rva / kPage; p < (rva + vsize + kPage - 1) / kPage; p++)
            img->pageProtection_[p] = sectionProtection(read32(sec + 36));
    }

    // Base relocations: blocks of 16-bit entries, type in the top four bits.
    uint32_t rva, size;
    dir(5, rva, size);
    const uint32_t delta = (uint32_t)(uintptr_t)base - img->preferredBase_;
    for (uint32_t at = rva; at + 8 <= rva + size;) {
        const uint32_t page = read32(base + at), block = read32(base + at + 4);
        if (block < 8 || block > rva + size - at)
            bad("relocation block at " + hex(at) + " has a size of " + hex(block));
        for (uint32_t e = at + 8; e + 2 <= at + block; e += 2) {
            const uint16_t entry = read16(base + e);
            const uint32_t type = entry >> 12, site = page + (entry & 0xfff);
            if (type == 0) // padding
                continue;
            if (type != 3)
                bad("relocation of type " + std::to_string(type) + " at " + hex(site) + " (only HIGHLOW is known)");
            if (!img->contains(base + site, 4))
                bad("relocation at " + hex(site) + " outside the image");
            const uint32_t moved = read32(base + site) + delta;
            memcpy(base + site, &moved, 4);
            img->relocated_.push_back(site);
        }
        at += block;
    }

    // Imports by name, each descriptor's address table bound in place.
    dir(1, rva, size);
    std::string missing;
    for (uint32_t d = rva; size && img->contains(base + d, 20) && read32(base + d + 12); d += 20) {
        const uint32_t nameRva = read32(base + d + 12), iat = read32(base + d + 16);
        const uint32_t lookup = read32(base + d) ? read32(base + d) : iat;
        if (!img->contains(base + nameRva, 1) || !memchr(base + nameRva, 0, img->size_ - nameRva))
            bad("import descriptor at " + hex(d) + " names no DLL");
        const char *dll = (const char *)base + nameRva;
        for (uint32_t i = 0;; i++) {
            if (!img->contains(base + lookup + 4 * i, 4) || !img->contains(base + iat + 4 * i, 4))
                bad(std::string("import table of ") + dll + " runs outside the image");
            const uint32_t thunk = read32(base + lookup + 4 * i);
            if (!thunk)
                break;
            if (thunk & 0x80000000u) {
                missing += std::string(" ") + dll + "!#" + std::to_string(thunk & 0xffff);
                continue;
            }
            if (!img->contains(base + thunk + 2, 1) || !memchr(base + thunk + 2, 0, img->size_ - thunk - 2))
                bad(std::string("an import from ") + dll + " has no name");
            const char *name = (const char *)base + thunk + 2;
            void *address = resolve(dll, name);
            if (!address)
                missing += std::string(" ") + dll + "!" + name;
            const uint32_t value = (uint32_t)(uintptr_t)address;
            memcpy(base + iat + 4 * i, &value, 4);
            img->imports_.push_back({dll, name, iat + 4 * i});
        }
    }
    if (!missing.empty())
        bad("imports this host does not provide:" + missing);

    dir(0, img->exportDir_, img->exportSize_);
    dir(9, rva, size);
    if (size) {
        if (size < 24)
            bad("TLS directory too short");
        Tls &t = img->tls;
        t = {read32(base + rva), read32(base + rva + 4), read32(base + rva + 8), read32(base + rva + 12),
             read32(base + rva + 16)};
        if (t.rawEnd < t.rawStart || !img->contains((void *)(uintptr_t)t.rawStart, t.rawEnd - t.rawStart) ||
            !img->contains((void *)(uintptr_t)t.indexAddress, 4) ||
            (t.callbacks && !img->contains((void *)(uintptr_t)t.callbacks, 4)))
            bad("TLS directory points outside the image");
    }

    for (size_t p = 0; p < img->pageProtection_.size(); p++)
        if (mprotect(base + p * kPage, kPage, posixProtection(img->pageProtection_[p])) != 0)
            bad("cannot set the protection of page " + hex((uint32_t)p * kPage));
    return img;
}

PeImage::~PeImage()
{
    if (base_)
        munmap(base_, size_);
}

void *PeImage::exportByOrdinal(uint32_t ordinal) const
{
    if (!exportSize_)
        return nullptr;
    const uint8_t *e = base_ + exportDir_;
    const uint32_t index = ordinal - read32(e + 16), count = read32(e + 20), table = read32(e + 28);
    if (index >= count || !contains(base_ + table + 4 * index, 4))
        return nullptr;
    const uint32_t rva = read32(base_ + table + 4 * index);
    return rva && contains(base_ + rva) ? base_ + rva : nullptr;
}

void *PeImage::exportByName(const char *name) const
{
    if (!exportSize_)
        return nullptr;
    const uint8_t *e = base_ + exportDir_;
    const uint32_t names = read32(e + 24), nameTable = read32(e + 32), ordinals = read32(e + 36);
    for (uint32_t i = 0; i < names; i++) {
        if (!contains(base_ + nameTable + 4 * i, 4) || !contains(base_ + ordinals + 2 * i, 2))
            return nullptr;
        const uint32_t at = read32(base_ + nameTable + 4 * i);
        if (contains(base_ + at, (uint32_t)strlen(name) + 1) && strcmp((const char *)base_ + at, name) == 0)
            return exportByOrdinal(read16(base_ + ordinals + 2 * i) + read32(e + 16));
    }
    return nullptr;
}

uint32_t PeImage::protection(const void *p) const
{
    return contains(p) ? pageProtection_[((uintptr_t)p - (uintptr_t)base_) / kPage] : 0;
}

bool PeImage::protect(const void *p, uint32_t bytes, uint32_t windowsProtection, uint32_t *old)
{
    const int prot = posixProtection(windowsProtection);
    if (!contains(p, bytes ? bytes : 1) || prot < 0)
        return false;
    const uint32_t first = ((uintptr_t)p - (uintptr_t)base_) / kPage;
    const uint32_t last = ((uintptr_t)p - (uintptr_t)base_ + (bytes ? bytes : 1) - 1) / kPage;
    if (mprotect(base_ + first * kPage, (last - first + 1) * kPage, prot) != 0)
        return false;
    if (old)
        *old = pageProtection_[first];
    for (uint32_t q = first; q <= last; q++)
        pageProtection_[q] = windowsProtection;
    return true;
}

} // namespace auf32
} // namespace velvane
