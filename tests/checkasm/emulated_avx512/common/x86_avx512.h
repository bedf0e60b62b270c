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

template <class T, int N> struct Lanes {
    T v[N];
};
template <class T, int N, class V> inline Lanes<T, N> lanes(const V &x)
{
    static_assert(sizeof(Lanes<T, N>) == sizeof(V), "lanes");
    Lanes<T, N> l;
    memcpy(l.v, &x, sizeof x);
    return l;
}
template <class V, class T, int N> inline V vector(const Lanes<T, N> &l)
{
    static_assert(sizeof(Lanes<T, N>) == sizeof(V), "lanes");
    V x;
    memcpy(&x, l.v, sizeof x);
    return x;
}

inline simde__m512i cvtepu16_epi32(simde__m256i a)
{
    const auto s = lanes<uint16_t, 16>(a);
    Lanes<int32_t, 16> d;
    for (int i = 0; i < 16; i++)
        d.v[i] = s.v[i];
    return vector<simde__m512i>(d);
}
inline simde__m512i cvtepi16_epi32(simde__m256i a)
{
    const auto s = lanes<int16_t, 16>(a);
    Lanes<int32_t, 16> d;
    for (int i = 0; i < 16; i++)
        d.v[i] = s.v[i];
    return vector<simde__m512i>(d);
}
inline simde__m512 cvtepi32_ps(simde__m512i a)
{
    const auto s = lanes<int32_t, 16>(a);
    Lanes<float, 16> d;
    for (int i = 0; i < 16; i++)
        d.v[i] = (float)s.v[i];
    return vector<simde__m512>(d);
}
// Nearest, ties to even (the default rounding); out of range, the integer indefinite.
inline int32_t roundToInt(double x)
{
    return x >= -2147483648.0 && x < 2147483648.0 ? (int32_t)nearbyint(x) : INT32_MIN;
}
inline simde__m512i cvtps_epi32(simde__m512 a)
{
    const auto s = lanes<float, 16>(a);
    Lanes<int32_t, 16> d;
    for (int i = 0; i < 16; i++)
        d.v[i] = roundToInt(s.v[i]);
    return vector<simde__m512i>(d);
}
inline simde__m256 cvtpd_ps(simde__m512d a)
{
    const auto s = lanes<double, 8>(a);
    Lanes<float, 8> d;
    for (int i = 0; i < 8; i++)
        d.v[i] = (float)s.v[i];
    return vector<simde__m256>(d);
}
inline simde__m512d cvtps_pd(simde__m256 a)
{
    const auto s = lanes<float, 8>(a);
    Lanes<double, 8> d;
    for (int i = 0; i < 8; i++)
        d.v[i] = s.v[i];
    return vector<simde__m512d>(d);
}
inline simde__m256i cvtusepi16_epi8(simde__m512i a)
{
    const auto s = lanes<uint16_t, 32>(a);
    Lanes<uint8_t, 32> d;
    for (int i = 0; i < 32; i++)
        d.v[i] = s.v[i] > 255 ? 255 : (uint8_t)s.v[i];
    return vector<simde__m256i>(d);
}
inline simde__m256 extractf32x8_ps(simde__m512 a, int imm)
{
    const auto s = lanes<float, 16>(a);
    Lanes<float, 8> d;
    for (int i = 0; i < 8; i++)
        d.v[i] = s.v[8 * (imm & 1) + i];
    return vector<simde__m256>(d);
}
inline uint16_t cmpgt_epi16_mask256(simde__m256i a, simde__m256i b)
{
    const auto x = lanes<int16_t, 16>(a), y = lanes<int16_t, 16>(b);
    uint16_t m = 0;
    for (int i = 0; i < 16; i++)
        m |= (uint16_t)((x.v[i] > y.v[i]) << i);
    return m;
}
inline uint16_t cmple_epi16_mask256(simde__m256i a, simde__m256i b)
{
    const auto x = lanes<int16_t, 16>(a), y = lanes<int16_t, 16>(b);
    uint16_t m = 0;
    for (int i = 0; i < 16; i++)
        m |= (uint16_t)((x.v[i] <= y.v[i]) << i);
    return m;
}
inline uint32_t mask_cmpgt_epi16_mask512(uint32_t k, simde__m512i a, simde__m512i b)
{
    const auto x = lanes<int16_t, 32>(a), y = lanes<int16_t, 32>(b);
    uint32_t m = 0;
    for (int i = 0; i < 32; i++)
        m |= (uint32_t)(x.v[i] > y.v[i]) << i;
    return m & k;
}
inline uint32_t cmpgt_epi16_mask512(simde__m512i a, simde__m512i b) { return mask_cmpgt_epi16_mask512(~0u, a, b); }
inline simde__m256i mask_srai_epi16_256(simde__m256i src, uint16_t k, simde__m256i a, unsigned n)
{
    auto s = lanes<int16_t, 16>(src);
    const auto x = lanes<int16_t, 16>(a);
    for (int i = 0; i < 16; i++)
        if (k >> i & 1)
            s.v[i] = (int16_t)(x.v[i] >> (n > 15 ? 15 : n));
    return vector<simde__m256i>(s);
}
inline simde__m512i srai_epi32(simde__m512i a, unsigned n)
{
    auto s = lanes<int32_t, 16>(a);
    for (int i = 0; i < 16; i++)
        s.v[i] >>= n > 31 ? 31 : n;
    return vector<simde__m512i>(s);
}
inline simde__m512i mulhi_epu16(simde__m512i a, simde__m512i b)
{
    const auto x = lanes<uint16_t, 32>(a), y = lanes<uint16_t, 32>(b);
    Lanes<uint16_t, 32> d;
    for (int i = 0; i < 32; i++)
        d.v[i] = (uint16_t)(((uint32_t)x.v[i] * y.v[i]) >> 16);
    return vector<simde__m512i>(d);
}
inline int64_t reduce_add_epi64(simde__m512i a)
{
    const auto s = lanes<int64_t, 8>(a);
    uint64_t sum = 0;
    for (int i = 0; i < 8; i++)
        sum += (uint64_t)s.v[i];
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
