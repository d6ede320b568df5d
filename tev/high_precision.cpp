#include "tev/high_precision.h"

#include <immintrin.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "processing/brightness_contrast.h"
#include "processing/cpu_features.h"
#include "processing/echo_step.h"

namespace tev {
namespace {

// The loops are plain C++, built for the baseline and again for wider
// vectors, chosen by the CPU flags every kernel family uses; built without FMA
// contraction (see the build files), so every build and every width rounds alike.
#define TEV_WIDE_BODY inline __attribute__((always_inline))

struct WideStep {
  int32_t shift;  // pixels; the source of x is x - shift
  float gain;     // signed: negative subtracts
};

// One step over `lines` lines held back to back, from `in` to `out` (distinct,
// so every source is the value from before the step, as in the plugin's
// in-place walk). The lines run as one array so that the loop is long; the
// pixels whose source lies beyond their own line are redone afterwards.
//
// Beyond its ends a line is blanking, black, which has been through the same
// stages as the picture: `black[y]` holds that level for line y, and a pixel
// without a source takes it as its source. The plugin keeps such a pixel as it
// is instead, which is the same while the level is 0; with a pre-correction
// whose offset lifts black, keeping them would set the first pixels of every
// line apart from the rest by that offset.
TEV_WIDE_BODY void ApplyWideStep(const float* __restrict in, float* __restrict out, int32_t width, int32_t lines,
                                 const WideStep& step, float* black) {
  const int64_t n = static_cast<int64_t>(width) * lines;
  const int32_t s = step.shift;
  const float k = step.gain;
  const int64_t first = std::max<int64_t>(0, s), last = std::min<int64_t>(n, n + s);
  for (int64_t i = first; i < last; ++i) out[i] = in[i] + k * in[i - s];
  // No source within the line: the first s pixels of each line (s > 0), or its last -s.
  const int32_t keep_from = s >= 0 ? 0 : width + s, keep_to = s >= 0 ? s : width;
  for (int32_t y = 0; y < lines; ++y) {
    const int64_t start = static_cast<int64_t>(y) * width;
    const float b = black[y];
    for (int32_t x = keep_from; x < keep_to; ++x) out[start + x] = in[start + x] + k * b;
    black[y] = b + k * b;
  }
}

TEV_WIDE_BODY void LoadPixels(const uint8_t* row, float* out, int32_t count, int32_t corrected, float scale,
                              float offset) {
  for (int32_t x = 0; x < corrected; ++x) out[x] = row[x] * scale + offset;
  for (int32_t x = corrected; x < count; ++x) out[x] = row[x];
}

using StepFunction = void (*)(const float*, float*, int32_t, int32_t, const WideStep&, float*);
using LoadFunction = void (*)(const uint8_t*, float*, int32_t, int32_t, float, float);

void ApplyWideStepBase(const float* in, float* out, int32_t width, int32_t lines, const WideStep& step, float* black) {
  ApplyWideStep(in, out, width, lines, step, black);
}
__attribute__((target("avx2"))) void ApplyWideStepAvx2(const float* in, float* out, int32_t width, int32_t lines,
                                                        const WideStep& step, float* black) {
  ApplyWideStep(in, out, width, lines, step, black);
}
__attribute__((target("avx512f"))) void ApplyWideStepAvx512(const float* in, float* out, int32_t width,
                                                             int32_t lines, const WideStep& step, float* black) {
  ApplyWideStep(in, out, width, lines, step, black);
}
void LoadPixelsBase(const uint8_t* row, float* out, int32_t count, int32_t corrected, float scale, float offset) {
  LoadPixels(row, out, count, corrected, scale, offset);
}
__attribute__((target("avx2"))) void LoadPixelsAvx2(const uint8_t* row, float* out, int32_t count, int32_t corrected,
                                                     float scale, float offset) {
  LoadPixels(row, out, count, corrected, scale, offset);
}

// Round half up and clamp, once. Sixteen pixels at a time in SSE2 (the
// baseline of every build): the compilers turn the plain loop's clamp and
// narrowing into compares and lane shuffles that cost more than the steps.
void StorePixelsSse2(const float* in, uint8_t* row, int32_t count) {
  const __m128 half = _mm_set1_ps(0.5f), zero = _mm_setzero_ps(), top = _mm_set1_ps(255.0f);
  auto to_int = [&](const float* p) {
    return _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_loadu_ps(p), half), zero), top));
  };
  int32_t x = 0;
  for (; x + 16 <= count; x += 16) {
    const __m128i low = _mm_packs_epi32(to_int(in + x), to_int(in + x + 4));
    const __m128i high = _mm_packs_epi32(to_int(in + x + 8), to_int(in + x + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_packus_epi16(low, high));
  }
  for (; x < count; ++x) {
    const float v = in[x] + 0.5f;
    row[x] = static_cast<uint8_t>(v <= 0.0f ? 0 : v >= 255.0f ? 255 : static_cast<int32_t>(v));
  }
}

__attribute__((target("avx2"))) inline __m256i RoundAndClampAvx2(const float* p) {
  const __m256 v = _mm256_add_ps(_mm256_loadu_ps(p), _mm256_set1_ps(0.5f));
  return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)));
}

// The same operations on each pixel, thirty-two at a time.
__attribute__((target("avx2"))) void StorePixelsAvx2(const float* in, uint8_t* row, int32_t count) {
  const auto to_int = RoundAndClampAvx2;
  // The packs work within 128-bit lanes; this puts the four groups of eight back in order.
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  int32_t x = 0;
  for (; x + 32 <= count; x += 32) {
    const __m256i ab = _mm256_packs_epi32(to_int(in + x), to_int(in + x + 8));
    const __m256i cd = _mm256_packs_epi32(to_int(in + x + 16), to_int(in + x + 24));
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(ab, cd), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + x), bytes);
  }
  StorePixelsSse2(in + x, row + x, count - x);
}


}  // namespace

void ProcessLumaPlaneHighPrecision(uint8_t* luma, ptrdiff_t stride, int32_t width, int32_t height,
                                   const StageSettings& settings) {
  if (width <= 0 || height <= 0) return;
  const int64_t corrected = static_cast<int64_t>(width) * height / 4 * 4;
  const LumaMap map = LumaMapFor(settings.brightness, settings.contrast);
  const float scale = static_cast<float>(map.gain) / 256.0f;
  const float offset = static_cast<float>(map.offset);

  WideStep steps[kStepCount];
  int step_count = 0;
  for (int i = 0; i < settings.step_count; ++i) {
    const EchoStepParams p = DeriveEchoStepParams(width, settings.steps[i].shift, settings.steps[i].level);
    // A step whose source always lies outside the line changes nothing.
    if (p.pixel_shift >= width || p.pixel_shift <= -width || p.gain == 0) continue;
    const float gain = static_cast<float>(p.gain) / 256.0f;
    steps[step_count++] = {static_cast<int32_t>(p.pixel_shift), p.subtract ? -gain : gain};
  }
  if (!settings.correct && step_count == 0) return;

  const bool avx2 = CpuHas(kCpuAvx2);
  const StepFunction step_lines = CpuHas(kCpuAvx512Vbmi) ? ApplyWideStepAvx512 : avx2 ? ApplyWideStepAvx2 : ApplyWideStepBase;
  const LoadFunction load_line = avx2 ? LoadPixelsAvx2 : LoadPixelsBase;
  const auto store_line = avx2 ? StorePixelsAvx2 : StorePixelsSse2;

  // Blocks of lines small enough to stay in the cache through every step.
  const int32_t block = std::clamp<int32_t>(4096 / width, 1, height);
  std::vector<float> a(static_cast<size_t>(width) * block), b(a.size()), black(block);
  for (int32_t y0 = 0; y0 < height; y0 += block) {
    const int32_t lines = std::min(block, height - y0);
    float* in = a.data();
    float* out = b.data();
    for (int32_t y = 0; y < lines; ++y) {
      const int64_t first = static_cast<int64_t>(y0 + y) * width;
      const int32_t corrected_here =
          settings.correct ? static_cast<int32_t>(std::clamp<int64_t>(corrected - first, 0, width)) : 0;
      load_line(luma + (y0 + y) * stride, in + static_cast<int64_t>(y) * width, width, corrected_here, scale, offset);
      // The blanking is corrected as the line's first pixel is.
      black[y] = corrected_here > 0 ? offset : 0.0f;
    }
    for (int i = 0; i < step_count; ++i) {
      step_lines(in, out, width, lines, steps[i], black.data());
      std::swap(in, out);
    }
    for (int32_t y = 0; y < lines; ++y)
      store_line(in + static_cast<int64_t>(y) * width, luma + (y0 + y) * stride, width);
  }
}

}  // namespace tev
