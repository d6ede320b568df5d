// The colour conversions with 16-byte byte shuffles (SSSE3); the layouts are
// explained in color_convert_masks.h.
#include <immintrin.h>

#include "processing/color_convert_kernels.h"
#include "processing/color_convert_masks.h"

namespace tev::color {
namespace {

#define TEV_SSSE3 __attribute__((target("ssse3")))

TEV_SSSE3 inline __m128i Load(const masks::Bytes16& m) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.b));
}

// Forward tables for four pixels at lane offset 0 and at lane offset 4.
constexpr masks::Bytes16 kFirstEven[2] = {masks::ForwardShuffle(0, 0, true), masks::ForwardShuffle(4, 0, true)};
constexpr masks::Bytes16 kFirstOdd[2] = {masks::ForwardShuffle(0, 1, true), masks::ForwardShuffle(4, 1, true)};
constexpr masks::Bytes16 kSecondEven[2] = {masks::ForwardShuffle(0, 0, false), masks::ForwardShuffle(4, 0, false)};
constexpr masks::Bytes16 kSecondOdd[2] = {masks::ForwardShuffle(0, 1, false), masks::ForwardShuffle(4, 1, false)};

// Inverse tables: output bytes 0..15 and 16..23 of eight pixels.
constexpr masks::Bytes16 kLumaA = masks::InverseLuma(0, 16, 0);
constexpr masks::Bytes16 kTermA = masks::InverseTerm(0, 16, 0);
constexpr masks::Bytes16 kLumaB = masks::InverseLuma(16, 8, 0);
constexpr masks::Bytes16 kTermB = masks::InverseTerm(16, 8, 0);

struct ForwardConstants {
  TEV_SSSE3 ForwardConstants() {
    for (int k = 0; k < 2; ++k) {
      first_even[k] = Load(kFirstEven[k]);
      first_odd[k] = Load(kFirstOdd[k]);
      second_even[k] = Load(kSecondEven[k]);
      second_odd[k] = Load(kSecondOdd[k]);
    }
    weights_first = Load(masks::kForwardWeightsFirst);
    weights_second = Load(masks::kForwardWeightsSecond);
    fix = Load(masks::kForwardFix);
    ones = _mm_set1_epi8(-1);
  }
  __m128i first_even[2], first_odd[2], second_even[2], second_odd[2];
  __m128i weights_first, weights_second, fix, ones;
};

// Two pairs whose twelve bytes start at lane offset 4*k of `q`: their eight
// output bytes, less the fix, in the low bytes of the 16-bit lanes.
TEV_SSSE3 inline __m128i ForwardFour(const ForwardConstants& c, __m128i q, int k) {
  const __m128i n = _mm_xor_si128(q, c.ones);
  const __m128i first = _mm_avg_epu8(_mm_shuffle_epi8(n, c.first_even[k]), _mm_shuffle_epi8(n, c.first_odd[k]));
  const __m128i second =
      _mm_avg_epu8(_mm_shuffle_epi8(n, c.second_even[k]), _mm_shuffle_epi8(n, c.second_odd[k]));
  const __m128i sums =
      _mm_add_epi16(_mm_maddubs_epi16(first, c.weights_first), _mm_maddubs_epi16(second, c.weights_second));
  return _mm_srli_epi16(sums, 8);
}

}  // namespace

TEV_SSSE3 size_t Rgb24ToYuy2RowSsse3(const uint8_t* rgb, uint8_t* yuy2, size_t pairs) {
  const ForwardConstants c;
  const size_t blocks = pairs / 4;  // 24 bytes in, 16 bytes out
  for (size_t i = 0; i < blocks; ++i, rgb += 24, yuy2 += 16) {
    // The second load starts 8 bytes in, so that no byte past the block is read.
    const __m128i low = ForwardFour(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb)), 0);
    const __m128i high = ForwardFour(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 8)), 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(yuy2), _mm_add_epi8(_mm_packus_epi16(low, high), c.fix));
  }
  return blocks * 4;
}

TEV_SSSE3 size_t Yuy2ToRgb24RowSsse3(const uint8_t* yuy2, uint8_t* rgb, size_t pairs) {
  const __m128i chroma_mask = _mm_set1_epi16(static_cast<int16_t>(0xFF00));
  const __m128i chroma_bias = _mm_set1_epi16(static_cast<int16_t>(0x8000));
  const __m128i weights_br = _mm_set1_epi32(masks::TwoLanes(454, 359));
  const __m128i weights_g = _mm_set1_epi32(masks::TwoLanes(-86, -183));
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i luma_a = Load(kLumaA), term_a = Load(kTermA), luma_b = Load(kLumaB), term_b = Load(kTermB);
  const size_t blocks = pairs / 4;  // 16 bytes in, 24 bytes out
  for (size_t i = 0; i < blocks; ++i, yuy2 += 16, rgb += 24) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yuy2));
    // (C - 128) << 8 in every lane: Cb in even lanes, Cr in odd ones.
    const __m128i c8 = _mm_xor_si128(_mm_and_si128(v, chroma_mask), chroma_bias);
    const __m128i br = _mm_mulhi_epi16(c8, weights_br);  // tB, tR per pair
    const __m128i g2 = _mm_mulhi_epi16(c8, weights_g);
    const __m128i g = _mm_madd_epi16(g2, ones);  // tG per pair, its high half the sign
    const __m128i plus = _mm_packus_epi16(br, g);
    const __m128i minus = _mm_packus_epi16(_mm_sub_epi16(zero, br), _mm_sub_epi16(zero, g));
    const __m128i a = _mm_subs_epu8(
        _mm_adds_epu8(_mm_shuffle_epi8(v, luma_a), _mm_shuffle_epi8(plus, term_a)), _mm_shuffle_epi8(minus, term_a));
    const __m128i b = _mm_subs_epu8(
        _mm_adds_epu8(_mm_shuffle_epi8(v, luma_b), _mm_shuffle_epi8(plus, term_b)), _mm_shuffle_epi8(minus, term_b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb), a);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(rgb + 16), b);
  }
  return blocks * 4;
}

}  // namespace tev::color
