#ifndef VELVANE_COMMON_CPU_FLAGS_H
#define VELVANE_COMMON_CPU_FLAGS_H

namespace velvane {

// Instruction sets the kernel tables may use. Every build has SSE2.
enum CpuFlags : unsigned { CPU_SSE2 = 1u << 0, CPU_AVX2 = 1u << 1 };

// What this processor and operating system can run (AVX2 includes the OS's
// saving of the YMM state).
unsigned cpuSimdFlags();

} // namespace velvane

#endif
