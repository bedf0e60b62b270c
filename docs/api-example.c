/* Filters raw 8-bit 4:2:2 planar video (ffmpeg's yuv422p) from standard
 * input to standard output with the default settings:
 *
 *   ffmpeg -i capture.avi -f rawvideo -pix_fmt yuv422p - |
 *     ./api-example 720 480 |
 *     ffmpeg -f rawvideo -pix_fmt yuv422p -s 720x480 -i - clean.mkv
 *
 * Build: cc api-example.c $(pkg-config --cflags --libs velvane) -o api-example */
#include <stdio.h>
#include <stdlib.h>

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

/* Writes every filtered frame that is ready; 0, or -1 after an error. */
static int drain(VelvaneFilter *filter, VelvaneFrame *out, size_t frame_bytes)
{
    int status;
    while ((status = velvane_receive_frame(filter, out)) == VELVANE_OK)
        if (fwrite(out->data[0], 1, frame_bytes, stdout) != frame_bytes) {
            perror("api-example: writing");
            return -1;
        }
    if (status == VELVANE_EAGAIN || status == VELVANE_EOF)
        return 0;
    fprintf(stderr, "api-example: %s\n", velvane_last_error(filter));
    return -1;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s WIDTH HEIGHT < in.yuv > out.yuv\n", argv[0]);
        return 2;
    }
    VelvaneConfig config;
    velvane_default_config(&config);
    config.width = atoi(argv[1]);
    config.height = atoi(argv[2]);
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

    int result = 0;
    int64_t n = 0;
    while (result == 0 && fread(in_block, 1, frame_bytes, stdin) == frame_bytes) {
        in.user_data = n++;
        /* The filter keeps at most two frames of lookahead, so after the
         * waiting frames are received it always takes the next one. */
        if (velvane_send_frame(filter, &in) < 0) {
            fprintf(stderr, "api-example: %s\n", velvane_last_error(filter));
            result = -1;
        } else {
            result = drain(filter, &out, frame_bytes);
        }
    }
    if (result == 0 && velvane_send_frame(filter, NULL) == VELVANE_OK) /* the end of the clip */
        result = drain(filter, &out, frame_bytes);

    velvane_close(&filter);
    free(in_block);
    free(out_block);
    return result == 0 ? 0 : 1;
}
