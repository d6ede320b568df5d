// Both colour conversions with 32-byte whole-register byte permutes (AVX-512
// VBMI with VL), laid out in color_convert_masks.h. Against the AVX2 kernels,
// RGB to 4:2:2 needs no averaging of the luma inputs and no packing or
// reordering of the result, and 4:2:2 to RGB gathers each 32 output bytes
// with three permutes, no lane juggling: on CPUs whose shuffle units are the
// bottleneck that is most of the work.
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

TEV_AVX512 size_t Yuy2ToRgb24RowAvx512Vbmi(const uint8_t* yuy2, uint8_t* rgb, size_t pairs) {
  const __m256i chroma_mask = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  const __m256i chroma_bias = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
  const __m256i weights_br = _mm256_set1_epi32(masks::TwoLanes(454, 359));
  const __m256i weights_g = _mm256_set1_epi32(masks::TwoLanes(-86, -183));
  const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi16(1);
  const __m256i luma[3] = {Load(masks::WideInverseLuma(0)), Load(masks::WideInverseLuma(1)),
                           Load(masks::WideInverseLuma(2))};
  const __m256i term[3] = {Load(masks::WideInverseTerm(0)), Load(masks::WideInverseTerm(1)),
                           Load(masks::WideInverseTerm(2))};
  // The colour terms of sixteen pixels, as the SSSE3 kernel packs them per lane.
  auto terms = [&](__m256i v, __m256i* plus, __m256i* minus) TEV_AVX512 {
    const __m256i c8 = _mm256_xor_si256(_mm256_and_si256(v, chroma_mask), chroma_bias);
    const __m256i br = _mm256_mulhi_epi16(c8, weights_br);
    const __m256i g = _mm256_madd_epi16(_mm256_mulhi_epi16(c8, weights_g), ones);
    *plus = _mm256_packus_epi16(br, g);
    *minus = _mm256_packus_epi16(_mm256_sub_epi16(zero, br), _mm256_sub_epi16(zero, g));
  };
  const size_t blocks = pairs / 16;  // 64 bytes in, 96 bytes out
  for (size_t i = 0; i < blocks; ++i, yuy2 += 64, rgb += 96) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yuy2));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yuy2 + 32));
    __m256i plus0, minus0, plus1, minus1;
    terms(v0, &plus0, &minus0);
    terms(v1, &plus1, &minus1);
    for (int c = 0; c < 3; ++c) {
      const __m256i sum = _mm256_adds_epu8(_mm256_permutex2var_epi8(v0, luma[c], v1),
                                           _mm256_permutex2var_epi8(plus0, term[c], plus1));
      const __m256i out = _mm256_subs_epu8(sum, _mm256_permutex2var_epi8(minus0, term[c], minus1));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(rgb + 32 * c), out);
    }
  }
  return blocks * 16;
}

}  // namespace tev::color
