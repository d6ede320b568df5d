// The lane kernels of the brightness and contrast correction. Per 16-bit lane
// (luma in the low byte, chroma in the high byte):
//   p = high half of (Y << 8) * gain         = floor(Y * gain / 256), 0..32639
//   s = p + (offset + kLaneBias), saturated  = 32767 whenever p + offset >= 255
//   y = s - kLaneBias, saturated at 0        = min(255, max(0, p + offset))
// and the chroma byte is put back unchanged.
#include <immintrin.h>

#include "processing/brightness_contrast_kernels.h"

namespace tev::brightness {
namespace {

struct Lanes128 {
  explicit Lanes128(const LumaMap& map)
      : gain(_mm_set1_epi16(static_cast<int16_t>(map.gain))),
        offset(_mm_set1_epi16(static_cast<int16_t>(map.offset + kLaneBias))),
        bias(_mm_set1_epi16(static_cast<int16_t>(kLaneBias))),
        chroma(_mm_set1_epi16(static_cast<int16_t>(0xFF00))) {}

  __m128i Apply(__m128i v) const {
    const __m128i product = _mm_mulhi_epu16(_mm_slli_epi16(v, 8), gain);
    const __m128i luma = _mm_subs_epu16(_mm_adds_epi16(product, offset), bias);
    return _mm_or_si128(_mm_and_si128(v, chroma), luma);
  }

  __m128i gain, offset, bias, chroma;
};

}  // namespace

void AdjustLumaSse2(uint8_t* buffer, size_t bytes, const LumaMap& map) {
  const Lanes128 lanes(map);
  size_t i = 0;
  for (; i + 16 <= bytes; i += 16) {
    __m128i* at = reinterpret_cast<__m128i*>(buffer + i);
    _mm_storeu_si128(at, lanes.Apply(_mm_loadu_si128(at)));
  }
  if (i < bytes) {  // one last group of four pixels
    __m128i* at = reinterpret_cast<__m128i*>(buffer + i);
    _mm_storel_epi64(at, lanes.Apply(_mm_loadl_epi64(at)));
  }
}

__attribute__((target("avx2"))) void AdjustLumaAvx2(uint8_t* buffer, size_t bytes, const LumaMap& map) {
  const __m256i gain = _mm256_set1_epi16(static_cast<int16_t>(map.gain));
  const __m256i offset = _mm256_set1_epi16(static_cast<int16_t>(map.offset + kLaneBias));
  const __m256i bias = _mm256_set1_epi16(static_cast<int16_t>(kLaneBias));
  const __m256i chroma = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  size_t i = 0;
  for (; i + 32 <= bytes; i += 32) {
    __m256i* at = reinterpret_cast<__m256i*>(buffer + i);
    const __m256i v = _mm256_loadu_si256(at);
    const __m256i product = _mm256_mulhi_epu16(_mm256_slli_epi16(v, 8), gain);
    const __m256i luma = _mm256_subs_epu16(_mm256_adds_epi16(product, offset), bias);
    _mm256_storeu_si256(at, _mm256_or_si256(_mm256_and_si256(v, chroma), luma));
  }
  if (i < bytes) AdjustLumaSse2(buffer + i, bytes - i, map);
}

}  // namespace tev::brightness
