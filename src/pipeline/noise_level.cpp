#include "pipeline/noise_level.h"

#include <math.h>
#include <string.h>


namespace velvane {
namespace {

// Block responses are kept as a histogram of their mean Laplacian magnitude in
// half units of the host's scale; the top bin holds everything above.
constexpr int kBins = 4096;

struct Histogram {
    uint32_t count[kBins];
    uint32_t total;
};

void addBlock(Histogram &h, int64_t sum, int64_t samples)
{
    int64_t bin = 2 * sum / samples;
    h.count[bin < kBins ? bin : kBins - 1]++;
    h.total++;
}

// The quietest quarter's upper end, as a noise deviation in 8-bit code values.
// The quietest quarter of blocks of white noise lies below the mean, the more
// so the smaller the blocks: `bias` brings it back.
float quietQuarter(const Histogram &h, float bias)
{
    if (h.total == 0)
        return 0;
    const uint32_t wanted = (h.total + 3) / 4;
    uint32_t seen = 0;
    int bin = 0;
    for (; bin < kBins - 1; bin++) {
        seen += h.count[bin];
        if (seen >= wanted)
            break;
    }
    // Mean magnitude, the bin's lower end (so that a still, clean picture
    // measures 0), to a deviation: sqrt(pi / 2) / 6 on the host's scale of 16
    // per code.
    const float meanMagnitude = (float)bin * 0.5f;
    return meanMagnitude * 0.20888568f / 16.0f * bias;
}

// Laplacian-difference blocks of component `c` on the grid of every `step`-th
// pixel of every `rowStep`-th frame row starting at `firstRow` (one field's
// rows, or every other one), blocks of blockW x blockH grid points; the mask's
// columns `reach` grid points apart, or (reach 0) its middle column alone.
void laplacianBlocks(const YcPixel *frame, int32_t width, int32_t height, int32_t stride, int c, int32_t step,
                     int32_t firstRow, int32_t rowStep, int32_t blockW, int32_t blockH, int32_t reach, Histogram &h)
{
    const int32_t cols = (width - 1) / step + 1;                  // grid columns
    const int32_t rows = firstRow < height ? (height - 1 - firstRow) / rowStep + 1 : 0; // grid rows
    if (cols < 3 || rows < 3)
        return;
    const int32_t bw = blockW < cols - 2 * (reach > 0 ? reach : 1) ? blockW : cols - 2 * (reach > 0 ? reach : 1);
    const int32_t bh = blockH < rows - 2 ? blockH : rows - 2;
    const int32_t r = reach, margin = reach > 0 ? reach : 1;
    auto sample = [&](int32_t gx, int32_t gy) {
        return (int32_t)(&frame[(ptrdiff_t)(firstRow + gy * rowStep) * stride + gx * step].y)[c];
    };
    for (int32_t by = 1; by + bh <= rows - 1; by += bh)
        for (int32_t bx = margin; bx + bw <= cols - margin; bx += bw) {
            int64_t sum = 0;
            for (int32_t gy = by; gy < by + bh; gy++)
                for (int32_t gx = bx; gx < bx + bw; gx++) {
                    if (r == 0) {
                        // The field's rows alone, scaled to the full mask's
                        // response to white noise (sqrt 6 : 6).
                        const int32_t v = sample(gx, gy - 1) - 2 * sample(gx, gy) + sample(gx, gy + 1);
                        sum += (int64_t)(v < 0 ? -v : v) * 49 / 20;
                        continue;
                    }
                    const int32_t l = sample(gx - r, gy - 1) - 2 * sample(gx, gy - 1) + sample(gx + r, gy - 1) -
                                      2 * sample(gx - r, gy) + 4 * sample(gx, gy) - 2 * sample(gx + r, gy) +
                                      sample(gx - r, gy + 1) - 2 * sample(gx, gy + 1) + sample(gx + r, gy + 1);
                    sum += l < 0 ? -l : l;
                }
            addBlock(h, sum, (int64_t)bw * bh);
        }
}

// The dot-frequency response at (x, y): a horizontal first difference at a
// spacing of two pixels (the dots repeat every 3.8 pixels), minus the same on
// the next row of the field, where the dots are half a cycle on.
inline int32_t dotResponse(const YcPixel *f, int32_t stride, int32_t x, int32_t y)
{
    const YcPixel *r0 = f + (ptrdiff_t)y * stride, *r2 = r0 + 2 * (ptrdiff_t)stride;
    return r0[x + 1].y - r0[x - 1].y - r2[x + 1].y + r2[x - 1].y;
}

constexpr int32_t kDotBlock = 16;

// What the dot test finds in the block at (bx, by) of three frames.
struct DotBlock {
    enum Kind { None, Inverting, FourFrame } kind = None;
    double amplitude = 0; // 8-bit code values
    bool fourFrameLike = false;
    // The change from frame n to n + 1 has the dots' own shape: it inverts
    // two pixels on along the row (the dots repeat every 3.8) and on the
    // next row of the field, as a pattern fixed to the screen does whatever
    // the picture under it does. A change that motion or texture makes does
    // not (grain's inverts half as much).
    bool dotShaped = false;
    // The picture under the block moved from frame n to n + 1: the mean luma
    // of a cell of 8 pixels by 4 rows of a field (which take either system's
    // dots round whole cycles or nearly) changed by more than 2 code values.
    bool pictureMoved = false;
};

DotBlock dotBlock(const YcPixel *const *f, int32_t stride, int32_t bx, int32_t by)
{
    const int64_t samples = (int64_t)kDotBlock * kDotBlock;
    // A block change of 8 code values squared per sample at least, so that
    // still, clean pictures are never taken for dots (the host's scale is 16).
    const int64_t floor = 8 * 256 * samples;
    int64_t a = 0, b = 0;             // changes from frame n to n + 1, and from n to n + 2
    int64_t same = 0, shifted = 0;    // changes from each frame to the next, in place and a field row on
    int64_t e0 = 0, e1 = 0, c01 = 0;  // energies of frames n and n + 1, and their product
    int32_t change[kDotBlock][kDotBlock]; // from frame n to n + 1
    for (int32_t y = by; y < by + kDotBlock; y++)
        for (int32_t x = bx; x < bx + kDotBlock; x++) {
            const int64_t s0 = dotResponse(f[0], stride, x, y), s1 = dotResponse(f[1], stride, x, y),
                          s2 = dotResponse(f[2], stride, x, y);
            const int64_t d1 = s0 - s1, d2 = s0 - s2, d12 = s1 - s2;
            change[y - by][x - bx] = (int32_t)d1;
            a += d1 * d1;
            b += d2 * d2;
            same += d1 * d1 + d12 * d12;
            e0 += s0 * s0, e1 += s1 * s1, c01 += s0 * s1;
            const int64_t e1 = s1 - dotResponse(f[0], stride, x, y + 2),
                          e2 = s2 - dotResponse(f[1], stride, x, y + 2);
            shifted += e1 * e1 + e2 * e2;
        }
    DotBlock r;
    // Correlations of the change two pixels on and a field row on, each over
    // the energy of the pairs: -1 for the dots' own shape, -1/2 for grain.
    double along = 0, alongEnergy = 0, down = 0, downEnergy = 0;
    for (int32_t y = 0; y < kDotBlock; y++)
        for (int32_t x = 0; x < kDotBlock; x++) {
            const double c = change[y][x];
            if (x + 2 < kDotBlock) {
                along += c * change[y][x + 2];
                alongEnergy += 0.5 * (c * c + (double)change[y][x + 2] * change[y][x + 2]);
            }
            if (y + 2 < kDotBlock) {
                down += c * change[y + 2][x];
                downEnergy += 0.5 * (c * c + (double)change[y + 2][x] * change[y + 2][x]);
            }
        }
    for (int32_t field = 0; field < 2; field++)
        for (int32_t cy = 0; cy < kDotBlock; cy += 8)
            for (int32_t cx = 0; cx < kDotBlock; cx += 8) {
                int64_t d = 0;
                for (int32_t y = by + cy + field; y < by + cy + 8; y += 2)
                    for (int32_t x = bx + cx; x < bx + cx + 8; x++)
                        d += f[0][(ptrdiff_t)y * stride + x].y - f[1][(ptrdiff_t)y * stride + x].y;
                r.pictureMoved |= (d < 0 ? -d : d) > 2 * 16 * 32;
            }
    constexpr double kShaped = -0.7;
    r.dotShaped = along < kShaped * alongEnergy && down < kShaped * downEnergy;
    if (a > 2 * b + floor) {
        // NTSC's dots invert from one frame to the next: the change
        // from frame n to n + 1 is far above that from n to n + 2.
        r.kind = DotBlock::Inverting;
        // Dots of amplitude A give a response of 4 A that changes by 8 A
        // between frames: a mean square of 32 A^2 over the block.
        r.amplitude = sqrt((double)(a - b) / (double)samples / 32.0) / 16.0;
    } else if (same > 3 * shifted + 2 * floor) {
        // PAL's dots move on as much from one frame to the next as from
        // one row of a field to the next (three quarters of a cycle for
        // U, a quarter for V with the V-switch), and come back after
        // four frames: each frame is the last moved up a field row,
        // where grain, a still picture and motion along the line are not.
        r.kind = DotBlock::FourFrame;
        // A quarter cycle between the rows gives a response of
        // sqrt 2 x 2 sin(2 pi / 3.045) A, changing by sqrt 2 of that a frame: a
        // mean square of 11.2 A^2 over the block for the two changes together.
        r.amplitude = sqrt((double)(same - shifted) / (double)samples / 11.2) / 16.0;
        // NTSC's dots on a moving picture move on a field row too, but
        // are still opposed from one frame to the next; PAL's are in
        // quadrature there.
        r.fourFrameLike = (double)c01 > -0.4 * sqrt((double)e0 * (double)e1);
    }
    return r;
}

// Dots are the colour subcarrier left in the luma: a block without colour
// (chroma within 3 code values of grey throughout, and as flat) carries none,
// whatever its luma does. Small bright things moving inside still blocks (the
// stars of a star field zooming) pass the test otherwise.
bool coloured(const YcPixel *frame, int32_t stride, int32_t bx, int32_t by)
{
    constexpr int32_t kColour = 3 * 16; // host scale
    int32_t lo[2] = {INT32_MAX, INT32_MAX}, hi[2] = {INT32_MIN, INT32_MIN};
    for (int32_t y = by; y < by + kDotBlock; y++)
        for (int32_t x = bx; x < bx + kDotBlock; x++) {
            const YcPixel &p = frame[(ptrdiff_t)y * stride + x];
            const int32_t c[2] = {p.cb, p.cr};
            for (int k = 0; k < 2; k++) {
                if (c[k] > kColour || c[k] < -kColour)
                    return true;
                lo[k] = c[k] < lo[k] ? c[k] : lo[k];
                hi[k] = c[k] > hi[k] ? c[k] : hi[k];
            }
        }
    return hi[0] - lo[0] > kColour || hi[1] - lo[1] > kColour;
}

// The dot test over the picture. With `moved` (frames n + 1 and n + 2
// moved onto frame n along the motion), a block whose change from frame n
// to n + 1 inverts in place counts only where that change has the dots' own
// shape or the moved frames show dots too: motion or texture that the frames
// as they are take for dots cancel once moved, and a picture that moves
// under dots keeps their shape in the change (the moved frames carry the
// dots moved too, which may cancel them). A block of PAL's kind counts where
// the picture under it stayed, or the moved frames show dots too.
void measureDots(const YcPixel *const *f, int32_t width, int32_t height, int32_t stride, NoiseLevel &out,
                 const YcPixel *const *moved = nullptr)
{
    int64_t blocks = 0, dotted = 0, fourFrame = 0;
    double amplitude = 0;
    for (int32_t by = 0; by + kDotBlock + 4 <= height; by += kDotBlock)
        for (int32_t bx = 1; bx + kDotBlock + 1 <= width; bx += kDotBlock) {
            blocks++;
            const DotBlock d = dotBlock(f, stride, bx, by);
            if (d.kind == DotBlock::None || !coloured(f[0], stride, bx, by))
                continue;
            // PAL's dots look like a picture moving up a field row a frame:
            // where the picture under them moved, the moved frames decide.
            if (moved && (d.kind == DotBlock::Inverting ? !d.dotShaped : d.pictureMoved) &&
                dotBlock(moved, stride, bx, by).kind == DotBlock::None)
                continue;
            dotted++;
            amplitude += d.amplitude;
            fourFrame += d.kind == DotBlock::FourFrame && d.fourFrameLike;
        }
    if (blocks > 0)
        out.dotShare = (float)((double)dotted / (double)blocks);
    if (dotted > 0) {
        out.dotAmplitude = (float)(amplitude / (double)dotted);
        out.dotFourFrame = (float)((double)fourFrame / (double)dotted);
    }
}

// The share of cells (8 pixels by 4 rows of a field) whose mean luma differs
// between frames n and n + 2 by more than `bound` (host scale).
float measureMotion(const YcPixel *a, const YcPixel *b, int32_t width, int32_t height, int32_t stride, float bound)
{
    int64_t cells = 0, moved = 0;
    const int64_t limit = (int64_t)(bound * 32.0f); // on the sum of 32 samples
    for (int32_t field = 0; field < 2; field++)
        for (int32_t y = field; y + 6 < height; y += 8)
            for (int32_t x = 0; x + 8 <= width; x += 8) {
                int64_t d = 0;
                for (int32_t r = 0; r < 4; r++) {
                    const YcPixel *pa = a + (ptrdiff_t)(y + 2 * r) * stride + x,
                                  *pb = b + (ptrdiff_t)(y + 2 * r) * stride + x;
                    for (int32_t i = 0; i < 8; i++)
                        d += pb[i].y - pa[i].y;
                }
                cells++;
                moved += (d < 0 ? -d : d) > limit;
            }
    return cells > 0 ? (float)((double)moved / (double)cells) : 0.0f;
}

} // namespace

NoiseLevel measureNoise(const YcPixel *const *frames, int32_t count, int32_t width, int32_t height, int32_t stride)
{
    NoiseLevel level;
    if (count < 1 || width < 1 || height < 1 || stride < width)
        return level;
    if (count > 3)
        count = 3;
    // Noise that entered before a decoder's Y/C separation (composite, tape
    // or RF noise) comes out smoothed along the line, and the mask's columns
    // one sample apart see little of it. The rows of a field were scanned a
    // line's time apart, and the noise of one is not the next's: the mask's
    // middle column alone sees all of it, however smooth along the line, and
    // white noise alike. The larger answer counts.
    constexpr int kReaches = 2;
    // On the stack: the processing allocates nothing of its own, and the
    // plug-in's build carries no C++ heap.
    static_assert(sizeof(Histogram) * (kReaches + 2) < 70000, "kept on the stack");
    Histogram histograms[kReaches + 2];
    memset(histograms, 0, sizeof histograms);
    Histogram *lumaH = histograms, *chromaH = lumaH + kReaches;
    for (int32_t i = 0; i < count; i++)
        for (int32_t field = 0; field < 2; field++) {
            for (int r = 0; r < kReaches; r++)
                laplacianBlocks(frames[i], width, height, stride, 0, 1, field, 2, 16, 8, r, lumaH[r]);
            // Every other row of the field: 4:2:0 gives both rows of a pair the same chroma.
            for (int c = 1; c <= 2; c++)
                for (int r = 0; r < 2; r++)
                    laplacianBlocks(frames[i], width, height, stride, c, 4, field, 4, 8, 4, 1 - r, chromaH[r]);
        }
    // Measured on frames of white noise of 1 to 10 code values: blocks of
    // 128 luma samples and of 32 chroma samples.
    for (int r = 0; r < kReaches; r++)
        level.luma = fmaxf(level.luma, quietQuarter(lumaH[r], 1.091f));
    level.stillLuma = level.luma;
    for (int r = 0; r < 2; r++)
        level.chroma = fmaxf(level.chroma, quietQuarter(chromaH[r], 1.199f));
    if (count == 3) {
        measureDots(frames, width, height, stride, level);
        // Grain moves a cell's mean by its deviation / sqrt 32, and the
        // difference of two by sqrt 2 of that: three of those, and a code
        // value for what the rounding leaves of a still picture.
        const float bound = 16.0f * (1.0f + 3.0f * 1.4142f / 5.657f * level.luma);
        level.motionShare = measureMotion(frames[0], frames[2], width, height, stride, bound);
    }
    return level;
}

void refineAlongMotion(NoiseLevel &level, const YcPixel *const *still, const YcPixel *const *moved,
                       const float *residual, int32_t width, int32_t height, int32_t stride)
{
    const YcPixel *frame = still[0];
    level.luma = fminf(level.luma, residual[0]);
    level.chroma = fminf(level.chroma, residual[1]);
    const YcPixel *frames[3] = {frame, moved[0], moved[1]};
    NoiseLevel dots;
    measureDots(still, width, height, stride, dots, frames);
    level.dotShare = dots.dotShare;
    level.dotAmplitude = dots.dotAmplitude;
    level.dotFourFrame = dots.dotFourFrame;
}

void sceneSignature(const YcPixel *frame, int32_t width, int32_t height, int32_t stride, SceneSignature *out)
{
    // Every other pixel of every other row tells a cell's mean as well, at a
    // quarter of the cost: this runs on every frame.
    for (int32_t cy = 0; cy < 32; cy++) {
        const int32_t y0 = cy * height / 32, y1 = (cy + 1) * height / 32;
        for (int32_t cx = 0; cx < 32; cx++) {
            const int32_t x0 = cx * width / 32, x1 = (cx + 1) * width / 32;
            int64_t sum = 0, n = 0;
            for (int32_t y = y0; y < y1; y += 2)
                for (int32_t x = x0; x < x1; x += 2, n++)
                    sum += frame[(ptrdiff_t)y * stride + x].y;
            out->cell[cy * 32 + cx] = n > 0 ? (float)((double)sum / (double)n / 16.0) : 0.0f;
        }
    }
}

float sceneChange(const SceneSignature &a, const SceneSignature &b)
{
    double sum = 0;
    for (int i = 0; i < kSceneCells; i++)
        sum += fabs((double)a.cell[i] - (double)b.cell[i]);
    return (float)(sum / kSceneCells);
}

bool SceneCuts::next(const SceneSignature &s)
{
    // Grain and slow motion move cell means by a few code values; a new
    // picture moves most of them by far more. Steady motion changes the cells
    // by much the same from frame to frame; a cut's change stands out twice
    // over from the change before it.
    constexpr float kCut = 12.0f, kAbove = 2.0f;
    bool cut = true;
    if (have_) {
        const float change = sceneChange(last_, s);
        cut = change > kCut && change > kAbove * change_;
        change_ = change;
    } else {
        // Nor does the next frame: one frame is no scene.
        change_ = HUGE_VALF;
    }
    last_ = s;
    have_ = true;
    return cut;
}

} // namespace velvane
