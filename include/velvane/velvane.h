/* Velvane: a noise reducer for captured, interlaced standard-definition
 * television, as a library.
 *
 * A filter instance takes the frames of one clip in display order and gives
 * them back filtered, in the same order:
 *
 *     VelvaneConfig config;
 *     velvane_default_config(&config);
 *     config.width = 720;
 *     config.height = 480;
 *     VelvaneFilter *filter;
 *     if (velvane_open(&filter, &config, message, sizeof message) < 0) ...
 *     for each input frame:
 *         velvane_send_frame(filter, &in);
 *         while (velvane_receive_frame(filter, &out) == 0) use out;
 *     velvane_send_frame(filter, NULL);                  end of the clip
 *     while (velvane_receive_frame(filter, &out) == 0) use out;
 *     velvane_close(&filter);
 *
 * Every output frame depends on its neighbours in time, so a frame comes out
 * once the two frames after it have gone in, or once the end of the clip has
 * been signalled; until then receiving says VELVANE_EAGAIN.
 *
 * Threads: an instance is used by one thread at a time (calls on one
 * instance must not overlap); any number of instances may work at once, in
 * any threads. Nothing is shared between instances. An instance opened with
 * more than one thread (VelvaneConfig.threads) also filters on threads of its
 * own, during its calls only; every thread count gives the same bytes.
 *
 * Errors are negative VelvaneStatus codes, never an abort; the instance keeps
 * a message for its last error (velvane_last_error). */
#ifndef VELVANE_VELVANE_H
#define VELVANE_VELVANE_H

#include <stddef.h>
#include <stdint.h>

#if defined(VELVANE_BUILDING_LIBRARY)
#define VELVANE_API __attribute__((visibility("default")))
#else
#define VELVANE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define VELVANE_VERSION_MAJOR 0
#define VELVANE_VERSION_MINOR 1
#define VELVANE_VERSION_PATCH 0

typedef enum VelvaneStatus {
    VELVANE_OK = 0,
    VELVANE_EAGAIN = -1,      /* receive: send more frames first; send: receive the waiting frames first */
    VELVANE_EOF = -2,         /* receive: every frame of the clip has come out */
    VELVANE_EINVAL = -3,      /* an argument, a setting or a frame description is not valid */
    VELVANE_ENOMEM = -4,      /* memory could not be allocated; the instance is unchanged and may be retried */
    VELVANE_EUNSUPPORTED = -5 /* the processor or the frame size is not one the filter takes */
} VelvaneStatus;

/* The settings of the filter. A neighbour is averaged in when its band value
 * lies strictly within the threshold of the pixel's. One threshold step is
 * half a code value of 8-bit video (2 of 10-bit) for the low bands and the
 * chroma high band, and one code value (4 of 10-bit) for the luma high band. */
typedef struct VelvaneSettings {
    int luma_low, luma_high;     /* 0..20, default 10: luma thresholds, low and high band */
    int chroma_low, chroma_high; /* 0..20, default 10: chroma thresholds, low and high band */
    int gain_y;                  /* -50..50: luma gain (256 + gain_y) / 256 */
    int gain_cb, gain_cr;        /* -100..100: chroma gains */
    int offset_y;                /* -50..50: luma offset, 4 steps of the 12-bit scale each */
    int hue;                     /* -30..30: hue rotation, hue / 180 radians */
    int balance;                 /* -30..30: colour balance */
    int border_top, border_bottom; /* 0..100 rows of black, with draw_borders */
    int border_left, border_right; /* 0..50 pixels of black, with draw_borders */
    int dot_removal;     /* 0 or 1, default 1: remove dot interference */
    int interpolate_411; /* 0 or 1, default 0: rebuild 4:2:2 chroma from 4:1:1 (chroma on every fourth pixel) */
    int skip_previous;   /* 0 or 1, default 0: leave the previous frame out of the averaging */
    int draw_borders;    /* 0 or 1, default 0: draw the black borders */
    int ccir_black;      /* 0 or 1, default 1: borders at video black (16 of 8-bit) instead of 0 */
} VelvaneSettings;

/* Processor features the kernels may use; the default is every one the
 * processor has. Lower levels give the same bytes, more slowly. */
#define VELVANE_CPU_SSE2 1u
#define VELVANE_CPU_AVX2 2u
#define VELVANE_CPU_AVX512 4u /* AVX-512 F, BW, VL and DQ */
#define VELVANE_CPU_ALL 0xFFFFFFFFu

typedef struct VelvaneConfig {
    int width, height;        /* frame size: 4..720 x 4..480 */
    int threads;              /* 1 (default): the calling thread does the work; N (up to 64): it and
                                 N - 1 threads the instance starts; 0: one for each processor
                                 thread the process may run on. The bytes are the same for all. */
    unsigned cpu_mask;        /* VELVANE_CPU_* allowed, default VELVANE_CPU_ALL */
    VelvaneSettings settings;
} VelvaneConfig;

typedef enum VelvanePixelFormat {
    /* One plane of packed pixels, three signed 16-bit values each (y, cb,
     * cr): luma 16..235 of 8-bit video is 256..3760, chroma 16..240 is
     * -1792..1792. */
    VELVANE_PIXEL_YC48 = 0,
    /* Three planes of 8-bit samples, chroma at half width, co-sited with the
     * even pixels (the common 4:2:2 of ffmpeg's yuv422p). */
    VELVANE_PIXEL_YUV422P8 = 1,
    /* The same with 16-bit little-endian words holding bit_depth bits: 9 to
     * 12, or 16 (yuv422p10 is 10). */
    VELVANE_PIXEL_YUV422P16 = 2
} VelvanePixelFormat;

/* A frame the caller owns. Rows of plane i start stride[i] bytes apart. */
typedef struct VelvaneFrame {
    int format;          /* a VelvanePixelFormat */
    int bit_depth;       /* YUV422P16 only: 9..12 or 16 */
    void *data[3];       /* YC48: data[0]; planar: Y, Cb, Cr */
    ptrdiff_t stride[3]; /* bytes from one row to the next */
    int64_t user_data;   /* carried from an input frame to its output */
} VelvaneFrame;

typedef struct VelvaneFilter VelvaneFilter;

/* The library's version, "major.minor.patch". */
VELVANE_API const char *velvane_version(void);

/* The message of a status code. */
VELVANE_API const char *velvane_status_string(int status);

VELVANE_API void velvane_default_settings(VelvaneSettings *settings);
/* 720 x 480, one thread, every CPU feature, the default settings. */
VELVANE_API void velvane_default_config(VelvaneConfig *config);

/* Checks settings against their ranges. On an error, `message` (when not
 * NULL) receives a sentence that names the setting and its range. */
VELVANE_API int velvane_check_settings(const VelvaneSettings *settings, char *message, size_t message_size);

/* Creates an instance. On an error nothing is created, *filter is NULL and
 * `message` (when not NULL) says why; VELVANE_ENOMEM also when its threads
 * cannot start. */
VELVANE_API int velvane_open(VelvaneFilter **filter, const VelvaneConfig *config, char *message,
                             size_t message_size);

/* Hands in the next frame of the clip (copied at once), or NULL at its end.
 * VELVANE_EAGAIN: receive the waiting frames first. */
VELVANE_API int velvane_send_frame(VelvaneFilter *filter, const VelvaneFrame *frame);

/* Writes the next filtered frame into `frame`, whose format, bit_depth, data
 * and stride the caller sets; user_data is set to that of the input frame.
 * VELVANE_EAGAIN: send more frames first; VELVANE_EOF: the clip is done. Any
 * other error leaves the frame to be received again. */
VELVANE_API int velvane_receive_frame(VelvaneFilter *filter, VelvaneFrame *frame);

/* Drops every frame not yet received; the next frame sent starts a new clip. */
VELVANE_API int velvane_flush(VelvaneFilter *filter);

/* New settings for every frame received from now on. */
VELVANE_API int velvane_set_settings(VelvaneFilter *filter, const VelvaneSettings *settings);
VELVANE_API int velvane_get_settings(const VelvaneFilter *filter, VelvaneSettings *settings);

/* Why the last call on the instance failed, or "" after a success. */
VELVANE_API const char *velvane_last_error(const VelvaneFilter *filter);

/* Frees the instance and sets *filter to NULL; NULL is allowed. */
VELVANE_API void velvane_close(VelvaneFilter **filter);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VELVANE_VELVANE_H */
