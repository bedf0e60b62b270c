// The four D4 transforms: coefficients, impulse/constant/ramp responses, the
// relations between them, and where double precision is used.
#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include "wavelet_test_support.h"

namespace velvane::test {
namespace {

constexpr int32_t N = kWaveLength, M = kWaveLength / 2;

uint32_t bitsOf(float f)
{
    uint32_t b;
    memcpy(&b, &f, 4);
    return b;
}

TEST(D4Coefficients, StoredAsTheGivenBitPatterns)
{
    EXPECT_EQ(bitsOf(kD4H0), 0x3EF746EAu);
    EXPECT_EQ(bitsOf(kD4H1), 0x3F5625EFu);
    EXPECT_EQ(bitsOf(kD4H2), 0x3E6585F8u);
    EXPECT_EQ(bitsOf(kD4H3), 0xBE0483EEu);
    // ...which round the closed forms.
    const double s3 = sqrt(3.0), q = 4 * sqrt(2.0);
    EXPECT_EQ(kD4H0, (float)((1 + s3) / q));
    EXPECT_EQ(kD4H1, (float)((3 + s3) / q));
    EXPECT_EQ(kD4H2, (float)((3 - s3) / q));
    EXPECT_EQ(kD4H3, (float)((1 - s3) / q));
}

using D4Kernels = LevelTest;

TEST_P(D4Kernels, ForwardOfImpulseGivesTheTaps)
{
    AlignedFloats x(N), out(N);
    x[0] = 1.0f;
    dsp.d4Forward(x.p, N, out.p);
    for (int32_t k = 0; k < N; k++) {
        float want = 0.0f;
        if (k == 0)
            want = kD4H0;
        else if (k == M)
            want = kD4H3;
        else if (k == M - 1)
            want = kD4H2;
        else if (k == N - 1)
            want = kD4H1;
        EXPECT_EQ(out[k], want) << "k=" << k;
    }
}

TEST_P(D4Kernels, ForwardOfConstantAndRamp)
{
    AlignedFloats x(N), out(N);
    const float v = 37.5f;
    for (int32_t i = 0; i < N; i++)
        x[i] = v;
    dsp.d4Forward(x.p, N, out.p);
    for (int32_t k = 0; k < M; k++) {
        EXPECT_NEAR(out[k], v * 1.41421356f, 1e-5 * v) << k;
        EXPECT_NEAR(out[M + k], 0.0f, 1e-5 * v) << k;
    }
    for (int32_t i = 0; i < N; i++)
        x[i] = (float)i;
    dsp.d4Forward(x.p, N, out.p);
    for (int32_t k = 0; k < M - 1; k++)
        EXPECT_NEAR(out[M + k], 0.0f, 2e-4) << k;
    EXPECT_GT(fabsf(out[N - 1]), 100.0f); // the pair across the wrap sees a step of 800
}

TEST_P(D4Kernels, OddPhaseImpulses)
{
    AlignedFloats x(N), b(M), out(N);
    x[0] = 1.0f;
    dsp.d4OddLowForward(x.p, N, b.p);
    for (int32_t k = 0; k < M; k++)
        EXPECT_EQ(b[k], k == M - 2 ? kD4H3 : k == M - 1 ? kD4H1 : 0.0f) << k;

    for (int32_t k = 0; k < M; k++)
        b[k] = k == M - 1 ? 1.0f : 0.0f;
    dsp.d4OddLowInverse(b.p, M, out.p);
    for (int32_t i = 0; i < N; i++) {
        const float want = i == N - 1 ? kD4H0 : i == 0 ? kD4H1 : i == 1 ? kD4H2 : i == 2 ? kD4H3 : 0.0f;
        EXPECT_EQ(out[i], want) << i;
    }
}

void randomSignal(AlignedFloats &x, std::mt19937 &rng, float scale)
{
    std::uniform_real_distribution<float> u(-scale, scale);
    for (size_t i = 0; i < x.size; i++)
        x[i] = u(rng);
}

TEST_P(D4Kernels, InversesUndoTheirForwards)
{
    std::mt19937 rng(5);
    AlignedFloats x(N), c(N), y(N), b(M), b2(M);
    for (int trial = 0; trial < 20; trial++) {
        randomSignal(x, rng, 1000.0f);
        dsp.d4Forward(x.p, N, c.p);
        dsp.d4Inverse(c.p, c.p + M, M, y.p);
        for (int32_t i = 0; i < N; i++)
            ASSERT_NEAR(y[i], x[i], 1e-3) << i;

        randomSignal(b, rng, 1000.0f);
        dsp.d4OddLowInverse(b.p, M, y.p);
        dsp.d4OddLowForward(y.p, N, b2.p);
        for (int32_t k = 0; k < M; k++)
            ASSERT_NEAR(b2[k], b[k], 1e-3) << k;
    }
}

TEST_P(D4Kernels, OddPhaseOfDelayedSignalIsEvenApproximation)
{
    std::mt19937 rng(6);
    AlignedFloats x(N), delayed(N), c(N), b(M);
    randomSignal(x, rng, 500.0f);
    for (int32_t i = 0; i < N; i++)
        delayed[i] = x[(i + N - 1) % N];
    dsp.d4Forward(x.p, N, c.p);
    dsp.d4OddLowForward(delayed.p, N, b.p);
    for (int32_t k = 0; k < M; k++)
        ASSERT_NEAR(b[k], c[k], 1e-3) << k;
}

TEST_P(D4Kernels, OtherLengthsWithinTheContract)
{
    std::mt19937 rng(7);
    for (int32_t n : {8, 16, 24, 40, 808}) {
        AlignedFloats x(n), c(n), y(n), b(n / 2);
        randomSignal(x, rng, 10.0f);
        dsp.d4Forward(x.p, n, c.p);
        dsp.d4Inverse(c.p, c.p + n / 2, n / 2, y.p);
        for (int32_t i = 0; i < n; i++)
            ASSERT_NEAR(y[i], x[i], 1e-4) << "n=" << n << " i=" << i;
        if (n % 8 == 0 && n >= 16) {
            dsp.d4OddLowForward(x.p, n, b.p);
            dsp.d4OddLowInverse(b.p, n / 2, y.p);
            dsp.d4OddLowForward(y.p, n, c.p);
            for (int32_t k = 0; k < n / 2; k++)
                ASSERT_NEAR(c[k], b[k], 1e-4) << "n=" << n << " k=" << k;
        }
    }
}

// Single precision everywhere except the odd-phase outputs next to the wrap,
// which round once from double. Random signals find outputs where the two
// evaluations differ, and only the listed outputs may take the double value.
TEST_P(D4Kernels, OddPhaseBoundariesRoundOnceFromDouble)
{
    const double d0 = kD4H0, d1 = kD4H1, d2 = kD4H2, d3 = kD4H3;
    std::mt19937 rng(8);
    AlignedFloats x(N), b(M), out(N);
    int differingBoundaries = 0;
    for (int trial = 0; trial < 200; trial++) {
        randomSignal(x, rng, 1.0f);
        dsp.d4OddLowForward(x.p, N, b.p);
        for (int32_t k = 0; k < M; k++) {
            float x1 = x[(2 * k + 1) % N], x2 = x[(2 * k + 2) % N], x3 = x[(2 * k + 3) % N], x4 = x[(2 * k + 4) % N];
            float single = ((kD4H0 * x1 + kD4H1 * x2) + kD4H2 * x3) + kD4H3 * x4;
            float dbl = (float)(((d0 * x1 + d1 * x2) + d2 * x3) + d3 * x4);
            bool boundary = k >= M - 4;
            ASSERT_EQ(b[k], boundary ? dbl : single) << "k=" << k;
            differingBoundaries += boundary && single != dbl;
        }
        randomSignal(b, rng, 1.0f);
        dsp.d4OddLowInverse(b.p, M, out.p);
        for (int32_t j = 0; j < M; j++) {
            float p = b[(j + M - 1) % M], c = b[j];
            bool boundary = j == 0 || j >= M - 3;
            float odd = boundary ? (float)(d2 * p + d0 * c) : kD4H2 * p + kD4H0 * c;
            float even = boundary ? (float)(d3 * p + d1 * c) : kD4H3 * p + kD4H1 * c;
            ASSERT_EQ(out[2 * j + 1], odd) << "j=" << j;
            ASSERT_EQ(out[(2 * j + 2) % N], even) << "j=" << j;
            differingBoundaries += boundary && (odd != kD4H2 * p + kD4H0 * c || even != kD4H3 * p + kD4H1 * c);
        }
    }
    EXPECT_GT(differingBoundaries, 0) << "no input told double from single precision apart";
}

// The interior evaluation order of every output, tried against a reordered sum.
TEST_P(D4Kernels, EvenPhaseFollowsTheStatedOrder)
{
    std::mt19937 rng(9);
    AlignedFloats x(N), c(N), out(N);
    for (int trial = 0; trial < 50; trial++) {
        randomSignal(x, rng, 1.0f);
        dsp.d4Forward(x.p, N, c.p);
        for (int32_t k = 0; k < M; k++) {
            float x0 = x[2 * k], x1 = x[2 * k + 1], x2 = x[(2 * k + 2) % N], x3 = x[(2 * k + 3) % N];
            ASSERT_EQ(c[k], ((kD4H0 * x0 + kD4H1 * x1) + kD4H2 * x2) + kD4H3 * x3) << k;
            ASSERT_EQ(c[M + k], ((-kD4H2 * x1 + kD4H3 * x0) + (-kD4H0 * x3)) + kD4H1 * x2) << k;
        }
        dsp.d4Inverse(x.p, x.p + M, M, out.p);
        for (int32_t k = 0; k < M; k++) {
            int32_t p = (k + M - 1) % M;
            float a = x[k], ap = x[p], d = x[M + k], dp = x[M + p];
            ASSERT_EQ(out[2 * k], ((kD4H0 * a + kD4H2 * ap) + kD4H3 * d) + kD4H1 * dp) << k;
            ASSERT_EQ(out[2 * k + 1], ((kD4H1 * a + kD4H3 * ap) + (-kD4H2 * d)) + (-kD4H0 * dp)) << k;
        }
    }
}

VELVANE_INSTANTIATE_LEVELS(D4Kernels);

} // namespace
} // namespace velvane::test
