#include "demo/demo.h"

#include <errno.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "y4m/convert.h"
#include "run/output_file.h"
#include "run/filter_run.h"
#include "report/png_writer.h"

namespace velvane {

namespace {

const double kPi = 3.14159265358979323846;

// splitmix64: small, fast and the same everywhere.
struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed) {}
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Roughly normal, unit variance: a sum of four uniforms, rescaled.
    float normal()
    {
        float s = 0;
        for (int i = 0; i < 4; i++)
            s += (float)(next() >> 40) * (1.0f / 16777216.0f);
        return (s - 2.0f) * 1.7320508f;
    }
};

inline uint8_t toByte(float v) { return (uint8_t)std::min(255.0f, std::max(0.0f, floorf(v + 0.5f))); }

struct Sample {
    float y, cb, cr;
};

} // namespace

DemoScene::DemoScene(int width, int height) : width_(width), height_(height)
{
    for (int k = 0; k < 4; k++) {
        dotPhase_[k].resize((size_t)width);
        for (int x = 0; x < width; x++)
            dotPhase_[k][x] = (float)cos(2 * kPi * x / 3.8 + kPi / 2 * k);
    }
    texture_.resize((size_t)width * height);
    Random r(12345);
    for (auto &t : texture_)
        t = (uint8_t)(r.next() % 48);
}

Y4mFormat DemoScene::format() const
{
    return parseStreamHeader("YUV4MPEG2 W" + std::to_string(width_) + " H" + std::to_string(height_) +
                             " F30000:1001 It A10:11 C422");
}

void DemoScene::render(int n, uint8_t *clean, uint8_t *noisy) const
{
    const int w = width_, h = height_, cw = (w + 1) / 2;
    uint8_t *planes[2] = {clean, noisy};
    Random noise(0xD5A11CEull + (uint64_t)n * 7919u);
    std::vector<Sample> row((size_t)w);
    for (int y = 0; y < h; y++) {
        // The bottom field is seen half a frame after the top field.
        const float t = (float)n + 0.5f * (float)(y & 1);
        const float discX = fmodf(120.0f + 9.0f * t, (float)w + 140.0f) - 70.0f;
        const float discY = 0.55f * h + 0.1f * h * sinf(0.15f * t);
        const float radius = 0.125f * h;
        const float backgroundY = 15.0f * sinf(y * 0.02f);
        const float backgroundCr = 128.0f + 24.0f * cosf(y * 0.012f);
        const bool bars = y >= h / 12 && y < h * 7 / 24;
        const bool still = y >= h * 19 / 24 && y < h * 23 / 24;
        for (int x = 0; x < w; x++) {
            Sample s;
            s.y = 70.0f + 50.0f * x / w + backgroundY;
            s.cb = 128.0f + 24.0f * sinf(x * 0.008f + 0.5f);
            s.cr = backgroundCr;
            if (bars) {
                float wave = 2.5f * sinf(2.0f * (float)kPi * ((float)x - 3.0f * t) / 48.0f);
                s.y = 110.0f + 70.0f * std::min(1.0f, std::max(-1.0f, wave));
                s.cb = s.cr = 128.0f;
            } else if (still) {
                s.y = 90.0f + texture_[(size_t)y * w + x];
                s.cb = 140.0f;
                s.cr = 115.0f;
            }
            const float dx = x - discX, dy = (y - discY) * 1.1f;
            const float cover = std::min(1.0f, std::max(0.0f, radius - sqrtf(dx * dx + dy * dy) + 0.5f));
            if (cover > 0) {
                s.y += (190.0f - s.y) * cover;
                s.cb += (80.0f - s.cb) * cover;
                s.cr += (180.0f - s.cr) * cover;
            }
            row[x] = s;
        }
        for (int p = 0; p < 2; p++) {
            uint8_t *planeY = planes[p];
            if (!planeY)
                continue;
            uint8_t *planeCb = planeY + (size_t)w * h;
            uint8_t *planeCr = planeCb + (size_t)cw * h;
            const bool addNoise = p == 1;
            // Dots follow the colour. The subcarrier runs 227.5 cycles a line:
            // half a cycle on from one line of a field to the next and from
            // one frame to the next, and three quarters from a line of the
            // top field to the bottom field's line below it, 262.5 lines later.
            const std::vector<float> &dotPhase = dotPhase_[(2 * (y >> 1) + 3 * (y & 1) + 2 * n) & 3];
            for (int x = 0; x < w; x++) {
                float v = row[x].y;
                if (addNoise) {
                    const float saturation = fabsf(row[x].cb - 128.0f) + fabsf(row[x].cr - 128.0f);
                    v += std::min(9.0f, 0.12f * saturation) * dotPhase[x] + 3.0f * noise.normal();
                }
                planeY[(size_t)y * w + x] = toByte(v);
            }
            for (int k = 0; k < cw; k++) {
                float cb = row[2 * k].cb, cr = row[2 * k].cr;
                if (addNoise) {
                    cb += 2.5f * noise.normal();
                    cr += 2.5f * noise.normal();
                }
                planeCb[(size_t)y * cw + k] = toByte(cb);
                planeCr[(size_t)y * cw + k] = toByte(cr);
            }
        }
    }
}

namespace {

struct InputFile {
    FILE *f;
    explicit InputFile(const std::string &path) : f(fopen(path.c_str(), "rb"))
    {
        if (!f)
            throw CliError("cannot open " + path + ": " + strerror(errno));
    }
    ~InputFile() { fclose(f); }
};

double psnr(double sse, double count)
{
    if (sse <= 0)
        return 99.0;
    return 10.0 * log10(255.0 * 255.0 * count / sse);
}

void makeDirectory(const std::string &dir)
{
    std::string part;
    for (size_t i = 0; i <= dir.size(); i++) {
        if (i == dir.size() || dir[i] == '/') {
            part = dir.substr(0, i);
            if (!part.empty() && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
                throw CliError("cannot make the folder " + part + ": " + strerror(errno));
        }
    }
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw CliError(dir + " is not a folder");
}

// Frame `index` of a stream as a host frame.
std::vector<YcPixel> readHostFrame(const std::string &path, int64_t index, int *width, int *height)
{
    InputFile in(path);
    Y4mReader reader(in.f, path);
    const Y4mFormat &f = reader.readHeader();
    std::vector<uint8_t> raw(f.frameBytes());
    std::string tags;
    for (int64_t i = 0; i <= index; i++)
        if (!reader.readFrame(raw.data(), &tags))
            throw CliError(path + " has no frame " + std::to_string(index));
    std::vector<YcPixel> frame((size_t)f.width * f.height);
    FrameConverter(f, f.width).toHost(raw.data(), frameIsInterlaced(f, tags), frame.data());
    *width = f.width;
    *height = f.height;
    return frame;
}

} // namespace

Psnr psnrOfFiles(const std::string &reference, const std::string &test)
{
    InputFile a(reference), b(test);
    Y4mReader ra(a.f, reference), rb(b.f, test);
    const Y4mFormat fa = ra.readHeader(), fb = rb.readHeader();
    if (fa.width != fb.width || fa.height != fb.height || fa.chroma != fb.chroma || fa.depth != fb.depth)
        throw CliError(reference + " and " + test + " differ in format");
    if (fa.depth != 8)
        throw CliError("PSNR is measured on 8-bit streams only");
    std::vector<uint8_t> pa(fa.frameBytes()), pb(fa.frameBytes());
    double sseY = 0, sseC = 0, countY = 0, countC = 0;
    while (ra.readFrame(pa.data(), nullptr) && rb.readFrame(pb.data(), nullptr)) {
        const size_t ny = fa.lumaBytes();
        for (size_t i = 0; i < pa.size(); i++) {
            const double d = (double)pa[i] - (double)pb[i];
            (i < ny ? sseY : sseC) += d * d;
        }
        countY += (double)ny;
        countC += (double)(pa.size() - ny);
    }
    Psnr r;
    r.luma = psnr(sseY, countY);
    r.chroma = countC > 0 ? psnr(sseC, countC) : 0;
    return r;
}

DemoReport runDemo(FilterDescriptor *fd, const std::string &dirIn, int frames, const FilterSettings &settings,
                   bool progress, bool plugin, int threads)
{
    std::string dir = dirIn.empty() ? "." : dirIn;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    makeDirectory(dir);
    const std::string cleanPath = dir + "/clean.y4m", noisyPath = dir + "/noisy.y4m",
                      filteredPath = dir + "/filtered.y4m", beforePath = dir + "/before.png",
                      afterPath = dir + "/after.png", comparePath = dir + "/compare.png";
    DemoReport report;
    report.frames = frames;

    DemoScene scene;
    const Y4mFormat format = scene.format();
    {
        OutputFile clean(cleanPath), noisy(noisyPath);
        Y4mWriter wc(clean.file(), cleanPath), wn(noisy.file(), noisyPath);
        wc.writeHeader(format);
        wn.writeHeader(format);
        std::vector<uint8_t> a(format.frameBytes()), b(format.frameBytes());
        for (int n = 0; n < frames; n++) {
            scene.render(n, a.data(), b.data());
            wc.writeFrame(a.data(), "");
            wn.writeFrame(b.data(), "");
            clean.frames() = noisy.frames() = n + 1; // for an interruption's message
        }
        wc.finish();
        wn.finish();
        clean.commit();
        noisy.commit();
    }

    const int64_t shown = frames / 2;
    {
        InputFile in(noisyPath);
        OutputFile out(filteredPath);
        FilterRun run;
        run.settings = settings;
        run.plugin = plugin;
        run.threads = threads;
        run.progress = progress;
        run.framesWritten = &out.frames();
        run.snapshot.frame = shown;
        run.snapshot.path = comparePath;
        RunStats stats = filterStream(fd, in.f, noisyPath, out.file(), filteredPath, run);
        if (!stats.inputError.empty())
            throw CliError(stats.inputError);
        out.commit();
        report.filterSeconds = stats.seconds;
    }

    int w, h;
    std::vector<YcPixel> before = readHostFrame(noisyPath, shown, &w, &h);
    std::vector<YcPixel> after = readHostFrame(filteredPath, shown, &w, &h);
    writeFramePng(beforePath, before.data(), w, h, w);
    writeFramePng(afterPath, after.data(), w, h, w);

    report.noisy = psnrOfFiles(cleanPath, noisyPath);
    report.filtered = psnrOfFiles(cleanPath, filteredPath);
    report.files = {cleanPath, noisyPath, filteredPath, beforePath, afterPath, comparePath};
    return report;
}

} // namespace velvane
