#include "wavelet/dsp.h"


namespace velvane {

namespace {

constexpr float H0 = kD4H0, H1 = kD4H1, H2 = kD4H2, H3 = kD4H3;
// Products of two floats are exact in double precision.
constexpr double D0 = kD4H0, D1 = kD4H1, D2 = kD4H2, D3 = kD4H3;

// Truncation toward zero as cvttss2si does it: outside the 32-bit range
// (and NaN) INT32_MIN instead of undefined behaviour.
inline int32_t truncateToInt(float f)
{
    if (f >= -2147483648.0f && f < 2147483648.0f)
        return (int32_t)f;
    return INT32_MIN;
}

} // namespace

void d4ForwardC(const float *x, int32_t n, float *out)
{
    const int32_t half = n / 2;
    float *a = out, *d = out + half;
    for (int32_t k = 0; k < half; k++) {
        const float x0 = x[2 * k], x1 = x[2 * k + 1];
        const float x2 = x[(2 * k + 2) % n], x3 = x[(2 * k + 3) % n];
        a[k] = ((H0 * x0 + H1 * x1) + H2 * x2) + H3 * x3;
        d[k] = ((-H2 * x1 + H3 * x0) + (-H0 * x3)) + H1 * x2;
    }
}

void d4InverseC(const float *a, const float *d, int32_t m, float *out)
{
    for (int32_t k = 0; k < m; k++) {
        const int32_t p = k == 0 ? m - 1 : k - 1;
        out[2 * k] = ((H0 * a[k] + H2 * a[p]) + H3 * d[k]) + H1 * d[p];
        out[2 * k + 1] = ((H1 * a[k] + H3 * a[p]) + (-H2 * d[k])) + (-H0 * d[p]);
    }
}

void d4OddLowForwardC(const float *x, int32_t n, float *out)
{
    const int32_t half = n / 2;
    for (int32_t k = 0; k < half - 4; k++)
        out[k] = ((H0 * x[2 * k + 1] + H1 * x[2 * k + 2]) + H2 * x[2 * k + 3]) + H3 * x[2 * k + 4];
    // The last four reach round the end of the signal.
    for (int32_t k = half - 4; k < half; k++) {
        const double s = ((D0 * x[(2 * k + 1) % n] + D1 * x[(2 * k + 2) % n]) + D2 * x[(2 * k + 3) % n]) +
                         D3 * x[(2 * k + 4) % n];
        out[k] = (float)s;
    }
}

void d4OddLowInverseC(const float *b, int32_t m, float *out)
{
    const int32_t n = 2 * m;
    // j = 0 (b[-1] is b[m-1]) and j = m-3..m-1 in double precision.
    auto boundary = [&](int32_t j) {
        const int32_t p = j == 0 ? m - 1 : j - 1;
        out[2 * j + 1] = (float)(D2 * b[p] + D0 * b[j]);
        out[(2 * j + 2) % n] = (float)(D3 * b[p] + D1 * b[j]);
    };
    boundary(0);
    for (int32_t j = 1; j < m - 3; j++) {
        out[2 * j + 1] = H2 * b[j - 1] + H0 * b[j];
        out[2 * j + 2] = H3 * b[j - 1] + H1 * b[j];
    }
    for (int32_t j = m - 3; j < m; j++)
        boundary(j);
}

void shrinkDetailPairsC(float *dPrime, float *d, int32_t count)
{
    for (int32_t k = 0; k < count; k++) {
        if ((double)dPrime[k] * (double)d[k] < 0.0) {
            dPrime[k] *= 0.5f;
            d[k] *= 0.5f;
        }
    }
}

void twoPhaseShrink(float *plane, int32_t column, int32_t h, float *rows)
{
    constexpr int32_t n = kWaveLength, m = kWaveLength / 2;
    float *rowA = rows, *rowB = rows + n, *rowC = rows + 2 * n;
    float *col = plane + column;
    for (int32_t i = 0; i < h; i++)
        rowB[i] = col[(intptr_t)i * n];
    for (int32_t i = h; i < n; i++)
        rowB[i] = 0.0f;
    d4ForwardC(rowB, n, rowC);        // a | d of the column
    d4OddLowInverseC(rowC, m, rowA);  // its low-pass part, one sample later
    d4ForwardC(rowA, n, rowB);        // a' | d' of that
    shrinkDetailPairsC(rowB + m, rowC + m, m);
    d4InverseC(rowB, rowB + m, m, rowA);
    d4OddLowForwardC(rowA, n, rowC);  // back to a, now carrying the halvings of d'
    d4InverseC(rowC, rowC + m, m, rowB);
    for (int32_t i = 0; i < h; i++)
        col[(intptr_t)i * n] = rowB[i];
}

void shrinkColumnsC(float *plane, int32_t column, int32_t count, int32_t h, float *work)
{
    for (int32_t c = column; c < column + count; c++)
        twoPhaseShrink(plane, c, h, work);
}

void dotDifferenceRowC(const YcPixel *prev, YcPixel *cur, const YcPixel *next, int32_t w, float *s)
{
    for (int32_t j = 0; j < w; j++) {
        const int32_t mean = ((int32_t)prev[j].y + (int32_t)next[j].y) >> 1;
        s[j] = (float)((int32_t)cur[j].y - mean);
        cur[j].y = (int16_t)mean;
    }
}

void copyLumaRowC(const YcPixel *row, int32_t w, int16_t *luma)
{
    for (int32_t j = 0; j < w; j++)
        luma[j] = row[j].y;
}

void dotDifferenceLumaRowC(const int16_t *prevLuma, YcPixel *cur, const YcPixel *next, int32_t w, float *s)
{
    for (int32_t j = 0; j < w; j++) {
        const int32_t mean = ((int32_t)prevLuma[j] + (int32_t)next[j].y) >> 1;
        s[j] = (float)((int32_t)cur[j].y - mean);
        cur[j].y = (int16_t)mean;
    }
}

void dotDifferenceLumasRowC(const int16_t *prevLuma, YcPixel *cur, const int16_t *nextLuma, int32_t w, float *s)
{
    for (int32_t j = 0; j < w; j++) {
        const int32_t mean = ((int32_t)prevLuma[j] + (int32_t)nextLuma[j]) >> 1;
        s[j] = (float)((int32_t)cur[j].y - mean);
        cur[j].y = (int16_t)mean;
    }
}

void dotDifferencePlanarRowC(const int16_t *prevLuma, const int16_t *curLuma, const int16_t *nextLuma, int32_t w,
                             float *s)
{
    for (int32_t j = 0; j < w; j++) {
        const int32_t mean = ((int32_t)prevLuma[j] + (int32_t)nextLuma[j]) >> 1;
        s[j] = (float)((int32_t)curLuma[j] - mean);
    }
}

void dotWriteBackMeanRowC(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, int32_t w, YcPixel *cur)
{
    for (int32_t j = 0; j < w; j++) {
        const int32_t mean = ((int32_t)prevLuma[j] + (int32_t)nextLuma[j]) >> 1;
        const uint32_t sum = (uint32_t)mean + (uint32_t)truncateToInt(t[j]);
        cur[j].y = (int16_t)(uint16_t)sum;
    }
}

void dotWriteBackHalvedRowC(const float *t, const int16_t *prevLuma, const int16_t *nextLuma, const YcPixel *src,
                            int32_t w, YcPixel *dst)
{
    for (int32_t j = 0; j < w; j++) {
        YcPixel p = src[j];
        dotWriteBackMeanRowC(t + j, prevLuma + j, nextLuma + j, 1, &p);
        dst[j] = YcPixel{(int16_t)(p.y >> 1), (int16_t)(p.cb >> 1), (int16_t)(p.cr >> 1)};
    }
}

void dotWriteBackRowC(const float *t, int32_t w, YcPixel *cur)
{
    for (int32_t j = 0; j < w; j++) {
        const uint32_t sum = (uint32_t)(int32_t)cur[j].y + (uint32_t)truncateToInt(t[j]);
        cur[j].y = (int16_t)(uint16_t)sum;
    }
}

} // namespace velvane
