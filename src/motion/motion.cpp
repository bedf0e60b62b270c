#include "motion/motion.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "velvane/velvane.h"

namespace velvane {
namespace {

constexpr int32_t kLevel1Pad = 32, kLevel2Pad = 16;
constexpr int32_t kCoarseRange = 4;   // full pixels either way at the coarsest level
constexpr int32_t kVectorMax = 32;    // full pixels either way at the finest
constexpr int32_t kFullWeight = 8;    // a block's weight where it matches well
constexpr int32_t kWindowSum = 512;   // the windows over one pixel: 32 across x 16 down
constexpr int32_t kCurrentWeight = kWindowSum * kFullWeight;
// A cell of a field takes at most four passes from each search of that field.
static_assert(4 * 2 * kMotionRadiusMax <= kCellPassesMax, "a cell's passes");

inline int32_t clampInt(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

void allocate(MotionFrame::Plane8 &p, int32_t width, int32_t height, int32_t pad)
{
    p.width = width;
    p.height = height;
    p.pad = pad;
    p.pitch = width + 2 * pad;
    p.data.resize((size_t)p.pitch * (size_t)(height + 2 * pad));
}

// Copies the edge samples of a plane (width x height inside `pad`) outward.
template <class T> void replicateEdges(T *origin, ptrdiff_t pitch, int32_t width, int32_t height, int32_t pad)
{
    for (int32_t y = 0; y < height; y++) {
        T *row = origin + y * pitch;
        for (int32_t x = 1; x <= pad; x++) {
            row[-x] = row[0];
            row[width - 1 + x] = row[width - 1];
        }
    }
    const size_t bytes = (size_t)(width + 2 * pad) * sizeof(T);
    for (int32_t y = 1; y <= pad; y++) {
        memcpy(origin - pad - y * pitch, origin - pad, bytes);
        memcpy(origin - pad + (height - 1 + y) * pitch, origin - pad + (height - 1) * pitch, bytes);
    }
}

void replicateEdges(MotionFrame::Plane8 &p) { replicateEdges(p.at(0, 0), p.pitch, p.width, p.height, p.pad); }

// Half of `src` in each direction, rounded, edges replicated (`dst` sized by
// sizeField).
void halve(const MotionDsp &dsp, const MotionFrame::Plane8 &src, MotionFrame::Plane8 &dst)
{
    for (int32_t y = 0; y < dst.height; y++)
        dsp.halveRow(dst.at(0, y), src.at(0, 2 * y), src.at(0, 2 * y + 1), dst.width);
    replicateEdges(dst);
}

// Every plane of field f at the frame's size. On the calling thread, before
// the fields are filled in tasks: an allocation that fails throws where the
// caller can take it, never inside a worker.
void sizeField(MotionFrame &m, int f)
{
    MotionFrame::Field &fd = m.field[f];
    const int32_t width = m.width, pad = MotionFrame::kPad;
    fd.height = (m.height - f + 1) / 2;
    const size_t planeSize = (size_t)m.pitch * (size_t)(fd.height + 2 * pad);
    for (auto &s : fd.samples)
        s.resize(planeSize);
    for (auto &p : fd.search)
        allocate(p, width, fd.height, pad);
    allocate(fd.level1, (width + 1) / 2, (fd.height + 1) / 2, kLevel1Pad);
    allocate(fd.level2, (fd.level1.width + 1) / 2, (fd.level1.height + 1) / 2, kLevel2Pad);
}

void prepareField(const MotionDsp &dsp, MotionFrame &m, int f, const YcPixel *pixels, int32_t stride)
{
    MotionFrame::Field &fd = m.field[f];
    const int32_t width = m.width, pad = MotionFrame::kPad;
    for (int32_t y = 0; y < fd.height; y++) {
        const YcPixel *src = pixels + (ptrdiff_t)(2 * y + f) * stride;
        const ptrdiff_t at = (ptrdiff_t)(y + pad) * m.pitch + pad;
        int16_t *py = fd.samples[0].data() + at, *pb = fd.samples[1].data() + at, *pr = fd.samples[2].data() + at;
        dsp.splitPixelsRow(py, pb, pr, fd.search[0].at(0, y), src, width);
    }
    for (int c = 0; c < 3; c++)
        replicateEdges(fd.samples[c].data() + (ptrdiff_t)pad * m.pitch + pad, m.pitch, width, fd.height, pad);
    replicateEdges(fd.search[0]);
    // Half-pixel planes over the whole padded area; the last column and row
    // take the sample itself for the one beyond.
    const MotionFrame::Plane8 &s = fd.search[0];
    const ptrdiff_t pitch = s.pitch;
    const int32_t n = (int32_t)pitch;
    for (int32_t y = -pad; y < fd.height + pad; y++) {
        const uint8_t *a = s.at(-pad, y);
        const uint8_t *b = y == fd.height + pad - 1 ? a : a + pitch;
        uint8_t *h = fd.search[1].at(-pad, y), *v = fd.search[2].at(-pad, y), *d = fd.search[3].at(-pad, y);
        dsp.halfPixelRow(h, v, d, a, b, n - 1);
        h[n - 1] = a[n - 1];
        v[n - 1] = (uint8_t)((a[n - 1] + b[n - 1] + 1) >> 1);
        d[n - 1] = v[n - 1];
    }
    halve(dsp, fd.search[0], fd.level1);
    halve(dsp, fd.level1, fd.level2);
}

} // namespace

void MotionFrame::prepare(const MotionDsp &dsp, const YcPixel *pixels, int32_t w, int32_t h, int32_t stride,
                          const TaskRunner &tasks)
{
    width = w;
    height = h;
    pitch = w + 2 * kPad;
    sizeField(*this, 0);
    sizeField(*this, 1);
    auto job = [&](int32_t f, int32_t) { prepareField(dsp, *this, f, pixels, stride); };
    runTasks(tasks, 2, job);
}

MotionStage::MotionStage(unsigned cpuFlags) { motionDspInit(&dsp_, cpuFlags); }

namespace {

// Geometry of a block grid over a plane: blocks of 16 x 8 whose origins are
// clamped inside it.
inline bool sameVector(const MotionStage::Block &a, const MotionStage::Block &b) { return a.dx == b.dx && a.dy == b.dy; }

inline int32_t originX(int32_t x, int32_t width) { return clampInt(x, 0, width - 16); }
inline int32_t originY(int32_t y, int32_t height) { return clampInt(y, 0, height - 8); }

struct Candidate {
    int32_t dx, dy;
    uint32_t sad;
};

// Candidate vectors of one block at one level (full pixels of the plane,
// clamped to the range), costed together in one call.
// A plane's sample (0, 0) and pitch as values, so that they stay in
// registers across the kernel calls (which could write any memory).
struct PlaneView {
    const uint8_t *origin;
    ptrdiff_t pitch;
    explicit PlaneView(const MotionFrame::Plane8 &p) : origin(p.at(0, 0)), pitch(p.pitch) {}
    const uint8_t *at(int32_t x, int32_t y) const { return origin + (ptrdiff_t)y * pitch + x; }
};

template <int N> struct Batch {
    const uint8_t *refs[N];
    int32_t dx[N], dy[N];
    uint32_t sad[N];
    int n = 0;
    void add(PlaneView ref, int32_t ox, int32_t oy, int32_t x, int32_t y, int32_t range)
    {
        dx[n] = clampInt(x, -range, range);
        dy[n] = clampInt(y, -range, range);
        refs[n] = ref.at(ox + dx[n], oy + dy[n]);
        n++;
    }
    // The same, unless the clamped vector is in the batch already: costed
    // again it could not win.
    void addNew(PlaneView ref, int32_t ox, int32_t oy, int32_t x, int32_t y, int32_t range)
    {
        const int32_t cx = clampInt(x, -range, range), cy = clampInt(y, -range, range);
        for (int k = 0; k < n; k++)
            if (dx[k] == cx && dy[k] == cy)
                return;
        add(ref, ox, oy, cx, cy, range);
    }
    void cost(const MotionDsp &dsp, const uint8_t *block, ptrdiff_t blockPitch, ptrdiff_t refPitch)
    {
        dsp.sad16x8Many(block, blockPitch, refs, refPitch, n, sad);
    }
    // Candidate k replaces `best` where it costs less (the earlier stays on a tie).
    bool offer(int k, Candidate &best) const
    {
        if (sad[k] >= best.sad)
            return false;
        best = {dx[k], dy[k], sad[k]};
        return true;
    }
};

} // namespace

void MotionStage::sizeSearch(const MotionFrame &cur, Search &s)
{
    const MotionFrame::Field &cf = cur.field[s.field];
    s.level2.resize((size_t)((cf.level2.width + 15) / 16) * (size_t)((cf.level2.height + 7) / 8));
    s.level1.resize((size_t)((cf.level1.width + 15) / 16) * (size_t)((cf.level1.height + 7) / 8));
    s.level0.resize((size_t)((cur.width + 15) / 16 + 1) * (size_t)((cf.height + 7) / 8 + 1));
}

void MotionStage::searchCoarse(const MotionFrame &cur, Search &s) const
{
    const MotionFrame::Field &cf = cur.field[s.field], &rf = s.ref->field[s.field];
    // Level 2: every vector within the range, zero first on a tie.
    const MotionFrame::Plane8 &c2 = cf.level2, &r2 = rf.level2;
    const int32_t n2x = (c2.width + 15) / 16, n2y = (c2.height + 7) / 8;
    constexpr int32_t side = 2 * kCoarseRange + 1;
    for (int32_t b = 0; b < n2y; b++)
        for (int32_t a = 0; a < n2x; a++) {
            const int32_t ox = originX(16 * a, c2.width), oy = originY(8 * b, c2.height);
            // The square in rows: candidate k is (k % side - range, k / side - range).
            const uint8_t *refs[side * side];
            uint32_t sad[side * side];
            const uint8_t *corner = r2.at(ox - kCoarseRange, oy - kCoarseRange);
            for (int32_t y = 0, k = 0; y < side; y++, corner += r2.pitch)
                for (int32_t x = 0; x < side; x++, k++)
                    refs[k] = corner + x;
            dsp_.sad16x8Many(c2.at(ox, oy), c2.pitch, refs, r2.pitch, side * side, sad);
            uint32_t least = sad[side * kCoarseRange + kCoarseRange];
            int32_t at = side * kCoarseRange + kCoarseRange;
            for (int32_t k = 0; k < side * side; k++)
                if (sad[k] < least) {
                    least = sad[k];
                    at = k;
                }
            const Candidate best = {at % side - kCoarseRange, at / side - kCoarseRange, least};
            s.level2[(size_t)b * n2x + a] = {(int16_t)best.dx, (int16_t)best.dy, best.sad};
        }
    // Level 1: the doubled vectors of the nearest coarse blocks, refined.
    const MotionFrame::Plane8 &c1 = cf.level1, &r1p = rf.level1;
    const PlaneView c1v(c1), r1(r1p);
    const int32_t w1 = c1.width, h1 = c1.height, n1x = (w1 + 15) / 16, n1y = (h1 + 7) / 8;
    const int32_t range1 = 2 * kCoarseRange + 1;
    const Block *level2 = s.level2.data();
    for (int32_t b = 0; b < n1y; b++)
        for (int32_t a = 0; a < n1x; a++) {
            const int32_t ox = originX(16 * a, w1), oy = originY(8 * b, h1);
            const int32_t ca = clampInt((ox + 8) / 2 / 16, 0, n2x - 1), cb = clampInt((oy + 4) / 2 / 8, 0, n2y - 1);
            Candidate best = {0, 0, UINT32_MAX};
            Batch<6> start;
            start.add(r1, ox, oy, 0, 0, range1);
            static const int kNear[5][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}};
            for (const auto &k : kNear) {
                const int32_t na = ca + k[0], nb = cb + k[1];
                if (na < 0 || na >= n2x || nb < 0 || nb >= n2y)
                    continue;
                const Block &v = level2[(size_t)nb * n2x + na];
                start.addNew(r1, ox, oy, 2 * v.dx, 2 * v.dy, range1);
            }
            start.cost(dsp_, c1v.at(ox, oy), c1v.pitch, r1.pitch);
            for (int k = 0; k < start.n; k++)
                start.offer(k, best);
            const Candidate centre = best;
            Batch<8> around;
            for (int32_t dy = -1; dy <= 1; dy++)
                for (int32_t dx = -1; dx <= 1; dx++)
                    if (dx || dy)
                        around.add(r1, ox, oy, centre.dx + dx, centre.dy + dy, range1);
            around.cost(dsp_, c1v.at(ox, oy), c1v.pitch, r1.pitch);
            for (int k = 0; k < around.n; k++)
                around.offer(k, best);
            s.level1[(size_t)b * n1x + a] = {(int16_t)best.dx, (int16_t)best.dy, best.sad};
        }
}

void MotionStage::searchRow(const MotionFrame &cur, Search &s, int32_t j) const
{
    const MotionFrame::Field &cf = cur.field[s.field], &rf = s.ref->field[s.field];
    const MotionFrame::Plane8 &c0 = cf.search[0], &c1 = cf.level1;
    const int32_t width = cur.width, height = cf.height;
    const int32_t nbx = (width + 15) / 16 + 1;
    const int32_t n1x = (c1.width + 15) / 16, n1y = (c1.height + 7) / 8;
    const int32_t oy = originY(8 * j - 4, height);
    // Every search plane has the same pitch.
    const PlaneView c0v(c0), r0(rf.search[0]);
    const PlaneView shifted[4] = {r0, PlaneView(rf.search[1]), PlaneView(rf.search[2]), PlaneView(rf.search[3])};
    const Block *level1 = s.level1.data();
    Block *found = s.level0.data() + (size_t)j * nbx;
    for (int32_t i = 0; i < nbx; i++) {
        const int32_t ox = originX(16 * i - 8, width);
        const uint8_t *block = c0v.at(ox, oy);
        if (i > 0) {
            // The block two on mostly moves as the last one did: its rows of
            // every plane, asked for ahead.
            const Block &last = found[i - 1];
            const int32_t ax = clampInt(ox + 32 + (last.dx >> 1), -kVectorMax, width + kVectorMax);
            const int32_t ay = clampInt(oy + (last.dy >> 1) - 1, -kVectorMax, height + kVectorMax - 10);
            const ptrdiff_t at = (ptrdiff_t)ay * r0.pitch + ax;
            for (const PlaneView &plane : shifted) {
                const uint8_t *p = plane.origin + at;
#pragma GCC unroll 10
                for (int32_t r = 0; r < 10; r++, p += r0.pitch)
                    __builtin_prefetch(p);
            }
        }
        const int32_t ca = clampInt((ox + 8) / 2 / 16, 0, n1x - 1), cb = clampInt((oy + 4) / 2 / 8, 0, n1y - 1);
        Candidate best = {0, 0, UINT32_MAX};
        Batch<6> start;
        start.add(r0, ox, oy, 0, 0, kVectorMax);
        // The nearest block of the level above, then its left, right, upper and lower neighbours.
        const Block *near = level1 + (size_t)cb * n1x + ca;
        auto addNear = [&](const Block &v) { start.addNew(r0, ox, oy, 2 * v.dx, 2 * v.dy, kVectorMax); };
        addNear(near[0]);
        if (ca > 0)
            addNear(near[-1]);
        if (ca < n1x - 1)
            addNear(near[1]);
        if (cb > 0)
            addNear(near[-n1x]);
        if (cb < n1y - 1)
            addNear(near[n1x]);
        start.cost(dsp_, block, c0v.pitch, r0.pitch);
        for (int k = 0; k < start.n; k++)
            start.offer(k, best);
        // One pixel either way across and down (right, left, below, above),
        // then the diagonal between the better sides. Each side is costed
        // ahead; the second of a pair counts only where the first did not
        // lower the cost.
        {
            const Candidate centre = best;
            Batch<4> cross;
            cross.add(r0, ox, oy, centre.dx + 1, centre.dy, kVectorMax);
            cross.add(r0, ox, oy, centre.dx - 1, centre.dy, kVectorMax);
            cross.add(r0, ox, oy, centre.dx, centre.dy + 1, kVectorMax);
            cross.add(r0, ox, oy, centre.dx, centre.dy - 1, kVectorMax);
            cross.cost(dsp_, block, c0v.pitch, r0.pitch);
            const int32_t sx = cross.offer(0, best) || !cross.offer(1, best) ? 1 : -1;
            const int32_t sy = cross.offer(2, best) || !cross.offer(3, best) ? 1 : -1;
            Batch<1> diagonal;
            diagonal.add(r0, ox, oy, centre.dx + sx, centre.dy + sy, kVectorMax);
            diagonal.cost(dsp_, block, c0v.pitch, r0.pitch);
            diagonal.offer(0, best);
        }
        // Half pixels around the best whole one, from the shifted planes: the
        // same pattern. A vector of whole pixels (at the range's end) is not a candidate.
        Candidate half = {2 * best.dx, 2 * best.dy, best.sad};
        const int32_t cx = half.dx, cy = half.dy;
        struct HalfBatch {
            const uint8_t *refs[4];
            int32_t dx[4], dy[4];
            uint32_t sad[4];
            bool whole[4];
            int n = 0;
        };
        auto addHalf = [&](HalfBatch &h, int32_t vx, int32_t vy) {
            vx = clampInt(vx, -2 * kVectorMax, 2 * kVectorMax);
            vy = clampInt(vy, -2 * kVectorMax, 2 * kVectorMax);
            h.whole[h.n] = (vx & 1) == 0 && (vy & 1) == 0;
            h.refs[h.n] = shifted[(vx & 1) + 2 * (vy & 1)].at(ox + (vx >> 1), oy + (vy >> 1));
            h.dx[h.n] = vx;
            h.dy[h.n] = vy;
            h.n++;
        };
        auto offerHalf = [&](const HalfBatch &h, int k) {
            if (h.whole[k] || h.sad[k] >= half.sad)
                return false;
            half = {h.dx[k], h.dy[k], h.sad[k]};
            return true;
        };
        HalfBatch cross;
        addHalf(cross, cx + 1, cy);
        addHalf(cross, cx - 1, cy);
        addHalf(cross, cx, cy + 1);
        addHalf(cross, cx, cy - 1);
        dsp_.sad16x8Many(block, c0v.pitch, cross.refs, r0.pitch, cross.n, cross.sad);
        const int32_t sx = offerHalf(cross, 0) || !offerHalf(cross, 1) ? 1 : -1;
        const int32_t sy = offerHalf(cross, 2) || !offerHalf(cross, 3) ? 1 : -1;
        HalfBatch diagonal;
        addHalf(diagonal, cx + sx, cy + sy);
        if (!diagonal.whole[0]) {
            dsp_.sad16x8Many(block, c0v.pitch, diagonal.refs, r0.pitch, 1, diagonal.sad);
            offerHalf(diagonal, 0);
        }
        found[i] = {(int16_t)half.dx, (int16_t)half.dy, half.sad};
    }
}

void MotionStage::average(const MotionFrame &cur, const MotionFrame *const *before, int32_t countBefore,
                          const MotionFrame *const *after, int32_t countAfter, const MotionSettings &settings,
                          YcPixel *out, int32_t stride, const TaskRunner &tasks)
{
    const int32_t width = cur.width;
    // The searches: each neighbour, each field. Distance 1 ones come first.
    std::vector<const MotionFrame *> refs;
    std::vector<int32_t> distance, side;
    for (int32_t k = 0; k < kMotionRadiusMax; k++) {
        if (k < countBefore && before[k] && k < settings.radius) {
            refs.push_back(before[k]);
            distance.push_back(k + 1);
            side.push_back(0);
        }
        if (k < countAfter && after[k] && k < settings.radius) {
            refs.push_back(after[k]);
            distance.push_back(k + 1);
            side.push_back(1);
        }
    }
    const size_t count = refs.size() * 2;
    // The vectors to the next frame (its first field) go into the report.
    size_t nextSearch = SIZE_MAX;
    for (size_t k = 0; k < refs.size(); k++)
        if (side[k] == 1 && distance[k] == 1)
            nextSearch = 2 * k;
    if (searches_.size() < count)
        searches_.resize(count);
    const int32_t nbx = (width + 15) / 16 + 1;
    int32_t nby[2];
    for (int f = 0; f < 2; f++)
        nby[f] = (cur.field[f].height + 7) / 8 + 1;
    for (size_t k = 0; k < count; k++) {
        Search &s = searches_[k];
        s.ref = refs[k / 2];
        s.field = (int32_t)(k % 2);
        sizeSearch(cur, s);
        s.weight.resize(s.level0.size());
    }
    auto coarse = [&](int32_t k, int32_t) { searchCoarse(cur, searches_[(size_t)k]); };
    runTasks(tasks, (int32_t)count, coarse);
    // The finest level by rows of blocks of every search.
    std::vector<std::pair<int32_t, int32_t>> rows;
    for (size_t k = 0; k < count; k++)
        for (int32_t j = 0; j < nby[k % 2]; j++)
            rows.push_back({(int32_t)k, j});
    auto fine = [&](int32_t r, int32_t) { searchRow(cur, searches_[(size_t)rows[(size_t)r].first], rows[(size_t)r].second); };
    runTasks(tasks, (int32_t)rows.size(), fine);

    // The noise the matches show: per side of distance 1, the lower quartile
    // of the block costs; the lower of the two sides stands for the frame (a
    // scene cut on one side leaves the other).
    uint32_t base = UINT32_MAX;
    for (int which = 0; which < 2; which++) {
        std::vector<uint32_t> costs;
        for (size_t k = 0; k < count; k++) {
            if (distance[k / 2] != 1 || side[k / 2] != which)
                continue;
            for (const Block &b : searches_[k].level0)
                costs.push_back(b.sad);
        }
        if (costs.empty())
            continue;
        std::nth_element(costs.begin(), costs.begin() + costs.size() / 4, costs.end());
        base = std::min(base, costs[costs.size() / 4]);
    }
    // Blocks are 128 pixels: between half a code value and 20 of noise.
    if (settings.noiseCeiling > 0)
        base = std::min<uint32_t>(base, (uint32_t)settings.noiseCeiling);
    base = base == UINT32_MAX ? 128 : clampInt((int32_t)std::min<uint32_t>(base, 1u << 20), 64, 128 * 20);
    const int64_t strength = settings.strength;
    const int64_t full = (int64_t)base * 125 * strength / 10000, zero = (int64_t)base * 190 * strength / 10000;
    int32_t gate = (int32_t)((int64_t)base * 442 * strength / 100000);
    gate = clampInt(gate, 1, 16383);
    // Chroma noise is often stronger than the luma's (tape): twice the room.
    const int32_t chromaGate = clampInt(2 * gate, 1, 16383);

    double weightSum = 0, vectorSum = 0;
    int64_t vectorCount = 0;
    for (size_t k = 0; k < count; k++) {
        Search &s = searches_[k];
        for (size_t b = 0; b < s.level0.size(); b++) {
            const int64_t c = s.level0[b].sad;
            int64_t w = c <= full ? kFullWeight : c >= zero ? 0 : (kFullWeight * (zero - c) + (zero - full) / 2) / (zero - full);
            s.weight[b] = (uint8_t)w;
            weightSum += (double)w;
            if (k == nextSearch) {
                vectorSum += sqrt((double)s.level0[b].dx * s.level0[b].dx + (double)s.level0[b].dy * s.level0[b].dy) / 2;
                vectorCount++;
            }
        }
    }
    stats_.noise = (float)base / 128.0f;
    size_t blocks = 0;
    for (size_t k = 0; k < count; k++)
        blocks += searches_[k].level0.size();
    stats_.matchedShare = blocks ? (float)(weightSum / ((double)blocks * kFullWeight)) : 0.0f;
    stats_.meanVector = vectorCount ? (float)(vectorSum / (double)vectorCount) : 0.0f;

    // Compensation, by rows of cells of 16 x 8 field pixels. Each cell lies
    // under the windows of four blocks of each search; blocks with the same
    // vector are compensated once, with their windows' weights summed.
    const int32_t ncx = (width + 15) / 16, rowPitch = ncx * 16;
    int32_t ncy[2];
    for (int f = 0; f < 2; f++)
        ncy[f] = (cur.field[f].height + 7) / 8;
    const int32_t workers = tasks.workers > 0 ? tasks.workers : 1;
    if ((int32_t)work_.size() < workers)
        work_.resize((size_t)workers);
    for (auto &w : work_)
        w.resize((size_t)rowPitch * 8 * 3);
    auto cellRow = [&](int32_t index, int32_t worker) {
        const int f = index < ncy[0] ? 0 : 1;
        const int32_t cj = f ? index - ncy[0] : index;
        const int32_t height = cur.field[f].height;
        const int32_t rows = height - 8 * cj < 8 ? height - 8 * cj : 8;
        // The averaged row of cells, plane by plane.
        int16_t *plane[3];
        for (int c = 0; c < 3; c++)
            plane[c] = work_[(size_t)worker].data() + (size_t)c * 8 * rowPitch;
        CompensateCellArgs a;
        a.refStride = cur.pitch; // every frame's planes share it
        a.curStride = cur.pitch;
        a.dstStride = rowPitch;
        a.rows = rows;
        a.gate = (int16_t)gate;
        a.chromaGate = (int16_t)chromaGate;
        a.curWeight = kCurrentWeight;
        CellPass passes[kCellPassesMax];
        a.passes = passes;
        for (int32_t ci = 0; ci < ncx; ci++) {
            const int32_t x0 = 16 * ci, y0 = 8 * cj;
            int32_t n = 0;
            for (size_t k = (size_t)f; k < count; k += 2) {
                const Search &s = searches_[k];
                // The four blocks over the cell: left top, right top, left bottom, right bottom.
                const Block *top = s.level0.data() + (size_t)cj * nbx + ci, *bottom = top + nbx;
                const uint8_t *topWeight = s.weight.data() + (size_t)cj * nbx + ci, *bottomWeight = topWeight + nbx;
                const Block *v4[4] = {top, top + 1, bottom, bottom + 1};
                const int16_t w4[4] = {topWeight[0], topWeight[1], bottomWeight[0], bottomWeight[1]};
                bool done[4] = {};
                // Mostly the four blocks share one vector: one pass.
                const bool one = w4[0] && w4[1] && w4[2] && w4[3] && sameVector(*v4[0], *v4[1]) &&
                                 sameVector(*v4[0], *v4[2]) && sameVector(*v4[0], *v4[3]);
                if (one)
                    done[1] = done[2] = done[3] = true;
                for (int q = 0; q < 4; q++) {
                    if (done[q] || !w4[q])
                        continue;
                    const Block &v = *v4[q];
                    CellPass &pass = passes[n++];
                    for (int o = 0; o < 4; o++) {
                        const bool same = one || (o >= q && !done[o] && w4[o] && sameVector(*v4[o], v));
                        done[o] = done[o] || same;
                        pass.blockWeight[o] = same ? w4[o] : 0;
                    }
                    pass.fracX = v.dx & 1;
                    pass.fracY = v.dy & 1;
                    for (int c = 0; c < 3; c++)
                        pass.ref[c] = s.ref->sample(f, c, x0 + (v.dx >> 1), y0 + (v.dy >> 1));
                }
            }
            a.count = n;
            for (int c = 0; c < 3; c++) {
                a.cur[c] = cur.sample(f, c, x0, y0);
                a.dst[c] = plane[c] + x0;
            }
            dsp_.compensateCell(&a);
        }
        for (int32_t r = 0; r < rows; r++)
            dsp_.mergePixelsRow(out + (ptrdiff_t)(2 * (8 * cj + r) + f) * stride, plane[0] + (ptrdiff_t)r * rowPitch,
                                plane[1] + (ptrdiff_t)r * rowPitch, plane[2] + (ptrdiff_t)r * rowPitch, width);
    };
    runTasks(tasks, ncy[0] + ncy[1], cellRow);
}

} // namespace velvane

namespace velvane {

void MotionStage::match(const MotionFrame &cur, const MotionFrame &ref, Vectors &v, const TaskRunner &tasks)
{
    Search s[2];
    for (int f = 0; f < 2; f++) {
        s[f].ref = &ref;
        s[f].field = f;
        sizeSearch(cur, s[f]);
    }
    auto coarse = [&](int32_t f, int32_t) { searchCoarse(cur, s[f]); };
    runTasks(tasks, 2, coarse);
    const int32_t rows0 = (cur.field[0].height + 7) / 8 + 1, rows1 = (cur.field[1].height + 7) / 8 + 1;
    auto fine = [&](int32_t r, int32_t) { r < rows0 ? searchRow(cur, s[0], r) : searchRow(cur, s[1], r - rows0); };
    runTasks(tasks, rows0 + rows1, fine);
    for (int f = 0; f < 2; f++)
        v.field[f] = std::move(s[f].level0);
}

MotionStage::Residual MotionStage::moveOnto(const MotionFrame &cur, const MotionFrame &ref, const Vectors &v,
                                            int32_t num, int32_t den, YcPixel *out, int32_t stride,
                                            const Vectors *nearer) const
{
    const int32_t width = cur.width, nbx = (width + 15) / 16 + 1;
    // Per cell: the mean square of the luma and of the chroma left, over
    // what white noise of deviation 1 would leave (1 for the current
    // frame's, 1, 1/2 or 1/4 for the moved one's as it is interpolated).
    std::vector<double> lumaCells, chromaCells;
    for (int f = 0; f < 2; f++) {
        const int32_t height = cur.field[f].height, ncy = (height + 7) / 8;
        for (int32_t cj = 0; cj < ncy; cj++)
            for (int32_t ci = 0; 16 * ci < width; ci++) {
                const Block *best = nullptr;
                for (int q = 0; q < 4; q++) {
                    const size_t b = (size_t)(cj + (q >> 1)) * nbx + (size_t)(ci + (q & 1));
                    if (b < v.field[f].size() && (!best || v.field[f][b].sad < best->sad))
                        best = &v.field[f][b];
                }
                int32_t hx = best ? best->dx * num / den : 0, hy = best ? best->dy * num / den : 0;
                if (nearer) {
                    const Block *own = nullptr;
                    for (int q = 0; q < 4; q++) {
                        const size_t b = (size_t)(cj + (q >> 1)) * nbx + (size_t)(ci + (q & 1));
                        if (b < nearer->field[f].size() && (!own || nearer->field[f][b].sad < own->sad))
                            own = &nearer->field[f][b];
                    }
                    if (own && abs(own->dx - hx) <= 2 && abs(own->dy - hy) <= 2)
                        hx = own->dx, hy = own->dy;
                }
                const int32_t fx = hx & 1, fy = hy & 1;
                const double spread = 1.0 + (fx ? 0.5 : 1.0) * (fy ? 0.5 : 1.0);
                double luma = 0, chroma = 0;
                int32_t lumaCount = 0, chromaCount = 0;
                for (int32_t y = 8 * cj; y < 8 * cj + 8 && y < height; y++)
                    for (int32_t x = 16 * ci; x < 16 * ci + 16 && x < width; x++) {
                        int32_t moved[3];
                        for (int c = 0; c < 3; c++) {
                            const int16_t *a = ref.sample(f, c, x + (hx >> 1), y + (hy >> 1));
                            const int16_t *b = a + ref.pitch;
                            moved[c] = fx && fy   ? (a[0] + a[1] + b[0] + b[1] + 2) >> 2
                                       : fx       ? (a[0] + a[1] + 1) >> 1
                                       : fy       ? (a[0] + b[0] + 1) >> 1
                                                  : a[0];
                        }
                        out[(ptrdiff_t)(2 * y + f) * stride + x] =
                            YcPixel{(int16_t)moved[0], (int16_t)moved[1], (int16_t)moved[2]};
                        const double d = *cur.sample(f, 0, x, y) - moved[0];
                        luma += d * d;
                        lumaCount++;
                        if (x % 4 == 0)
                            for (int c = 1; c < 3; c++) {
                                const double e = *cur.sample(f, c, x, y) - moved[c];
                                chroma += e * e;
                                chromaCount++;
                            }
                    }
                if (lumaCount >= 64)
                    lumaCells.push_back(luma / lumaCount / spread);
                if (chromaCount >= 16)
                    chromaCells.push_back(chroma / chromaCount / spread);
            }
    }
    // The quiet cells of white noise lie below its mean: a mean square of n
    // samples has a spread of sqrt(2 / n) of it, and the lowest tenth lies
    // 1.28 of that below.
    // The quietest tenth rather than a quarter: a fine texture moving in
    // ways the blocks follow only roughly (a rotation) leaves its trace in
    // most cells.
    auto quietTenth = [](std::vector<double> &cells, int32_t samples) {
        if (cells.empty())
            return 0.0f;
        std::nth_element(cells.begin(), cells.begin() + cells.size() / 10, cells.end());
        const double below = 1.0 - 1.2816 * sqrt(2.0 / samples);
        return (float)(sqrt(cells[cells.size() / 10] / below) / 16.0);
    };
    Residual r;
    r.luma = quietTenth(lumaCells, 128);
    r.chroma = quietTenth(chromaCells, 64);
    return r;
}

} // namespace velvane
