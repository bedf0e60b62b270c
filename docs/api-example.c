/* Filters raw 8-bit 4:2:2 planar video (ffmpeg's yuv422p) from standard
 * input to standard output, with the default settings or those given as
 * NAME=VALUE (any setting the library describes, by its name or option):
 *
 *   ffmpeg -i capture.avi -f rawvideo -pix_fmt yuv422p - |
 *     ./api-example 720 480 strength=auto |
 *     ffmpeg -f rawvideo -pix_fmt yuv422p -s 720x480 -i - clean.mkv
 *
 * On standard error it names the scene cuts it finds and, at each scene,
 * what the strength chose. Run without arguments, it lists the settings.
 *
 * Build: cc api-example.c $(pkg-config --cflags --libs velvane) -o api-example */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <velvane/velvane.h>

/* One frame's three planes in one block, rows without padding. */
static VelvaneFrame planar_frame(unsigned char *block, int width, int height)
{
    const int chroma_width = (width + 1) / 2;
    VelvaneFrame f = {0};
    f.format = VELVANE_PIXEL_YUV422P8;
    f.width = width; /* the instance's size: a frame of another is refused */
    f.height = height;
    f.data[0] = block;
    f.data[1] = block + (size_t)width * height;
    f.data[2] = block + (size_t)width * height + (size_t)chroma_width * height;
    f.stride[0] = width;
    f.stride[1] = f.stride[2] = chroma_width;
    return f;
}

/* The settings, as the library describes them. */
static void list_settings(void)
{
    VelvaneSettingInfo info;
    for (int i = 0; velvane_setting_info(i, &info) == VELVANE_OK; i++) {
        if (info.kind == VELVANE_SETTING_CHOICE)
            fprintf(stderr, "  %s=%s (default %d): %s\n", info.name, info.choices, info.default_value, info.help);
        else
            fprintf(stderr, "  %s=%d..%d (default %d%s): %s\n", info.name, info.min, info.max, info.default_value,
                    info.from_strength ? ", or chosen by the strength" : "", info.help);
    }
}

/* "NAME=VALUE" into the settings; a choice by the number or the name of its
 * value. 0, or -1 for a word that is no setting's. */
static int apply_setting(VelvaneSettings *settings, const char *word)
{
    char name[64];
    const char *eq = strchr(word, '=');
    if (!eq || (size_t)(eq - word) >= sizeof name)
        return -1;
    memcpy(name, word, (size_t)(eq - word));
    name[eq - word] = 0;
    VelvaneSettingInfo info;
    if (velvane_setting_info(velvane_setting_find(name), &info) != VELVANE_OK)
        return -1;
    int value = atoi(eq + 1);
    if (info.kind == VELVANE_SETTING_CHOICE) {
        const char *c = info.choices;
        for (int k = 0; c; k++, c = strchr(c, ','), c = c ? c + 1 : NULL)
            if (strncmp(c, eq + 1, strlen(eq + 1)) == 0 && (c[strlen(eq + 1)] == ',' || !c[strlen(eq + 1)]))
                value = k;
    }
    if (strcmp(info.name, "strength") == 0)
        velvane_set_strength(settings, value); /* and leave the thresholds to it */
    else if (info.kind == VELVANE_SETTING_SWITCH && info.off_option && strcmp(name, info.off_option) == 0)
        value = !value;
    *(int *)((char *)settings + info.offset) = value;
    return 0;
}

/* Writes every filtered frame that is ready; 0, or -1 after an error. */
static int drain(VelvaneFilter *filter, VelvaneFrame *out, size_t frame_bytes, int *measurements)
{
    int status;
    while ((status = velvane_receive_frame(filter, out)) == VELVANE_OK) {
        /* What the strength chose for this frame, each time it measured anew. */
        VelvaneStrengthReport r;
        if (velvane_get_strength(filter, &r) == VELVANE_OK && r.measurements != *measurements) {
            *measurements = r.measurements;
            fprintf(stderr, "api-example: frame %lld: noise %.2f, dots in %.0f%%: thresholds %d %d %d %d, dot pass %s\n",
                    (long long)r.measured_at, r.luma_noise, 100.0 * r.dot_share, r.luma_low, r.luma_high,
                    r.chroma_low, r.chroma_high, r.dot_removal ? "on" : "off");
        }
        if (fwrite(out->data[0], 1, frame_bytes, stdout) != frame_bytes) {
            perror("api-example: writing");
            return -1;
        }
    }
    if (status == VELVANE_EAGAIN || status == VELVANE_EOF)
        return 0;
    fprintf(stderr, "api-example: %s\n", velvane_last_error(filter));
    return -1;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s WIDTH HEIGHT [SETTING=VALUE ...] < in.yuv > out.yuv\nsettings:\n", argv[0]);
        list_settings();
        return 2;
    }
    VelvaneConfig config;
    velvane_default_config(&config);
    config.width = atoi(argv[1]);
    config.height = atoi(argv[2]);
    for (int i = 3; i < argc; i++)
        if (apply_setting(&config.settings, argv[i]) < 0) {
            fprintf(stderr, "api-example: %s is not SETTING=VALUE of a setting the library has\n", argv[i]);
            return 2;
        }
    char message[256];
    VelvaneFilter *filter;
    if (velvane_open(&filter, &config, message, sizeof message) < 0) {
        fprintf(stderr, "api-example: %s\n", message);
        return 1;
    }

    const size_t frame_bytes = (size_t)config.height * (config.width + 2 * ((config.width + 1) / 2));
    unsigned char *in_block = malloc(frame_bytes), *out_block = malloc(frame_bytes);
    if (!in_block || !out_block) {
        fprintf(stderr, "api-example: out of memory\n");
        return 1;
    }
    VelvaneFrame in = planar_frame(in_block, config.width, config.height);
    VelvaneFrame out = planar_frame(out_block, config.width, config.height);
    VelvaneSceneCuts *cuts;
    if (velvane_scene_cuts_open(&cuts, config.width, config.height) < 0) {
        fprintf(stderr, "api-example: cannot tell scenes apart\n");
        return 1;
    }
    int measurements = 0;

    int result = 0;
    int64_t n = 0;
    while (result == 0 && fread(in_block, 1, frame_bytes, stdin) == frame_bytes) {
        if (velvane_scene_cuts_next(cuts, &in) == 1 && n > 0)
            fprintf(stderr, "api-example: a scene begins at frame %lld\n", (long long)n);
        in.user_data = n++;
        /* The filter keeps at most two frames of lookahead, so after the
         * waiting frames are received it always takes the next one. */
        if (velvane_send_frame(filter, &in) < 0) {
            fprintf(stderr, "api-example: %s\n", velvane_last_error(filter));
            result = -1;
        } else {
            result = drain(filter, &out, frame_bytes, &measurements);
        }
    }
    if (result == 0 && velvane_send_frame(filter, NULL) == VELVANE_OK) /* the end of the clip */
        result = drain(filter, &out, frame_bytes, &measurements);

    velvane_scene_cuts_close(&cuts);
    velvane_close(&filter);
    free(in_block);
    free(out_block);
    return result == 0 ? 0 : 1;
}
