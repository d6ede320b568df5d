// The colour conversions with 32-byte registers (AVX2): the SSSE3 layouts of
// color_convert_masks.h, two 16-byte lanes at a time.
#include <immintrin.h>

#include "processing/color_convert_kernels.h"
#include "processing/color_convert_masks.h"

namespace tev::color {
namespace {

#define TEV_AVX2 __attribute__((target("avx2")))

TEV_AVX2 inline __m256i Load(const masks::Bytes16& low, const masks::Bytes16& high) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low.b))),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(high.b)), 1);
}

TEV_AVX2 inline __m256i Load(const masks::Bytes16& both) { return Load(both, both); }

// A 32-byte load from 4 bytes before four pixels holds them at offset 4 of
// lane 0 and the next four pixels at offset 0 of lane 1.
struct ForwardConstants {
  TEV_AVX2 ForwardConstants()
      : first_even(Load(masks::ForwardShuffle(4, 0, true), masks::ForwardShuffle(0, 0, true))),
        first_odd(Load(masks::ForwardShuffle(4, 1, true), masks::ForwardShuffle(0, 1, true))),
        second_even(Load(masks::ForwardShuffle(4, 0, false), masks::ForwardShuffle(0, 0, false))),
        second_odd(Load(masks::ForwardShuffle(4, 1, false), masks::ForwardShuffle(0, 1, false))),
        weights_first(Load(masks::kForwardWeightsFirst)),
        weights_second(Load(masks::kForwardWeightsSecond)),
        fix(Load(masks::kForwardFix)),
        ones(_mm256_set1_epi8(-1)),
        high_byte(_mm256_set1_epi16(256)) {}
  __m256i first_even, first_odd, second_even, second_odd;
  __m256i weights_first, weights_second, fix, ones, high_byte;
};

// Eight pixels, loaded from 4 bytes before them: their sixteen output bytes,
// less the fix, in the low bytes of the 16-bit lanes.
TEV_AVX2 inline __m256i ForwardEight(const ForwardConstants& c, const uint8_t* pixels) {
  const __m256i n = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels - 4)), c.ones);
  const __m256i first = _mm256_avg_epu8(_mm256_shuffle_epi8(n, c.first_even), _mm256_shuffle_epi8(n, c.first_odd));
  const __m256i second =
      _mm256_avg_epu8(_mm256_shuffle_epi8(n, c.second_even), _mm256_shuffle_epi8(n, c.second_odd));
  const __m256i sums = _mm256_add_epi16(_mm256_maddubs_epi16(first, c.weights_first),
                                        _mm256_maddubs_epi16(second, c.weights_second));
  // sums >> 8 as a multiply-high by 256, which leaves the shuffle units free.
  return _mm256_mulhi_epu16(sums, c.high_byte);
}

}  // namespace

TEV_AVX2 size_t Rgb24ToYuy2RowAvx2(const uint8_t* rgb, uint8_t* yuy2, size_t pairs) {
  // Blocks of eight pairs from pair 1 on, so that the first load may start 4
  // bytes early; a block's second load reads 4 bytes past it, so the last
  // block must end 4 bytes before the run does.
  if (pairs < 10) return 0;
  Rgb24ToYuy2RowScalar(rgb, yuy2, 1);
  const ForwardConstants c;
  size_t done = 1;
  for (; 6 * (done + 8) + 4 <= 6 * pairs; done += 8) {
    const uint8_t* in = rgb + 6 * done;
    const __m256i packed = _mm256_packus_epi16(ForwardEight(c, in), ForwardEight(c, in + 24));
    // Lanes hold pixels 0..3 and 8..11, then 4..7 and 12..15: put them in order.
    const __m256i ordered = _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(yuy2 + 4 * done), _mm256_add_epi8(ordered, c.fix));
  }
  return done;
}

TEV_AVX2 size_t Yuy2ToRgb24RowAvx2(const uint8_t* yuy2, uint8_t* rgb, size_t pairs) {
  const __m256i chroma_mask = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  const __m256i chroma_bias = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
  const __m256i weights_br = _mm256_set1_epi32(masks::TwoLanes(454, 359));
  const __m256i weights_g = _mm256_set1_epi32(masks::TwoLanes(-86, -183));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi16(1);
  // Lane 0 makes output bytes 0..15 and 16..23 of its eight pixels, lane 1
  // bytes 8..23 and 0..7 of its own, so that the middle 16 bytes of the 48
  // are the two second results or-ed together.
  const __m256i luma_1 = Load(masks::InverseLuma(0, 16, 0), masks::InverseLuma(8, 16, 0));
  const __m256i term_1 = Load(masks::InverseTerm(0, 16, 0), masks::InverseTerm(8, 16, 0));
  const __m256i luma_2 = Load(masks::InverseLuma(16, 8, 0), masks::InverseLuma(0, 8, 8));
  const __m256i term_2 = Load(masks::InverseTerm(16, 8, 0), masks::InverseTerm(0, 8, 8));
  const size_t blocks = pairs / 8;  // 32 bytes in, 48 bytes out
  for (size_t i = 0; i < blocks; ++i, yuy2 += 32, rgb += 48) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yuy2));
    const __m256i c8 = _mm256_xor_si256(_mm256_and_si256(v, chroma_mask), chroma_bias);
    const __m256i br = _mm256_mulhi_epi16(c8, weights_br);
    const __m256i g2 = _mm256_mulhi_epi16(c8, weights_g);
    const __m256i g = _mm256_madd_epi16(g2, ones);  // tG per pair, its high half the sign
    const __m256i plus = _mm256_packus_epi16(br, g);
    const __m256i minus = _mm256_packus_epi16(_mm256_sub_epi16(zero, br), _mm256_sub_epi16(zero, g));
    const __m256i first = _mm256_subs_epu8(
        _mm256_adds_epu8(_mm256_shuffle_epi8(v, luma_1), _mm256_shuffle_epi8(plus, term_1)),
        _mm256_shuffle_epi8(minus, term_1));
    const __m256i second = _mm256_subs_epu8(
        _mm256_adds_epu8(_mm256_shuffle_epi8(v, luma_2), _mm256_shuffle_epi8(plus, term_2)),
        _mm256_shuffle_epi8(minus, term_2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb), _mm256_castsi256_si128(first));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + 16),
                     _mm_or_si128(_mm256_castsi256_si128(second), _mm256_extracti128_si256(second, 1)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + 32), _mm256_extracti128_si256(first, 1));
  }
  return blocks * 8;
}

}  // namespace tev::color
