#include "report/report.h"

#include <errno.h>
#include <math.h>
#include <png.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "run/history.h"
#include "report/png_writer.h"

namespace velvane {

namespace {

// Points a plot draws across its width: a two-hour tape's 216000 frames come
// down to bins of about 200, each drawn at its mean and its peak.
constexpr int kPlotBins = 1000;

std::string base64(const std::string &bytes)
{
    static const char *const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (uint8_t)bytes[i] << 16 | (uint8_t)bytes[i + 1] << 8 | (uint8_t)bytes[i + 2];
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i < bytes.size()) {
        const uint32_t v = (uint8_t)bytes[i] << 16 | (i + 1 < bytes.size() ? (uint8_t)bytes[i + 1] << 8 : 0);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

struct PngBuffer {
    std::string bytes;
    char message[200] = "";
};

void pngWrite(png_structp png, png_bytep data, png_size_t size)
{
    static_cast<PngBuffer *>(png_get_io_ptr(png))->bytes.append((const char *)data, size);
}
void pngFlush(png_structp) {}
void pngError(png_structp png, png_const_charp message)
{
    snprintf(static_cast<PngBuffer *>(png_get_error_ptr(png))->message, 200, "%s", message);
    png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

// An RGB picture as a PNG data URI.
std::string pngDataUri(int width, int height, const std::vector<uint8_t> &rgb)
{
    PngBuffer buffer;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &buffer, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::bad_alloc();
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw CliError(std::string("--report: cannot make a picture: ") + buffer.message);
    }
    png_set_write_fn(png, &buffer, pngWrite, pngFlush);
    png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, kReportPngLevel);
    png_write_info(png, info);
    for (int r = 0; r < height; r++)
        png_write_row(png, rgb.data() + (size_t)r * (size_t)width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return "data:image/png;base64," + base64(buffer.bytes);
}

} // namespace

std::string RunReport::cropUri(const std::vector<YcPixel> &frame, int stride, int x0, int y0, int w, int h)
{
    std::vector<uint8_t> rgb((size_t)w * h * 3);
    hostToRgb(frame.data() + (size_t)y0 * stride + x0, w, h, stride, rgb.data(), (size_t)w * 3);
    return pngDataUri(w, h, rgb);
}

// The whole frame at half size each way (each pixel the mean of four).
std::string RunReport::smallUri(const std::vector<YcPixel> &frame, int width, int height, int stride)
{
    const int w = width / 2, h = height / 2;
    std::vector<uint8_t> full((size_t)width * height * 3), rgb((size_t)w * h * 3);
    hostToRgb(frame.data(), width, height, stride, full.data(), (size_t)width * 3);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int k = 0; k < 3; k++) {
                const uint8_t *p = &full[((size_t)(2 * y) * width + 2 * x) * 3 + k];
                const size_t row = (size_t)width * 3;
                rgb[((size_t)y * w + x) * 3 + k] = (uint8_t)((p[0] + p[3] + p[row] + p[row + 3] + 2) / 4);
            }
    return pngDataUri(w, h, rgb);
}

namespace {

std::string fmt(const char *format, double v)
{
    char b[64];
    snprintf(b, sizeof b, format, v);
    return b;
}

std::string clockText(double seconds)
{
    char b[48];
    const long s = (long)seconds;
    if (s >= 3600)
        snprintf(b, sizeof b, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        snprintf(b, sizeof b, "%ld:%05.2f", s / 60, seconds - (double)(s / 60 * 60));
    return b;
}

// A step of 1, 2 or 5 times a power of ten that cuts `span` into about `parts`.
double niceStep(double span, int parts)
{
    const double raw = span / parts, p = pow(10.0, floor(log10(raw))), m = raw / p;
    return (m < 1.5 ? 1 : m < 3.5 ? 2 : m < 7.5 ? 5 : 10) * p;
}

// One plot: a frame axis across, a value axis up, lines and steps as SVG paths.
class Plot {
public:
    Plot(const std::string &title, int64_t frames, double rate, double yMax, const std::string &unit)
        : frames_(std::max<int64_t>(frames, 1)), rate_(rate), yMax_(yMax > 0 ? yMax : 1)
    {
        svg_ = "<figure class=\"plot\"><figcaption>" + htmlEscape(title) + "</figcaption>"
               "<svg class=\"plot\" viewBox=\"0 0 " + std::to_string(kW) + " " + std::to_string(kH) +
               "\" role=\"img\" aria-label=\"" + htmlEscape(title) + "\">";
        const double step = niceStep(yMax_, 4);
        for (double v = 0; v <= yMax_ * 1.0001; v += step)
            svg_ += "<line class=\"grid\" x1=\"" + fmt("%.1f", kL) + "\" x2=\"" + fmt("%.1f", kW - kR) + "\" y1=\"" +
                    fmt("%.1f", y(v)) + "\" y2=\"" + fmt("%.1f", y(v)) + "\"/><text class=\"ytick\" x=\"" +
                    fmt("%.1f", kL - 6) + "\" y=\"" + fmt("%.1f", y(v) + 4) + "\">" +
                    fmt(step < 1 ? "%.1f" : "%.0f", v) + "</text>";
        svg_ += "<text class=\"unit\" x=\"4\" y=\"12\">" + htmlEscape(unit) + "</text>";
        // Across: seconds when the rate is known, else frames.
        const double span = rate_ > 0 ? (double)frames_ / rate_ : (double)frames_;
        double xs = niceStep(span, 8);
        if (rate_ > 0 && xs >= 10) {
            // Seconds and minutes in steps a clock reads.
            static const double kSteps[] = {10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 14400};
            for (double c : kSteps)
                if ((xs = c) >= span / 8)
                    break;
        }
        for (double t = 0; t <= span * 1.0001; t += xs) {
            const double f = rate_ > 0 ? t * rate_ : t;
            svg_ += "<text class=\"xtick\" x=\"" + fmt("%.1f", x(f)) + "\" y=\"" + fmt("%.1f", kH - 6.0) + "\">" +
                    (rate_ > 0 ? (xs < 1 ? fmt("%.1f s", t) : clockText(t).substr(0, clockText(t).find('.'))) : fmt("%.0f", t)) +
                    "</text>";
        }
    }
    double x(double frame) const { return kL + (kW - kL - kR) * frame / (double)frames_; }
    double y(double v) const { return kT + (kH - kT - kB) * (1.0 - std::min(std::max(v / yMax_, 0.0), 1.0)); }
    // Marks at these frames, full height.
    void marks(const std::vector<int64_t> &frames, const std::string &cls)
    {
        if (frames.empty())
            return;
        std::string d;
        double last = -1;
        for (int64_t f : frames) {
            const double px = x((double)f);
            if (px - last < 0.5)
                continue; // closer than the plot can tell apart
            last = px;
            d += "M" + fmt("%.1f", px) + " " + fmt("%.0f", kT) + "V" + fmt("%.0f", kH - kB);
        }
        svg_ += "<path class=\"" + cls + "\" d=\"" + d + "\"/>";
    }
    // A line through (frame, value) points.
    void line(const std::vector<std::pair<double, double>> &pts, const std::string &cls)
    {
        if (pts.empty())
            return;
        std::string d;
        for (size_t i = 0; i < pts.size(); i++)
            d += (i ? "L" : "M") + fmt("%.1f", x(pts[i].first)) + " " + fmt("%.1f", y(pts[i].second));
        svg_ += "<path class=\"" + cls + "\" d=\"" + d + "\"/>";
    }
    // Values that hold from each point's frame to the next one's (the last to the end).
    void steps(const std::vector<std::pair<double, double>> &pts, const std::string &cls)
    {
        std::vector<std::pair<double, double>> s;
        for (size_t i = 0; i < pts.size(); i++) {
            s.push_back(pts[i]);
            s.push_back({i + 1 < pts.size() ? pts[i + 1].first : (double)frames_, pts[i].second});
        }
        line(s, cls);
    }
    void legend(const std::vector<std::pair<std::string, std::string>> &entries)
    {
        double lx = kL + 110;
        for (const auto &e : entries) {
            svg_ += "<path class=\"" + e.first + "\" d=\"M" + fmt("%.0f", lx) + " 12H" + fmt("%.0f", lx + 18) +
                    "\"/><text class=\"legend\" x=\"" + fmt("%.0f", lx + 22) + "\" y=\"16\">" + htmlEscape(e.second) +
                    "</text>";
            lx += 34 + 6.5 * (double)e.second.size();
        }
    }
    std::string svg() const { return svg_ + "</svg></figure>\n"; }

private:
    static constexpr double kW = 1000, kH = 190, kL = 44, kR = 12, kT = 24, kB = 22;
    int64_t frames_;
    double rate_, yMax_;
    std::string svg_;
};

} // namespace

double RunReport::frameRate(const Y4mFormat &f)
{
    for (const std::string &t : f.tags)
        if (t.size() > 1 && t[0] == 'F') {
            long long num = 0, den = 0;
            if (sscanf(t.c_str() + 1, "%lld:%lld", &num, &den) == 2 && num > 0 && den > 0)
                return (double)num / (double)den;
        }
    return 0;
}

namespace {

const char *fieldOrderText(char i)
{
    return i == 't' ? "top field first" : i == 'b' ? "bottom field first" : i == 'p' ? "progressive"
                                                                   : i == 'm' ? "mixed fields" : "field order unknown";
}

} // namespace

std::string RunReport::plots() const
{
    const int64_t frames = (int64_t)lumaRemoved_.size();
    std::string html;
    // What was removed, per frame: the mean of each bin as a line, its peak as a fainter one.
    {
        const int64_t bins = std::min<int64_t>(frames, kPlotBins), per = bins ? (frames + bins - 1) / bins : 1;
        std::vector<std::pair<double, double>> yMean, yPeak, cMean, cPeak;
        double top = 0;
        for (int64_t b = 0; b * per < frames; b++) {
            const int64_t s = b * per, e = std::min(frames, s + per);
            double ys = 0, cs = 0, ym = 0, cm = 0;
            for (int64_t i = s; i < e; i++) {
                ys += lumaRemoved_[i];
                cs += chromaRemoved_[i];
                ym = std::max<double>(ym, lumaRemoved_[i]);
                cm = std::max<double>(cm, chromaRemoved_[i]);
            }
            const double mid = (double)(s + e) / 2.0;
            yMean.push_back({mid, ys / (double)(e - s)});
            cMean.push_back({mid, cs / (double)(e - s)});
            yPeak.push_back({mid, ym});
            cPeak.push_back({mid, cm});
            top = std::max(top, std::max(ym, cm));
        }
        Plot p("What was removed from each frame: RMS of input minus output" +
                   std::string(per > 1 ? " (mean and peak of every " + std::to_string(per) + " frames)" : ""),
               frames, rate_, top > 0 ? top * 1.1 : 1, "8-bit code values");
        p.marks(cuts_, "cut");
        if (per > 1) {
            p.line(yPeak, "luma peak");
            p.line(cPeak, "chroma peak");
        }
        p.line(yMean, "luma");
        p.line(cMean, "chroma");
        p.legend({{"luma", "luma"}, {"chroma", "chroma"}, {"cut", "scene change"}});
        html += p.svg();
    }
    if (alongMotion_) {
        // The share of the moved neighbours averaged in, and how far they moved.
        const int64_t bins = std::min<int64_t>(frames, kPlotBins), per = bins ? (frames + bins - 1) / bins : 1;
        std::vector<std::pair<double, double>> share, length;
        double top = 1;
        for (int64_t b = 0; b * per < frames; b++) {
            const int64_t s = b * per, e = std::min(frames, s + per);
            double m = 0, v = 0;
            for (int64_t i = s; i < e; i++) {
                m += matched_[i];
                v += vectors_[i];
            }
            const double mid = (double)(s + e) / 2.0;
            share.push_back({mid, m / (double)(e - s)});
            length.push_back({mid, v / (double)(e - s)});
            top = std::max(top, v / (double)(e - s));
        }
        top *= 1.15;
        for (auto &p : share)
            p.second *= top;
        Plot p("Following the motion: the mean length of the vectors to the next frame, and the share of the "
               "moved neighbours averaged in (drawn to the same height: the top is 100 %)",
               frames, rate_, top, "pixels a frame");
        p.marks(cuts_, "cut");
        p.line(length, "luma");
        p.line(share, "chroma");
        p.legend({{"luma", "vector length"}, {"chroma", "share averaged in"}, {"cut", "scene change"}});
        html += p.svg();
    }
    const bool automatic = strength_ == VELVANE_STRENGTH_AUTO;
    if (automatic) {
        std::vector<std::pair<double, double>> ln, cn, dots;
        double top = 0;
        for (const Scene &s : scenes_)
            if (s.measured) {
                ln.push_back({(double)s.frame, s.choice.strength.luma_noise});
                cn.push_back({(double)s.frame, s.choice.strength.chroma_noise});
                top = std::max<double>(top, std::max(s.choice.strength.luma_noise, s.choice.strength.chroma_noise));
            }
        top = top > 0 ? top * 1.15 : 1;
        for (const Scene &s : scenes_)
            if (s.measured)
                dots.push_back({(double)s.frame, s.choice.strength.dot_share * top});
        Plot p("Noise measured in each scene, and the share of the picture with dots (drawn to the same height: "
               "the top is 100 %)",
               frames, rate_, top, "8-bit code values");
        p.marks(cuts_, "cut");
        p.steps(ln, "luma");
        p.steps(cn, "chroma");
        p.steps(dots, "dots");
        p.legend({{"luma", "luma noise"}, {"chroma", "chroma noise"}, {"dots", "dot share"}});
        html += p.svg();
    }
    {
        std::vector<std::pair<double, double>> t[4], dot;
        double top = 0;
        for (const Scene &s : scenes_) {
            const VelvaneStrengthReport &r = s.choice.strength;
            const int v[4] = {r.luma_low, r.luma_high, r.chroma_low, r.chroma_high};
            for (int i = 0; i < 4; i++) {
                t[i].push_back({(double)s.frame, (double)v[i]});
                top = std::max(top, (double)v[i]);
            }
        }
        top = std::max(10.0, top * 1.15);
        for (const Scene &s : scenes_)
            dot.push_back({(double)s.frame, s.choice.strength.dot_removal == 1 ? top : 0.0});
        Plot p(automatic ? "Thresholds chosen for each scene, and whether the dot pass ran (the top: on)"
                         : "Thresholds in force, and whether the dot pass ran (the top: on)",
               frames, rate_, top, "steps");
        p.marks(cuts_, "cut");
        p.steps(dot, "dotpass");
        const char *cls[4] = {"ll", "lh", "cl", "ch"};
        for (int i = 0; i < 4; i++)
            p.steps(t[i], cls[i]);
        p.legend({{"ll", "--luma-low"}, {"lh", "--luma-high"}, {"cl", "--chroma-low"}, {"ch", "--chroma-high"},
                  {"dotpass", "dot pass"}});
        html += p.svg();
    }
    return html;
}

std::string RunReport::picturesHtml() const
{
    std::string html;
    for (const auto &e : pictures_) {
        const Picture &p = *e.second;
        const std::string when = rate_ > 0 ? ", " + clockText((double)p.frame / rate_) : "";
        html += "<section class=\"pic\"><h3>Frame " + std::to_string(p.frame) + when +
                (p.sceneStart ? ", the start of a scene" : "") + " <small>(" + fmt("%.2f", p.lumaRemoved) +
                " RMS removed from its luma)</small></h3><div class=\"row\">";
        const std::string cropSize = std::to_string(p.cropW) + "\" height=\"" + std::to_string(p.cropH);
        const std::string cropWidth = "style=\"width:" + std::to_string(p.cropW) + "px\"";
        html += "<figure " + cropWidth + "><div class=\"cmp\"><img class=\"px\" src=\"" +
                p.before + "\" width=\"" + cropSize + "\" alt=\"before\"><img class=\"px top\" src=\"" + p.after +
                "\" width=\"" + cropSize + "\" alt=\"after\"></div><input type=\"range\" min=\"0\" max=\"100\" "
                "value=\"50\" aria-label=\"before or after\"><figcaption>1:1 at " + std::to_string(p.cropX) + ", " +
                std::to_string(p.cropY) + ", where most was removed: before on the left of the slider, after on "
                "the right</figcaption></figure>";
        html += "<figure " + cropWidth + "><img class=\"px\" src=\"" + p.removed + "\" width=\"" + cropSize +
                "\" alt=\"removed\"><figcaption>removed: 4 &times; (input &minus; output) around grey</figcaption>"
                "</figure>";
        if (p.dotPass)
            html += "<figure " + cropWidth + "><img class=\"px\" src=\"" + p.dots + "\" width=\"" + cropSize +
                    "\" alt=\"dots\"><figcaption>dots: the same for the dot pass alone</figcaption></figure>";
        else
            html += "<figure class=\"off\" style=\"width:" + std::to_string(p.cropW) + "px;height:" +
                    std::to_string(p.cropH) + "px\"><figcaption>the dot pass did not run on this frame</figcaption>"
                    "</figure>";
        const int sw = width_ / 2, sh = height_ / 2;
        const std::string smallSize = std::to_string(sw) + "\" height=\"" + std::to_string(sh);
        // The crop's place on the small frame.
        html += "<figure style=\"width:" + std::to_string(sw) + "px\"><div class=\"cmp\"><img src=\"" + p.smallBefore +
                "\" width=\"" + smallSize + "\" alt=\"whole frame before\"><img class=\"top\" src=\"" + p.smallAfter +
                "\" width=\"" + smallSize + "\" alt=\"whole frame after\"><div class=\"box\" style=\"left:" +
                std::to_string(p.cropX / 2) + "px;top:" + std::to_string(p.cropY / 2) + "px;width:" +
                std::to_string(p.cropW / 2) + "px;height:" + std::to_string(p.cropH / 2) +
                "px\"></div></div><input type=\"range\" min=\"0\" max=\"100\" value=\"50\" aria-label=\"before or "
                "after\"><figcaption>the whole frame at half size, the crop outlined</figcaption></figure>";
        html += "</div></section>\n";
    }
    return html;
}

void RunReport::write(const ReportHeader &h)
{
    const int64_t frames = (int64_t)lumaRemoved_.size();
    const double fps = h.seconds > 0 ? (double)frames / h.seconds : 0;
    std::string warnings;
    for (const std::string &w : h.warnings)
        warnings += "<li>" + htmlEscape(w) + "</li>";
    if (!h.inputError.empty())
        warnings += "<li>" + htmlEscape(h.inputError) + "</li>";

    std::string page;
    page += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            "<title>velvane report: " + htmlEscape(h.input.substr(0, h.input.find(':'))) + "</title><style>\n"
            "body{font:14px/1.4 system-ui,sans-serif;margin:0 auto;max-width:1400px;padding:12px 20px;color:#222;"
            "background:#fafafa}\n"
            "h1{font-size:20px;margin:4px 0 10px}h2{font-size:16px;margin:18px 0 6px}h3{font-size:14px;margin:10px 0 4px}"
            "h3 small{font-weight:normal;color:#666}\n"
            "table{border-collapse:collapse}th{text-align:left;padding:2px 14px 2px 0;vertical-align:top;"
            "font-weight:600;white-space:nowrap}td{padding:2px 0}\n"
            "code,pre{font:12px/1.4 ui-monospace,monospace}pre{background:#eee;padding:6px 8px;white-space:pre-wrap;"
            "word-break:break-all;margin:2px 0}\n"
            ".warn{color:#8a4b00}figure{margin:0 12px 8px 0}figcaption{font-size:12px;color:#555;max-width:360px}\n"
            "figure.plot{margin:4px 0 10px}figure.plot figcaption{max-width:none}"
            "svg.plot{width:100%;height:auto;background:#fff;border:1px solid #ddd}\n"
            ".grid{stroke:#e4e4e4}.ytick{font-size:11px;text-anchor:end;fill:#555}.xtick{font-size:11px;"
            "text-anchor:middle;fill:#555}.unit,.legend{font-size:11px;fill:#333}\n"
            "path{fill:none;stroke-width:1.4}.luma{stroke:#1f5fbf}.chroma{stroke:#c0392b}.peak{stroke-width:.8;"
            "opacity:.35}.cut{stroke:#999;stroke-width:.6;stroke-dasharray:2 3}.dots{stroke:#2e8b57;"
            "stroke-dasharray:5 3}\n"
            ".ll{stroke:#1f5fbf}.lh{stroke:#7aa6e8}.cl{stroke:#c0392b}.ch{stroke:#e89a8f}.dotpass{stroke:#2e8b57;"
            "stroke-width:.8;stroke-dasharray:1 2}\n"
            ".row{display:flex;flex-wrap:wrap;align-items:flex-start}.cmp{position:relative;line-height:0}"
            ".cmp img{display:block}.cmp .top{position:absolute;left:0;top:0;clip-path:inset(0 0 0 50%)}\n"
            ".cmp input{width:100%}figure input{display:block;width:100%;margin:2px 0}"
            ".px{image-rendering:pixelated}.box{position:absolute;border:1px solid #ff0;pointer-events:none}\n"
            ".off{display:flex;align-items:center;justify-content:center;background:#ddd}"
            ".off figcaption{text-align:center}#selfcheck{font-size:11px;color:#999}\n"
            "</style></head><body>\n";
    page += "<h1>What velvane did to " + htmlEscape(h.input.substr(0, h.input.find(':'))) + "</h1>\n<table>";
    auto row = [&](const std::string &k, const std::string &v) { page += "<tr><th>" + k + "</th><td>" + v + "</td></tr>"; };
    std::string input = htmlEscape(h.input);
    input += "; " + std::string(chromaName(in_.chroma)) + ", " + std::to_string(in_.depth) + "-bit, " +
             fieldOrderText(in_.interlace) + "; " + std::to_string(frames) + " frames";
    if (rate_ > 0)
        input += ", " + clockText((double)frames / rate_) + " at " + fmt("%.3f", rate_) + " frames a second";
    row("Input", input);
    // A run that broke off says first what became of its output.
    const std::string fate = h.outputFate.empty() ? std::string()
                             : "<strong class=\"warn\">" + htmlEscape(h.outputFate) + "</strong><br>";
    row("Output", fate + htmlEscape(h.output) + "; " + std::to_string(out_.width) + " &times; " + std::to_string(out_.height) +
                      ", " + chromaName(out_.chroma) + ", " + std::to_string(out_.depth) + "-bit, " +
                      fieldOrderText(out_.interlace));
    row("Program", htmlEscape(h.version) + "<br>" + htmlEscape(h.kernels));
    row("Run", fmt("%.2f s", h.seconds) + ", " + fmt("%.1f frames a second", fps));
    row("Command", "<pre>" + htmlEscape(h.command) + "</pre>");
    row("Settings used", "<pre>" + htmlEscape(h.settings) + "</pre>");
    if (h.damagedFrames >= 0)
        row("Damaged frames", std::to_string(h.damagedFrames));
    row("Warnings", warnings.empty() ? "none" : "<ul class=\"warn\">" + warnings + "</ul>");
    page += "</table>\n<h2>Over time</h2>\n";
    page += plots();
    if (strength_ == VELVANE_STRENGTH_AUTO) {
        page += "<details><summary>Each scene automatic strength measured (" +
                std::to_string(std::count_if(scenes_.begin(), scenes_.end(), [](const Scene &s) { return s.measured; })) +
                ")</summary><pre>";
        for (const Scene &s : scenes_)
            if (s.measured)
                page += htmlEscape(sceneLine(s.choice)) + "\n";
        page += "</pre></details>\n";
    }
    page += "<h2>Before and after</h2>\n";
    page += pictures_.empty() ? std::string("<p>No frames.</p>\n") : picturesHtml();
    // Sliders, and a check that the page came out whole (the tests read it).
    page += "<p id=\"selfcheck\">page check: not run</p>\n<script>\n"
            "var vvFailed='';\n"
            "window.addEventListener('error',function(e){vvFailed=vvFailed||String(e.message);});\n"
            "document.querySelectorAll('figure input[type=range]').forEach(function(r){\n"
            "  r.addEventListener('input',function(){\n"
            "    r.previousElementSibling.querySelector('.top').style.clipPath='inset(0 0 0 '+r.value+'%)';});});\n"
            "window.addEventListener('load',function(){\n"
            "  var imgs=document.images,drawn=0,plots=0;\n"
            "  for(var i=0;i<imgs.length;i++)if(imgs[i].complete&&imgs[i].naturalWidth>0)drawn++;\n"
            "  document.querySelectorAll('svg.plot').forEach(function(s){\n"
            "    if(s.getBoundingClientRect().width>0&&s.querySelector('path'))plots++;});\n"
            "  var ok=!vvFailed&&drawn==imgs.length&&imgs.length>0&&plots>0;\n"
            "  document.getElementById('selfcheck').textContent='page check: '+(ok?'ok':'FAILED '+vvFailed)+', '+\n"
            "    drawn+' of '+imgs.length+' pictures drawn, '+plots+' plots drawn';\n"
            "});\n</script>\n</body></html>\n";

    FILE *f = fopen(path_.c_str(), "wb");
    if (!f)
        throw CliError("--report: cannot write " + path_ + ": " + strerror(errno));
    const bool ok = fwrite(page.data(), 1, page.size(), f) == page.size();
    if (fclose(f) != 0 || !ok)
        throw CliError("--report: cannot write " + path_ + ": " + strerror(errno));
}

std::string htmlEscape(const std::string &s)
{
    std::string o;
    for (char c : s) {
        switch (c) {
        case '&': o += "&amp;"; break;
        case '<': o += "&lt;"; break;
        case '>': o += "&gt;"; break;
        case '"': o += "&quot;"; break;
        default: o += c;
        }
    }
    return o;
}

} // namespace velvane
