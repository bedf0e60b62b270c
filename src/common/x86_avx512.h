// The AVX-512 intrinsics. GCC 12 takes their deliberately undefined
// pass-through operands for uninitialised variables; the warnings it gives
// for them are silenced here only.
#ifndef VELVANE_COMMON_X86_AVX512_H
#define VELVANE_COMMON_X86_AVX512_H

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif
