// Renders the Windows test host's series of frames with the native build of
// the module and, given the file the Windows build wrote under Wine, compares
// the two byte for byte.
//
//   velvane_reference_frames NATIVE_OUT [WINDOWS_FRAMES]
//
// Exit 0: written (and identical), 1: different or unwritable, 77: no Windows
// frames to compare (their test was skipped).
#include <stdio.h>
#include <string.h>

#include <vector>

#include "embedded_host.h"
#include "frame_sequence.h"

using namespace velvane;

namespace {

struct Collected {
    std::vector<YcPixel> pixels;
    std::vector<size_t> starts;    // where each frame begins in pixels
    std::vector<int32_t> strides;  // and its line stride
};

void collect(void *context, const YcPixel *frame, size_t pixels, int32_t stride)
{
    auto *c = (Collected *)context;
    c->starts.push_back(c->pixels.size());
    c->strides.push_back(stride);
    c->pixels.insert(c->pixels.end(), frame, frame + pixels);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s NATIVE_OUT [WINDOWS_FRAMES]\n", argv[0]);
        return 2;
    }
    EmbeddedHost host(wintest::kClipWidth, wintest::kClipHeight, wintest::kClipStride, wintest::kClipMaxHeight);
    host.setClip(wintest::makeClip());
    host.attach(GetFilterTable(), nullptr);
    if (host.init() != 1) {
        printf("reference: FAIL: initFilter did not return 1\n");
        return 1;
    }
    host.render(1); // as the Windows test host does before its series
    Collected native;
    std::string err = wintest::renderSeries(host, collect, &native);
    host.exit();
    if (!err.empty()) {
        printf("reference: FAIL: %s\n", err.c_str());
        return 1;
    }
    // The series ends with three 720 x 480 frames, which are processed, and
    // one 721 pixels wide, which the gate clears.
    auto allZero = [&](size_t f) {
        size_t end = f + 1 < native.starts.size() ? native.starts[f + 1] : native.pixels.size();
        for (size_t i = native.starts[f]; i < end; i++)
            if (native.pixels[i].y || native.pixels[i].cb || native.pixels[i].cr)
                return false;
        return true;
    };
    size_t frames = native.starts.size();
    if (frames != (size_t)wintest::seriesFrameCount() || allZero(frames - 2) || !allZero(frames - 1)) {
        printf("reference: FAIL: the series does not end with a processed 720 x 480 frame and a cleared wider one\n");
        return 1;
    }

    FILE *out = fopen(argv[1], "wb");
    if (!out || fwrite(native.pixels.data(), sizeof(YcPixel), native.pixels.size(), out) != native.pixels.size() ||
        fclose(out) != 0) {
        printf("reference: FAIL: cannot write %s\n", argv[1]);
        return 1;
    }
    printf("reference: %d native frames written to %s\n", wintest::seriesFrameCount(), argv[1]);
    if (argc < 3)
        return 0;

    FILE *in = fopen(argv[2], "rb");
    if (!in) {
        printf("reference: SKIP: no frames from the Windows test host at %s (its run was skipped)\n", argv[2]);
        return 77;
    }
    std::vector<YcPixel> windows(native.pixels.size() + 1);
    size_t got = fread(windows.data(), sizeof(YcPixel), windows.size(), in);
    fclose(in);
    if (got != native.pixels.size()) {
        printf("reference: FAIL: %s holds %zu pixels, the native series %zu\n", argv[2], got, native.pixels.size());
        return 1;
    }
    int differentFrames = 0;
    for (size_t f = 0; f < native.starts.size(); f++) {
        size_t start = native.starts[f];
        size_t end = f + 1 < native.starts.size() ? native.starts[f + 1] : native.pixels.size();
        const YcPixel *a = &native.pixels[start];
        const YcPixel *b = &windows[start];
        if (memcmp(a, b, (end - start) * sizeof(YcPixel)) == 0)
            continue;
        if (differentFrames++ == 0) {
            size_t stride = (size_t)native.strides[f];
            for (size_t i = 0; i < end - start; i++) {
                if (memcmp(&a[i], &b[i], sizeof(YcPixel)) != 0) {
                    printf("reference: FAIL: series frame %zu first differs at x %zu y %zu: native (%d, %d, %d), "
                           "Windows (%d, %d, %d)\n",
                           f, i % stride, i / stride, a[i].y, a[i].cb, a[i].cr, b[i].y, b[i].cb, b[i].cr);
                    break;
                }
            }
        }
    }
    if (differentFrames) {
        printf("reference: FAIL: %d of %d frames differ between the Windows and the native build\n", differentFrames,
               wintest::seriesFrameCount());
        return 1;
    }
    printf("reference: all %d frames (%zu bytes) identical to the Windows build's\n", wintest::seriesFrameCount(),
           native.pixels.size() * sizeof(YcPixel));
    return 0;
}
