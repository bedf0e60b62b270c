#ifndef VELVANE_TESTS_CHECKASM_H
#define VELVANE_TESTS_CHECKASM_H

#include <stdint.h>

#include <random>

namespace checkasm {

// One run of one group at one instruction-set level. A group builds the
// reference table with flags 0 and the table under test with `flags`, and
// checks each kernel the first time a level selects a new version of it.
struct Context {
    unsigned flags;
    const char *isa;
    uint64_t seed;
    bool benchMode; // --bench given
    std::mt19937_64 rng;
    int failures = 0;

    int32_t randInt(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }
    // True when `version` has not been checked at a lower level yet and the
    // kernel name passes --test=NAME.
    bool shouldCheck(const char *kernel, const void *version);
    // Reports a mismatch: kernel, ISA, detail, seed. The run goes on and fails at the end.
    void fail(const char *kernel, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
    // With --bench: times fn() against ref() and prints both, in nanoseconds per call.
    template <class F, class G> void bench(const char *kernel, F &&ref, G &&fn);

private:
    double timeCalls(void (*thunk)(void *), void *arg);
};

void report(const char *kernel, const char *isa, double refNs, double ns);

using GroupFn = void (*)(Context &ctx);
int registerGroup(const char *name, GroupFn fn);

template <class F, class G> void Context::bench(const char *kernel, F &&ref, G &&fn)
{
    if (!benchMode)
        return;
    auto thunkF = [](void *p) { (*static_cast<F *>(p))(); };
    auto thunkG = [](void *p) { (*static_cast<G *>(p))(); };
    double tr = timeCalls(thunkF, &ref);
    double tf = timeCalls(thunkG, &fn);
    report(kernel, isa, tr, tf);
}

} // namespace checkasm

#define CHECKASM_GROUP(name)                                                                                 \
    static void checkasmGroup_##name(checkasm::Context &ctx);                                                \
    static const int checkasmRegistered_##name = checkasm::registerGroup(#name, checkasmGroup_##name);     \
    static void checkasmGroup_##name(checkasm::Context &ctx)

#endif
