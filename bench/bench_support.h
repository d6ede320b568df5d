// What every kernel benchmark is measured against: the cost of the cheapest
// possible in-place pass over the same bytes, and a plain copy.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

namespace tev::bench {

// An in-place read-modify-write pass that does trivial work (saturating add
// of a constant to every byte); the floor for any in-place kernel.
inline void InPlaceFloorSse2(uint8_t* data, size_t size) {
  const __m128i one = _mm_set1_epi8(1);
  size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(data + i), _mm_adds_epu8(v, one));
  }
  for (; i < size; ++i) data[i] = static_cast<uint8_t>(data[i] == 255 ? 255 : data[i] + 1);
}

__attribute__((target("avx2"))) inline void InPlaceFloorAvx2(uint8_t* data, size_t size) {
  const __m256i one = _mm256_set1_epi8(1);
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(data + i), _mm256_adds_epu8(v, one));
  }
  InPlaceFloorSse2(data + i, size - i);
}

// A 64-byte aligned buffer of random bytes (cache-line aligned, so runs compare alike).
struct AlignedBytes {
  explicit AlignedBytes(size_t n, uint32_t seed = 1) : size(n) {
    data = static_cast<uint8_t*>(operator new[](n + 64, std::align_val_t(64)));
    std::mt19937 rng(seed);
    for (size_t i = 0; i < n + 64; ++i) data[i] = static_cast<uint8_t>(rng());
  }
  ~AlignedBytes() { operator delete[](data, std::align_val_t(64)); }
  AlignedBytes(const AlignedBytes&) = delete;
  AlignedBytes& operator=(const AlignedBytes&) = delete;
  uint8_t* data;
  size_t size;
};

}  // namespace tev::bench
