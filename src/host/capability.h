#ifndef VELVANE_HOST_CAPABILITY_H
#define VELVANE_HOST_CAPABILITY_H

#include <stdint.h>

namespace velvane {

struct CpuidResult {
    uint32_t eax, ebx, ecx, edx;
};

// Everything the capability test asks of the processor. The native version
// executes the instructions; tests put a scripted processor in its place to
// play processors this machine is not.
struct ProcessorAccess {
    // Whether bit 21 (ID) of the flags register can be flipped; the flags are
    // as before afterwards.
    bool (*idFlagFlips)();
    // CPUID for the given function (sub-function 0).
    CpuidResult (*cpuid)(uint32_t function);
    // One SSE instruction: a packed exclusive-or of an XMM register with itself.
    void (*executeSse)();
    // Clears MXCSR bit 9 (divide-by-zero masked), divides the vector
    // (1, 2, 3, 4) by a zero vector and waits for pending floating-point work.
    void (*divideUnmasked)();
};

const ProcessorAccess &nativeProcessor();
// The processor the capability test asks from now on; null = the native one.
void useProcessor(const ProcessorAccess *processor);

// Bits of osFeatureMask.
enum ProbeBit : int32_t {
    PROBE_INTEL_SSE = 1,       // vendor "GenuineIntel" and SSE reported
    PROBE_SSE_RUNS = 2,        // an SSE instruction ran
    PROBE_SIMD_EXCEPTIONS = 4, // an unmasked SSE divide by zero came back as such, not as illegal instruction
    PROBE_MMX = 8,             // MMX reported
};

// 0: no CPUID, or neither SSE nor 3DNow!; 1: 3DNow! without SSE; 2: SSE.
int32_t cpuCapabilityLevel();

// Runs the four probes, each under an exception guard, in the order MMX,
// Intel-SSE, SSE-execution, SIMD-exception, and returns their ProbeBits. The
// caller's MXCSR is in force again afterwards.
int32_t osFeatureMask();

// CPUID function 1 reports SSE2 (EDX bit 26), which every build of the
// module uses.
bool sse2Reported();

} // namespace velvane

#endif
