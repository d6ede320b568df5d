// Instruction sets the pixel kernels may use beyond the SSE2 baseline, asked
// once when a kernel table is built. The checks include the operating
// system's support for the wider registers.
#pragma once

namespace tev {

inline bool CpuHasSsse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

inline bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

}  // namespace tev
