// The exception guard and the capability probes on Windows, where the guard is
// a vectored exception handler. A plain program (no test framework), so that
// it runs wherever the module's Windows build runs:
//   x86_64-w64-mingw32-g++ -O2 -std=c++17 -Iinclude -Isrc tests/host/windows/guard_check.cpp
//       src/os/win32/guard.cpp src/host/capability.cpp -static -o guard_check.exe
//   wine64 guard_check.exe
// (tests/host/CMakeLists.txt does this as the test windows_guard_under_wine).
// It prints one line per check and exits with 1 if any failed.
#include <stdio.h>
#include <xmmintrin.h>

#include <stdexcept>

#include "host/capability.h"
#include "os/guard.h"
#include "../fault_bodies.h"

namespace {

int failures = 0;

void check(bool ok, const char *what, unsigned long value = 0)
{
    printf("%s %s (0x%lx)\n", ok ? "ok  " : "FAIL", what, value);
    if (!ok)
        ++failures;
}

void finishes(void *p)
{
    static_cast<Trace *>(p)->after = 1;
}

struct Nested {
    volatile uint32_t innerCode = 0;
    volatile int afterInner = 0;
};

void nestedFault(void *p)
{
    auto *n = static_cast<Nested *>(p);
    Trace inner;
    n->innerCode = velvane::runGuarded(illegalInstruction, &inner);
    n->afterInner = 1;
    __asm__ __volatile__("ud2");
}

__attribute__((noinline)) int throwsAndCatches(int v)
{
    try {
        if (v > 0)
            throw std::runtime_error("unwind");
    } catch (const std::exception &) {
        return 1;
    }
    return 0;
}

} // namespace

int main()
{
    const unsigned savedCsr = _mm_getcsr();
    {
        Trace t;
        const uint32_t code = velvane::runGuarded(finishes, &t);
        check(code == 0 && t.after == 1, "a body that finishes reports no exception", code);
    }
    {
        Trace t;
        const uint32_t code = velvane::runGuarded(illegalInstruction, &t);
        check(code == 0xC000001D && t.before == 1 && t.after == 0, "illegal instruction caught", code);
    }
    {
        Trace t;
        const uint32_t code = velvane::runGuarded(unmaskedDivideByZero, &t);
        _mm_setcsr(savedCsr);
        check(code != 0 && code != 0xC000001D && t.after == 0, "unmasked divide by zero caught as another code", code);
    }
    {
        bool all = true;
        for (int i = 0; i < 200 && all; ++i) {
            Trace a, b;
            all = velvane::runGuarded(illegalInstruction, &a) == 0xC000001D;
            all = all && velvane::runGuarded(unmaskedDivideByZero, &b) != 0;
            _mm_setcsr(savedCsr);
        }
        check(all, "repeated faults each caught");
    }
    {
        Nested n;
        const uint32_t code = velvane::runGuarded(nestedFault, &n);
        check(code == 0xC000001D && n.innerCode == 0xC000001D && n.afterInner == 1, "nested guards", code);
    }
    check(throwsAndCatches(1) == 1, "language exceptions still unwind afterwards");

    const int32_t level = velvane::cpuCapabilityLevel();
    check(level == 2, "capability level", (unsigned long)level);
    const unsigned unusual = 0x1F80u | 0x6000u | 0x8000u | 0x0020u;
    _mm_setcsr(unusual);
    const int32_t mask = velvane::osFeatureMask();
    const unsigned after = _mm_getcsr();
    _mm_setcsr(savedCsr);
    check((mask & 0xE) == 0xE, "MMX, SSE execution and SIMD exception probes succeed", (unsigned long)mask);
    check(after == unusual, "MXCSR as the caller had it", after);
    check(velvane::sse2Reported(), "SSE2 reported");

    printf("%s\n", failures ? "FAILED" : "PASSED");
    return failures ? 1 : 0;
}
