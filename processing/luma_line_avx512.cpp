// The line kernels with 64-byte registers and whole-register byte permutes
// (AVX-512 VBMI): the correction is one table lookup (two permutes of 128
// entries each) for every map.
// Everything after the pragma stays in this file.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "processing/brightness_contrast_kernels.h"
#include "processing/luma_line_kernels.h"

#pragma GCC target("avx2,avx512f,avx512bw,avx512vl,avx512vbmi")
// The lambdas below take and return vectors by value and are inlined; GCC's
// ABI note about their never-used function-pointer forms is noise.
#pragma GCC diagnostic ignored "-Wpsabi"
// GCC 12's header passes an undefined vector as the unused merge source of
// the word-to-byte truncation, and then warns about it.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include "processing/luma_line_walk.h"

namespace tev::line {
namespace {

inline __m512i Load(const uint8_t* p) { return _mm512_loadu_si512(p); }
inline void Store(uint8_t* p, __m512i v) { _mm512_storeu_si512(p, v); }
// The first n (< 64) bytes; the others are neither read nor written.
inline __mmask64 First(size_t n) { return n == 0 ? 0 : ~0ULL >> (64 - n); }

// table[v] for every byte v of a register: the low seven bits pick within a
// half of the table, the top bit picks the half.
struct Lookup {
  explicit Lookup(const uint8_t* table)
      : t0(Load(table)), t1(Load(table + 64)), t2(Load(table + 128)), t3(Load(table + 192)) {}
  __m512i operator()(__m512i v) const {
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), _mm512_permutex2var_epi8(t0, v, t1),
                                  _mm512_permutex2var_epi8(t2, v, t3));
  }
  __m512i t0, t1, t2, t3;
};

constexpr int kHighOrLow = 0xEA;  // ternary logic: (a & b) | c
constexpr __mmask64 kEvenBytes = 0x5555555555555555ULL;

// The first n (< 32) pixels of a block of 32.
inline __mmask32 FirstPixels(size_t n) { return n == 0 ? 0 : ~0U >> (32 - n); }

// Words to their low bytes and back: one instruction each way per 32 pixels,
// `map` applied to the words on the way in. The last part block is masked.
template <class Map>
inline void GatherWith(const uint8_t* yuy2, uint8_t* luma, size_t pixels, Map map) {
  size_t i = 0;
  for (; i + 32 <= pixels; i += 32) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(luma + i), _mm512_cvtepi16_epi8(map(Load(yuy2 + 2 * i))));
  }
  const __mmask32 rest = FirstPixels(pixels - i);
  _mm256_mask_storeu_epi8(luma + i, rest, _mm512_cvtepi16_epi8(map(_mm512_maskz_loadu_epi16(rest, yuy2 + 2 * i))));
}

// Byte i of a register is byte 2i of the pair (first, second): one
// two-register permute picks 64 luma bytes out of 128 bytes of 4:2:2.
inline __m512i EvenBytes() {
  alignas(64) uint8_t index[64];
  for (int i = 0; i < 64; ++i) index[i] = static_cast<uint8_t>(2 * i);
  return Load(index);
}

// Whole blocks of 64 pixels through `map`; returns how many pixels it did.
template <class Map>
inline size_t GatherBlocks(const uint8_t* yuy2, uint8_t* luma, size_t pixels, Map map) {
  const __m512i even = EvenBytes();
  size_t i = 0;
  for (; i + 64 <= pixels; i += 64) {
    Store(luma + i, map(_mm512_permutex2var_epi8(Load(yuy2 + 2 * i), even, Load(yuy2 + 2 * i + 64))));
  }
  return i;
}

void GatherLuma(const uint8_t* yuy2, uint8_t* luma, size_t pixels) {
  const size_t done = GatherBlocks(yuy2, luma, pixels, [](__m512i v) { return v; });
  GatherWith(yuy2 + 2 * done, luma + done, pixels - done, [](__m512i words) { return words; });
}

void CorrectLuma(uint8_t* luma, size_t pixels, const LumaCorrection& correction);

// The table after the gather's permute: fewer instructions than the lane
// rule on words, and exact for every map.
void GatherCorrectLuma(const uint8_t* yuy2, uint8_t* luma, size_t pixels, const LumaCorrection& correction) {
  const Lookup map(correction.table);
  const size_t done = GatherBlocks(yuy2, luma, pixels, map);
  GatherWith(yuy2 + 2 * done, luma + done, pixels - done, [](__m512i words) { return words; });
  CorrectLuma(luma + done, pixels - done, correction);
}

// Each half of 64 luma bytes spread to the even bytes by one permute and
// stored through a byte mask, so the chroma is neither read nor rewritten
// (measured 10 % off the gather, correction and scatter together).
void ScatterLuma(const uint8_t* luma, uint8_t* yuy2, size_t pixels) {
  alignas(64) uint8_t spread[64];
  for (int i = 0; i < 64; ++i) spread[i] = static_cast<uint8_t>(i / 2);
  const __m512i low_half = Load(spread), high_half = _mm512_add_epi8(low_half, _mm512_set1_epi8(32));
  auto put = [&](uint8_t* out, __m512i l, __mmask64 low_mask, __mmask64 high_mask) {
    _mm512_mask_storeu_epi8(out, low_mask, _mm512_permutexvar_epi8(low_half, l));
    _mm512_mask_storeu_epi8(out + 64, high_mask, _mm512_permutexvar_epi8(high_half, l));
  };
  size_t i = 0;
  for (; i + 64 <= pixels; i += 64) put(yuy2 + 2 * i, Load(luma + i), kEvenBytes, kEvenBytes);
  const size_t rest = pixels - i;
  put(yuy2 + 2 * i, _mm512_maskz_loadu_epi8(First(rest), luma + i),
      rest >= 32 ? kEvenBytes : kEvenBytes & First(2 * rest), rest > 32 ? kEvenBytes & First(2 * (rest - 32)) : 0);
}

void CorrectLuma(uint8_t* luma, size_t pixels, const LumaCorrection& correction) {
  const Lookup map(correction.table);
  size_t i = 0;
  for (; i + 64 <= pixels; i += 64) Store(luma + i, map(Load(luma + i)));
  const __mmask64 rest = First(pixels - i);
  _mm512_mask_storeu_epi8(luma + i, rest, map(_mm512_maskz_loadu_epi8(rest, luma + i)));
}

// k by 16-bit multiplies (a table lookup by two-register byte permutes is
// slower on some CPUs). Up to m = 127 the gain fits the signed byte of a
// multiply-add, which forms Ye * m and Yo * m in one instruction each; up to
// 256 the odd product Yo * m still fits a word, whose high byte is then k in
// place; beyond, both halves go through a multiply-high and are held at 255.
enum class Gain { kByte, kWord, kWide };

template <Gain kGain>
struct Scale {
  explicit Scale(uint16_t m)
      : gain(_mm512_set1_epi16(static_cast<int16_t>(m))),
        even_weight(_mm512_set1_epi16(static_cast<int16_t>(m & 0xFF))),
        odd_weight(_mm512_set1_epi16(static_cast<int16_t>((m & 0xFF) << 8))),
        high(_mm512_set1_epi16(static_cast<int16_t>(0xFF00))),
        limit(_mm512_set1_epi16(255)),
        // Byte 2j of each 16-byte lane picks byte 2j + 1 of the same lane.
        high_of_word(_mm512_broadcast_i32x4(_mm_set_epi64x(0x0F0F0D0D0B0B0909, 0x0707050503030101))) {}

  __m512i operator()(__m512i source) const {
    if (kGain == Gain::kByte) {
      // k of an even pixel is the high byte of its product: one in-lane
      // shuffle moves it down, merged into the odd products' high bytes.
      const __m512i even = _mm512_maddubs_epi16(source, even_weight), odd = _mm512_maddubs_epi16(source, odd_weight);
      return _mm512_mask_shuffle_epi8(odd, kEvenBytes, even, high_of_word);
    }
    const __m512i even = _mm512_mulhi_epu16(_mm512_slli_epi16(source, 8), gain);
    if (kGain == Gain::kWide) {
      const __m512i odd = _mm512_mulhi_epu16(_mm512_and_si512(source, high), gain);
      return _mm512_or_si512(_mm512_min_epu16(even, limit), _mm512_slli_epi16(_mm512_min_epu16(odd, limit), 8));
    }
    const __m512i odd = _mm512_mullo_epi16(_mm512_srli_epi16(source, 8), gain);
    return _mm512_ternarylogic_epi32(odd, high, even, kHighOrLow);
  }

  __m512i gain, even_weight, odd_weight, high, limit, high_of_word;
};

template <bool kSubtract, Gain kGain>
void EchoLines(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines, const EchoLineStep& step) {
  if (EchoRunOf(luma, width, step.shift).count < 64) return EchoLinesScalar(luma, stride, width, lines, step);
  const Scale<kGain> scale(step.gain);
  WalkEchoLines<64>(luma, stride, width, lines, step.shift, [](const uint8_t* p) { return Load(p); },
                    [&](__m512i source, __m512i pixels) {
                      const __m512i k = scale(source);
                      return kSubtract ? _mm512_subs_epu8(pixels, k) : _mm512_adds_epu8(pixels, k);
                    },
                    [](uint8_t* p, auto v) { Store(p, v); });
}

template <bool kSubtract>
void EchoFor(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines, const EchoLineStep& step) {
  if (step.gain <= 127) return EchoLines<kSubtract, Gain::kByte>(luma, stride, width, lines, step);
  if (step.gain <= 256) return EchoLines<kSubtract, Gain::kWord>(luma, stride, width, lines, step);
  EchoLines<kSubtract, Gain::kWide>(luma, stride, width, lines, step);
}

void Echo(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines, const EchoLineStep& step) {
  if (step.subtract) return EchoFor<true>(luma, stride, width, lines, step);
  EchoFor<false>(luma, stride, width, lines, step);
}

}  // namespace

void InitLineKernelsAvx512Vbmi(LineKernels* kernels) { *kernels = {GatherLuma, ScatterLuma, CorrectLuma, GatherCorrectLuma, Echo}; }

}  // namespace tev::line
