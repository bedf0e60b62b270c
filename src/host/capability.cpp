// Start-up classification of the processor: what CPUID reports, and whether
// the operating system lets SSE instructions and SSE exceptions through.
#include "host/capability.h"

#include <cpuid.h>
#include <string.h>
#include <xmmintrin.h>

#include "os/guard.h"

namespace velvane {
namespace {

constexpr uint32_t kIdFlag = 0x00200000;
constexpr uint32_t kEdxMmx = 0x00800000;
constexpr uint32_t kEdxSse = 0x02000000;
constexpr uint32_t kEdxSse2 = 0x04000000;
constexpr uint32_t kEdx3dNow = 0x80000000;
constexpr uint32_t kMxcsrDivideByZeroMask = 0x0200;

bool idFlagFlipsNative()
{
#if defined(__x86_64__)
    uint64_t original, flipped;
    // Step over the red zone before pushing: the compiler may keep data there.
    __asm__ __volatile__("add $-128, %%rsp\n\t"
                         "pushfq\n\t"
                         "popq %0\n\t"
                         "movq %0, %1\n\t"
                         "xorq %2, %1\n\t"
                         "pushq %1\n\t"
                         "popfq\n\t"
                         "pushfq\n\t"
                         "popq %1\n\t"
                         "pushq %0\n\t"
                         "popfq\n\t"
                         "sub $-128, %%rsp"
                         : "=&r"(original), "=&r"(flipped)
                         : "i"(kIdFlag)
                         : "cc");
#elif defined(__i386__)
    uint32_t original, flipped;
    __asm__ __volatile__("pushfl\n\t"
                         "popl %0\n\t"
                         "movl %0, %1\n\t"
                         "xorl %2, %1\n\t"
                         "pushl %1\n\t"
                         "popfl\n\t"
                         "pushfl\n\t"
                         "popl %1\n\t"
                         "pushl %0\n\t"
                         "popfl"
                         : "=&r"(original), "=&r"(flipped)
                         : "i"(kIdFlag)
                         : "cc");
#else
#error "the capability test is written for x86 processors"
#endif
    return ((original ^ flipped) & kIdFlag) != 0;
}

CpuidResult cpuidNative(uint32_t function)
{
    CpuidResult r;
    __cpuid_count(function, 0, r.eax, r.ebx, r.ecx, r.edx);
    return r;
}

void executeSseNative()
{
    __asm__ __volatile__("xorps %%xmm0, %%xmm0" ::: "xmm0");
}

void divideUnmaskedNative()
{
    alignas(16) static const float numerator[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    alignas(16) static const float zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    uint32_t csr;
    __asm__ __volatile__("stmxcsr %0" : "=m"(csr));
    csr &= ~kMxcsrDivideByZeroMask;
    __asm__ __volatile__("ldmxcsr %0" : : "m"(csr));
    __asm__ __volatile__("movaps %0, %%xmm0\n\t"
                         "divps %1, %%xmm0\n\t"
                         "fwait"
                         :
                         : "m"(numerator), "m"(zero)
                         : "xmm0", "memory");
}

const ProcessorAccess native = {idFlagFlipsNative, cpuidNative, executeSseNative, divideUnmaskedNative};
const ProcessorAccess *processor = &native;

// Each probe body writes its result before anything can fault; a fault
// leaves the value it had.
struct ProbeResult {
    volatile uint8_t value;
};

void mmxProbe(void *out)
{
    static_cast<ProbeResult *>(out)->value = (processor->cpuid(1).edx & kEdxMmx) ? 1 : 0;
}

void intelSseProbe(void *out)
{
    const CpuidResult vendor = processor->cpuid(0);
    char name[12];
    memcpy(name, &vendor.ebx, 4);
    memcpy(name + 4, &vendor.edx, 4);
    memcpy(name + 8, &vendor.ecx, 4);
    if (memcmp(name, "GenuineIntel", 12) != 0)
        return;
    static_cast<ProbeResult *>(out)->value = (processor->cpuid(1).edx & kEdxSse) ? 1 : 0;
}

void sseExecutionProbe(void *out)
{
    processor->executeSse();
    static_cast<ProbeResult *>(out)->value = 1;
}

struct SimdExceptionProbe {
    volatile bool saved;
    volatile uint32_t callerMxcsr;
};

void simdExceptionProbe(void *state)
{
    auto *s = static_cast<SimdExceptionProbe *>(state);
    // Reading MXCSR faults where SSE does not run; then nothing needs putting back.
    s->callerMxcsr = _mm_getcsr();
    s->saved = true;
    processor->divideUnmasked();
}

uint8_t runProbe(GuardedBody body)
{
    ProbeResult result;
    result.value = 0;
    if (runGuarded(body, &result) != kExceptionNone)
        return 0;
    return result.value;
}

} // namespace

const ProcessorAccess &nativeProcessor() { return native; }

void useProcessor(const ProcessorAccess *p) { processor = p ? p : &native; }

int32_t cpuCapabilityLevel()
{
    if (!processor->idFlagFlips())
        return 0;
    if (processor->cpuid(1).edx & kEdxSse)
        return 2;
    if (processor->cpuid(0x80000000).eax < 0x80000001u)
        return 0;
    return (processor->cpuid(0x80000001).edx & kEdx3dNow) ? 1 : 0;
}

int32_t osFeatureMask()
{
    int32_t mask = 0;
    if (runProbe(mmxProbe))
        mask |= PROBE_MMX;
    if (runProbe(intelSseProbe))
        mask |= PROBE_INTEL_SSE;
    if (runProbe(sseExecutionProbe))
        mask |= PROBE_SSE_RUNS;

    SimdExceptionProbe simd;
    simd.saved = false;
    simd.callerMxcsr = 0;
    const uint32_t code = runGuarded(simdExceptionProbe, &simd);
    // Left unmasked, a divide by zero anywhere later in the caller's thread
    // (the host's own code included) would fault.
    if (simd.saved)
        _mm_setcsr(simd.callerMxcsr);
    if (code != kExceptionIllegalInstruction)
        mask |= PROBE_SIMD_EXCEPTIONS;
    return mask;
}

bool sse2Reported() { return (processor->cpuid(1).edx & kEdxSse2) != 0; }

} // namespace velvane
