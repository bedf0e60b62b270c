// bench/composite: puts a clip through a simulated composite video chain
// (composite_video.h) and writes it as interlaced Rec. 601 video.
//
// The input is a YUV4MPEG2 stream of 720-sample progressive 4:4:4 pictures at
// the field rate (480 rows for NTSC, 576 for PAL), each the scene at one
// field's moment. Every two pictures make a frame: the first gives the field
// sent first (the top rows for tff, the bottom rows for bff), the second the
// other. The output is 4:2:2 (chroma co-sited with the even luma samples) at
// the frame rate, with its field order.
//
// Usage: composite --system ntsc|pal --decoder notch|lowpass|comb2|comb3|delayline
//                  [--order tff|bff] [--noise SIGMA] [--seed N] [--first-frame F]
//                  [--reference REF.y4m] [--frames N] IN.y4m|- OUT.y4m
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "composite_video.h"

using namespace composite;

namespace {

[[noreturn]] void fail(const std::string &msg)
{
    fprintf(stderr, "composite: %s\n", msg.c_str());
    exit(1);
}

struct Header {
    int width = 0, height = 0, rateNum = 0, rateDen = 1;
};

Header readHeader(FILE *f)
{
    char line[1024];
    if (!fgets(line, sizeof line, f) || strncmp(line, "YUV4MPEG2 ", 10) != 0)
        fail("the input is not a YUV4MPEG2 stream");
    Header h;
    bool c444 = false;
    for (char *tok = strtok(line + 10, " \n"); tok; tok = strtok(nullptr, " \n")) {
        if (tok[0] == 'W')
            h.width = atoi(tok + 1);
        else if (tok[0] == 'H')
            h.height = atoi(tok + 1);
        else if (tok[0] == 'F')
            sscanf(tok + 1, "%d:%d", &h.rateNum, &h.rateDen);
        else if (tok[0] == 'C')
            c444 = strncmp(tok + 1, "444", 3) == 0 && tok[4] == 0;
        else if (tok[0] == 'I' && tok[1] != 'p')
            fail("the input must be progressive pictures at the field rate");
    }
    if (!c444)
        fail("the input must be 8-bit 4:4:4 (ffmpeg -pix_fmt yuv444p)");
    return h;
}

bool readPicture(FILE *f, const Header &h, std::vector<uint8_t> &buf)
{
    char line[256];
    if (!fgets(line, sizeof line, f))
        return false;
    if (strncmp(line, "FRAME", 5) != 0)
        fail("the input's frame header is damaged");
    buf.resize((size_t)3 * h.width * h.height);
    if (fread(buf.data(), 1, buf.size(), f) != buf.size())
        return false;
    return true;
}

// The rows of one parity of a 4:4:4 picture as a field.
Field fieldOf(const std::vector<uint8_t> &pic, const Header &h, int parity)
{
    const size_t plane = (size_t)h.width * h.height;
    Field out(h.width, h.height / 2);
    for (int r = 0; r < out.rows; r++)
        for (int x = 0; x < h.width; x++) {
            const size_t i = (size_t)(2 * r + parity) * h.width + x, o = (size_t)r * h.width + x;
            fromCodes(pic[i], pic[plane + i], pic[2 * plane + i], &out.y[o], &out.u[o], &out.v[o]);
        }
    return out;
}

uint8_t code(float v)
{
    const long c = lrintf(v);
    return (uint8_t)(c < 0 ? 0 : c > 255 ? 255 : c);
}

// A field into the rows of its parity of a 4:2:2 frame.
void putField(const Field &f, int parity, int width, int height, std::vector<uint8_t> &frame)
{
    const size_t luma = (size_t)width * height, chroma = (size_t)(width / 2) * height;
    for (int r = 0; r < f.rows; r++) {
        const int y = 2 * r + parity;
        for (int x = 0; x < width; x++) {
            float Y, Cb, Cr;
            const size_t i = (size_t)r * f.width + x;
            toCodes(f.y[i], f.u[i], f.v[i], &Y, &Cb, &Cr);
            frame[(size_t)y * width + x] = code(Y);
            if ((x & 1) == 0) {
                frame[luma + (size_t)y * (width / 2) + x / 2] = code(Cb);
                frame[luma + chroma + (size_t)y * (width / 2) + x / 2] = code(Cr);
            }
        }
    }
}

FILE *openOut(const std::string &path, const Header &h, bool tff)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        fail("cannot write " + path);
    const bool even = h.rateNum % 2 == 0; // the frame rate is half the field rate
    fprintf(f, "YUV4MPEG2 W%d H%d F%d:%d I%c A0:0 C422\n", h.width, h.height, even ? h.rateNum / 2 : h.rateNum,
            even ? h.rateDen : h.rateDen * 2, tff ? 't' : 'b');
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    System system = System::Ntsc;
    Decoder decoder = Decoder::Notch;
    bool haveSystem = false, haveDecoder = false, tff = true;
    float noise = 0;
    unsigned seed = 1;
    long long firstFrame = 0, frames = -1;
    std::string reference;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                fail(a + " needs a value");
            return argv[++i];
        };
        if (a == "--system")
            haveSystem = parseSystem(value(), &system) || (fail("unknown system " + std::string(argv[i])), false);
        else if (a == "--decoder")
            haveDecoder = parseDecoder(value(), &decoder) || (fail("unknown decoder " + std::string(argv[i])), false);
        else if (a == "--order") {
            const std::string o = value();
            if (o != "tff" && o != "bff")
                fail("--order takes tff or bff");
            tff = o == "tff";
        } else if (a == "--noise")
            noise = strtof(value().c_str(), nullptr);
        else if (a == "--seed")
            seed = (unsigned)strtoul(value().c_str(), nullptr, 10);
        else if (a == "--first-frame")
            firstFrame = strtoll(value().c_str(), nullptr, 10);
        else if (a == "--frames")
            frames = strtoll(value().c_str(), nullptr, 10);
        else if (a == "--reference")
            reference = value();
        else if (a.size() > 1 && a[0] == '-')
            fail("unknown option " + a);
        else
            paths.push_back(a);
    }
    if (!haveSystem || !haveDecoder || paths.size() != 2)
        fail("usage: composite --system ntsc|pal --decoder notch|lowpass|comb2|comb3|delayline [--order tff|bff] "
             "[--noise SIGMA] [--seed N] [--first-frame F] [--reference REF.y4m] [--frames N] IN.y4m|- OUT.y4m");
    if (decoder == Decoder::DelayLine && system != System::Pal)
        fail("the delay-line decoder is PAL's");
    FILE *in = paths[0] == "-" ? stdin : fopen(paths[0].c_str(), "rb");
    if (!in)
        fail("cannot read " + paths[0]);
    const Header h = readHeader(in);
    const Simulator sim(system, decoder);
    if (h.width != 720 || h.height != sim.standardUsed().height)
        fail("the input must be 720 x " + std::to_string(sim.standardUsed().height) + " for this system");
    if (paths[1] == paths[0] || (!reference.empty() && (reference == paths[0] || reference == paths[1])))
        fail("the input, the output and the reference must be different files");
    FILE *out = openOut(paths[1], h, tff);
    FILE *ref = reference.empty() ? nullptr : openOut(reference, h, tff);
    std::mt19937 rng(seed);
    std::vector<uint8_t> first, second, frame((size_t)2 * h.width * h.height), refFrame(frame.size());
    for (long long k = 0; frames < 0 || k < frames; k++) {
        if (!readPicture(in, h, first) || !readPicture(in, h, second))
            break;
        const int64_t F = firstFrame + k;
        for (int field = 0; field < 2; field++) {
            const int parity = field == 0 ? (tff ? 0 : 1) : (tff ? 1 : 0);
            const Field src = fieldOf(field == 0 ? first : second, h, parity);
            putField(sim.pass(src, F, field, noise, rng), parity, h.width, h.height, frame);
            if (ref)
                putField(sim.reference(src, F, field), parity, h.width, h.height, refFrame);
        }
        fputs("FRAME\n", out);
        fwrite(frame.data(), 1, frame.size(), out);
        if (ref) {
            fputs("FRAME\n", ref);
            fwrite(refFrame.data(), 1, refFrame.size(), ref);
        }
    }
    if (fclose(out) != 0 || (ref && fclose(ref) != 0))
        fail("writing the output failed");
    return 0;
}
