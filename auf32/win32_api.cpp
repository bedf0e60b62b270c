#include "win32_api.h"

#include <asm/ldt.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <set>

#include "os/window_ops.h"
#include "pe_image.h"

#define WINAPI __attribute__((stdcall))
#define CRTAPI __attribute__((cdecl))

namespace velvane {
namespace auf32 {

namespace {

ApiRecord record;
const PeImage *module = nullptr;
const char *moduleFileName = "";
uint32_t lastError = 0;
constexpr uint32_t kThreadId = 0x0b1c;

void problem(const std::string &what) { record.problems.push_back(what); }

// --- KERNEL32 ----------------------------------------------------------------

struct VectoredHandler {
    void *function;
};
std::set<VectoredHandler *> handlers;

void *WINAPI AddVectoredExceptionHandler(uint32_t, void *function)
{
    // Kept only so removal can be checked: nothing in the module faults under
    // the emulator (SSE runs, and it raises no SSE exceptions), and a fault
    // ends the run as a failure.
    VectoredHandler *h = new VectoredHandler{function};
    handlers.insert(h);
    record.vectoredHandlers++;
    return h;
}

uint32_t WINAPI RemoveVectoredExceptionHandler(void *handle)
{
    auto it = handlers.find((VectoredHandler *)handle);
    if (it == handlers.end())
        return 0;
    delete *it;
    handlers.erase(it);
    record.vectoredHandlers--;
    return 1;
}

void WINAPI InitializeCriticalSection(void *cs) { memset(cs, 0, 24); }
void WINAPI DeleteCriticalSection(void *) {}
void WINAPI EnterCriticalSection(void *) { record.criticalSectionsEntered++; }
void WINAPI LeaveCriticalSection(void *)
{
    if (--record.criticalSectionsEntered < 0)
        problem("LeaveCriticalSection without EnterCriticalSection");
}

uint32_t WINAPI GetCurrentThreadId() { return kThreadId; }
uint32_t WINAPI GetLastError() { return lastError; }
void WINAPI Sleep(uint32_t) {}

uint32_t WINAPI FreeLibrary(void *handle)
{
    record.lookups.push_back("FreeLibrary");
    lastError = 6; // ERROR_INVALID_HANDLE: this host loaded nothing for the module
    (void)handle;
    return 0;
}

void *WINAPI GetModuleHandleA(const char *name)
{
    record.lookups.push_back(std::string("GetModuleHandleA ") + (name ? name : "(null)"));
    if (name && module && strcasecmp(name, moduleFileName) == 0)
        return module->base();
    lastError = 126; // ERROR_MOD_NOT_FOUND
    return nullptr;
}

void *WINAPI LoadLibraryA(const char *name)
{
    record.lookups.push_back(std::string("LoadLibraryA ") + (name ? name : "(null)"));
    lastError = 126;
    return nullptr;
}

void *WINAPI GetProcAddress(void *, const char *name)
{
    record.lookups.push_back(std::string("GetProcAddress ") + ((uintptr_t)name > 0xffff ? name : "#ordinal"));
    lastError = 127; // ERROR_PROC_NOT_FOUND
    return nullptr;
}

void *WINAPI TlsGetValue(uint32_t)
{
    lastError = 0;
    return nullptr;
}

struct MemoryBasicInformation {
    void *baseAddress, *allocationBase;
    uint32_t allocationProtect, regionSize, state, protect, type;
};

uint32_t WINAPI VirtualQuery(const void *address, MemoryBasicInformation *info, uint32_t length)
{
    if (!module || !module->contains(address) || length < sizeof *info) {
        lastError = 87; // ERROR_INVALID_PARAMETER
        return 0;
    }
    const uintptr_t page = (uintptr_t)address & ~(uintptr_t)4095;
    const uint32_t protect = module->protection(address);
    uintptr_t end = page;
    while (module->contains((void *)end) && module->protection((void *)end) == protect)
        end += 4096;
    *info = {(void *)page, module->base(), 0x80 /* PAGE_EXECUTE_WRITECOPY */, (uint32_t)(end - page),
             0x1000 /* MEM_COMMIT */, protect, 0x1000000 /* MEM_IMAGE */};
    return sizeof *info;
}

uint32_t WINAPI VirtualProtect(void *address, uint32_t size, uint32_t protect, uint32_t *old)
{
    if (!module || !const_cast<PeImage *>(module)->protect(address, size, protect, old)) {
        lastError = 87;
        return 0;
    }
    return 1;
}

// --- msvcrt --------------------------------------------------------------------

// msvcrt's FILE is 32 bytes; the module reaches stdin, stdout and stderr as
// _iob[0..2].
uint8_t iob[3][32];

bool crtStream(void *file, const char *function)
{
    if (file == iob[1] || file == iob[2])
        return true;
    problem(std::string(function) + " on a stream that is not stdout or stderr");
    return false;
}

void moduleWrote(void *file, const char *text, size_t length)
{
    record.output.push_back(std::string(file == iob[1] ? "stdout: " : "stderr: ") + std::string(text, length));
    fprintf(stderr, "auf32: the module wrote: %.*s\n", (int)length, text);
}

size_t CRTAPI crt_fwrite(const void *data, size_t size, size_t count, void *file)
{
    if (!crtStream(file, "fwrite"))
        return 0;
    moduleWrote(file, (const char *)data, size * count);
    return count;
}

int CRTAPI crt_vfprintf(void *file, const char *format, va_list args)
{
    if (!crtStream(file, "vfprintf"))
        return -1;
    char text[1024];
    int n = vsnprintf(text, sizeof text, format, args);
    moduleWrote(file, text, n < 0 ? 0 : (size_t)n < sizeof text ? (size_t)n : sizeof text - 1);
    return n;
}

[[noreturn]] void CRTAPI crt_abort()
{
    fprintf(stderr, "auf32: FAIL: the module called abort()\n");
    fflush(stdout);
    _exit(1);
}

[[noreturn]] void CRTAPI crt_amsg_exit(int code)
{
    fprintf(stderr, "auf32: FAIL: the module's runtime stopped with _amsg_exit(%d)\n", code);
    fflush(stdout);
    _exit(1);
}

void CRTAPI crt_initterm(void (**begin)(), void (**end)())
{
    for (; begin < end; ++begin)
        if (*begin)
            (*begin)();
}

void CRTAPI crt_lock(int) {}
void CRTAPI crt_unlock(int) {}

// The runtime's math functions report domain and range errors through errno,
// and its start-up registers a math error handler, which nothing here calls.
int crtErrno = 0;
int *CRTAPI crt_errno() { return &crtErrno; }
void CRTAPI crt_setusermatherr(void *) {}

// The Windows heap hands out blocks aligned to 8 bytes on 32-bit systems,
// not to 16: every block here sits 8 bytes past a 16-byte boundary, so code
// that needs more than msvcrt promises shows it.
std::set<void *> blocks;
constexpr size_t kShift = 8;

void *CRTAPI crt_malloc(size_t size)
{
    uint8_t *raw = (uint8_t *)malloc(size + kShift);
    if (!raw)
        return nullptr;
    blocks.insert(raw + kShift);
    record.liveBlocks = blocks.size();
    return raw + kShift;
}

void CRTAPI crt_free(void *p)
{
    if (!p)
        return;
    if (!blocks.erase(p)) {
        char buf[80];
        snprintf(buf, sizeof buf, "free(%p): not a block the module holds", p);
        problem(buf);
        return;
    }
    record.liveBlocks = blocks.size();
    free((uint8_t *)p - kShift);
}

void *CRTAPI crt_calloc(size_t count, size_t size)
{
    if (size && count > (size_t)-1 / size)
        return nullptr;
    void *p = crt_malloc(count * size);
    if (p)
        memset(p, 0, count * size);
    return p;
}

void *CRTAPI crt_realloc(void *p, size_t size)
{
    if (!p)
        return crt_malloc(size);
    if (!blocks.count(p)) {
        problem("realloc of a block the module does not hold");
        return nullptr;
    }
    uint8_t *raw = (uint8_t *)realloc((uint8_t *)p - kShift, size + kShift);
    if (!raw)
        return nullptr;
    blocks.erase(p);
    blocks.insert(raw + kShift);
    return raw + kShift;
}

void *CRTAPI crt_memcpy(void *d, const void *s, size_t n) { return memcpy(d, s, n); }
void *CRTAPI crt_memset(void *d, int c, size_t n) { return memset(d, c, n); }
size_t CRTAPI crt_strlen(const char *s) { return strlen(s); }
int CRTAPI crt_strncmp(const char *a, const char *b, size_t n) { return strncmp(a, b, n); }

// --- USER32, GDI32: the native recording layer ------------------------------------

void *WINAPI CreateWindowExA(uint32_t exStyle, const char *className, const char *windowName, uint32_t style,
                             int32_t x, int32_t y, int32_t width, int32_t height, void *parent, void *menu,
                             void *instance, void *param)
{
    return createWindowEx(exStyle, className, windowName, style, x, y, width, height, parent, menu, instance, param);
}

intptr_t WINAPI SendMessageA(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    return sendMessage(window, message, wparam, lparam);
}

void *WINAPI CreateFontA(int32_t height, int32_t width, int32_t escapement, int32_t orientation, int32_t weight,
                         uint32_t italic, uint32_t underline, uint32_t strikeOut, uint32_t charSet,
                         uint32_t outPrecision, uint32_t clipPrecision, uint32_t quality, uint32_t pitchAndFamily,
                         const char *faceName)
{
    return createFont(height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                      outPrecision, clipPrecision, quality, pitchAndFamily, faceName);
}

uint32_t WINAPI DeleteObject(void *object) { return (uint32_t)deleteObject(object); }

struct Export {
    const char *dll, *name;
    void *address;
};

#define API(dll, f) {dll, #f, (void *)&f}
#define CRT(f) {"msvcrt.dll", #f, (void *)&crt_##f}
const Export exportsTable[] = {
    API("KERNEL32.dll", AddVectoredExceptionHandler), API("KERNEL32.dll", RemoveVectoredExceptionHandler),
    API("KERNEL32.dll", InitializeCriticalSection),   API("KERNEL32.dll", DeleteCriticalSection),
    API("KERNEL32.dll", EnterCriticalSection),        API("KERNEL32.dll", LeaveCriticalSection),
    API("KERNEL32.dll", GetCurrentThreadId),          API("KERNEL32.dll", GetLastError),
    API("KERNEL32.dll", Sleep),                       API("KERNEL32.dll", FreeLibrary),
    API("KERNEL32.dll", GetModuleHandleA),            API("KERNEL32.dll", LoadLibraryA),
    API("KERNEL32.dll", GetProcAddress),              API("KERNEL32.dll", TlsGetValue),
    API("KERNEL32.dll", VirtualQuery),                API("KERNEL32.dll", VirtualProtect),
    CRT(fwrite), CRT(vfprintf), CRT(abort), CRT(initterm), CRT(lock), CRT(unlock), CRT(malloc), CRT(free),
    CRT(calloc), CRT(realloc), CRT(memcpy), CRT(memset), CRT(strlen), CRT(strncmp),
    {"msvcrt.dll", "_amsg_exit", (void *)&crt_amsg_exit}, {"msvcrt.dll", "_initterm", (void *)&crt_initterm},
    {"msvcrt.dll", "_lock", (void *)&crt_lock}, {"msvcrt.dll", "_unlock", (void *)&crt_unlock},
    {"msvcrt.dll", "_iob", (void *)iob}, {"msvcrt.dll", "_errno", (void *)&crt_errno},
    {"msvcrt.dll", "__setusermatherr", (void *)&crt_setusermatherr},
    API("USER32.dll", CreateWindowExA), API("USER32.dll", SendMessageA),
    API("GDI32.dll", CreateFontA), API("GDI32.dll", DeleteObject),
};

} // namespace

void *resolveImport(const char *dll, const char *name)
{
    for (const Export &e : exportsTable)
        if (strcasecmp(dll, e.dll) == 0 && strcmp(name, e.name) == 0)
            return e.address;
    return nullptr;
}

void setModule(const PeImage *image, const char *fileName)
{
    module = image;
    const char *slash = strrchr(fileName, '/');
    moduleFileName = slash ? slash + 1 : fileName;
}

bool installThreadBlock(uint32_t tlsIndex, void *tlsBlock)
{
    static uint32_t teb[1024] __attribute__((aligned(4096)));
    static uint32_t peb[256];
    static void *tlsSlots[64];
    static uint8_t stackMark;
    if (tlsIndex >= 64)
        return false;
    tlsSlots[tlsIndex] = tlsBlock;
    teb[0x00 / 4] = 0xffffffffu; // no SEH frame
    teb[0x04 / 4] = (uint32_t)(uintptr_t)&stackMark; // stack base: the module only compares it
    teb[0x08 / 4] = 0;
    teb[0x18 / 4] = (uint32_t)(uintptr_t)teb; // self
    teb[0x24 / 4] = kThreadId;
    teb[0x2c / 4] = (uint32_t)(uintptr_t)tlsSlots;
    teb[0x30 / 4] = (uint32_t)(uintptr_t)peb;
    struct user_desc d = {};
    d.entry_number = 0;
    d.base_addr = (uint32_t)(uintptr_t)teb;
    d.limit = sizeof teb - 1;
    d.seg_32bit = 1;
    d.useable = 1;
    if (syscall(SYS_modify_ldt, 1, &d, sizeof d) != 0)
        return false;
    const uint16_t selector = (0 << 3) | 4 | 3; // LDT entry 0, ring 3
    __asm__ __volatile__("movw %0, %%fs" : : "r"(selector));
    return true;
}

ApiRecord &apiRecord() { return record; }

} // namespace auf32
} // namespace velvane
