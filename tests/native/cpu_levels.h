// Every instruction-set level this machine runs, for driving the public
// functions at each: the full set, then each narrower one, down to scalar.
#pragma once

#include <cstdint>
#include <vector>

#include "processing/cpu_features.h"

namespace tev {

struct CpuLevel {
  const char* name;
  uint32_t mask;
};

inline std::vector<CpuLevel> CpuLevels() {
  const CpuLevel all[] = {
      {"avx512vbmi", ~0u},
      {"avx2", kCpuSse2 | kCpuSsse3 | kCpuAvx2},
      {"ssse3", kCpuSse2 | kCpuSsse3},
      {"sse2", kCpuSse2},
      {"scalar", 0},
  };
  std::vector<CpuLevel> levels;
  MaskCpuFlags(~0u);
  const uint32_t present = CpuFlags();
  for (const CpuLevel& level : all) {
    // A level the CPU lacks would repeat the one below it.
    const uint32_t top = level.mask == ~0u ? kCpuAvx512Vbmi : level.mask & ~(level.mask >> 1);
    if (level.mask == 0 || (present & top)) levels.push_back(level);
  }
  return levels;
}

// Keeps the flags of one level for as long as it lives.
class ScopedCpuLevel {
 public:
  explicit ScopedCpuLevel(const CpuLevel& level) { MaskCpuFlags(level.mask); }
  ~ScopedCpuLevel() { MaskCpuFlags(~0u); }
  ScopedCpuLevel(const ScopedCpuLevel&) = delete;
  ScopedCpuLevel& operator=(const ScopedCpuLevel&) = delete;
};

}  // namespace tev
