// The AVX-512 intrinsics emulated, for checking the AVX-512 kernels on a
// processor without AVX-512: SIMDe's portable versions, and plain loops for
// the few this version of SIMDe lacks or declares wrongly. The kernels'
// sources include this in place of the real header when compiled for
// checkasm_avx512_emulated (and for AVX2 only).
#ifndef VELVANE_CHECKASM_EMULATED_X86_AVX512_H
#define VELVANE_CHECKASM_EMULATED_X86_AVX512_H

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>

#include <math.h>
#include <stdint.h>
#include <string.h>

namespace emulated {

// Out's N lanes of type To, lane i = f(lane i of `a`, read as N lanes of From).
template <class Out, class To, class From, int N, class In, class F> inline Out eachLane(const In &a, F f)
{
    From s[N];
    To d[N];
    static_assert(sizeof s <= sizeof(In) && sizeof d == sizeof(Out), "lanes");
    memcpy(s, &a, sizeof s);
    for (int i = 0; i < N; i++)
        d[i] = (To)f(s[i], i);
    Out out;
    memcpy(&out, d, sizeof d);
    return out;
}
// Bit i set where test(lane i of a, lane i of b), N lanes of T.
template <class Mask, class T, int N, class V, class F> inline Mask laneMask(const V &a, const V &b, F test)
{
    T x[N], y[N];
    memcpy(x, &a, sizeof x);
    memcpy(y, &b, sizeof y);
    Mask m = 0;
    for (int i = 0; i < N; i++)
        m |= (Mask)((Mask)test(x[i], y[i]) << i);
    return m;
}
// Nearest, ties to even (the default rounding); out of range, the integer indefinite.
inline int32_t roundToInt(double x) { return x >= -2147483648.0 && x < 2147483648.0 ? (int32_t)nearbyint(x) : INT32_MIN; }
inline auto same = [](auto x, int) { return x; };

inline simde__m512i cvtepu16_epi32(simde__m256i a) { return eachLane<simde__m512i, int32_t, uint16_t, 16>(a, same); }
inline simde__m512i cvtepi16_epi32(simde__m256i a) { return eachLane<simde__m512i, int32_t, int16_t, 16>(a, same); }
inline simde__m512 cvtepi32_ps(simde__m512i a) { return eachLane<simde__m512, float, int32_t, 16>(a, same); }
inline simde__m256 cvtpd_ps(simde__m512d a) { return eachLane<simde__m256, float, double, 8>(a, same); }
inline simde__m512d cvtps_pd(simde__m256 a) { return eachLane<simde__m512d, double, float, 8>(a, same); }
inline simde__m512i cvtps_epi32(simde__m512 a)
{
    return eachLane<simde__m512i, int32_t, float, 16>(a, [](float x, int) { return roundToInt(x); });
}
inline simde__m256i cvtusepi16_epi8(simde__m512i a)
{
    return eachLane<simde__m256i, uint8_t, uint16_t, 32>(a, [](uint16_t x, int) { return x > 255 ? 255 : x; });
}
inline simde__m256 extractf32x8_ps(simde__m512 a, int imm)
{
    float s[16];
    memcpy(s, &a, sizeof s);
    return eachLane<simde__m256, float, float, 8>(a, [&](float, int i) { return s[8 * (imm & 1) + i]; });
}
inline simde__m512i srai_epi32(simde__m512i a, unsigned n)
{
    return eachLane<simde__m512i, int32_t, int32_t, 16>(a, [&](int32_t x, int) { return x >> (n > 31 ? 31 : n); });
}
inline simde__m512i mulhi_epu16(simde__m512i a, simde__m512i b)
{
    uint16_t y[32];
    memcpy(y, &b, sizeof y);
    return eachLane<simde__m512i, uint16_t, uint16_t, 32>(a, [&](uint16_t x, int i) { return ((uint32_t)x * y[i]) >> 16; });
}
inline simde__m256i mask_srai_epi16_256(simde__m256i src, uint16_t k, simde__m256i a, unsigned n)
{
    int16_t s[16];
    memcpy(s, &src, sizeof s);
    return eachLane<simde__m256i, int16_t, int16_t, 16>(
        a, [&](int16_t x, int i) { return k >> i & 1 ? x >> (n > 15 ? 15 : n) : s[i]; });
}
inline uint16_t cmpgt_epi16_mask256(simde__m256i a, simde__m256i b)
{
    return laneMask<uint16_t, int16_t, 16>(a, b, [](int16_t x, int16_t y) { return x > y; });
}
inline uint16_t cmple_epi16_mask256(simde__m256i a, simde__m256i b)
{
    return laneMask<uint16_t, int16_t, 16>(a, b, [](int16_t x, int16_t y) { return x <= y; });
}
inline uint32_t mask_cmpgt_epi16_mask512(uint32_t k, simde__m512i a, simde__m512i b)
{
    return k & laneMask<uint32_t, int16_t, 32>(a, b, [](int16_t x, int16_t y) { return x > y; });
}
inline uint32_t cmpgt_epi16_mask512(simde__m512i a, simde__m512i b) { return mask_cmpgt_epi16_mask512(~0u, a, b); }
inline int64_t reduce_add_epi64(simde__m512i a)
{
    int64_t x[8];
    memcpy(x, &a, sizeof x);
    uint64_t sum = 0;
    for (int64_t v : x)
        sum += (uint64_t)v;
    return (int64_t)sum;
}

} // namespace emulated

#undef _mm512_madd_epi16
#define _mm512_madd_epi16(a, b) simde_mm512_madd_epi16(a, b)
#define _mm512_cvtepu16_epi32 emulated::cvtepu16_epi32
#define _mm512_cvtepi16_epi32 emulated::cvtepi16_epi32
#define _mm512_cvtepi32_ps emulated::cvtepi32_ps
#define _mm512_cvtps_epi32 emulated::cvtps_epi32
#define _mm512_cvtps_pd emulated::cvtps_pd
#define _mm512_cvtpd_ps emulated::cvtpd_ps
#define _mm512_cvtusepi16_epi8 emulated::cvtusepi16_epi8
#define _mm512_extractf32x8_ps emulated::extractf32x8_ps
#define _mm256_cmpgt_epi16_mask emulated::cmpgt_epi16_mask256
#define _mm256_cmple_epi16_mask emulated::cmple_epi16_mask256
#define _mm512_cmpgt_epi16_mask emulated::cmpgt_epi16_mask512
#define _mm512_mask_cmpgt_epi16_mask emulated::mask_cmpgt_epi16_mask512
#define _mm256_mask_srai_epi16 emulated::mask_srai_epi16_256
#define _mm512_srai_epi32 emulated::srai_epi32
#define _mm512_mulhi_epu16 emulated::mulhi_epu16
#define _mm512_reduce_add_epi64 emulated::reduce_add_epi64

#endif
