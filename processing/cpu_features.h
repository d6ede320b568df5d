// The instruction sets the pixel kernels may use, detected once. Every kernel
// family picks its row and line functions from these flags: the scalar
// definition first, each wider set it finds overriding the one before.
#pragma once

#include <cstdint>

namespace tev {

enum CpuFlag : uint32_t {
  kCpuSse2 = 1u << 0,
  kCpuSsse3 = 1u << 1,
  kCpuAvx2 = 1u << 2,
  // Byte permutes across a whole register (AVX-512 F, BW, VL and VBMI).
  kCpuAvx512Vbmi = 1u << 3,
};

// What this CPU and its operating system support, less what MaskCpuFlags took
// away. The detection includes the OS's saving of the wider registers.
uint32_t CpuFlags();

inline bool CpuHas(uint32_t flags) { return (CpuFlags() & flags) == flags; }

// Keeps only the sets in `mask` (~0u restores all; 0 leaves the scalar
// definitions). Tests and benchmarks use it to reach each lower level; the
// kernel tables read the flags when a public function is called.
void MaskCpuFlags(uint32_t mask);

}  // namespace tev
