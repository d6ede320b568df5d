// Random frame bytes for the Windows-side kernel checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace tev::testing {

inline std::vector<uint8_t> RandomBytes(size_t size, std::mt19937& rng) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

}  // namespace tev::testing
