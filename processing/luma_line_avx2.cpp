// The line kernels with 32-byte registers (AVX2): the SSE2 rules, twice as
// wide. Everything after the pragma is built for AVX2 and stays in this file.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "processing/brightness_contrast_kernels.h"
#include "processing/luma_line_kernels.h"

#pragma GCC target("avx2")
// The lambdas below take and return vectors by value and are inlined; GCC's
// ABI note about their never-used function-pointer forms is noise.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "processing/luma_line_walk.h"

namespace tev::line {
namespace {

inline __m256i Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Store(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

void GatherLuma(const uint8_t* yuy2, uint8_t* luma, size_t pixels) {
  const __m256i low = _mm256_set1_epi16(0x00FF);
  size_t i = 0;
  for (; i + 32 <= pixels; i += 32) {
    const __m256i a = _mm256_and_si256(Load(yuy2 + 2 * i), low), b = _mm256_and_si256(Load(yuy2 + 2 * i + 32), low);
    // The pack works within 16-byte lanes: put its four quarters in order.
    Store(luma + i, _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), _MM_SHUFFLE(3, 1, 2, 0)));
  }
  GatherLumaScalar(yuy2 + 2 * i, luma + i, pixels - i);
}

void ScatterLuma(const uint8_t* luma, uint8_t* yuy2, size_t pixels) {
  const __m256i chroma = _mm256_set1_epi16(static_cast<int16_t>(0xFF00)), zero = _mm256_setzero_si256();
  size_t i = 0;
  for (; i + 32 <= pixels; i += 32) {
    // Quarters 0, 2, 1, 3, so that the in-lane unpacks give pixels in order.
    const __m256i l = _mm256_permute4x64_epi64(Load(luma + i), _MM_SHUFFLE(3, 1, 2, 0));
    uint8_t* out = yuy2 + 2 * i;
    Store(out, _mm256_or_si256(_mm256_and_si256(Load(out), chroma), _mm256_unpacklo_epi8(l, zero)));
    Store(out + 32, _mm256_or_si256(_mm256_and_si256(Load(out + 32), chroma), _mm256_unpackhi_epi8(l, zero)));
  }
  ScatterLumaScalar(luma + i, yuy2 + 2 * i, pixels - i);
}

struct Halves {
  explicit Halves(__m256i v)
      : even(_mm256_slli_epi16(v, 8)), odd(_mm256_and_si256(v, _mm256_set1_epi16(static_cast<int16_t>(0xFF00)))) {}
  __m256i even, odd;
};

inline __m256i Join(__m256i even, __m256i odd) { return _mm256_or_si256(even, _mm256_slli_epi16(odd, 8)); }

void CorrectLuma(uint8_t* luma, size_t pixels, const LumaCorrection& correction);

// The 4:2:2 words are the lanes of the correction's lane rule already: each
// 32 pixels are mapped on the way in, not stored and loaded again.
void GatherCorrectLuma(const uint8_t* yuy2, uint8_t* luma, size_t pixels, const LumaCorrection& correction) {
  if (!correction.lanes) {
    GatherLuma(yuy2, luma, pixels);
    return CorrectLuma(luma, pixels, correction);
  }
  const __m256i gain = _mm256_set1_epi16(correction.gain), offset = _mm256_set1_epi16(correction.biased_offset);
  const __m256i bias = _mm256_set1_epi16(static_cast<int16_t>(brightness::kLaneBias));
  auto map = [&](__m256i words) {
    return _mm256_subs_epu16(_mm256_adds_epi16(_mm256_mulhi_epu16(_mm256_slli_epi16(words, 8), gain), offset), bias);
  };
  size_t i = 0;
  for (; i + 32 <= pixels; i += 32) {
    const __m256i packed = _mm256_packus_epi16(map(Load(yuy2 + 2 * i)), map(Load(yuy2 + 2 * i + 32)));
    Store(luma + i, _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
  }
  GatherCorrectLumaScalar(yuy2 + 2 * i, luma + i, pixels - i, correction);
}

void CorrectLuma(uint8_t* luma, size_t pixels, const LumaCorrection& correction) {
  if (!correction.lanes) return CorrectLumaScalar(luma, pixels, correction);
  const __m256i gain = _mm256_set1_epi16(correction.gain), offset = _mm256_set1_epi16(correction.biased_offset);
  const __m256i bias = _mm256_set1_epi16(static_cast<int16_t>(brightness::kLaneBias));
  auto map = [&](__m256i high) {
    return _mm256_subs_epu16(_mm256_adds_epi16(_mm256_mulhi_epu16(high, gain), offset), bias);
  };
  size_t i = 0;
  for (; i + 32 <= pixels; i += 32) {
    const Halves h(Load(luma + i));
    Store(luma + i, Join(map(h.even), map(h.odd)));
  }
  CorrectLumaScalar(luma + i, pixels - i, correction);
}

// Up to m = 127 the gain fits the signed byte of a multiply-add, which forms
// Ye * m and Yo * m in one instruction each, k in their high bytes; beyond,
// each half goes through a multiply-high (held at 255 past m = 256).
enum class Gain { kByte, kWord, kWide };

// Not inlined into the dispatch: merged there, the i686 build (eight
// vector registers) spilled in each line's edge blocks.
template <bool kSubtract, Gain kGain>
__attribute__((noinline)) void EchoLines(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines,
                                         const EchoLineStep& step) {
  if (EchoRunOf(luma, width, step.shift).count < 32) return EchoLinesScalar(luma, stride, width, lines, step);
  const __m256i gain = _mm256_set1_epi16(static_cast<int16_t>(step.gain)), limit = _mm256_set1_epi16(255);
  const __m256i even_weight = _mm256_set1_epi16(static_cast<int16_t>(step.gain & 0xFF));
  const __m256i odd_weight = _mm256_set1_epi16(static_cast<int16_t>((step.gain & 0xFF) << 8));
  const __m256i high = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
  auto scale = [&](__m256i words) {
    const __m256i k = _mm256_mulhi_epu16(words, gain);
    return kGain == Gain::kWide ? _mm256_min_epu16(k, limit) : k;
  };
  WalkEchoLines<32>(luma, stride, width, lines, step.shift, [](const uint8_t* p) { return Load(p); },
                    [&](__m256i source, __m256i pixels) {
                      __m256i k;
                      if (kGain == Gain::kByte) {
                        const __m256i even = _mm256_maddubs_epi16(source, even_weight);
                        const __m256i odd = _mm256_maddubs_epi16(source, odd_weight);
                        k = _mm256_or_si256(_mm256_srli_epi16(even, 8), _mm256_and_si256(odd, high));
                      } else {
                        const Halves h(source);
                        k = Join(scale(h.even), scale(h.odd));
                      }
                      return kSubtract ? _mm256_subs_epu8(pixels, k) : _mm256_adds_epu8(pixels, k);
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

void InitLineKernelsAvx2(LineKernels* kernels) { *kernels = {GatherLuma, ScatterLuma, CorrectLuma, GatherCorrectLuma, Echo}; }

}  // namespace tev::line
