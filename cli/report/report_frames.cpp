// The report's side of the run: the numbers it keeps of every frame and
// scene, and the pictures it takes, chosen and made while the frames are at
// hand (the page is written from them in report.cpp).
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "report/report.h"
#include "run/frame_filter.h"
#include "run/options.h"
#include "y4m/convert.h"

namespace velvane {

namespace {

// The 1:1 crop's size where the frame is larger.
constexpr int kCropWidth = 256, kCropHeight = 192;

} // namespace

RunReport::RunReport(const std::string &path, int pictures) : path_(path), maxPictures_(std::max(1, pictures))
{
    // As --snapshot: a page that cannot be written is found before the work.
    struct stat st;
    const bool existed = stat(path_.c_str(), &st) == 0;
    FILE *f = fopen(path_.c_str(), "ab");
    if (!f)
        throw CliError("--report: cannot write " + path_ + ": " + strerror(errno));
    fclose(f);
    if (!existed)
        unlink(path_.c_str());
}

RunReport::~RunReport() { velvane_scene_cuts_close(&sceneCuts_); }

void RunReport::start(const Y4mFormat &input, const Y4mFormat &output, int stride, const int32_t *track,
                      const int32_t *check, int strength, int64_t expectedFrames)
{
    in_ = input;
    out_ = output;
    width_ = input.width;
    height_ = input.height;
    stride_ = stride;
    std::copy(track, track + VV_TRACK_COUNT, track_);
    std::copy(check, check + VV_CHECK_COUNT, check_);
    strength_ = strength;
    rate_ = frameRate(input);
    // Of unknown length, five pictures a second to start with, as many as
    // are wanted, then fewer the longer the stream goes on.
    lengthKnown_ = expectedFrames > 0;
    segment_ = lengthKnown_ ? std::max<int64_t>(1, (expectedFrames + maxPictures_ - 1) / maxPictures_)
                            : std::max<int64_t>(1, (int64_t)(rate_ / 5));
    if (expectedFrames > 0) {
        lumaRemoved_.reserve((size_t)expectedFrames);
        chromaRemoved_.reserve((size_t)expectedFrames);
    }
}

void RunReport::toHost(const ReportFrame &f, const Y4mFormat &format, std::vector<YcPixel> *out) const
{
    const size_t samples = (size_t)stride_ * (size_t)height_;
    if (f.pixels) {
        out->assign(f.pixels, f.pixels + samples);
        return;
    }
    out->assign(samples, YcPixel());
    FrameConverter(format, stride_).toHost(f.planes, format.interlace != 'p', out->data());
}

VelvaneFrame RunReport::describe(const ReportFrame &f) const
{
    VelvaneFrame v = {};
    v.width = width_;
    v.height = height_;
    if (f.pixels) {
        v.format = VELVANE_PIXEL_YC48;
        v.data[0] = const_cast<YcPixel *>(f.pixels);
        v.stride[0] = (ptrdiff_t)stride_ * (ptrdiff_t)sizeof(YcPixel);
        return v;
    }
    const int bytes = in_.bytesPerSample(), cw = (width_ + 1) / 2;
    v.format = bytes == 1 ? VELVANE_PIXEL_YUV422P8 : VELVANE_PIXEL_YUV422P16;
    v.bit_depth = in_.depth;
    uint8_t *planes = const_cast<uint8_t *>(f.planes);
    v.data[0] = planes;
    v.data[1] = planes + (size_t)width_ * height_ * bytes;
    v.data[2] = planes + (size_t)(width_ + cw) * height_ * bytes;
    v.stride[0] = (ptrdiff_t)width_ * bytes;
    v.stride[1] = v.stride[2] = (ptrdiff_t)cw * bytes;
    return v;
}

bool RunReport::sceneStarts(const ReportFrame &f)
{
    if (!sceneCuts_ && velvane_scene_cuts_open(&sceneCuts_, width_, height_) != VELVANE_OK)
        throw std::bad_alloc(); // the size was taken by the filter already
    const VelvaneFrame v = describe(f);
    const int cut = velvane_scene_cuts_next(sceneCuts_, &v);
    if (cut < 0)
        throw CliError("--report: cannot measure the scenes of a frame");
    return cut == 1;
}

void RunReport::frame(int64_t n, const ReportFrame *inputs, int count, const ReportFrame &output,
                      const SceneChoice *strength)
{
    // What was removed: RMS of input minus output, in 8-bit code values, from
    // one pair of rows in four (both fields, a quarter of the work: this runs
    // on the filtering thread for every frame).
    int64_t sy = 0, sc = 0, ny = 0, nc = 0;
    double scale;
    if (output.pixels) {
        for (int r = 0; r < height_; r += (r & 1) ? 7 : 1) {
            const YcPixel *p = inputs[0].pixels + (size_t)r * stride_, *q = output.pixels + (size_t)r * stride_;
            for (int x = 0; x < width_; x++) {
                const int64_t dy = p[x].y - q[x].y, du = p[x].cb - q[x].cb, dv = p[x].cr - q[x].cr;
                sy += dy * dy;
                sc += du * du + dv * dv;
            }
            ny += width_;
            nc += 2 * width_;
        }
        scale = 1.0 / 16.0; // the host's scale: 16 steps to an 8-bit code value
    } else {
        const int cw = (width_ + 1) / 2;
        const size_t luma = (size_t)width_ * height_, plane = (size_t)cw * height_;
        const bool wide = in_.depth > 8;
        auto rowSum = [wide](const uint8_t *a, const uint8_t *b, int n) {
            int64_t s = 0;
            if (wide) {
                const uint16_t *a16 = (const uint16_t *)a, *b16 = (const uint16_t *)b;
                for (int x = 0; x < n; x++)
                    s += (int64_t)((int)a16[x] - (int)b16[x]) * ((int)a16[x] - (int)b16[x]);
            } else {
                int32_t t = 0; // 800 x 255^2 fits
                for (int x = 0; x < n; x++)
                    t += ((int)a[x] - (int)b[x]) * ((int)a[x] - (int)b[x]);
                s = t;
            }
            return s;
        };
        const int bytes = in_.bytesPerSample();
        const uint8_t *a = inputs[0].planes, *b = output.planes;
        for (int r = 0; r < height_; r += (r & 1) ? 7 : 1) {
            const size_t y = (size_t)r * width_ * bytes, c = (luma + (size_t)r * cw) * bytes;
            sy += rowSum(a + y, b + y, width_);
            sc += rowSum(a + c, b + c, cw) + rowSum(a + c + plane * bytes, b + c + plane * bytes, cw);
            ny += width_;
            nc += 2 * cw;
        }
        scale = 1.0 / (double)(1 << (in_.depth - 8));
    }
    lumaRemoved_.push_back((float)(sqrt((double)sy / (double)std::max<int64_t>(ny, 1)) * scale));
    chromaRemoved_.push_back((float)(sqrt((double)sc / (double)std::max<int64_t>(nc, 1)) * scale));

    // The averaging along the motion.
    const VelvaneMotionReport motion = strength ? strength->motion : VelvaneMotionReport{};
    matched_.push_back(motion.matched_share);
    vectors_.push_back(motion.mean_vector);
    alongMotion_ = alongMotion_ || motion.noise > 0;

    // The settings in force, a new entry where automatic strength measured.
    if (strength && (scenes_.empty() || strength->strength.measurements != measurements_)) {
        measurements_ = strength->strength.measurements;
        scenes_.push_back({n, strength_ == VELVANE_STRENGTH_AUTO && measurements_ > 0, *strength});
    } else if (!strength && scenes_.empty()) {
        SceneChoice c = {};
        VelvaneStrengthReport &r = c.strength;
        int *field[5] = {&r.luma_low, &r.luma_high, &r.chroma_low, &r.chroma_high, &r.dot_removal};
        for (int i = 0; i < 4; i++)
            *field[i] = track_[i];
        r.dot_removal = check_[0];
        r.measured_at = -1;
        scenes_.push_back({n, false, c});
    }

    // Scenes, and the pictures: frame 0 here, every later one a frame ahead.
    if (n == 0) {
        sceneStarts(inputs[0]);
        considerPicture(0, false, nullptr, inputs[0], count > 1 ? &inputs[1] : nullptr);
    }
    if (pending_ && pending_->frame == n) {
        finishPicture(*pending_, output, strength);
        const int64_t slot = n / segment_;
        pictures_[slot] = std::move(pending_);
        regroupPictures();
    }
    if (count > 1) {
        const bool cut = sceneStarts(inputs[1]);
        if (cut)
            cuts_.push_back(n + 1);
        considerPicture(n + 1, cut, &inputs[0], inputs[1], count > 2 ? &inputs[2] : nullptr);
    }
}

void RunReport::considerPicture(int64_t m, bool sceneStart, const ReportFrame *previous, const ReportFrame &current,
                                const ReportFrame *next)
{
    const auto it = pictures_.find(m / segment_);
    const bool taken = it != pictures_.end();
    // A scene start wins over a picture taken mid-segment; otherwise the
    // segment's middle frame stands for it (its first, in a stream of unknown
    // length, which may end at any frame).
    const bool want = sceneStart ? !taken || !it->second->sceneStart
                                 : !taken && m % segment_ == (lengthKnown_ ? segment_ / 2 : 0);
    if (!want)
        return;
    pending_.reset(new Picture);
    pending_->frame = m;
    pending_->sceneStart = sceneStart;
    if (previous)
        toHost(*previous, in_, &pending_->previous);
    toHost(current, in_, &pending_->current);
    if (next)
        toHost(*next, in_, &pending_->next);
}

void RunReport::finishPicture(Picture &p, const ReportFrame &output, const SceneChoice *strength)
{
    std::vector<YcPixel> after, removed;
    // In the planes the run writes: the output's layout is the input's there.
    toHost(output, in_, &after);
    removed = after;
    ReportFrame current = {p.current.data(), nullptr}, shown = {removed.data(), nullptr};
    VelvaneFrame in = describe(current), view = describe(shown);
    if (velvane_removed_view(&in, &view) != VELVANE_OK)
        throw CliError("--report: cannot draw what was removed");

    // The crop: the window where most was removed, on a grid of 16 x 16 blocks.
    const int cw = std::min(kCropWidth, width_) & ~1, ch = std::min(kCropHeight, height_) & ~1;
    const int bw = (width_ + 15) / 16, bh = (height_ + 15) / 16;
    std::vector<int64_t> block((size_t)bw * bh, 0);
    for (int y = 0; y < height_; y++)
        for (int x = 0; x < width_; x++) {
            const YcPixel &a = p.current[(size_t)y * stride_ + x], &b = after[(size_t)y * stride_ + x];
            block[(size_t)(y / 16) * bw + x / 16] += abs(a.y - b.y) + (abs(a.cb - b.cb) + abs(a.cr - b.cr)) / 2;
        }
    const int wb = std::max(1, cw / 16), hb = std::max(1, ch / 16);
    int64_t best = -1;
    for (int by = 0; by + hb <= bh; by++)
        for (int bx = 0; bx + wb <= bw; bx++) {
            int64_t s = 0;
            for (int j = 0; j < hb; j++)
                for (int i = 0; i < wb; i++)
                    s += block[(size_t)(by + j) * bw + bx + i];
            if (s > best) {
                best = s;
                p.cropX = std::min(bx * 16, width_ - cw);
                p.cropY = std::min(by * 16, height_ - ch) & ~1; // whole field pairs
            }
        }
    p.cropW = cw;
    p.cropH = ch;
    p.lumaRemoved = lumaRemoved_.empty() ? 0 : lumaRemoved_.back();

    p.before = cropUri(p.current, stride_, p.cropX, p.cropY, cw, ch);
    p.after = cropUri(after, stride_, p.cropX, p.cropY, cw, ch);
    p.removed = cropUri(removed, stride_, p.cropX, p.cropY, cw, ch);
    p.smallBefore = smallUri(p.current, width_, height_, stride_);
    p.smallAfter = smallUri(after, width_, height_, stride_);

    // What the dot pass takes out: the library's own view, from the frame and
    // its neighbours, with the dot pass as it ran on this frame.
    p.dotPass = strength ? strength->strength.dot_removal == 1 : check_[0] == 1;
    if (p.dotPass) {
        int32_t track[VV_TRACK_COUNT], check[VV_CHECK_COUNT];
        std::copy(track_, track_ + VV_TRACK_COUNT, track);
        std::copy(check_, check_ + VV_CHECK_COUNT, check);
        for (int i = 0; i < kThresholdCount; i++)
            if (track[i] == VELVANE_FROM_STRENGTH)
                track[i] = 10;
        check[0] = 1;
        std::unique_ptr<FrameFilter> dots =
            nativeFilter(width_, height_, stride_, track, check, VELVANE_STRENGTH_CUSTOM, VELVANE_SHOW_DOTS, 1);
        std::vector<YcPixel> view((size_t)stride_ * height_);
        const std::vector<YcPixel> *frames[3] = {&p.previous, &p.current, &p.next};
        int wanted = p.previous.empty() ? 0 : 1, got = 0;
        for (const std::vector<YcPixel> *f : frames)
            if (!f->empty())
                dots->send(f->data());
        dots->end();
        while (dots->receive(view.data()) && got++ < wanted) {
        }
        p.dots = cropUri(view, stride_, p.cropX, p.cropY, cw, ch);
    }
    p.previous.clear();
    p.previous.shrink_to_fit();
    p.current.clear();
    p.current.shrink_to_fit();
    p.next.clear();
    p.next.shrink_to_fit();
}

void RunReport::regroupPictures()
{
    // More segments than pictures (the clip is longer than it said, or did not
    // say): each picture stands for twice as many frames, scene starts kept first.
    while ((int)pictures_.size() > maxPictures_) {
        segment_ *= 2;
        std::map<int64_t, std::unique_ptr<Picture>> merged;
        for (auto &e : pictures_) {
            auto &slot = merged[e.second->frame / segment_];
            if (!slot || (e.second->sceneStart && !slot->sceneStart))
                slot = std::move(e.second);
        }
        pictures_ = std::move(merged);
    }
}

} // namespace velvane
