#ifndef VELVANE_COMMON_CPU_FLAGS_H
#define VELVANE_COMMON_CPU_FLAGS_H

namespace velvane {

// Instruction sets the kernel tables may use. Every build has SSE2. AVX512
// stands for AVX-512 F, BW, VL and DQ together, and is used only on top of AVX2.
enum CpuFlags : unsigned { CPU_SSE2 = 1u << 0, CPU_AVX2 = 1u << 1, CPU_AVX512 = 1u << 2 };

// What this processor and operating system can run (AVX2 and AVX512 include
// the OS's saving of the YMM and ZMM state).
unsigned cpuSimdFlags();

} // namespace velvane

#endif
