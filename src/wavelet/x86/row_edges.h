// Scalar outputs of the row kernels, for the wrap-around pairs and the
// boundary outputs the vector loops leave out, and the loop that hands a
// range to the vector step in groups. Included by each instruction-set file;
// everything here has internal linkage, so every file keeps its own copy.
#ifndef VELVANE_WAVELET_X86_ROW_EDGES_H
#define VELVANE_WAVELET_X86_ROW_EDGES_H

#include <stdint.h>

#include "wavelet/dsp.h"

namespace velvane {
namespace {

constexpr float H0 = kD4H0, H1 = kD4H1, H2 = kD4H2, H3 = kD4H3;
constexpr double D0 = kD4H0, D1 = kD4H1, D2 = kD4H2, D3 = kD4H3;

// Even-phase analysis pair k, indices of x modulo n.
inline void forward1(const float *x, int32_t n, float *a, float *d, int32_t k)
{
    const float x0 = x[2 * k], x1 = x[2 * k + 1], x2 = x[(2 * k + 2) % n], x3 = x[(2 * k + 3) % n];
    a[k] = ((H0 * x0 + H1 * x1) + H2 * x2) + H3 * x3;
    d[k] = ((-H2 * x1 + H3 * x0) + (-H0 * x3)) + H1 * x2;
}

// Even-phase synthesis outputs 2k and 2k + 1, k - 1 taken modulo m.
inline void inverse1(const float *a, const float *d, int32_t m, float *out, int32_t k)
{
    const int32_t p = k == 0 ? m - 1 : k - 1;
    out[2 * k] = ((H0 * a[k] + H2 * a[p]) + H3 * d[k]) + H1 * d[p];
    out[2 * k + 1] = ((H1 * a[k] + H3 * a[p]) + (-H2 * d[k])) + (-H0 * d[p]);
}

// Odd-phase analysis output k; the boundary outputs are formed in double
// precision and rounded once.
inline void oddForward1(const float *x, int32_t n, float *out, int32_t k, bool boundary)
{
    const float x1 = x[(2 * k + 1) % n], x2 = x[(2 * k + 2) % n], x3 = x[(2 * k + 3) % n], x4 = x[(2 * k + 4) % n];
    if (boundary)
        out[k] = (float)(((D0 * x1 + D1 * x2) + D2 * x3) + D3 * x4);
    else
        out[k] = ((H0 * x1 + H1 * x2) + H2 * x3) + H3 * x4;
}

// Odd-phase synthesis outputs 2j + 1 and 2j + 2; the boundary ones in double precision.
inline void oddInverse1(const float *b, int32_t m, float *out, int32_t j, bool boundary)
{
    const float p = b[j == 0 ? m - 1 : j - 1], c = b[j];
    if (boundary) {
        out[2 * j + 1] = (float)(D2 * p + D0 * c);
        out[(2 * j + 2) % (2 * m)] = (float)(D3 * p + D1 * c);
    } else {
        out[2 * j + 1] = H2 * p + H0 * c;
        out[2 * j + 2] = H3 * p + H1 * c;
    }
}

// Runs f on first, first + N, ... over [first, end), the last group moved back
// to end at `end` (it then overlaps its neighbour and recomputes the same
// values); a range shorter than one group goes to g one output at a time.
template <int N, class F, class G> inline void inGroups(int32_t first, int32_t end, F f, G g)
{
    if (end - first < N) {
        for (int32_t k = first; k < end; k++)
            g(k);
        return;
    }
    int32_t k = first;
    for (; k + N <= end; k += N)
        f(k);
    if (k < end)
        f(end - N);
}

} // namespace
} // namespace velvane

#endif
