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

// Byte permutes across a whole 32-byte register (AVX-512 VBMI with VL).
inline bool CpuHasAvx512Vbmi() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
}

}  // namespace tev
