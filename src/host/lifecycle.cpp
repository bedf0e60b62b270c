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

constexpr size_t kWavePlaneBytes = (size_t)kWaveLength * kWaveLength * sizeof(float);
constexpr size_t kWaveRowBytes = (size_t)kWaveLength * sizeof(float);
constexpr int kScratchBlocks = 5;
// In allocation order: wavePlaneA, wavePlaneB, waveRowA, waveRowB, waveRowC.
constexpr size_t kScratchBytes[kScratchBlocks] = {kWavePlaneBytes, kWavePlaneBytes, kWaveRowBytes, kWaveRowBytes,
                                                  kWaveRowBytes};

const char kButtonClass[] = "BUTTON";
const char kButtonCaption[] = "Cache Reset";
constexpr uint32_t kButtonStyle = 0x50000000; // WS_CHILD | WS_VISIBLE, a plain push button
// ＭＳ Ｐゴシック in Shift-JIS
const char kFontFace[] = "\x82\x6C\x82\x72\x20\x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E";
constexpr uint32_t kShiftJisCharset = 128;
constexpr uint32_t kProofQuality = 2;
constexpr uint32_t kModernDefaultPitch = 0x30;

void releaseScratch()
{
    for (void *&block : scratch.raw) {
        if (block)
            scratchHeap.release(block);
        block = nullptr;
    }
    scratch.wavePlaneA = scratch.wavePlaneB = nullptr;
    scratch.waveRowA = scratch.waveRowB = scratch.waveRowC = nullptr;
}

bool allocateScratch()
{
    for (int i = 0; i < kScratchBlocks; ++i) {
        scratch.raw[i] = scratchHeap.allocate(kScratchBytes[i] + 15);
        if (!scratch.raw[i])
            return false;
    }
    scratch.wavePlaneA = static_cast<float *>(alignUp16(scratch.raw[0]));
    scratch.wavePlaneB = static_cast<float *>(alignUp16(scratch.raw[1]));
    scratch.waveRowA = static_cast<float *>(alignUp16(scratch.raw[2]));
    scratch.waveRowB = static_cast<float *>(alignUp16(scratch.raw[3]));
    scratch.waveRowC = static_cast<float *>(alignUp16(scratch.raw[4]));
    return true;
}

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
    cpuLevel = determineCpuLevel();
    selectKernels(cpuSimdFlags());

    releaseScratch(); // a repeated start-up would otherwise lose the first blocks
    startupOutOfMemory = false;
    if (!allocateScratch()) {
        // Processing stays off: the gate clears every frame instead of
        // working in missing storage.
        releaseScratch();
        startupOutOfMemory = cpuLevel == 2;
        cpuLevel = 0;
    }
    return 1;
}

int32_t VV_CDECL exitFilter(FilterDescriptor *)
{
    releaseBandCache();
    releaseScratch();
    // Nothing usable is left; a late frame is cleared rather than processed.
    cpuLevel = 0;
    startupOutOfMemory = false;
    return 1;
}

int32_t VV_CDECL updateFilter(FilterDescriptor *)
{
    // Every cached band was built under the old settings.
    invalidateBandCache();
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
            invalidateBandCache();
        host->refreshSettingsWindow(fd);
        return host->isFilterActive(fd);
    }
    default:
        return 0;
    }
}

} // namespace velvane
