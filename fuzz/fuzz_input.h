// Reads a fuzzer's bytes as a stream of small choices. Past the end every
// read gives zero, so any input, however short, describes a whole case.
#ifndef VELVANE_FUZZ_FUZZ_INPUT_H
#define VELVANE_FUZZ_FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

namespace velvane {
namespace fuzz {

class Input {
public:
    Input(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}

    bool empty() const { return p_ == end_; }
    size_t left() const { return (size_t)(end_ - p_); }
    const uint8_t *here() const { return p_; }

    uint8_t u8() { return p_ < end_ ? *p_++ : 0; }
    uint16_t u16() { return (uint16_t)(u8() | u8() << 8); }
    uint32_t u32() { return (uint32_t)u16() | (uint32_t)u16() << 16; }
    int32_t i32() { return (int32_t)u32(); }
    bool flag() { return u8() & 1; }

    // A value in [lo, hi], reading as few bytes as the span needs.
    int32_t range(int32_t lo, int32_t hi)
    {
        const uint32_t span = (uint32_t)((int64_t)hi - lo + 1);
        const uint32_t v = span <= 0x100 ? u8() : span <= 0x10000 ? u16() : u32();
        return (int32_t)((int64_t)lo + (span ? v % span : v));
    }

private:
    const uint8_t *p_, *end_;
};

// A broken promise of the code under test: stop, so the fuzzer keeps the input.
[[noreturn]] inline void fail(const char *what, const char *file, int line)
{
    fprintf(stderr, "%s:%d: %s\n", file, line, what);
    abort();
}

} // namespace fuzz
} // namespace velvane

#define FUZZ_CHECK(cond)                                                  \
    do {                                                                  \
        if (!(cond))                                                      \
            ::velvane::fuzz::fail("check failed: " #cond, __FILE__, __LINE__); \
    } while (0)

#endif
