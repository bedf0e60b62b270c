// Runs every registered group at each instruction-set level the processor has:
// C, then SSE2, then SSE2|AVX2, then with AVX-512. Usage: checkasm [--seed=N] [--test=NAME] [--bench]
#include "checkasm.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/cpu_flags.h"

namespace checkasm {
namespace {

struct Group {
    const char *name;
    GroupFn fn;
};

std::vector<Group> &groups()
{
    static std::vector<Group> g;
    return g;
}

std::set<std::pair<std::string, const void *>> tested;
const char *testFilter = nullptr;

} // namespace

int registerGroup(const char *name, GroupFn fn)
{
    groups().push_back({name, fn});
    return 0;
}

bool Context::shouldCheck(const char *kernel, const void *version)
{
    if (testFilter && !strstr(kernel, testFilter))
        return false;
    return tested.insert({kernel, version}).second;
}

void Context::fail(const char *kernel, const char *fmt, ...)
{
    char detail[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(detail, sizeof detail, fmt, ap);
    va_end(ap);
    fprintf(stderr, "FAIL %s (%s): %s [seed=%llu]\n", kernel, isa, detail, (unsigned long long)seed);
    failures++;
}

double Context::timeCalls(void (*thunk)(void *), void *arg)
{
    // 4 calls per sample; samples far above the running mean are dropped.
    using clk = std::chrono::steady_clock;
    double tsum = 0;
    int tcount = 0;
    for (int i = 0; i < 256; i++) {
        auto t0 = clk::now();
        for (int k = 0; k < 4; k++)
            thunk(arg);
        double t = std::chrono::duration<double, std::nano>(clk::now() - t0).count() / 4;
        if (tcount == 0 || t * tcount <= tsum * 4) {
            tsum += t;
            tcount++;
        }
    }
    return tsum / tcount;
}

void report(const char *kernel, const char *isa, double refNs, double ns)
{
    printf("  bench %-28s %-5s %10.0f ns (c %10.0f ns, x%.2f)\n", kernel, isa, ns, refNs, refNs / ns);
}

} // namespace checkasm

int main(int argc, char **argv)
{
    uint64_t seed = (uint64_t)time(nullptr);
    bool bench = false;
    for (int i = 1; i < argc; i++) {
        if (!strncmp(argv[i], "--seed=", 7))
            seed = strtoull(argv[i] + 7, nullptr, 10);
        else if (!strncmp(argv[i], "--test=", 7))
            checkasm::testFilter = argv[i] + 7;
        else if (!strcmp(argv[i], "--bench"))
            bench = true;
        else {
            fprintf(stderr, "usage: checkasm [--seed=N] [--test=NAME] [--bench]\n");
            return 2;
        }
    }
    printf("checkasm: seed %llu\n", (unsigned long long)seed);

    const struct {
        unsigned flags;
        const char *isa;
    } levels[] = {
#ifdef CHECKASM_AVX512_EMULATED
        // The AVX-512 level alone, its intrinsics emulated: what it runs
        // natively is AVX2.
        {velvane::CPU_SSE2 | velvane::CPU_AVX2 | velvane::CPU_AVX512, "avx512 (emulated)"}};
    const unsigned avx2 = velvane::CPU_SSE2 | velvane::CPU_AVX2;
    if ((velvane::cpuSimdFlags() & avx2) != avx2) {
        printf("checkasm: the emulated AVX-512 kernels need AVX2 here, skipped\n");
        return 77;
    }
    const unsigned host = ~0u;
#else
        {0, "c"},
        {velvane::CPU_SSE2, "sse2"},
        {velvane::CPU_SSE2 | velvane::CPU_AVX2, "avx2"},
        {velvane::CPU_SSE2 | velvane::CPU_AVX2 | velvane::CPU_AVX512, "avx512"}};
    const unsigned host = velvane::cpuSimdFlags();
#endif

    int failures = 0;
    for (const auto &lv : levels) {
        if ((lv.flags & host) != lv.flags) {
            printf("checkasm: %s not available here, skipped\n", lv.isa);
            continue;
        }
        for (const auto &g : checkasm::groups()) {
            checkasm::Context ctx{lv.flags, lv.isa, seed, bench, std::mt19937_64(seed), 0};
            g.fn(ctx);
            failures += ctx.failures;
        }
    }
    if (failures) {
        printf("checkasm: %d failure(s) [seed=%llu]\n", failures, (unsigned long long)seed);
        return 1;
    }
    printf("checkasm: all kernels match their references\n");
    return 0;
}
