// RGB to 4:2:2 with 32-byte whole-register byte permutes (AVX-512 VBMI with
// VL), laid out in color_convert_masks.h. Against the AVX2 kernel it needs no
// averaging of the luma inputs and no packing or reordering of the result,
// which on CPUs whose shuffle units are the bottleneck is most of the work.
#include <immintrin.h>

#include "processing/color_convert_kernels.h"
#include "processing/color_convert_masks.h"

namespace tev::color {
namespace {

#define TEV_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vbmi")))

TEV_AVX512 inline __m256i Load(const masks::Bytes32& m) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.b));
}

}  // namespace

TEV_AVX512 size_t Rgb24ToYuy2RowAvx512Vbmi(const uint8_t* rgb, uint8_t* yuy2, size_t pairs) {
  const __m256i luma_first = Load(masks::WideLuma(true)), luma_second = Load(masks::WideLuma(false));
  const __m256i even_first = Load(masks::WideChroma(0, true)), odd_first = Load(masks::WideChroma(1, true));
  const __m256i even_second = Load(masks::WideChroma(0, false)), odd_second = Load(masks::WideChroma(1, false));
  const __m256i weights_luma_first = Load(masks::WideWeights(true, true));
  const __m256i weights_luma_second = Load(masks::WideWeights(true, false));
  const __m256i weights_chroma_first = Load(masks::WideWeights(false, true));
  const __m256i weights_chroma_second = Load(masks::WideWeights(false, false));
  __m256i all_ones = _mm256_set1_epi8(-1);
  // Hidden from the compiler, so that complementing stays a plain xor: a
  // known all-ones operand becomes a ternary logic instruction that waits on
  // its destination register's previous value.
  __asm__("" : "+v"(all_ones));
  const __m256i high_byte = _mm256_set1_epi16(256);
  const __m256i chroma_byte = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  const __m256i chroma_bias = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
  const size_t blocks = pairs / 8;  // 48 bytes in, 32 bytes out
  for (size_t i = 0; i < blocks; ++i, rgb += 48, yuy2 += 32) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgb));
    const __m256i high = _mm256_zextsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 32)));
    const __m256i low_c = _mm256_xor_si256(low, all_ones), high_c = _mm256_xor_si256(high, all_ones);

    const __m256i luma = _mm256_add_epi16(
        _mm256_maddubs_epi16(_mm256_permutex2var_epi8(low, luma_first, high), weights_luma_first),
        _mm256_maddubs_epi16(_mm256_permutex2var_epi8(low, luma_second, high), weights_luma_second));
    const __m256i first = _mm256_avg_epu8(_mm256_permutex2var_epi8(low_c, even_first, high_c),
                                          _mm256_permutex2var_epi8(low_c, odd_first, high_c));
    const __m256i second = _mm256_avg_epu8(_mm256_permutex2var_epi8(low_c, even_second, high_c),
                                           _mm256_permutex2var_epi8(low_c, odd_second, high_c));
    const __m256i chroma = _mm256_add_epi16(_mm256_maddubs_epi16(first, weights_chroma_first),
                                            _mm256_maddubs_epi16(second, weights_chroma_second));
    // Luma's high byte moved down by a multiply-high, chroma's kept in place.
    const __m256i out = _mm256_or_si256(_mm256_mulhi_epu16(luma, high_byte), _mm256_and_si256(chroma, chroma_byte));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(yuy2), _mm256_xor_si256(out, chroma_bias));
  }
  return blocks * 8;
}

}  // namespace tev::color
