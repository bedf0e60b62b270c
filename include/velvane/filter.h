/* Velvane host interface: the records a host and the Velvane module exchange.
 *
 * The layout is the host's. In a 32-bit build every field is 32 bits wide and
 * the byte offsets below are fixed (checked by static_assert at the end of
 * this header); a 64-bit build keeps the same order with native pointer sizes.
 * Entry points and host services use the C calling convention: the caller
 * pushes the arguments last to first and removes them after the call. */
#ifndef VELVANE_FILTER_H
#define VELVANE_FILTER_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define VV_CDECL __cdecl
#else
#define VV_CDECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One pixel: signed 16-bit luma and two chroma components. On the host's
 * scale CCIR 601 black is y = 256; neutral chroma is 0. */
typedef struct YcPixel {
    int16_t y;
    int16_t cb;
    int16_t cr;
} YcPixel;

typedef struct FilterDescriptor FilterDescriptor;

/* The record passed with every frame call. The module reads the named fields
 * only and writes nothing but the frame buffer they point to. */
typedef struct FrameJob {
    int32_t flags;           /*  0: host's, not read */
    YcPixel *frame;          /*  4: frame written in place, rows `stride` pixels apart */
    YcPixel *hostScratch;    /*  8: host's, not read */
    int32_t width;           /* 12: visible width in pixels */
    int32_t height;          /* 16: visible height in rows */
    int32_t stride;          /* 20: pixels from one row to the next, here and in every source frame */
    int32_t maxHeight;       /* 24: height argument of setFrameCacheSize */
    int32_t frameIndex;      /* 28: n, counted from 0 */
    int32_t frameCount;      /* 32: frames in the clip */
    int32_t hostReserved[6]; /* 36..59: host's, not read */
    void *editHandle;        /* 60: passed unchanged to getCachedFrame */
} FrameJob;

typedef int32_t(VV_CDECL *RefreshSettingsWindowFn)(FilterDescriptor *fd);
typedef int32_t(VV_CDECL *IsFilterActiveFn)(FilterDescriptor *fd);
typedef int32_t(VV_CDECL *SetFrameCacheSizeFn)(FilterDescriptor *fd, int32_t stride, int32_t maxHeight,
                                               int32_t frames, int32_t flags);
typedef YcPixel *(VV_CDECL *GetCachedFrameFn)(FilterDescriptor *fd, void *editHandle, int32_t frame);

/* The host's table of services. Entries count pointer-sized slots from the
 * start; the module calls entries 21, 25, 44 and 45 and no others. */
typedef struct HostServices {
    void *entries0to20[21];
    RefreshSettingsWindowFn refreshSettingsWindow; /* 21 (byte 84 in 32-bit) */
    void *entries22to24[3];
    IsFilterActiveFn isFilterActive; /* 25 (byte 100) */
    void *entries26to43[18];
    SetFrameCacheSizeFn setFrameCacheSize; /* 44 (byte 176) */
    GetCachedFrameFn getCachedFrame;       /* 45 (byte 180) */
    void *entries46to63[18];
} HostServices;

typedef int32_t(VV_CDECL *ProcessFrameFn)(FilterDescriptor *fd, FrameJob *job);
typedef int32_t(VV_CDECL *InitFilterFn)(FilterDescriptor *fd);
typedef int32_t(VV_CDECL *ExitFilterFn)(FilterDescriptor *fd);
typedef int32_t(VV_CDECL *UpdateFilterFn)(FilterDescriptor *fd);
/* window handle, message, wparam, lparam, fifth argument (not read), descriptor */
typedef int32_t(VV_CDECL *SettingsWindowProcFn)(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam,
                                                void *fifth, FilterDescriptor *fd);

enum {
    VV_TRACK_COUNT = 14,
    VV_CHECK_COUNT = 5,
    VV_MAX_WIDTH = 720,
    VV_MAX_HEIGHT = 480,
    VV_MSG_WINDOW_INIT = 1127,
    VV_MSG_WINDOW_EXIT = 1128,
    VV_CACHE_RESET_ID = 40001
};

struct FilterDescriptor {
    int32_t flags;               /*   0 */
    int32_t windowWidth;         /*   4 */
    int32_t windowHeight;        /*   8 */
    const char *name;            /*  12 */
    int32_t trackCount;          /*  16 */
    const char *const *trackNames; /* 20 */
    const int32_t *trackDefaults;  /* 24 */
    const int32_t *trackMinima;    /* 28 */
    const int32_t *trackMaxima;    /* 32 */
    int32_t checkCount;            /* 36 */
    const char *const *checkNames; /* 40 */
    const int32_t *checkDefaults;  /* 44 */
    ProcessFrameFn processFrame;   /* 48 */
    InitFilterFn initFilter;       /* 52 */
    ExitFilterFn exitFilter;       /* 56 */
    UpdateFilterFn updateFilter;   /* 60 */
    SettingsWindowProcFn settingsWindowProc; /* 64 */
    int32_t *trackValues;          /*  68: host-written */
    int32_t *checkValues;          /*  72: host-written */
    void *reserved76;              /*  76 */
    void *reserved80;              /*  80 */
    const char *informationText;   /*  84 */
    void *reserved88;              /*  88 */
    void *reserved92;              /*  92 */
    HostServices *hostServices;    /*  96: host-written */
    void *reserved100;             /* 100 */
    void *instanceHandle;          /* 104: host-written */
    int32_t reserved108[30];       /* 108..227 */
};

#if defined(_WIN32)
#define VV_EXPORT __declspec(dllexport)
#else
#define VV_EXPORT __attribute__((visibility("default")))
#endif

/* The module's one export: the address of its static descriptor. */
VV_EXPORT FilterDescriptor *VV_CDECL GetFilterTable(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#if defined(__cplusplus) && (UINTPTR_MAX == 0xFFFFFFFFu)
static_assert(sizeof(YcPixel) == 6, "YcPixel is three 16-bit samples");
static_assert(offsetof(FrameJob, frame) == 4 && offsetof(FrameJob, width) == 12 &&
                  offsetof(FrameJob, height) == 16 && offsetof(FrameJob, stride) == 20 &&
                  offsetof(FrameJob, maxHeight) == 24 && offsetof(FrameJob, frameIndex) == 28 &&
                  offsetof(FrameJob, frameCount) == 32 && offsetof(FrameJob, editHandle) == 60,
              "FrameJob layout is the host's");
static_assert(offsetof(HostServices, refreshSettingsWindow) == 84 && offsetof(HostServices, isFilterActive) == 100 &&
                  offsetof(HostServices, setFrameCacheSize) == 176 && offsetof(HostServices, getCachedFrame) == 180,
              "HostServices entries are the host's");
static_assert(sizeof(FilterDescriptor) == 228, "descriptor spans 228 bytes");
static_assert(offsetof(FilterDescriptor, name) == 12 && offsetof(FilterDescriptor, trackCount) == 16 &&
                  offsetof(FilterDescriptor, trackNames) == 20 && offsetof(FilterDescriptor, checkCount) == 36 &&
                  offsetof(FilterDescriptor, checkDefaults) == 44 && offsetof(FilterDescriptor, processFrame) == 48 &&
                  offsetof(FilterDescriptor, settingsWindowProc) == 64 &&
                  offsetof(FilterDescriptor, trackValues) == 68 && offsetof(FilterDescriptor, checkValues) == 72 &&
                  offsetof(FilterDescriptor, informationText) == 84 &&
                  offsetof(FilterDescriptor, hostServices) == 96 && offsetof(FilterDescriptor, instanceHandle) == 104,
              "descriptor offsets are the host's");
#elif defined(__cplusplus)
static_assert(sizeof(YcPixel) == 6, "YcPixel is three 16-bit samples");
#endif

#endif /* VELVANE_FILTER_H */
