// Renders the Windows test hosts' series of frames with the native build of
// the module and, given the file a Windows build wrote (the x86-64 DLL under
// Wine, Velvane.auf under the 32-bit host), compares the two byte for byte.
// Before the series it plays the 32-bit host's settings window session
// (written to NATIVE_OUT.calls) and, given that host's transcript, compares
// the two line for line.
//
//   velvane_reference_frames NATIVE_OUT [WINDOWS_FRAMES [SETTINGS_CALLS]]
//
// Exit 0: written (and identical), 1: different or unwritable, 77: no Windows
// frames to compare (their test was skipped).
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "embedded_host.h"
#include "frame_sequence.h"
#include "settings_script.h"

using namespace velvane;

namespace {

struct Collected {
    std::vector<YcPixel> pixels;
    std::vector<size_t> starts;    // where each frame begins in pixels
    std::vector<int32_t> strides;  // and its line stride
};

char instanceTag; // stands for the module's instance handle, which the host passes on

// Compares the 32-bit host's settings window transcript with the native one;
// prints the first line that differs.
bool sameTranscript(const std::string &native, const char *path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        printf("reference: FAIL: cannot read %s\n", path);
        return false;
    }
    std::stringstream other;
    other << in.rdbuf();
    std::istringstream a(native), b(other.str());
    std::string la, lb;
    for (int line = 1;; line++) {
        bool ha = (bool)std::getline(a, la), hb = (bool)std::getline(b, lb);
        if (!ha && !hb)
            break;
        if (ha != hb || la != lb) {
            printf("reference: FAIL: settings window calls differ at line %d: native \"%s\", %s \"%s\"\n", line,
                   ha ? la.c_str() : "(end)", path, hb ? lb.c_str() : "(end)");
            return false;
        }
    }
    printf("reference: the settings window's calls equal the native module's\n");
    return true;
}

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
        fprintf(stderr, "usage: %s NATIVE_OUT [WINDOWS_FRAMES [SETTINGS_CALLS]]\n", argv[0]);
        return 2;
    }
    EmbeddedHost host(wintest::kClipWidth, wintest::kClipHeight, wintest::kClipStride, wintest::kClipMaxHeight);
    host.setClip(wintest::makeClip());
    host.attach(GetFilterTable(), &instanceTag);
    if (host.init() != 1) {
        printf("reference: FAIL: initFilter did not return 1\n");
        return 1;
    }
    host.render(1); // as the Windows test hosts do before their series
    const std::string calls = auf32::playSettingsWindow(host);
    Collected native;
    std::string err = wintest::renderSeries(host, collect, &native);
    host.exit();
    if (!err.empty()) {
        printf("reference: FAIL: %s\n", err.c_str());
        return 1;
    }
    // The series ends with four frames of an odd size and three of 720 x 480,
    // all processed, and one 721 pixels wide, which the gate clears.
    auto allZero = [&](size_t f) {
        size_t end = f + 1 < native.starts.size() ? native.starts[f + 1] : native.pixels.size();
        for (size_t i = native.starts[f]; i < end; i++)
            if (native.pixels[i].y || native.pixels[i].cb || native.pixels[i].cr)
                return false;
        return true;
    };
    size_t frames = native.starts.size();
    bool processed = frames == (size_t)wintest::seriesFrameCount() && frames > 8;
    for (size_t f = frames - 8; processed && f < frames - 1; f++)
        processed = !allZero(f);
    if (!processed || !allZero(frames - 1)) {
        printf("reference: FAIL: the series does not end with processed odd-size and 720 x 480 frames and a cleared "
               "wider one\n");
        return 1;
    }

    FILE *out = fopen(argv[1], "wb");
    if (!out || fwrite(native.pixels.data(), sizeof(YcPixel), native.pixels.size(), out) != native.pixels.size() ||
        fclose(out) != 0) {
        printf("reference: FAIL: cannot write %s\n", argv[1]);
        return 1;
    }
    std::ofstream(std::string(argv[1]) + ".calls", std::ios::binary) << calls;
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
    return argc < 4 || sameTranscript(calls, argv[3]) ? 0 : 1;
}
