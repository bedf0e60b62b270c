// A composite video simulator for the benchmarks: Rec. 601 pictures encoded
// as NTSC or PAL composite signals, sampled at four times the colour
// subcarrier with the standards' phase sequences, optionally given noise, and
// decoded again by the kinds of Y/C separators capture devices have used.
// What comes back carries the decoder's cross-luminance dots and
// cross-colour; a second decode with the subcarrier inverted, averaged with
// the first, cancels both and keeps the decoder's blur: the crosstalk-free
// reference.
//
// Not part of the library: build/bench/composite runs it, and
// bench/composite-strength measures automatic strength on its clips.
#ifndef VELVANE_BENCH_COMPOSITE_VIDEO_H
#define VELVANE_BENCH_COMPOSITE_VIDEO_H

#include <stdint.h>

#include <random>
#include <string>
#include <vector>

namespace composite {

enum class System { Ntsc, Pal };

// Y/C separators. Notch: luma is the signal less a band around the
// subcarrier. LowPass: luma is the signal low-passed below the chroma band.
// Comb2: chroma is half the difference of the line and the line the comb
// reaches back to (one line in NTSC, two in PAL, where that line's subcarrier
// is half a cycle on), band-passed. Comb3: the same from the line and the mean
// of the lines either side. DelayLine (PAL): the notch, and the chroma of each
// line averaged with the line before it after demodulation.
enum class Decoder { Notch, LowPass, Comb2, Comb3, DelayLine };

struct Standard {
    System system;
    int lines;      // a frame's lines, 525 or 625
    int height;     // a frame's active rows at Rec. 601: 480 or 576
    double fsc;     // subcarrier, Hz
    int samples;    // samples at 4 fsc of the 720 Rec. 601 samples of a line
    int combLines;  // lines back to a line whose subcarrier is half a cycle on: 1 (NTSC), 2 (PAL)
};

Standard standard(System s);

// The line's place in time: frame `frame` of the sequence, `field` 0 for the
// field sent first, `row` its row within that field. Lines are counted from
// the start of frame 0; the second field starts half a frame on, at a whole
// line ((lines + 1) / 2).
int64_t lineTime(const Standard &s, int64_t frame, int field, int row);

// The subcarrier's phase at the line's first sample, in cycles [0, 1): NTSC's
// 227.5 cycles a line; PAL's 283.75 cycles a line and the 25 Hz offset, 283.7516
// in all (1/625 cycle a line more than 283.75). Every later sample of the line is
// a quarter cycle on.
double linePhase(const Standard &s, int64_t lineTime);

// PAL's V-switch: the sign of V on the line (+1 on even line times, -1 on odd);
// always +1 in NTSC.
int vSwitch(const Standard &s, int64_t lineTime);

// One field as planes of float samples: Y' in 0..1 (black to white), U and V
// as the standards scale them; `width` samples a row.
struct Field {
    int width = 0, rows = 0;
    std::vector<float> y, u, v;
    Field() = default;
    Field(int w, int r) : width(w), rows(r), y((size_t)w * r), u((size_t)w * r), v((size_t)w * r) {}
};

// Rec. 601 codes (Y 16..235, Cb and Cr about 128) to and from Y', U, V.
void fromCodes(float Y, float Cb, float Cr, float *y, float *u, float *v);
void toCodes(float y, float u, float v, float *Y, float *Cb, float *Cr);

constexpr double kRec601Rate = 13.5e6;
constexpr int kRec601Width = 720;

// A line's samples at one rate to the same stretch at another.
class Resampler {
  public:
    Resampler(int nIn, double rateIn, int nOut, double rateOut);
    void run(const float *in, float *out) const;

  private:
    int nIn_, nOut_, taps_;
    std::vector<int> first_;
    std::vector<float> weight_;
};

class Simulator {
  public:
    Simulator(System system, Decoder decoder);

    // Encodes a field of 720-sample rows to a composite signal at 4 fsc
    // (rows of standard().samples): luma, and U and V band-limited (NTSC as
    // I and Q, 1.3 and 0.5 MHz; PAL 1.3 MHz each) on the subcarrier, its
    // phase `invert` half a cycle on when asked. `noise` adds white Gaussian
    // noise of that deviation (8-bit luma code values) to the signal.
    std::vector<float> encode(const Field &in, int64_t frame, int field, bool invert, float noise,
                              std::mt19937 &rng) const;

    // Decodes a composite field back to 720-sample rows (chroma on all 720).
    Field decode(const std::vector<float> &signal, int rows, int64_t frame, int field, bool invert) const;

    // Encode and decode once (`noise` as in encode), or the crosstalk-free
    // reference: the mean of two noiseless decodes, the second with the
    // subcarrier inverted.
    Field pass(const Field &in, int64_t frame, int field, float noise, std::mt19937 &rng) const;
    Field reference(const Field &in, int64_t frame, int field) const;

    const Standard &standardUsed() const { return std_; }

  private:
    Standard std_;
    Decoder decoder_;
    std::vector<float> lpI_, lpQ_, lpUV_, bandPass_, lumaLow_, demodLow_;
    Resampler up_, down_; // 720 samples to 4 fsc and back
};

bool parseSystem(const std::string &name, System *out);
bool parseDecoder(const std::string &name, Decoder *out);

} // namespace composite

#endif
