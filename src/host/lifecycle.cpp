// Start-up, shut-down, the settings-change entry and the settings window's
// "Cache Reset" button.
#include "common/cpu_flags.h"
#include "host/capability.h"
#include "host/entry_points.h"
#include "host/module_state.h"
#include "os/window_ops.h"
#include "pipeline/band_cache.h"

namespace velvane {
namespace {

const char kButtonClass[] = "BUTTON";
const char kButtonCaption[] = "Cache Reset";
constexpr uint32_t kButtonStyle = 0x50000000; // WS_CHILD | WS_VISIBLE, a plain push button
// ＭＳ Ｐゴシック in Shift-JIS
const char kFontFace[] = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";
constexpr uint32_t kShiftJisCharset = 128;
constexpr uint32_t kProofQuality = 2;
constexpr uint32_t kModernDefaultPitch = 0x30;

int32_t determineCpuLevel()
{
    int32_t level = cpuCapabilityLevel();
    if (level == 2 && !(osFeatureMask() & PROBE_SSE_RUNS))
        level = 0;
    // Every build uses SSE2 instructions, so SSE alone is not enough.
    if (level == 2 && !sse2Reported())
        level = 0;
    return level;
}

} // namespace

int32_t VV_CDECL initFilter(FilterDescriptor *)
{
    // A failed allocation leaves processing off: the gate then clears every
    // frame instead of working in missing storage.
    startInstance(moduleInstance, determineCpuLevel(), cpuSimdFlags());
    return 1;
}

int32_t VV_CDECL exitFilter(FilterDescriptor *)
{
    // Nothing usable is left; a late frame is cleared rather than processed.
    stopInstance(moduleInstance);
    return 1;
}

int32_t VV_CDECL updateFilter(FilterDescriptor *)
{
    // Every cached band was built under the old settings.
    invalidateBandCache(moduleInstance.cache);
    return 1;
}

int32_t VV_CDECL settingsWindowProc(void *window, uint32_t message, uintptr_t wparam, intptr_t, void *,
                                    FilterDescriptor *fd)
{
    switch (message) {
    case VV_MSG_WINDOW_INIT:
        settingsWindow.cacheResetButton =
            createWindowEx(0, kButtonClass, kButtonCaption, kButtonStyle, 230, 347, 80, 18, window,
                           reinterpret_cast<void *>((uintptr_t)VV_CACHE_RESET_ID), fd->instanceHandle, nullptr);
        settingsWindow.cacheResetFont = createFont(12, 0, 0, 0, 500, 0, 0, 0, kShiftJisCharset, 0, 0, kProofQuality,
                                                   kModernDefaultPitch, kFontFace);
        sendMessage(settingsWindow.cacheResetButton, kWmSetFont, reinterpret_cast<uintptr_t>(settingsWindow.cacheResetFont),
                    0);
        return 0;
    case VV_MSG_WINDOW_EXIT:
        // Deleted once only: the system may hand a deleted handle out again
        // for some other object.
        if (settingsWindow.cacheResetFont) {
            deleteObject(settingsWindow.cacheResetFont);
            settingsWindow.cacheResetFont = nullptr;
        }
        return 0;
    case kWmCommand: {
        if ((wparam & 0xFFFF) != VV_CACHE_RESET_ID)
            return 0;
        sendMessage(settingsWindow.cacheResetButton, kWmKillFocus, 0, 0);
        HostServices *host = fd->hostServices;
        if (host->isFilterActive(fd) == 1)
            invalidateBandCache(moduleInstance.cache);
        host->refreshSettingsWindow(fd);
        return host->isFilterActive(fd);
    }
    default:
        return 0;
    }
}

} // namespace velvane
