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
 * once the two frames after it have gone in (mc_radius + 2 with the averaging
 * along the motion), or once the end of the clip has been signalled; until
 * then receiving says VELVANE_EAGAIN.
 *
 * Threads: an instance is used by one thread at a time (calls on one
 * instance must not overlap); any number of instances may work at once, in
 * any threads. Nothing is shared between instances. An instance opened with
 * more than one thread (VelvaneConfig.threads) also filters on threads of its
 * own, during its calls only; every thread count gives the same bytes.
 *
 * Errors are negative VelvaneStatus codes, never an abort; the instance keeps
 * a message for its last error (velvane_last_error).
 *
 * Growth: VelvaneSettings and VelvaneConfig end in reserved fields, which a
 * later version turns into settings whose value 0 keeps today's behaviour.
 * velvane_default_settings and velvane_default_config set them to 0; a
 * caller that starts from those (or from zeroed memory) keeps working, and a
 * nonzero reserved field is refused with VELVANE_EINVAL, as the setting of a
 * later version this library does not know. The sizes of the structures
 * change only with the major version. */
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

/* Frame sizes the library takes: every standard-definition size, PAL and
 * NTSC (720 x 576, 720 x 486, 720 x 480, 704 x 576, 352 x 288, ...). */
#define VELVANE_MIN_SIZE 4
#define VELVANE_MAX_WIDTH 800
#define VELVANE_MAX_HEIGHT 800

typedef enum VelvaneStatus {
    VELVANE_OK = 0,
    VELVANE_EAGAIN = -1,      /* receive: send more frames first; send: receive the waiting frames first */
    VELVANE_EOF = -2,         /* receive: every frame of the clip has come out */
    VELVANE_EINVAL = -3,      /* an argument, a setting or a frame description is not valid */
    VELVANE_ENOMEM = -4,      /* memory could not be allocated; the instance is unchanged and may be retried */
    VELVANE_EUNSUPPORTED = -5 /* the filter's stages refused a frame; not expected of frames that pass
                                 the library's checks (a size it does not take is VELVANE_EINVAL) */
} VelvaneStatus;

/* Strengths: a choice of the four thresholds (and of the dot pass) for the
 * settings left at VELVANE_FROM_STRENGTH. VELVANE_STRENGTH_AUTO measures the
 * noise of the video itself, in the first frames and again after every scene
 * change, and runs the dot pass only where it finds dots or heavy grain; it
 * also chooses the thresholds where the picture moves (moving_*) left at
 * VELVANE_FROM_STRENGTH, so that with all five others given it still chooses
 * those three. It measures grain and dots on what is left once the frames
 * after a scene's first are moved onto it along the motion (frames of at
 * least 64 x 64), so that a pan, a zoom or a fine texture is not taken for
 * either; and where mc_radius is left at VELVANE_FROM_STRENGTH it takes the
 * averaging along the motion with radius 2 for a scene whose grain is a code
 * value or more (0 below), its matching thresholds kept to the grain it
 * measured; on a picture without dots the four thresholds left to it are
 * then about the grain itself, for the frames reach them far cleaner. The
 * named ones run the dot pass and leave moving_* and the averaging along
 * the motion off; their thresholds are luma low, luma high, chroma low,
 * chroma high. */
typedef enum VelvaneStrength {
    VELVANE_STRENGTH_CUSTOM = 0, /* the thresholds and the dot pass as given (the default) */
    VELVANE_STRENGTH_LIGHT = 1,  /* 7, 9, 9, 12: grain of about 2 code values */
    VELVANE_STRENGTH_MEDIUM = 2, /* 10, 10, 10, 10: the plug-in's defaults */
    VELVANE_STRENGTH_STRONG = 3, /* 21, 40, 27, 36: grain of about 6, and dots */
    VELVANE_STRENGTH_AUTO = 4
} VelvaneStrength;

/* A threshold or dot_removal with this value is chosen by the strength. */
#define VELVANE_FROM_STRENGTH (-1)

/* The widest threshold the library takes (the plug-in takes up to 20). */
#define VELVANE_THRESHOLD_MAX 60

/* What the filter writes out. */
typedef enum VelvaneShow {
    VELVANE_SHOW_OUTPUT = 0,  /* the filtered video (the default) */
    VELVANE_SHOW_REMOVED = 1, /* what the filter took out: 4 x (input - output) around mid-grey, per plane */
    VELVANE_SHOW_DOTS = 2     /* the same for the dot pass alone */
} VelvaneShow;

/* The settings of the filter. A neighbour is averaged in when its band value
 * lies strictly within the threshold of the pixel's. One threshold step is
 * half a code value of 8-bit video (2 of 10-bit) for the low bands and the
 * chroma high band, and one code value (4 of 10-bit) for the luma high band.
 * The library takes thresholds up to 60, beyond the plug-in's 20: heavy grain
 * and strong dots need wider ones. */
typedef struct VelvaneSettings {
    int luma_low, luma_high;     /* 0..60, default 10: luma thresholds, low and high band */
    int chroma_low, chroma_high; /* 0..60, default 10: chroma thresholds, low and high band */
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
    /* A VelvaneStrength, default VELVANE_STRENGTH_CUSTOM. With any other, the
     * four thresholds and dot_removal may be VELVANE_FROM_STRENGTH, and those
     * that are not override the strength's choice: set it with
     * velvane_set_strength, then assign what should differ. Giving all five
     * is allowed: a named strength then chooses nothing, while automatic
     * strength still chooses the moving_* thresholds left at
     * VELVANE_FROM_STRENGTH (give those too for it to choose nothing) and
     * reports what it measures. */
    int strength;
    int show; /* a VelvaneShow, default VELVANE_SHOW_OUTPUT */
    /* Where the picture moves: the luma thresholds (0..60) of the parts of a
     * frame whose picture changed on to the next frame by more than
     * moving_change (1..480, eighths of an 8-bit code value of mean change)
     * and that carry no pattern inverting from frame to frame, as dots do.
     * They are never wider than luma_low and luma_high, which the rest of the
     * frame keeps. moving_change 0 (the default): one set of thresholds for
     * the whole frame. With a strength, all three may be
     * VELVANE_FROM_STRENGTH, as velvane_set_strength sets them: automatic
     * strength chooses them, the named strengths leave them off. */
    int moving_luma_low, moving_luma_high, moving_change;
    /* Averaging along the motion, before the rest: each field is matched
     * against the same-parity fields of mc_radius frames on either side
     * (0, the default: off; 1..4), and the matched neighbours are averaged in
     * where they agree with the picture; what noise the average leaves is
     * then smoothed within each field. mc_strength scales the matching
     * thresholds and that smoothing's limits, which follow the noise the
     * matches show: 1..400 percent, 0 for the default of 100. A frame comes
     * out once mc_radius + 2 frames after it have gone in. The dot pass,
     * where on, runs before it.
     * With a strength, mc_radius may be VELVANE_FROM_STRENGTH, as
     * velvane_set_strength sets it: automatic strength then takes 2 for a
     * scene with grain of a code value or more and 0 below (a frame still
     * comes out once 4 frames after it have gone in), the named strengths 0.
     * A radius given (0 included) wins: automatic strength with mc_radius 0
     * chooses its thresholds as before, without the averaging along the
     * motion, but still measures along the motion. */
    int mc_radius, mc_strength;
    int reserved[3]; /* 0: room for later settings (see "Growth" above) */
} VelvaneSettings;

/* Processor features the kernels may use; the default is every one the
 * processor has. Lower levels give the same bytes, more slowly. */
#define VELVANE_CPU_SSE2 1u
#define VELVANE_CPU_AVX2 2u
#define VELVANE_CPU_AVX512 4u /* AVX-512 F, BW, VL and DQ */
#define VELVANE_CPU_ALL 0xFFFFFFFFu

typedef struct VelvaneConfig {
    int width, height;        /* frame size: VELVANE_MIN_SIZE..VELVANE_MAX_WIDTH x ..VELVANE_MAX_HEIGHT */
    int threads;              /* 1 (default): the calling thread does the work; N (up to 64): it and
                                 N - 1 threads the instance starts; 0: one for each processor
                                 thread the process may run on. The bytes are the same for all. */
    unsigned cpu_mask;        /* VELVANE_CPU_* allowed, default VELVANE_CPU_ALL */
    VelvaneSettings settings;
    int reserved[8];          /* 0: room for later fields (see "Growth" above) */
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

/* A frame the caller owns. Rows of plane i start stride[i] bytes apart.
 *
 * Planar chroma is half the luma's width (rounded up), every row: 4:2:2.
 * 4:1:1 material (NTSC DV) is handed in as 4:2:2 with each 4:1:1 chroma
 * sample k in columns 2k and 2k + 1 of the chroma planes (what ffmpeg's
 * conversion from yuv411p to yuv422p gives); interpolate_411 then rebuilds
 * the chroma between sample k and sample k + 1 from those two alone (a
 * packed YC48 frame: from pixels 4k and 4k + 4). The last four pixels of a
 * row keep what they are given. */
typedef struct VelvaneFrame {
    int format;          /* a VelvanePixelFormat */
    int bit_depth;       /* YUV422P16 only: 9..12 or 16 */
    int width, height;   /* the instance's frame size (VelvaneConfig): a frame of another size is
                            refused with VELVANE_EINVAL, never read or written past its end */
    void *data[3];       /* YC48: data[0]; planar: Y, Cb, Cr; each the top row */
    ptrdiff_t stride[3]; /* bytes from one row to the next, at least a row's bytes. Negative strides
                            (bottom-up frames) are refused with VELVANE_EINVAL: point data at the
                            top row of such a frame's own storage order instead, or copy it */
    int64_t user_data;   /* carried from an input frame to its output */
} VelvaneFrame;

typedef struct VelvaneFilter VelvaneFilter;

/* The library's version, "major.minor.patch". */
VELVANE_API const char *velvane_version(void);

/* The message of a status code. */
VELVANE_API const char *velvane_status_string(int status);

/* The VELVANE_CPU_* levels whose kernels an instance opened with this
 * cpu_mask runs on this processor: the mask less what the processor lacks
 * (0: the plain C references). */
VELVANE_API unsigned velvane_cpu_levels(unsigned cpu_mask);

VELVANE_API void velvane_default_settings(VelvaneSettings *settings);
/* 720 x 480, one thread, every CPU feature, the default settings. */
VELVANE_API void velvane_default_config(VelvaneConfig *config);

/* Chooses a strength: sets settings->strength and leaves the four
 * thresholds and dot_removal to it (VELVANE_FROM_STRENGTH); with
 * VELVANE_STRENGTH_CUSTOM, sets them to the plug-in's defaults instead.
 * VELVANE_EINVAL for a strength that is not a VelvaneStrength. */
VELVANE_API int velvane_set_strength(VelvaneSettings *settings, int strength);

/* Checks settings against their ranges. On an error, `message` (when not
 * NULL) receives a sentence that names the setting and its range. */
VELVANE_API int velvane_check_settings(const VelvaneSettings *settings, char *message, size_t message_size);

/* Creates an instance. On an error nothing is created, *filter is NULL and
 * `message` (when not NULL) says why; VELVANE_ENOMEM also when its threads
 * cannot start. */
VELVANE_API int velvane_open(VelvaneFilter **filter, const VelvaneConfig *config, char *message,
                             size_t message_size);

/* Hands in the next frame of the clip (copied at once), or NULL at its end.
 * VELVANE_EAGAIN: receive the waiting frames first. NULL once more after the
 * end gives VELVANE_EOF; a frame after the end, VELVANE_EINVAL (velvane_flush
 * starts another clip). */
VELVANE_API int velvane_send_frame(VelvaneFilter *filter, const VelvaneFrame *frame);

/* Writes the next filtered frame into `frame`, whose format, bit_depth,
 * width, height, data and stride the caller sets; user_data is set to that of
 * the input frame. The description is checked at every call, whether or not
 * a frame is ready (VELVANE_EINVAL). VELVANE_EAGAIN: send more frames first;
 * VELVANE_EOF: the clip is done. Any other error leaves the frame to be
 * received again. */
VELVANE_API int velvane_receive_frame(VelvaneFilter *filter, VelvaneFrame *frame);

/* Drops every frame not yet received; the next frame sent starts a new clip. */
VELVANE_API int velvane_flush(VelvaneFilter *filter);

/* New settings for every frame received from now on. */
VELVANE_API int velvane_set_settings(VelvaneFilter *filter, const VelvaneSettings *settings);
VELVANE_API int velvane_get_settings(const VelvaneFilter *filter, VelvaneSettings *settings);

/* What the strength chose for the last frame received (before the first,
 * for the next one). */
typedef struct VelvaneStrengthReport {
    int luma_low, luma_high, chroma_low, chroma_high; /* the thresholds in force */
    int dot_removal;                                  /* 0 or 1: whether the dot pass runs */
    /* VELVANE_STRENGTH_AUTO: the latest measurement, taken on the first frames
     * of the scene that begins at frame measured_at (-1 before the first),
     * and how many scenes have been measured since the clip began. */
    int64_t measured_at;
    int measurements;
    float luma_noise, chroma_noise; /* standard deviation, 8-bit code values */
    float dot_share;                /* share of the picture with dot interference, 0..1 */
} VelvaneStrengthReport;
VELVANE_API int velvane_get_strength(const VelvaneFilter *filter, VelvaneStrengthReport *report);

/* The thresholds where the picture moves (see VelvaneSettings.moving_change)
 * in force for the last frame received, as velvane_get_strength tells the
 * others; change is 0 where one set of thresholds holds for the whole frame,
 * and VELVANE_FROM_STRENGTH, all three, where automatic strength has not
 * measured yet. */
typedef struct VelvaneMovingReport {
    int luma_low, luma_high, change;
    int reserved[5];
} VelvaneMovingReport;
VELVANE_API int velvane_get_moving(const VelvaneFilter *filter, VelvaneMovingReport *report);

/* What the averaging along the motion found for the last frame received
 * (all 0 where it is off, or before the first frame): the share of the
 * neighbours' blocks it averaged in (0..1, weighted by how well they
 * matched), the mean length of the vectors to the next frame in pixels a
 * frame, and the noise the closest matches show: the mean absolute
 * difference per pixel of the quietest quarter of the matched blocks, 8-bit
 * code values (about 0.8 to 1.1 times the deviation of white noise; less
 * where the vectors fall between pixels, whose prediction smooths it). */
typedef struct VelvaneMotionReport {
    float matched_share, mean_vector, noise;
    int reserved[5];
} VelvaneMotionReport;
VELVANE_API int velvane_get_motion(const VelvaneFilter *filter, VelvaneMotionReport *report);

/* The settings described: one entry per field of VelvaneSettings, from
 * which a program can build its options, their help, checks and defaults
 * (the velvane command builds its own so). Entries are numbered from 0 to
 * velvane_setting_count() - 1, in the order of the fields; a later version
 * adds entries at the end. */
typedef enum VelvaneSettingKind {
    VELVANE_SETTING_NUMBER = 0, /* a whole number within min..max */
    VELVANE_SETTING_SWITCH = 1, /* 0 (off) or 1 (on) */
    VELVANE_SETTING_CHOICE = 2  /* one of the names in `choices`, numbered from 0 (min 0, max their count - 1) */
} VelvaneSettingKind;

typedef struct VelvaneSettingInfo {
    const char *name;       /* the field of VelvaneSettings: "luma_low" */
    const char *option;     /* a command-line name for it: "luma-low" (a switch's "on" name: "dot") */
    const char *off_option; /* a switch: the name that turns it off ("no-dot"); otherwise NULL */
    const char *help;       /* what it does, one line of English, other settings named by their option */
    const char *off_help;   /* a switch: what it being off does; otherwise NULL */
    const char *unit;       /* what one step is worth, "" where the value speaks for itself */
    const char *choices;    /* a choice: its names, comma-separated, in the order of their numbers;
                               otherwise NULL */
    int kind;               /* a VelvaneSettingKind */
    int min, max;           /* the range velvane_check_settings takes */
    int default_value;      /* what velvane_default_settings sets */
    int from_strength;      /* 1: with a strength, VELVANE_FROM_STRENGTH leaves it to the strength
                               (velvane_set_strength sets it so) */
    int plugin_track, plugin_check; /* where the plug-in keeps it (filter.h): the index in its track-bar
                                       or check-box values, -1 where it keeps it in neither */
    int plugin_max;         /* the plug-in's largest value, where it takes less than max */
    int scale;              /* steps of the field in one unit of `unit`'s: 1 but where the field
                               counts fractions (moving_change: 8 steps to a code value) */
    size_t offset;          /* offsetof(VelvaneSettings, the field): an int */
    int reserved[8];
} VelvaneSettingInfo;

VELVANE_API int velvane_setting_count(void);
/* Entry `index` into `info`; VELVANE_EINVAL for an index out of range or
 * a NULL info. The strings are the library's, valid for as long as it is
 * loaded. */
VELVANE_API int velvane_setting_info(int index, VelvaneSettingInfo *info);
/* The index of the setting with this field name or option name (either of a
 * switch's two), or -1. */
VELVANE_API int velvane_setting_find(const char *name);

/* What a named strength (VELVANE_STRENGTH_LIGHT, MEDIUM, STRONG) chooses:
 * every field of `settings` that is VELVANE_FROM_STRENGTH gets the strength's
 * value; the others, strength included, stay. VELVANE_EINVAL for
 * VELVANE_STRENGTH_CUSTOM, which chooses nothing, for VELVANE_STRENGTH_AUTO,
 * whose choice depends on the video (an instance tells it, see
 * velvane_get_strength), and for any other number. */
VELVANE_API int velvane_strength_settings(int strength, VelvaneSettings *settings);

/* Scene cuts, told apart from motion one frame at a time, as automatic
 * strength finds them: a cut is a change of the picture's coarse luma far
 * above what grain and motion give and far above the change between the two
 * frames before it, so a pan or a zoom stays one scene. A detector takes
 * frames of one size, in display order, of any VelvanePixelFormat; planar
 * frames are measured on every fourth pixel of every fourth row, packed ones
 * on every pixel. */
typedef struct VelvaneSceneCuts VelvaneSceneCuts;
VELVANE_API int velvane_scene_cuts_open(VelvaneSceneCuts **cuts, int width, int height);
/* 1 when `frame` begins a scene (the first frame does), 0 when it does not,
 * VELVANE_EINVAL for a frame the detector cannot read. */
VELVANE_API int velvane_scene_cuts_next(VelvaneSceneCuts *cuts, const VelvaneFrame *frame);
/* Forgets the frames seen: the next one begins a scene. */
VELVANE_API void velvane_scene_cuts_reset(VelvaneSceneCuts *cuts);
VELVANE_API void velvane_scene_cuts_close(VelvaneSceneCuts **cuts);

/* What automatic strength measures in up to three consecutive frames of one
 * scene (count 1 to 3; three are needed to find dots, which invert from one
 * frame to the next): the grain, as a standard deviation in 8-bit code
 * values, and the share of the picture with dot interference. */
typedef struct VelvaneNoiseReport {
    float luma_noise, chroma_noise;
    float dot_share;  /* 0..1 */
    float motion_share; /* share of the picture that moved more than grain and dots explain, 0..1 */
    int reserved[4];
} VelvaneNoiseReport;
VELVANE_API int velvane_measure_noise(const VelvaneFrame *frames, int count, VelvaneNoiseReport *report);

/* The removed view of VELVANE_SHOW_REMOVED from a frame and its filtered
 * version, both VELVANE_PIXEL_YC48 of one size: `output` is overwritten with
 * mid-grey plus 4 x (input - output), per component, saturated.
 * VELVANE_EINVAL for other frames. */
VELVANE_API int velvane_removed_view(const VelvaneFrame *input, VelvaneFrame *output);

/* Conversions of rows of samples to and from the scale of
 * VELVANE_PIXEL_YC48, for frames the library does not take as they are
 * (4:4:4, 4:2:0, 4:1:1, ...): these are the conversions of the planar
 * formats. Samples are bit_depth bits (8: bytes; 9 to 12 and 16: 16-bit
 * little-endian words). Luma Y becomes Y x 16 at 8 bits, chroma C (C - 128) x
 * 16; deeper samples land on the same 12-bit range (10 bits x 4, 16 bits / 16
 * rounded), and a sample above its depth's largest value counts as that
 * value. Back, values round to nearest and clamp to the depth's range.
 * `chroma` is 0 for luma, 1 for chroma. VELVANE_EINVAL for another depth. */
VELVANE_API int velvane_samples_to_yc48(int16_t *dst, const void *src, int n, int bit_depth, int chroma);
VELVANE_API int velvane_samples_from_yc48(void *dst, const int16_t *src, int n, int bit_depth, int chroma);
/* Three rows of n values (y, cb, cr) into one row of n YC48 pixels (3 n
 * values), and back. */
VELVANE_API void velvane_interleave_yc48(int16_t *dst, const int16_t *y, const int16_t *cb, const int16_t *cr,
                                         int n);
VELVANE_API void velvane_deinterleave_yc48(int16_t *y, int16_t *cb, int16_t *cr, const int16_t *src, int n);
/* Chroma co-sited with the even pixels (4:2:2) to one value per pixel for a
 * row `width` pixels wide, from (width + 1) / 2 values: the value on every
 * even pixel, the floor of the mean of its two neighbours on odd ones, the
 * last value repeated where a row ends on an odd pixel. And back: dst[k] =
 * row[2 k] for k < n. */
VELVANE_API void velvane_chroma_upsample(int16_t *dst, const int16_t *chroma, int width);
VELVANE_API void velvane_chroma_downsample(int16_t *dst, const int16_t *row, int n);

/* How many frames after a frame must have been sent before that frame can
 * be received, for an instance with these settings (2, plus mc_radius with
 * the averaging along the motion: plus 2 for automatic strength with
 * mc_radius VELVANE_FROM_STRENGTH). A caller that keeps each frame it sends until its output comes
 * back keeps at most this many + 1 at once. VELVANE_EINVAL for settings
 * velvane_check_settings refuses. */
VELVANE_API int velvane_lookahead(const VelvaneSettings *settings);

/* The threads an instance opened with VelvaneConfig.threads = `threads`
 * filters on: `threads` itself, or for 0 one for each processor thread the
 * process may run on (at most 64); 0 for a number it does not take. */
VELVANE_API int velvane_thread_count(int threads);

/* Why the last call on the instance failed, or "" after a success. The
 * string belongs to the instance and stays valid until the next call on it
 * (any call, a getter too, may replace it and free the old one) or
 * velvane_close; copy it before the next call to keep it:
 *
 *     char why[256];
 *     snprintf(why, sizeof why, "%s", velvane_last_error(filter));
 *     velvane_close(&filter);     (why stays valid; the pointer did not) */
VELVANE_API const char *velvane_last_error(const VelvaneFilter *filter);

/* Frees the instance and sets *filter to NULL; NULL is allowed. */
VELVANE_API void velvane_close(VelvaneFilter **filter);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VELVANE_VELVANE_H */
