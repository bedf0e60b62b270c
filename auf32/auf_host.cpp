// The 32-bit test host: runs Velvane.auf itself, as a 32-bit Windows host
// does, in a static 32-bit Linux program under user-mode emulation.
//
//   velvane_auf32 run MODULE --stack 4|16 --avx2 yes|no --x87 53|24 FRAMES_OUT CALLS_OUT
//   velvane_auf32 loader-tests MODULE
//
// `run` loads the DLL with this program's loader, runs its TLS callbacks and
// entry point, plays the host (GetFilterTable, the host-written fields, the
// host services, initFilter, the settings window against the recording
// layer, the frame series of the Windows test host, exitFilter) and unloads
// it. Every entry into the module goes through a gate that sets the stack
// pointer to 4 modulo 16 (a host that keeps 4-byte alignment) or to 0, and
// checks that the module returns with the stack, the callee-saved registers,
// the direction flag, the x87 stack and the floating-point controls as the
// calling convention wants them. --avx2 says what the emulated processor is
// expected to offer, so a run cannot silently test the other kernel level;
// --x87 the precision the host leaves the x87 unit at (53 bits as Windows
// starts a thread, or 24): the module's x87 paths (sin and cos from the
// runtime) must give the same frames either way.
// The frames and the settings window's transcript are written for the native
// comparison (velvane_reference_frames).
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <ucontext.h>
#include <unistd.h>
#include <xmmintrin.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "embedded_host.h"
#include "frame_sequence.h"
#include "host_report.h"
#include "pe_image.h"
#include "settings_script.h"
#include "win32_api.h"

using namespace velvane;
using namespace velvane::auf32;

extern "C" uint32_t vv_call_entry(const void *entry, const uint32_t *args, uint32_t count, uint32_t misalign);
extern "C" struct EntryReport {
    uint32_t espAfter, espAtCall, ebx, esi, edi, ebp, eflags;
    uint32_t x87Control, x87Status, x87Tags, x87Rest[4];
} vv_entry_report;

namespace {

using host_report::fail;
using host_report::failures;
using host_report::say;

const PeImage *loaded = nullptr;

// A fault ends the run, saying where: the module's guards are never
// reached under the emulator, so any fault is a failure.
void onFault(int signal, siginfo_t *info, void *context)
{
    const ucontext_t *uc = (const ucontext_t *)context;
    const uintptr_t eip = uc->uc_mcontext.gregs[REG_EIP], esp = uc->uc_mcontext.gregs[REG_ESP];
    char where[64] = "outside the module";
    if (loaded && loaded->contains((void *)eip))
        snprintf(where, sizeof where, "at module offset 0x%x", (unsigned)(eip - (uintptr_t)loaded->base()));
    dprintf(1, "auf32: FAIL: signal %d (%s) %s (eip 0x%x, address %p, esp %% 16 = %u)\n", signal, strsignal(signal),
            where, (unsigned)eip, info->si_addr, (unsigned)(esp % 16));
    _exit(1);
}

// --- entering the module ----------------------------------------------------------

enum Convention { Cdecl, Stdcall };
uint32_t stackAtCall = 4; // the stack pointer modulo 16 at every call into the module
int entries = 0;

uint32_t enter(const char *what, const void *entry, const uint32_t *args, uint32_t count, Convention convention)
{
    const uint32_t mxcsr = _mm_getcsr();
    uint16_t control;
    __asm__ __volatile__("fnstcw %0" : "=m"(control));
    const uint32_t result = vv_call_entry(entry, args, count, stackAtCall);
    const EntryReport &r = vv_entry_report;
    entries++;
    CHECK(r.espAtCall % 16 == stackAtCall, "%s entered with the stack pointer at %u modulo 16", what,
          r.espAtCall % 16);
    const uint32_t expected = r.espAtCall + (convention == Stdcall ? 4 * count : 0);
    CHECK(r.espAfter == expected, "%s returned with the stack pointer %d bytes off (%s)", what,
          (int)(r.espAfter - expected), convention == Stdcall ? "stdcall" : "cdecl");
    CHECK(r.ebx == 0x0b0b0b0b && r.esi == 0x05050505 && r.edi == 0x0d0d0d0d && r.ebp == 0x0e0e0e0e,
          "%s changed a callee-saved register (ebx %08x esi %08x edi %08x ebp %08x)", what, r.ebx, r.esi, r.edi,
          r.ebp);
    CHECK(!(r.eflags & 0x400), "%s returned with the direction flag set", what);
    CHECK((r.x87Tags & 0xffff) == 0xffff, "%s left values on the x87 stack (tag word 0x%04x)", what,
          r.x87Tags & 0xffff);
    CHECK((r.x87Control & 0xffff) == control, "%s changed the x87 control word from 0x%04x to 0x%04x", what,
          control, r.x87Control & 0xffff);
    // The exception flags (bits 0-5) are the callee's to set; the controls are the caller's.
    CHECK((_mm_getcsr() & ~0x3fu) == (mxcsr & ~0x3fu), "%s changed the MXCSR controls from 0x%04x to 0x%04x", what,
          mxcsr, _mm_getcsr());
    return result;
}

FilterDescriptor *filter = nullptr;

const char *entryName(const void *entry)
{
    if (filter) {
        if (entry == (const void *)filter->initFilter)
            return "initFilter";
        if (entry == (const void *)filter->exitFilter)
            return "exitFilter";
        if (entry == (const void *)filter->updateFilter)
            return "updateFilter";
        if (entry == (const void *)filter->processFrame)
            return "processFrame";
        if (entry == (const void *)filter->settingsWindowProc)
            return "settingsWindowProc";
    }
    return "an entry point";
}

intptr_t hostGate(const void *entry, const uintptr_t *args, int count)
{
    uint32_t narrow[8];
    for (int i = 0; i < count && i < 8; i++)
        narrow[i] = (uint32_t)args[i];
    return (int32_t)enter(entryName(entry), entry, narrow, (uint32_t)count, Cdecl);
}

// --- loading and unloading as the system does ------------------------------------------

std::vector<uint8_t> readFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(std::string("cannot read ") + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

constexpr uint32_t kProcessAttach = 1, kProcessDetach = 0;
constexpr uint32_t kTlsIndex = 1;
std::vector<uint8_t> tlsBlock;

// TLS callbacks first, then the entry point, each stdcall (instance, reason, reserved).
bool notify(const PeImage &image, uint32_t reason)
{
    const uint32_t args[3] = {(uint32_t)(uintptr_t)image.base(), reason, 0};
    for (uint32_t at = image.tls.callbacks; at; at += 4) {
        const void *callback = *(void *const *)(uintptr_t)at;
        if (!callback)
            break;
        CHECK(image.contains(callback), "a TLS callback at %p lies outside the module", callback);
        enter("a TLS callback", callback, args, 3, Stdcall);
    }
    if (!image.entryPoint())
        return true;
    return enter(reason == kProcessAttach ? "DllMain(DLL_PROCESS_ATTACH)" : "DllMain(DLL_PROCESS_DETACH)",
                 image.entryPoint(), args, 3, Stdcall) != 0;
}

std::unique_ptr<PeImage> loadModule(const char *path)
{
    std::unique_ptr<PeImage> image = PeImage::load(readFile(path), resolveImport);
    loaded = image.get();
    setModule(image.get(), path);
    // Static TLS as the system sets it up: the template copied into a block
    // of this thread, the index written where the directory says.
    const PeImage::Tls &t = image->tls;
    tlsBlock.assign(t.rawEnd - t.rawStart + t.zeroFill, 0);
    if (t.rawEnd > t.rawStart)
        memcpy(tlsBlock.data(), (const void *)(uintptr_t)t.rawStart, t.rawEnd - t.rawStart);
    if (t.indexAddress)
        *(uint32_t *)(uintptr_t)t.indexAddress = kTlsIndex;
    if (!installThreadBlock(kTlsIndex, tlsBlock.data()))
        throw std::runtime_error("the system refused the segment for the thread environment block");
    say("%s mapped at %p (preferred 0x%08x), %zu relocations, %zu imports bound", path, (void *)image->base(),
        image->preferredBase(), image->relocated().size(), image->imports().size());
    if (!notify(*image, kProcessAttach))
        throw std::runtime_error("DllMain refused DLL_PROCESS_ATTACH");
    return image;
}

bool inside(const PeImage &image, const void *p) { return p && image.contains(p); }

// --- the host's part ------------------------------------------------------------------

void checkDescriptor(const PeImage &image, FilterDescriptor *fd)
{
    CHECK(inside(image, fd) && image.contains(fd, sizeof *fd), "GetFilterTable returned %p, outside the module",
          (void *)fd);
    CHECK(strcmp(fd->name, "VelvaneNR_SSE") == 0 && fd->windowWidth == 320 && fd->windowHeight == 480 &&
              fd->trackCount == VV_TRACK_COUNT && fd->checkCount == VV_CHECK_COUNT,
          "the descriptor's name, window size or counts are not the module's");
    bool relocated = inside(image, fd->name) && inside(image, fd->trackNames) && inside(image, fd->checkNames) &&
                     inside(image, fd->trackDefaults) && inside(image, fd->checkDefaults) &&
                     inside(image, fd->informationText) && inside(image, (const void *)fd->processFrame) &&
                     inside(image, (const void *)fd->initFilter) && inside(image, (const void *)fd->exitFilter) &&
                     inside(image, (const void *)fd->updateFilter) &&
                     inside(image, (const void *)fd->settingsWindowProc);
    for (int i = 0; i < VV_TRACK_COUNT && relocated; i++)
        relocated = inside(image, fd->trackNames[i]);
    for (int i = 0; i < VV_CHECK_COUNT && relocated; i++)
        relocated = inside(image, fd->checkNames[i]);
    CHECK(relocated, "a pointer in the descriptor does not point into the module as loaded");
    CHECK(!fd->trackValues && !fd->checkValues && !fd->hostServices && !fd->instanceHandle,
          "the host-written fields are not empty before the host fills them");
}

bool anyNonZero(const std::vector<YcPixel> &frame)
{
    for (const YcPixel &p : frame)
        if (p.y || p.cb || p.cr)
            return true;
    return false;
}

int run(const char *modulePath, const char *framesPath, const char *callsPath, bool avx2)
{
    CHECK(!!__builtin_cpu_supports("avx2") == avx2, "the emulated processor %s AVX2, the run expects otherwise",
          __builtin_cpu_supports("avx2") ? "offers" : "lacks");
    std::unique_ptr<PeImage> image = loadModule(modulePath);

    void *getFilterTable = image->exportByName("GetFilterTable");
    CHECK(getFilterTable && getFilterTable == image->exportByOrdinal(1),
          "GetFilterTable is missing or not export ordinal 1");
    if (!getFilterTable)
        return 1;
    filter = (FilterDescriptor *)(uintptr_t)enter("GetFilterTable", getFilterTable, nullptr, 0, Cdecl);
    FilterDescriptor *again = (FilterDescriptor *)(uintptr_t)enter("GetFilterTable", getFilterTable, nullptr, 0, Cdecl);
    CHECK(filter && filter == again, "GetFilterTable does not return one fixed record");
    if (!filter || !image->contains(filter, sizeof *filter)) {
        fail("no descriptor to work with");
        return 1;
    }
    checkDescriptor(*image, filter);

    EmbeddedHost host(wintest::kClipWidth, wintest::kClipHeight, wintest::kClipStride, wintest::kClipMaxHeight);
    host.setClip(wintest::makeClip());
    host.setEntryGate(hostGate);
    host.attach(filter, image->base());

    // The descriptor is the host's to fill and the module's to leave alone.
    FilterDescriptor filled;
    memcpy(&filled, filter, sizeof filled);
    const size_t blocksBefore = apiRecord().liveBlocks;
    CHECK(host.init() == 1, "initFilter did not return 1");
    CHECK(anyNonZero(host.render(1)), "frame 1 came back all zero: the processing gate is closed");

    std::ofstream calls(callsPath, std::ios::binary);
    calls << playSettingsWindow(host);
    CHECK(calls.flush().good(), "cannot write %s", callsPath);

    FILE *out = fopen(framesPath, "wb");
    if (!out) {
        fail("cannot write %s", framesPath);
    } else {
        std::string err = wintest::renderSeries(host, wintest::writeToFile, out);
        if (!err.empty())
            fail("%s", err.c_str());
        CHECK(fclose(out) == 0, "writing %s failed", framesPath);
    }

    CHECK(host.exit() == 1, "exitFilter did not return 1");
    CHECK(apiRecord().liveBlocks == blocksBefore, "exitFilter left %d of the module's heap blocks allocated",
          (int)(apiRecord().liveBlocks - blocksBefore));
    CHECK(memcmp(&filled, filter, sizeof filled) == 0, "the module changed its descriptor while the host ran it");
    filter = nullptr;

    CHECK(notify(*image, kProcessDetach), "DllMain returned FALSE for DLL_PROCESS_DETACH");
    const ApiRecord &api = apiRecord();
    CHECK(api.vectoredHandlers == 0, "%d vectored exception handlers are still installed after unloading",
          api.vectoredHandlers);
    CHECK(api.criticalSectionsEntered == 0, "%d critical sections are still entered after unloading",
          api.criticalSectionsEntered);
    // A host may load and unload the plug-in many times.
    CHECK(api.liveBlocks == 0, "the module still holds %zu heap blocks after unloading", api.liveBlocks);
    CHECK(api.output.empty(), "the module wrote %zu messages to the console", api.output.size());
    for (const std::string &p : api.problems)
        fail("%s", p.c_str());
    loaded = nullptr;
    setModule(nullptr, "");
    image.reset();

    say("%d entries into the module, every one with the stack pointer at %u modulo 16; %d frames written", entries,
        stackAtCall, wintest::seriesFrameCount());
    for (const std::string &l : api.lookups)
        say("the module asked: %s", l.c_str());

    if (failures) {
        say("%d check(s) failed", failures);
        return 1;
    }
    say("all checks passed");
    return 0;
}

// --- the loader's own tests ----------------------------------------------------------

uint32_t word(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

std::string loadError(const std::vector<uint8_t> &file)
{
    try {
        PeImage::load(file, resolveImport);
    } catch (const std::exception &e) {
        return e.what();
    }
    return "";
}

bool rename(std::vector<uint8_t> &file, const char *from, const char *to)
{
    const size_t n = strlen(from) + 1; // with its terminator, so only whole names match
    auto it = std::search(file.begin(), file.end(), from, from + n);
    if (it == file.end())
        return false;
    std::copy(to, to + n, it);
    return true;
}

int loaderTests(const char *modulePath)
{
    const std::vector<uint8_t> file = readFile(modulePath);
    std::unique_ptr<PeImage> a = PeImage::load(file, resolveImport), b = PeImage::load(file, resolveImport);
    const uint32_t delta = (uint32_t)((uintptr_t)b->base() - (uintptr_t)a->base());

    // Relocations: the table read here on its own (header field, blocks of
    // entries, type 3 only) must name exactly the words the loader changed,
    // and taking the distance between the two copies off those words must
    // leave the copies identical.
    const uint8_t *opt = a->base() + word(a->base() + 0x3c) + 24;
    const uint32_t relocRva = word(opt + 96 + 5 * 8), relocSize = word(opt + 100 + 5 * 8);
    std::vector<uint32_t> sites;
    for (uint32_t at = relocRva, end; at + 8 <= relocRva + relocSize && word(a->base() + at + 4) >= 8; at = end) {
        const uint32_t page = word(a->base() + at);
        end = at + word(a->base() + at + 4);
        for (uint32_t e = at + 8; e < end; e += 2) {
            uint16_t entry;
            memcpy(&entry, a->base() + e, 2);
            if (entry >> 12 == 3)
                sites.push_back(page + (entry & 0xfff));
        }
    }
    std::vector<uint32_t> changed = b->relocated();
    std::sort(changed.begin(), changed.end());
    std::sort(sites.begin(), sites.end());
    CHECK(!sites.empty() && changed == sites, "the loader relocated %zu words, the table names %zu",
          changed.size(), sites.size());
    std::vector<uint8_t> undone(b->base(), b->base() + b->size());
    for (uint32_t s : sites) {
        const uint32_t v = word(&undone[s]) - delta;
        memcpy(&undone[s], &v, 4);
    }
    size_t firstDifference = std::mismatch(undone.begin(), undone.end(), a->base()).first - undone.begin();
    CHECK(delta != 0 && firstDifference == undone.size(),
          "two copies 0x%x bytes apart differ at 0x%zx beyond their relocations", delta, firstDifference);

    // Imports: every slot of the address table holds this host's function of
    // that name, for every DLL the module names.
    size_t bound = 0;
    for (const Import &imp : b->imports()) {
        void *expected = resolveImport(imp.dll.c_str(), imp.name.c_str());
        CHECK(expected && word(b->base() + imp.slot) == (uint32_t)(uintptr_t)expected,
              "the slot of %s!%s does not hold this host's function", imp.dll.c_str(), imp.name.c_str());
        bound++;
    }
    CHECK(bound >= 30, "only %zu imports found", bound);

    // A module asking for something this host lacks is refused, by name.
    std::vector<uint8_t> renamed = file;
    CHECK(rename(renamed, "Sleep", "Sleeq"), "no import named Sleep to rename");
    std::string err = loadError(renamed);
    CHECK(err.find("KERNEL32.dll!Sleeq") != std::string::npos, "a missing import gave \"%s\"", err.c_str());
    renamed = file;
    CHECK(rename(renamed, "GDI32.dll", "GDI33.dll"), "no GDI32.dll to rename");
    err = loadError(renamed);
    CHECK(err.find("GDI33.dll!CreateFontA") != std::string::npos &&
              err.find("GDI33.dll!DeleteObject") != std::string::npos,
          "a missing DLL gave \"%s\"", err.c_str());

    if (failures) {
        say("%d loader check(s) failed", failures);
        return 1;
    }
    say("loader: %zu relocations and %zu imports checked on two copies 0x%x bytes apart", sites.size(), bound, delta);
    return 0;
}

int usage(const char *self)
{
    fprintf(stderr, "usage: %s run MODULE --stack 4|16 --avx2 yes|no --x87 53|24 FRAMES_OUT CALLS_OUT\n"
                    "       %s loader-tests MODULE\n",
            self, self);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    host_report::name = "auf32";
    struct sigaction sa = {};
    sa.sa_sigaction = onFault;
    sa.sa_flags = SA_SIGINFO;
    for (int s : {SIGSEGV, SIGILL, SIGFPE, SIGBUS})
        sigaction(s, &sa, nullptr);
    // As 32-bit Windows starts a thread: x87 at 53-bit precision.
    uint16_t control = kWindowsX87ControlWord;
    __asm__ __volatile__("fldcw %0" : : "m"(control));

    try {
        if (argc == 3 && strcmp(argv[1], "loader-tests") == 0)
            return loaderTests(argv[2]);
        if (argc == 11 && strcmp(argv[1], "run") == 0 && strcmp(argv[3], "--stack") == 0 &&
            strcmp(argv[5], "--avx2") == 0 && strcmp(argv[7], "--x87") == 0) {
            const int stack = atoi(argv[4]), precision = atoi(argv[8]);
            if ((stack != 4 && stack != 16) || (precision != 24 && precision != 53))
                return usage(argv[0]);
            stackAtCall = stack % 16;
            if (precision == 24) {
                // A host that put the x87 unit to single precision (as Direct3D does).
                control &= ~0x0300;
                __asm__ __volatile__("fldcw %0" : : "m"(control));
            }
            return run(argv[2], argv[9], argv[10], strcmp(argv[6], "yes") == 0);
        }
    } catch (const std::exception &e) {
        fail("%s", e.what());
        return 1;
    }
    return usage(argv[0]);
}
