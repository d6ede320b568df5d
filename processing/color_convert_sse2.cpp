// The colour conversions with SSE2 alone, sixteen pixels at a time through
// planes of B, G and R bytes. SSE2 has no byte shuffle, so the planes come
// from a network of byte interleaves: one PlaneStep maps three registers
// (x, y, z) to (x.lo|y.hi, x.hi|z.lo, y.lo|z.hi), the bytes of each result
// taken in turn from the two halves named. Four steps take 48 bytes of B, G, R
// pixels to the three planes; four PixelSteps, each undoing one, take them back.
#include <emmintrin.h>

#include "processing/color_convert_kernels.h"
#include "processing/color_convert_masks.h"

namespace tev::color {
namespace {

struct Triple {
  __m128i x, y, z;
};

inline Triple PlaneStep(const Triple& t) {
  const __m128i xh = _mm_unpackhi_epi64(t.x, t.x), yh = _mm_unpackhi_epi64(t.y, t.y),
                zh = _mm_unpackhi_epi64(t.z, t.z);
  return {_mm_unpacklo_epi8(t.x, yh), _mm_unpacklo_epi8(xh, t.z), _mm_unpacklo_epi8(t.y, zh)};
}

inline Triple PixelStep(const Triple& t) {
  const __m128i low = _mm_set1_epi16(0x00FF);
  return {_mm_packus_epi16(_mm_and_si128(t.x, low), _mm_and_si128(t.y, low)),
          _mm_packus_epi16(_mm_and_si128(t.z, low), _mm_srli_epi16(t.x, 8)),
          _mm_packus_epi16(_mm_srli_epi16(t.y, 8), _mm_srli_epi16(t.z, 8))};
}

inline __m128i Weighted(__m128i b, __m128i g, __m128i r, int16_t wb, int16_t wg, int16_t wr) {
  return _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(b, _mm_set1_epi16(wb)), _mm_mullo_epi16(g, _mm_set1_epi16(wg))),
                       _mm_mullo_epi16(r, _mm_set1_epi16(wr)));
}

// Of a plane of sixteen pixels: the eight pair averages, rounded down.
inline __m128i PairAverage(__m128i plane) {
  const __m128i sum = _mm_add_epi16(_mm_and_si128(plane, _mm_set1_epi16(0x00FF)), _mm_srli_epi16(plane, 8));
  return _mm_srli_epi16(sum, 1);
}

// Luma of eight pixels in the low bytes, chroma (as raw sums) in the high.
inline __m128i Pack422(__m128i luma_sum, __m128i chroma_sum) {
  const __m128i high = _mm_and_si128(_mm_add_epi16(chroma_sum, _mm_set1_epi16(static_cast<int16_t>(0x8000))),
                                     _mm_set1_epi16(static_cast<int16_t>(0xFF00)));
  return _mm_or_si128(_mm_srli_epi16(luma_sum, 8), high);
}

struct Terms {
  __m128i luma, blue, green, red;  // per pixel, 16-bit
};

// Eight pixels of 4:2:2: their luma and each pixel's copy of its pair's terms.
inline Terms InverseTerms(__m128i v) {
  const __m128i c8 = _mm_xor_si128(_mm_and_si128(v, _mm_set1_epi16(static_cast<int16_t>(0xFF00))),
                                   _mm_set1_epi16(static_cast<int16_t>(0x8000)));
  const __m128i br = _mm_mulhi_epi16(c8, _mm_set1_epi32(masks::TwoLanes(454, 359)));
  const __m128i g2 = _mm_mulhi_epi16(c8, _mm_set1_epi32(masks::TwoLanes(-86, -183)));
  const __m128i g = _mm_add_epi16(g2, _mm_srli_epi32(g2, 16));
  constexpr int kEven = _MM_SHUFFLE(2, 2, 0, 0), kOdd = _MM_SHUFFLE(3, 3, 1, 1);
  return {_mm_and_si128(v, _mm_set1_epi16(0x00FF)),
          _mm_shufflehi_epi16(_mm_shufflelo_epi16(br, kEven), kEven),
          _mm_shufflehi_epi16(_mm_shufflelo_epi16(g, kEven), kEven),
          _mm_shufflehi_epi16(_mm_shufflelo_epi16(br, kOdd), kOdd)};
}

}  // namespace

size_t Rgb24ToYuy2RowSse2(const uint8_t* rgb, uint8_t* yuy2, size_t pairs) {
  const __m128i zero = _mm_setzero_si128();
  const size_t blocks = pairs / 8;  // 48 bytes in, 32 bytes out
  for (size_t i = 0; i < blocks; ++i, rgb += 48, yuy2 += 32) {
    Triple t = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 16)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 32))};
    for (int step = 0; step < 4; ++step) t = PlaneStep(t);
    const __m128i b = t.x, g = t.y, r = t.z;

    const __m128i luma_low = Weighted(_mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(g, zero),
                                      _mm_unpacklo_epi8(r, zero), 29, 150, 77);
    const __m128i luma_high = Weighted(_mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(g, zero),
                                       _mm_unpackhi_epi8(r, zero), 29, 150, 77);
    const __m128i pb = PairAverage(b), pg = PairAverage(g), pr = PairAverage(r);
    const __m128i u = Weighted(pb, pg, pr, 128, -85, -43);
    const __m128i v = Weighted(pb, pg, pr, -21, -107, 128);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(yuy2), Pack422(luma_low, _mm_unpacklo_epi16(u, v)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(yuy2 + 16), Pack422(luma_high, _mm_unpackhi_epi16(u, v)));
  }
  return blocks * 8;
}

size_t Yuy2ToRgb24RowSse2(const uint8_t* yuy2, uint8_t* rgb, size_t pairs) {
  const size_t blocks = pairs / 8;  // 32 bytes in, 48 bytes out
  for (size_t i = 0; i < blocks; ++i, yuy2 += 32, rgb += 48) {
    const Terms a = InverseTerms(_mm_loadu_si128(reinterpret_cast<const __m128i*>(yuy2)));
    const Terms b = InverseTerms(_mm_loadu_si128(reinterpret_cast<const __m128i*>(yuy2 + 16)));
    Triple t = {_mm_packus_epi16(_mm_add_epi16(a.luma, a.blue), _mm_add_epi16(b.luma, b.blue)),
                _mm_packus_epi16(_mm_add_epi16(a.luma, a.green), _mm_add_epi16(b.luma, b.green)),
                _mm_packus_epi16(_mm_add_epi16(a.luma, a.red), _mm_add_epi16(b.luma, b.red))};
    for (int step = 0; step < 4; ++step) t = PixelStep(t);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb), t.x);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + 16), t.y);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + 32), t.z);
  }
  return blocks * 8;
}

}  // namespace tev::color
