#include "composite_video.h"

#include <math.h>

#include <algorithm>

namespace composite {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Windowed-sinc low-pass (Blackman window) of `taps` (odd) taps with its
// cutoff at `cutoff` Hz for samples at `rate` Hz, unity gain at DC.
std::vector<float> lowPass(double cutoff, double rate, int taps)
{
    std::vector<double> h(taps);
    const int m = taps / 2;
    const double fc = cutoff / rate;
    double sum = 0;
    for (int k = 0; k < taps; k++) {
        const double t = k - m;
        const double sinc = t == 0 ? 2 * fc : sin(2 * kPi * fc * t) / (kPi * t);
        const double w = 0.42 - 0.5 * cos(2 * kPi * k / (taps - 1)) + 0.08 * cos(4 * kPi * k / (taps - 1));
        h[k] = sinc * w;
        sum += h[k];
    }
    std::vector<float> out(taps);
    for (int k = 0; k < taps; k++)
        out[k] = (float)(h[k] / sum);
    return out;
}

// The low-pass moved up to the subcarrier (a quarter of the sampling rate):
// unity gain at the subcarrier.
std::vector<float> bandPassAtQuarter(const std::vector<float> &lp)
{
    std::vector<float> bp(lp.size());
    const int m = (int)lp.size() / 2;
    for (int k = 0; k < (int)lp.size(); k++) {
        static const float c[4] = {1, 0, -1, 0};
        bp[k] = 2 * lp[k] * c[((k - m) % 4 + 4) % 4];
    }
    return bp;
}

// A row through an FIR filter, the row's ends repeated beyond it.
void filter(const float *in, int n, const std::vector<float> &h, float *out)
{
    const int m = (int)h.size() / 2;
    for (int i = 0; i < n; i++) {
        double s = 0;
        for (int k = 0; k < (int)h.size(); k++) {
            int j = i + k - m;
            j = j < 0 ? 0 : j >= n ? n - 1 : j;
            s += h[k] * in[j];
        }
        out[i] = (float)s;
    }
}

} // namespace

// The same stretch of a line at another sampling rate: a windowed sinc
// (Lanczos, four lobes) with its cutoff at the lower rate's half, so that
// going down does not alias. The weights are the same on every line.
Resampler::Resampler(int nIn, double rateIn, int nOut, double rateOut) : nIn_(nIn), nOut_(nOut)
{
    const double scale = std::min(1.0, rateOut / rateIn); // cutoff relative to the input's Nyquist
    const double a = 4;
    const double reach = a / scale;
    taps_ = 2 * (int)ceil(reach) + 1;
    first_.resize(nOut);
    weight_.assign((size_t)nOut * taps_, 0.0f);
    for (int j = 0; j < nOut; j++) {
        const double x = j * rateIn / rateOut;
        const int lo = (int)floor(x - reach) + 1;
        first_[j] = lo;
        std::vector<double> k(taps_, 0.0);
        double w = 0;
        for (int i = lo; i < lo + taps_; i++) {
            const double t = (x - i) * scale;
            const double sinc = t == 0 ? 1 : sin(kPi * t) / (kPi * t);
            const double lanczos = fabs(t) >= a ? 0 : t == 0 ? 1 : sin(kPi * t / a) / (kPi * t / a);
            k[i - lo] = sinc * lanczos;
            w += k[i - lo];
        }
        for (int t = 0; t < taps_; t++)
            weight_[(size_t)j * taps_ + t] = (float)(k[t] / w);
    }
}

void Resampler::run(const float *in, float *out) const
{
    for (int j = 0; j < nOut_; j++) {
        const float *w = &weight_[(size_t)j * taps_];
        double s = 0;
        for (int t = 0; t < taps_; t++) {
            const int i = first_[j] + t;
            s += w[t] * in[i < 0 ? 0 : i >= nIn_ ? nIn_ - 1 : i];
        }
        out[j] = (float)s;
    }
}

namespace {

constexpr double kKb = 0.5 / (1 - 0.114), kKr = 0.5 / (1 - 0.299); // Cb, Cr per B - Y, R - Y
constexpr double kU = 0.492111, kV = 0.877283;                     // U, V per B - Y, R - Y
const double kSin33 = sin(33 * kPi / 180), kCos33 = cos(33 * kPi / 180);

// The subcarrier's sine and cosine at the four phases of a line's samples
// (4 fsc: each a quarter cycle on), from the line's phase in cycles.
void carrier(double phase, float sn[4], float cs[4])
{
    for (int k = 0; k < 4; k++) {
        const double theta = 2 * kPi * (phase + 0.25 * k);
        sn[k] = (float)sin(theta);
        cs[k] = (float)cos(theta);
    }
}

} // namespace

Standard standard(System s)
{
    Standard out;
    out.system = s;
    if (s == System::Ntsc) {
        out.lines = 525;
        out.height = 480;
        out.fsc = 315e6 / 88; // 227.5 times the line rate of 4.5 MHz / 286
        out.combLines = 1;
    } else {
        out.lines = 625;
        out.height = 576;
        out.fsc = 4433618.75; // 283.75 x 15625 Hz + 25 Hz
        out.combLines = 2;
    }
    out.samples = (int)lrint(kRec601Width * 4 * out.fsc / kRec601Rate);
    return out;
}

int64_t lineTime(const Standard &s, int64_t frame, int field, int row)
{
    return frame * s.lines + (field ? (s.lines + 1) / 2 : 0) + row;
}

double linePhase(const Standard &s, int64_t t)
{
    if (s.system == System::Ntsc)
        return (t & 1) ? 0.5 : 0.0; // 227.5 cycles a line
    // 283.7516 cycles a line is 709379 / 2500: the phase in 2500ths of a cycle, exactly.
    const int64_t m = ((t % 2500) * 709379) % 2500;
    return (double)((m + 2500) % 2500) / 2500.0;
}

int vSwitch(const Standard &s, int64_t t)
{
    return s.system == System::Pal && (t & 1) ? -1 : 1;
}

void fromCodes(float Y, float Cb, float Cr, float *y, float *u, float *v)
{
    *y = (Y - 16) / 219.0f;
    *u = (float)(kU * ((Cb - 128) / 224.0 / kKb));
    *v = (float)(kV * ((Cr - 128) / 224.0 / kKr));
}

void toCodes(float y, float u, float v, float *Y, float *Cb, float *Cr)
{
    *Y = 16 + 219 * y;
    *Cb = (float)(128 + 224 * (u / kU * kKb));
    *Cr = (float)(128 + 224 * (v / kV * kKr));
}

Simulator::Simulator(System system, Decoder decoder)
    : std_(standard(system)), decoder_(decoder), up_(kRec601Width, kRec601Rate, std_.samples, 4 * std_.fsc),
      down_(std_.samples, 4 * std_.fsc, kRec601Width, kRec601Rate)
{
    const double rate = 4 * std_.fsc;
    lpI_ = lowPass(1.3e6, rate, 41);
    lpQ_ = lowPass(0.5e6, rate, 81);
    lpUV_ = lowPass(1.3e6, rate, 41);
    // The separators' chroma band: the subcarrier +- 1.3 MHz, a short filter
    // whose skirts reach well into luma, as analogue notches did.
    bandPass_ = bandPassAtQuarter(lowPass(1.3e6, rate, 21));
    lumaLow_ = lowPass(system == System::Ntsc ? 2.6e6 : 3.2e6, rate, 31);
    demodLow_ = lowPass(1.3e6, rate, 31);
}

std::vector<float> Simulator::encode(const Field &in, int64_t frame, int field, bool invert, float noise,
                                     std::mt19937 &rng) const
{
    const int n = std_.samples;
    std::vector<float> out((size_t)n * in.rows);
    std::vector<float> y(n), u(n), v(n), a(n), b(n);
    std::normal_distribution<float> gauss(0, noise / 219.0f);
    for (int r = 0; r < in.rows; r++) {
        const size_t o = (size_t)r * in.width;
        up_.run(&in.y[o], y.data());
        up_.run(&in.u[o], u.data());
        up_.run(&in.v[o], v.data());
        if (std_.system == System::Ntsc) {
            // I and Q, the axes 33 degrees on from V and U, at their own bandwidths.
            for (int j = 0; j < n; j++) {
                const float i = (float)(-kSin33 * u[j] + kCos33 * v[j]), q = (float)(kCos33 * u[j] + kSin33 * v[j]);
                u[j] = i, v[j] = q;
            }
            filter(u.data(), n, lpI_, a.data());
            filter(v.data(), n, lpQ_, b.data());
            for (int j = 0; j < n; j++) {
                u[j] = (float)(-kSin33 * a[j] + kCos33 * b[j]);
                v[j] = (float)(kCos33 * a[j] + kSin33 * b[j]);
            }
        } else {
            filter(u.data(), n, lpUV_, a.data());
            filter(v.data(), n, lpUV_, b.data());
            u.swap(a), v.swap(b);
        }
        const int64_t t = lineTime(std_, frame, field, r);
        const double phase = linePhase(std_, t) + (invert ? 0.5 : 0.0);
        const int s = vSwitch(std_, t);
        float *x = &out[(size_t)r * n];
        float sn[4], cs[4];
        carrier(phase, sn, cs);
        for (int j = 0; j < n; j++) {
            x[j] = y[j] + u[j] * sn[j & 3] + s * v[j] * cs[j & 3];
            if (noise > 0)
                x[j] += gauss(rng);
        }
    }
    return out;
}

Field Simulator::decode(const std::vector<float> &signal, int rows, int64_t frame, int field, bool invert) const
{
    const int n = std_.samples;
    Field out(kRec601Width, rows);
    std::vector<float> c(n), diff(n), y(n), u(n), v(n), du(n), dv(n), prevU(n), prevV(n);
    auto row = [&](int r) { return &signal[(size_t)std::min(std::max(r, 0), rows - 1) * n]; };
    const int d = std_.combLines;
    for (int r = 0; r < rows; r++) {
        const float *x = row(r);
        // The chroma band of the line, as the separator sees it.
        const bool combed = (decoder_ == Decoder::Comb2 && r >= d) ||
                            (decoder_ == Decoder::Comb3 && r >= d && r + d < rows);
        if (decoder_ == Decoder::Comb2 && combed) {
            const float *p = row(r - d);
            for (int j = 0; j < n; j++)
                diff[j] = 0.5f * (x[j] - p[j]);
            filter(diff.data(), n, bandPass_, c.data());
        } else if (decoder_ == Decoder::Comb3 && combed) {
            const float *p = row(r - d), *q = row(r + d);
            for (int j = 0; j < n; j++)
                diff[j] = 0.5f * x[j] - 0.25f * (p[j] + q[j]);
            filter(diff.data(), n, bandPass_, c.data());
        } else {
            filter(x, n, bandPass_, c.data());
        }
        if (decoder_ == Decoder::LowPass)
            filter(x, n, lumaLow_, y.data());
        else
            for (int j = 0; j < n; j++)
                y[j] = x[j] - c[j];
        // Demodulation against the subcarrier the burst gives, V switched as sent.
        const int64_t t = lineTime(std_, frame, field, r);
        const double phase = linePhase(std_, t) + (invert ? 0.5 : 0.0);
        const int s = vSwitch(std_, t);
        float sn[4], cs[4];
        carrier(phase, sn, cs);
        for (int j = 0; j < n; j++) {
            du[j] = 2 * c[j] * sn[j & 3];
            dv[j] = 2 * s * c[j] * cs[j & 3];
        }
        filter(du.data(), n, demodLow_, u.data());
        filter(dv.data(), n, demodLow_, v.data());
        if (decoder_ == Decoder::DelayLine) {
            if (r == 0)
                prevU = u, prevV = v;
            for (int j = 0; j < n; j++) {
                const float cu = u[j], cv = v[j];
                u[j] = 0.5f * (cu + prevU[j]);
                v[j] = 0.5f * (cv + prevV[j]);
                prevU[j] = cu, prevV[j] = cv;
            }
        }
        const size_t o = (size_t)r * kRec601Width;
        down_.run(y.data(), &out.y[o]);
        down_.run(u.data(), &out.u[o]);
        down_.run(v.data(), &out.v[o]);
    }
    return out;
}

Field Simulator::pass(const Field &in, int64_t frame, int field, float noise, std::mt19937 &rng) const
{
    return decode(encode(in, frame, field, false, noise, rng), in.rows, frame, field, false);
}

Field Simulator::reference(const Field &in, int64_t frame, int field) const
{
    std::mt19937 none(0);
    Field a = decode(encode(in, frame, field, false, 0, none), in.rows, frame, field, false);
    const Field b = decode(encode(in, frame, field, true, 0, none), in.rows, frame, field, true);
    for (size_t i = 0; i < a.y.size(); i++) {
        a.y[i] = 0.5f * (a.y[i] + b.y[i]);
        a.u[i] = 0.5f * (a.u[i] + b.u[i]);
        a.v[i] = 0.5f * (a.v[i] + b.v[i]);
    }
    return a;
}

bool parseSystem(const std::string &name, System *out)
{
    if (name == "ntsc")
        *out = System::Ntsc;
    else if (name == "pal")
        *out = System::Pal;
    else
        return false;
    return true;
}

bool parseDecoder(const std::string &name, Decoder *out)
{
    static const struct {
        const char *name;
        Decoder d;
    } names[] = {{"notch", Decoder::Notch},
                 {"lowpass", Decoder::LowPass},
                 {"comb2", Decoder::Comb2},
                 {"comb3", Decoder::Comb3},
                 {"delayline", Decoder::DelayLine}};
    for (const auto &n : names)
        if (name == n.name) {
            *out = n.d;
            return true;
        }
    return false;
}

} // namespace composite
