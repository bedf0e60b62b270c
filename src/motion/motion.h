// Motion-compensated temporal averaging. Each field of a frame is matched
// against the same-parity field of up to `radius` frames on either side: a
// hierarchical block search on 8-bit search planes (three levels, half a
// pixel at the finest), then overlapped, windowed compensation of every
// plane, each compensated block weighted by how well it matches against
// thresholds derived from the noise the matches show. A neighbour that does
// not match (an occlusion, a scene cut, a wrong vector) falls back to the
// current picture. The frames come in as packed pixels with chroma at every
// pixel, so the chroma follows the luma vectors as they stand: half a chroma
// sample per luma pixel for 4:2:2, a quarter for 4:1:1.
#ifndef VELVANE_MOTION_MOTION_H
#define VELVANE_MOTION_MOTION_H

#include <stdint.h>

#include <vector>

#include "common/tasks.h"
#include "motion/dsp.h"
#include "velvane/filter.h"

namespace velvane {

constexpr int32_t kMotionRadiusMax = 4;
constexpr int32_t kMotionStrengthMax = 400;
constexpr int32_t kMotionStrengthDefault = 100;

struct MotionSettings {
    int32_t radius = 0;                          // frames on either side, 0 (off) .. kMotionRadiusMax
    int32_t strength = kMotionStrengthDefault;   // percent of the thresholds the noise gives, 1 .. kMotionStrengthMax
    // Where above 0: the most noise the thresholds follow, as a block cost
    // of 16 x 8 pixels (the mean absolute difference in 8-bit code values
    // x 128), for a caller that knows the noise better than the matches
    // show it (where a fine texture moves in ways the blocks follow only
    // roughly, its matches cost more than the noise).
    int32_t noiseCeiling = 0;
};

// What the search found for one output frame, for reports.
struct MotionStats {
    float noise = 0;        // the noise the closest matches show, 8-bit code values
    float matchedShare = 0; // share of block weight the neighbours carried, 0..1
    float meanVector = 0;   // mean length of the vectors to the next frame, pixels
};

// The planes of one frame that the stage reads, built once per frame:
// per field the samples (clamped to the kernels' range) and the search
// pyramid. Its size follows the first frame prepared.
class MotionFrame {
public:
    // From `height` rows of `width` pixels, `stride` pixels apart. Throws
    // std::bad_alloc when its memory cannot be allocated.
    void prepare(const MotionDsp &dsp, const YcPixel *pixels, int32_t width, int32_t height, int32_t stride,
                 const TaskRunner &tasks);

    struct Plane8 {
        std::vector<uint8_t> data;
        int32_t width = 0, height = 0, pad = 0, pitch = 0;
        uint8_t *at(int32_t x, int32_t y) { return data.data() + (ptrdiff_t)(y + pad) * pitch + x + pad; }
        const uint8_t *at(int32_t x, int32_t y) const
        {
            return data.data() + (ptrdiff_t)(y + pad) * pitch + x + pad;
        }
    };
    struct Field {
        int32_t height = 0;
        std::vector<int16_t> samples[3]; // y, cb, cr; padded by kPad, pitch width + 2 kPad
        Plane8 search[4];                // full pixels, then half a pixel right, down, and both
        Plane8 level1, level2;           // halved, and halved again
    };
    static constexpr int32_t kPad = 48;

    int32_t width = 0, height = 0, pitch = 0;
    Field field[2];

    const int16_t *sample(int f, int c, int32_t x, int32_t y) const
    {
        return field[f].samples[c].data() + (ptrdiff_t)(y + kPad) * pitch + x + kPad;
    }
};

// Motion-compensated averaging of one frame against its neighbours.
class MotionStage {
public:
    explicit MotionStage(unsigned cpuFlags);

    // Frames too small for the search (below 64 x 64) pass unchanged.
    static bool takes(int32_t width, int32_t height) { return width >= 64 && height >= 64; }

    // Writes the averaged `cur` into `out` (its pixels 0 .. width - 1 of each
    // row, rows `stride` pixels apart), over the neighbours before[0 ..
    // countBefore - 1] (the nearest first) and after[...]; null entries end a
    // side early. Throws std::bad_alloc when its memory cannot be allocated.
    void average(const MotionFrame &cur, const MotionFrame *const *before, int32_t countBefore,
                 const MotionFrame *const *after, int32_t countAfter, const MotionSettings &s, YcPixel *out,
                 int32_t stride, const TaskRunner &tasks);

    const MotionStats &stats() const { return stats_; }

    const MotionDsp &dsp() const { return dsp_; }

    // Block geometry: vectors on a grid of 16 x 8 field pixels; block (i, j)
    // is matched over the 16 x 8 pixels at (16i - 8, 8j - 4) (moved inside
    // the field at its edges) and compensated over the window of 32 x 16
    // whose top left lies at (16i - 16, 8j - 8).
    struct Block {
        int16_t dx, dy; // half pixels
        uint32_t sad;
    };

    // For measures that must not take motion or texture for noise or dots:
    // the vectors of each block of `cur`'s fields matched against `ref`'s
    // (the search of `average`), and `ref` moved onto `cur` along them.
    struct Vectors {
        std::vector<Block> field[2]; // the blocks of each field, as `average` lays them out
    };
    void match(const MotionFrame &cur, const MotionFrame &ref, Vectors &v, const TaskRunner &tasks);
    // What is left after moving: writes `ref` moved along the vectors times
    // num / den (half pixels, rounded toward zero) into `out` (every pixel of
    // `cur`'s size, rows `stride` pixels apart), each 16 x 8 cell of a field
    // taking the best matched of the four blocks over it, half pixels
    // bilinear; no weighting, no averaging. Returns the grain of cur - moved
    // (8-bit code values of deviation): the cells' quietest tenth, the
    // interpolation's smoothing of white noise taken back; chroma on every
    // fourth pixel, where every chroma format has a sample of its own.
    struct Residual {
        float luma = 0, chroma = 0;
    };
    // With `nearer` (vectors of `cur` matched against `ref` itself), a cell
    // takes its own block's vector there instead where it lies within a
    // pixel of the scaled one: `v` then only keeps the search from what
    // could mislead it at this distance (dots half a cycle on).
    Residual moveOnto(const MotionFrame &cur, const MotionFrame &ref, const Vectors &v, int32_t num, int32_t den,
                      YcPixel *out, int32_t stride, const Vectors *nearer = nullptr) const;

private:
    struct Search {
        const MotionFrame *ref;
        int32_t field;
        std::vector<Block> level2, level1, level0;
        std::vector<uint8_t> weight; // 0 .. 8 per block of level0
    };
    // Sizes a search's block lists for `cur` (on the calling thread: the
    // searches themselves run in tasks and allocate nothing).
    static void sizeSearch(const MotionFrame &cur, Search &s);
    void searchCoarse(const MotionFrame &cur, Search &s) const;
    void searchRow(const MotionFrame &cur, Search &s, int32_t j) const;

    MotionDsp dsp_;
    MotionStats stats_;
    std::vector<Search> searches_;
    std::vector<std::vector<int16_t>> work_; // per worker: a row of cells averaged, y, cb and cr
};

} // namespace velvane

#endif
