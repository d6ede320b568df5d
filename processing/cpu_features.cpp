#include "processing/cpu_features.h"

#include <atomic>

namespace tev {
namespace {

uint32_t Detect() {
  // The explicit init keeps this safe even when first called during static
  // construction, before libgcc's own constructor has filled in the CPU model.
  __builtin_cpu_init();
  uint32_t flags = 0;
  if (__builtin_cpu_supports("sse2")) flags |= kCpuSse2;
  if (__builtin_cpu_supports("ssse3")) flags |= kCpuSsse3;
  if (__builtin_cpu_supports("avx2")) flags |= kCpuAvx2;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi")) {
    flags |= kCpuAvx512Vbmi;
  }
  return flags;
}

std::atomic<uint32_t> mask{~0u};

}  // namespace

uint32_t CpuFlags() {
  static const uint32_t detected = Detect();
  return detected & mask.load(std::memory_order_relaxed);
}

void MaskCpuFlags(uint32_t new_mask) { mask.store(new_mask, std::memory_order_relaxed); }

}  // namespace tev
