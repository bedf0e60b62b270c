// --report: one self-contained HTML page on what a run did to the video.
// While the run goes, it keeps a few numbers per frame (what was removed, in
// luma and chroma) and per scene (what automatic strength measured and the
// thresholds in force), and takes before/after pictures at a handful of frames
// spread over the clip, scene starts first; at the end it writes the page:
// the run's header, plots drawn as SVG, and the pictures as PNG data URIs.
// Nothing in the page reaches outside it.
#ifndef VELVANE_CLI_REPORT_H
#define VELVANE_CLI_REPORT_H

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "run/history.h"
#include "velvane/filter.h"
#include "velvane/velvane.h"
#include "y4m/y4m.h"

namespace velvane {

// Text made safe inside HTML: & < > and " as entities.
std::string htmlEscape(const std::string &s);

// One frame as the run holds it: host pixels (rows `stride` apart), or else
// the 4:2:2 planes of a YUV4MPEG2 frame at the input's depth.
struct ReportFrame {
    const YcPixel *pixels = nullptr;
    const uint8_t *planes = nullptr;
};

// What the page says about the run besides what the frames tell.
struct ReportHeader {
    std::string input, output;      // descriptions of the files
    std::string version, kernels;   // "velvane 1.2.0 (build ...)", the kernels this processor runs
    std::string command;            // the command as given, quoted for a shell
    std::string settings;           // the settings used, as options
    std::vector<std::string> warnings;
    int64_t damagedFrames = -1;     // -1: not counted
    double seconds = 0;             // the run's time
    std::string inputError;         // the input broke off
    std::string outputFate;         // then: what became of the output ("out.mkv not written (...)")
};

class RunReport {
public:
    // Checks at once that `path` can be written (throws CliError).
    explicit RunReport(const std::string &path, int pictures = 5);
    ~RunReport();
    RunReport(const RunReport &) = delete;
    RunReport &operator=(const RunReport &) = delete;

    // Before the first frame: the input's and output's formats, the frame
    // rows' stride in pixels, and the settings in force (VELVANE_FROM_STRENGTH
    // where a strength chooses). `expectedFrames` < 0 when unknown.
    void start(const Y4mFormat &input, const Y4mFormat &output, int stride, const int32_t *track,
               const int32_t *check, int strength, int64_t expectedFrames);
    // Frame n came out as `output`. `inputs` are the input frames n, n + 1,
    // n + 2 that exist (count 1 to 3); `strength` what the filter reports for
    // frame n (null when it cannot say). The pictures of frame n + 1 are
    // chosen here, while its neighbours' inputs are at hand.
    void frame(int64_t n, const ReportFrame *inputs, int count, const ReportFrame &output,
               const SceneChoice *strength);
    // Writes the page (throws CliError).
    void write(const ReportHeader &header);

    const std::string &path() const { return path_; }

private:
    struct Picture {
        int64_t frame = 0;
        bool sceneStart = false;
        std::vector<YcPixel> previous, current, next; // inputs, until the output comes
        // The page's pictures, as data URIs.
        std::string before, after, removed, dots, smallBefore, smallAfter;
        int cropX = 0, cropY = 0, cropW = 0, cropH = 0;
        double lumaRemoved = 0;
        bool dotPass = false;
    };
    struct Scene {
        int64_t frame;
        bool measured; // automatic strength measured here
        SceneChoice choice;
    };
    void toHost(const ReportFrame &f, const Y4mFormat &format, std::vector<YcPixel> *out) const;
    // The frame as the library takes it (planes: 4:2:2 at the input's depth).
    VelvaneFrame describe(const ReportFrame &f) const;
    // Whether the frame begins a scene, told from the frames before it.
    bool sceneStarts(const ReportFrame &f);
    void considerPicture(int64_t m, bool sceneStart, const ReportFrame *previous, const ReportFrame &current,
                         const ReportFrame *next);
    void finishPicture(Picture &p, const ReportFrame &output, const SceneChoice *strength);
    void regroupPictures();
    // The page (report.cpp; the rest is report_frames.cpp).
    std::string plots() const;
    std::string picturesHtml() const;
    // A window of a frame, and the whole frame at half size each way, as PNG data URIs.
    static std::string cropUri(const std::vector<YcPixel> &frame, int stride, int x0, int y0, int w, int h);
    static std::string smallUri(const std::vector<YcPixel> &frame, int width, int height, int stride);
    // The stream's frames a second, 0 unknown.
    static double frameRate(const Y4mFormat &f);

    std::string path_;
    int maxPictures_;
    Y4mFormat in_, out_;
    int width_ = 0, height_ = 0, stride_ = 0;
    int32_t track_[VV_TRACK_COUNT] = {}, check_[VV_CHECK_COUNT] = {};
    int strength_ = VELVANE_STRENGTH_CUSTOM;
    double rate_ = 0;    // frames a second, 0 unknown
    int64_t segment_ = 25; // frames a picture stands for
    bool lengthKnown_ = false;
    std::vector<float> lumaRemoved_, chromaRemoved_; // RMS per frame, 8-bit code values
    std::vector<float> matched_, vectors_;           // the averaging along the motion, per frame
    bool alongMotion_ = false;                       // it ran on some frame
    std::vector<Scene> scenes_;
    std::vector<int64_t> cuts_; // frames that start a new scene
    VelvaneSceneCuts *sceneCuts_ = nullptr;
    int measurements_ = 0;
    std::map<int64_t, std::unique_ptr<Picture>> pictures_; // by segment
    std::unique_ptr<Picture> pending_; // waiting for its output frame
    std::vector<YcPixel> scratch_;
};

} // namespace velvane

#endif
