// The line kernels with 16-byte registers: the baseline of both builds.
#include <emmintrin.h>

#include "processing/brightness_contrast_kernels.h"
#include "processing/luma_line_kernels.h"
#include "processing/luma_line_walk.h"

namespace tev::line {
namespace {

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

void GatherLuma(const uint8_t* yuy2, uint8_t* luma, size_t pixels) {
  const __m128i low = _mm_set1_epi16(0x00FF);
  size_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    const __m128i a = _mm_and_si128(Load(yuy2 + 2 * i), low), b = _mm_and_si128(Load(yuy2 + 2 * i + 16), low);
    Store(luma + i, _mm_packus_epi16(a, b));
  }
  GatherLumaScalar(yuy2 + 2 * i, luma + i, pixels - i);
}

void ScatterLuma(const uint8_t* luma, uint8_t* yuy2, size_t pixels) {
  const __m128i chroma = _mm_set1_epi16(static_cast<int16_t>(0xFF00)), zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    const __m128i l = Load(luma + i);
    uint8_t* out = yuy2 + 2 * i;
    Store(out, _mm_or_si128(_mm_and_si128(Load(out), chroma), _mm_unpacklo_epi8(l, zero)));
    Store(out + 16, _mm_or_si128(_mm_and_si128(Load(out + 16), chroma), _mm_unpackhi_epi8(l, zero)));
  }
  ScatterLumaScalar(luma + i, yuy2 + 2 * i, pixels - i);
}

// Even and odd pixels each as 16-bit words with the luma in the high byte,
// so that a multiply-high by the gain gives luma * gain / 256, rounded down.
struct Halves {
  explicit Halves(__m128i v)
      : even(_mm_slli_epi16(v, 8)), odd(_mm_and_si128(v, _mm_set1_epi16(static_cast<int16_t>(0xFF00)))) {}
  __m128i even, odd;
};

// Words of 0..255 back into bytes, the odd ones moved up.
inline __m128i Join(__m128i even, __m128i odd) { return _mm_or_si128(even, _mm_slli_epi16(odd, 8)); }

void CorrectLuma(uint8_t* luma, size_t pixels, const LumaCorrection& correction);

// The 4:2:2 words are the lanes of the correction's lane rule already: each
// 16 pixels are mapped on the way in, not stored and loaded again.
void GatherCorrectLuma(const uint8_t* yuy2, uint8_t* luma, size_t pixels, const LumaCorrection& correction) {
  if (!correction.lanes) {
    GatherLuma(yuy2, luma, pixels);
    return CorrectLuma(luma, pixels, correction);
  }
  const __m128i gain = _mm_set1_epi16(correction.gain), offset = _mm_set1_epi16(correction.biased_offset);
  const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(brightness::kLaneBias));
  auto map = [&](__m128i words) {
    return _mm_subs_epu16(_mm_adds_epi16(_mm_mulhi_epu16(_mm_slli_epi16(words, 8), gain), offset), bias);
  };
  size_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    Store(luma + i, _mm_packus_epi16(map(Load(yuy2 + 2 * i)), map(Load(yuy2 + 2 * i + 16))));
  }
  GatherCorrectLumaScalar(yuy2 + 2 * i, luma + i, pixels - i, correction);
}

void CorrectLuma(uint8_t* luma, size_t pixels, const LumaCorrection& correction) {
  if (!correction.lanes) return CorrectLumaScalar(luma, pixels, correction);
  const __m128i gain = _mm_set1_epi16(correction.gain), offset = _mm_set1_epi16(correction.biased_offset);
  const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(brightness::kLaneBias));
  // The lane rule of the 4:2:2 correction, on each half.
  auto map = [&](__m128i high) { return _mm_subs_epu16(_mm_adds_epi16(_mm_mulhi_epu16(high, gain), offset), bias); };
  size_t i = 0;
  for (; i + 16 <= pixels; i += 16) {
    const Halves h(Load(luma + i));
    Store(luma + i, Join(map(h.even), map(h.odd)));
  }
  CorrectLumaScalar(luma + i, pixels - i, correction);
}

// Not inlined into the dispatch: merged there, the i686 build (eight
// vector registers) spilled in each line's edge blocks.
template <bool kSubtract, bool kSaturate>
__attribute__((noinline)) void EchoLines(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines,
                                         const EchoLineStep& step) {
  if (EchoRunOf(luma, width, step.shift).count < 16) return EchoLinesScalar(luma, stride, width, lines, step);
  const __m128i gain = _mm_set1_epi16(static_cast<int16_t>(step.gain)), limit = _mm_set1_epi16(255);
  auto scale = [&](__m128i high) {
    const __m128i k = _mm_mulhi_epu16(high, gain);
    return kSaturate ? _mm_sub_epi16(k, _mm_subs_epu16(k, limit)) : k;
  };
  WalkEchoLines<16>(luma, stride, width, lines, step.shift, [](const uint8_t* p) { return Load(p); },
                    [&](__m128i source, __m128i pixels) {
                      const Halves h(source);
                      const __m128i k = Join(scale(h.even), scale(h.odd));
                      return kSubtract ? _mm_subs_epu8(pixels, k) : _mm_adds_epu8(pixels, k);
                    },
                    [](uint8_t* p, auto v) { Store(p, v); });
}

template <bool kSubtract>
void EchoFor(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines, const EchoLineStep& step) {
  // Up to m = 256 every k is already at most 255.
  if (step.gain > 256) return EchoLines<kSubtract, true>(luma, stride, width, lines, step);
  EchoLines<kSubtract, false>(luma, stride, width, lines, step);
}

void Echo(uint8_t* luma, ptrdiff_t stride, size_t width, int32_t lines, const EchoLineStep& step) {
  if (step.subtract) return EchoFor<true>(luma, stride, width, lines, step);
  EchoFor<false>(luma, stride, width, lines, step);
}

}  // namespace

void InitLineKernelsSse2(LineKernels* kernels) { *kernels = {GatherLuma, ScatterLuma, CorrectLuma, GatherCorrectLuma, Echo}; }

}  // namespace tev::line
