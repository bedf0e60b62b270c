// The physics of the composite video simulator: the standards' phase
// sequences, the period of the dots a decoder leaves, and the crosstalk-free
// reference.
#include <math.h>

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "bench/composite_video.h"

namespace composite {
namespace {

constexpr int kRows = 12;

// Colour bars across 720 samples (sharp colour edges, where a decoder leaves
// dots), or one flat colour.
Field bars(bool flat)
{
    static const float codes[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                      {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};
    Field f(720, kRows);
    for (int r = 0; r < kRows; r++)
        for (int x = 0; x < 720; x++) {
            const float *c = codes[flat ? 4 : x / 90];
            const size_t i = (size_t)r * 720 + x;
            fromCodes(c[0], c[1], c[2], &f.y[i], &f.u[i], &f.v[i]);
        }
    return f;
}

// The largest difference of a and s times b, in 8-bit luma code values.
float lumaGap(const Field &a, const Field &b, float s = 1)
{
    float m = 0;
    for (size_t i = 0; i < a.y.size(); i++)
        m = std::max(m, fabsf(a.y[i] - s * b.y[i]));
    return 219 * m;
}

double wrap(double p)
{
    return p - floor(p);
}

TEST(CompositeVideo, PhaseSequencesDotPeriodsAndReference)
{
    // NTSC: half a cycle a line, inverted from one frame to the next, back after two.
    const Standard ntsc = standard(System::Ntsc), pal = standard(System::Pal);
    for (int field = 0; field < 2; field++)
        for (int row = 0; row < 20; row++) {
            const double p = linePhase(ntsc, lineTime(ntsc, 5, field, row));
            EXPECT_EQ(wrap(linePhase(ntsc, lineTime(ntsc, 5, field, row + 1)) - p), 0.5);
            EXPECT_EQ(wrap(linePhase(ntsc, lineTime(ntsc, 6, field, row)) - p), 0.5);
            EXPECT_EQ(linePhase(ntsc, lineTime(ntsc, 7, field, row)), p);
        }
    // PAL: three quarters of a cycle and the V-switch's sign on from one frame
    // to the next; the same phase and switch only after four frames (eight fields).
    for (int field = 0; field < 2; field++)
        for (int row = 0; row < 20; row++) {
            const int64_t t = lineTime(pal, 3, field, row);
            const double p = linePhase(pal, t);
            EXPECT_NEAR(wrap(linePhase(pal, lineTime(pal, 4, field, row)) - p), 0.75, 1e-9);
            EXPECT_EQ(vSwitch(pal, lineTime(pal, 4, field, row)), -vSwitch(pal, t));
            EXPECT_NEAR(wrap(linePhase(pal, lineTime(pal, 5, field, row)) - p), 0.5, 1e-9);
            EXPECT_EQ(vSwitch(pal, lineTime(pal, 5, field, row)), vSwitch(pal, t));
            EXPECT_NEAR(linePhase(pal, lineTime(pal, 7, field, row)), p, 1e-9);
            EXPECT_EQ(vSwitch(pal, lineTime(pal, 7, field, row)), vSwitch(pal, t));
            // Two lines on (the next row of a field but one): half a cycle and 2/625.
            EXPECT_NEAR(wrap(linePhase(pal, t + 2) - p), 0.5 + 2.0 / 625, 1e-9);
        }

    // The dots a notch decoder leaves on still bars repeat after two frames
    // in NTSC (inverted in between), after four in PAL (inverted after two,
    // neither after one). The reference is the same on every frame, so the
    // dots are the decode less the reference.
    const Field still = bars(false), flat = bars(true);
    for (System system : {System::Ntsc, System::Pal}) {
        const Simulator sim(system, system == System::Pal ? Decoder::DelayLine : Decoder::Notch);
        std::mt19937 rng(1);
        Field dots[5];
        const Field ref = sim.reference(still, 0, 1);
        for (int f = 0; f < 5; f++) {
            dots[f] = sim.pass(still, f, 1, 0, rng);
            EXPECT_LT(lumaGap(sim.reference(still, f, 1), ref), 0.01f) << "crosstalk left in the reference";
            for (size_t i = 0; i < ref.y.size(); i++)
                dots[f].y[i] -= ref.y[i];
        }
        EXPECT_GT(lumaGap(dots[0], dots[0], 0), 4.0f) << "no dots at colour edges";
        if (system == System::Ntsc) {
            EXPECT_LT(lumaGap(dots[1], dots[0], -1), 0.01f);
            EXPECT_LT(lumaGap(dots[2], dots[0]), 0.01f);
        } else {
            EXPECT_GT(lumaGap(dots[1], dots[0]), 2.0f);
            EXPECT_GT(lumaGap(dots[1], dots[0], -1), 2.0f);
            EXPECT_LT(lumaGap(dots[2], dots[0], -1), 0.01f);
            EXPECT_LT(lumaGap(dots[4], dots[0]), 0.01f);
        }

        // A flat colour comes back as itself: no dots, its luma and chroma
        // within a code value.
        const Field back = sim.pass(flat, 3, 0, 0, rng);
        for (int r = 0; r < kRows; r++)
            for (int x = 40; x < 680; x++) {
                const size_t i = (size_t)r * 720 + x;
                float Y, Cb, Cr, Y0, Cb0, Cr0;
                toCodes(back.y[i], back.u[i], back.v[i], &Y, &Cb, &Cr);
                toCodes(flat.y[i], flat.u[i], flat.v[i], &Y0, &Cb0, &Cr0);
                ASSERT_NEAR(Y, Y0, 1.0f) << x;
                ASSERT_NEAR(Cb, Cb0, 1.0f) << x;
                ASSERT_NEAR(Cr, Cr0, 1.0f) << x;
            }
    }
}

} // namespace
} // namespace composite
