// The command's whole filtering path on arbitrary bytes: the reading,
// filtering and writing threads and the native library. The first byte picks
// the dot pass, the output chroma, the queue length, automatic strength (which
// measures frames of every size the input makes, with or without the
// averaging along the motion) or thresholds where the picture moves, a view
// of what is taken out and the library's thread count; the rest is the
// stream. A run either fails
// with a clear error, or writes exactly the whole frames the input holds (up
// to a broken frame, which it reports), every one of them readable and
// filtered: the library fails the run on any frame it could not filter.
#include <stdio.h>
#include <stdlib.h>

#include <array>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "run/filter_run.h"
#include "y4m/y4m.h"

using namespace velvane;

namespace {

const Chroma kOutputChroma[] = {Chroma::C444, Chroma::C422, Chroma::C411, Chroma::C420jpeg,
                                Chroma::C420mpeg2, Chroma::C420paldv, Chroma::C420, Chroma::Mono};

// What a plain reading of the stream finds: its whole frames, and whether it
// broke off inside one.
struct Plain {
    bool header = false;
    bool tiny = false; // narrower or lower than 4: the filter does not take it
    int64_t frames = 0;
    bool broken = false;
};

Plain readPlainly(const uint8_t *data, size_t size)
{
    Plain p;
    FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    FUZZ_CHECK(in != nullptr);
    Y4mReader reader(in, "input");
    try {
        const Y4mFormat f = reader.readHeader();
        requireFilterableSize(f, "input");
        p.header = true;
        p.tiny = f.width < 4 || f.height < 4;
        std::vector<uint8_t> raw(f.frameBytes());
        while (reader.readFrame(raw.data(), nullptr))
            p.frames++;
    } catch (const CliError &) {
        p.broken = p.header;
    }
    fclose(in);
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = bytes[0];
    const uint8_t *data = bytes + 1;
    const size_t length = size - 1;
    const Plain plain = readPlainly(data, length);

    FilterRun run;
    if (mode & 1)
        run.settings.check[0] = 0; // the dot pass off
    if (mode >> 1 & 7)
        run.outputChroma = kOutputChroma[mode >> 1 & 7];
    run.queueFrames = 1 + (mode >> 4 & 3);
    if (mode & 0x40) {
        run.settings.strength = VELVANE_STRENGTH_AUTO; // which also chooses thresholds where it moves
        if (mode & 0x20)
            run.settings.library[velvane_setting_find("mc_radius")] = 1; // and averages along the motion
    } else if (mode & 0x20)
        run.settings.moving = std::array<int32_t, 3>{2, 3, 8}; // thresholds where the picture moves
    if (mode & 0x80) // what the dot pass takes out needs the dot pass
        run.show = mode & 1 ? VELVANE_SHOW_REMOVED : VELVANE_SHOW_DOTS;
    run.threads = 1 + (mode >> 4 & 1); // the library's own threads too, with the queue length

    char *outData = nullptr;
    size_t outSize = 0;
    FILE *out = open_memstream(&outData, &outSize);
    FILE *in = fmemopen(const_cast<uint8_t *>(data), length, "rb");
    FUZZ_CHECK(out != nullptr && in != nullptr);
    RunStats stats;
    bool ok = true;
    try {
        stats = filterStream(GetFilterTable(), in, "input", out, "output", run);
    } catch (const CliError &) {
        ok = false;
    }
    fclose(in);
    fclose(out);

    if (ok) {
        FUZZ_CHECK(plain.header);
        FUZZ_CHECK(!plain.tiny);
        FUZZ_CHECK(stats.frames == plain.frames);
        FUZZ_CHECK(stats.inputError.empty() == !plain.broken);
        FILE *back = fmemopen(outData, outSize, "rb");
        FUZZ_CHECK(back != nullptr);
        Y4mReader again(back, "output");
        try {
            std::vector<uint8_t> raw(again.readHeader().frameBytes());
            int64_t frames = 0;
            while (again.readFrame(raw.data(), nullptr))
                frames++;
            FUZZ_CHECK(frames == stats.frames);
        } catch (const CliError &e) {
            fprintf(stderr, "the output does not read back: %s\n", e.what());
            FUZZ_CHECK(!"output reads back");
        }
        fclose(back);
    } else {
        // Only a stream without a usable header, an output format that
        // cannot carry it, or frames too small to filter fail the run;
        // broken frames do not.
        FUZZ_CHECK(!plain.header || run.outputChroma == Chroma::C411 || plain.tiny);
    }
    free(outData);
    return 0;
}
