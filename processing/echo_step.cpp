#include "processing/echo_step.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "processing/echo_kernels.h"
#include "processing/mul_div.h"

namespace tev {
namespace {

using echo::EchoKernel;
using echo::EchoPlan;

// k for a source luma: the scaled source, saturated at 255 so that a Level
// beyond 100 % never cancels less than 100 % does. gain <= 65535 keeps the
// product within 24 bits.
inline uint32_t ScaledLuma(uint32_t source_luma, uint32_t gain) {
  return std::min<uint32_t>(255, (source_luma * gain) >> 8);
}

template <bool kSubtract>
inline uint8_t Combine(uint32_t luma, uint32_t k) {
  return static_cast<uint8_t>(kSubtract ? luma - std::min(luma, k) : std::min<uint32_t>(255, luma + k));
}

// In-place passes one pixel at a time, for runs too short for a vector and for
// builds without SSE2. Same traversal rule as the vector kernels.
template <bool kSubtract>
void ScalarBackward(const EchoPlan& plan) {
  uint8_t* pass = plan.first;
  for (size_t p = 0; p < plan.passes; ++p, pass += plan.pitch) {
    uint8_t* begin = pass + plan.begin;
    for (size_t offset = plan.changed; offset != 0; offset -= 2) {
      uint8_t* d = begin + offset - 2;
      *d = Combine<kSubtract>(*d, ScaledLuma(d[plan.source], plan.gain));
    }
  }
}

template <bool kSubtract>
void ScalarForward(const EchoPlan& plan) {
  uint8_t* pass = plan.first;
  for (size_t p = 0; p < plan.passes; ++p, pass += plan.pitch) {
    uint8_t* begin = pass + plan.begin;
    for (size_t offset = 0; offset != plan.changed; offset += 2) {
      uint8_t* d = begin + offset;
      *d = Combine<kSubtract>(*d, ScaledLuma(d[plan.source], plan.gain));
    }
  }
}

EchoKernel SelectScalarKernel(bool subtract, bool backward) {
  if (subtract) return backward ? ScalarBackward<true> : ScalarForward<true>;
  return backward ? ScalarBackward<false> : ScalarForward<false>;
}

bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  // The explicit init keeps this safe even when first called during static
  // construction, before libgcc's own constructor has filled in the CPU model.
  static const bool has_avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has_avx2;
#else
  return false;
#endif
}

}  // namespace

EchoStepParams DeriveEchoStepParams(int32_t width, int32_t shift, int32_t level) {
  EchoStepParams params;
  params.pixel_shift = MulDivWide(shift, width, 1000);
  // Rounding half away from zero is symmetric, so |MulDiv(Level)| is MulDiv(|Level|),
  // and it avoids negating INT32_MIN.
  params.gain = std::llabs(MulDivWide(level, 256, 100));
  params.subtract = level < 0;
  return params;
}

EchoIsa BestEchoIsa() { return CpuHasAvx2() ? EchoIsa::Avx2 : EchoIsa::Sse2; }

void ApplyEchoStepPixels(uint8_t* frame, int32_t width, int32_t height, const EchoStepParams& params,
                         EchoIsa isa) {
  if (!frame || width <= 0 || height <= 0) return;
  const int64_t s = params.pixel_shift;
  // No pixel has a source within its line, or every k is 0.
  if (s >= width || s <= -width || params.gain <= 0) return;

  const size_t pitch = 2 * static_cast<size_t>(width);
  EchoPlan plan;
  plan.first = frame;
  plan.gain = static_cast<uint16_t>(std::min<int64_t>(params.gain, 65535));
  if (s == 0 && static_cast<size_t>(height) <= std::numeric_limits<size_t>::max() / pitch) {
    // Every pixel is its own source: the frame is one run.
    plan.passes = 1;
    plan.pitch = 0;
    plan.begin = 0;
    plan.changed = pitch * static_cast<size_t>(height);
    plan.source = 0;
  } else {
    plan.passes = static_cast<size_t>(height);
    plan.pitch = pitch;
    plan.begin = s > 0 ? 2 * static_cast<size_t>(s) : 0;
    plan.changed = 2 * static_cast<size_t>(width - std::llabs(s));
    plan.source = static_cast<ptrdiff_t>(-2 * s);
  }

  const bool backward = s > 0;
  const bool saturate = plan.gain > 256;
  EchoKernel kernel = nullptr;
  if (isa == EchoIsa::Avx2 && CpuHasAvx2() && plan.changed >= echo::kAvx2Bytes) {
    kernel = echo::SelectEchoKernelAvx2(params.subtract, backward, saturate);
  }
  if (!kernel && plan.changed >= echo::kSse2Bytes) {
    kernel = echo::SelectEchoKernelSse2(params.subtract, backward, saturate);
  }
  if (!kernel) kernel = SelectScalarKernel(params.subtract, backward);
  kernel(plan);
}

void ApplyEchoStep(uint8_t* frame, const FrameFormat* format, int32_t shift, int32_t level) {
  if (!format) return;
  ApplyEchoStepPixels(frame, format->Width, format->Height, DeriveEchoStepParams(format->Width, shift, level),
                      BestEchoIsa());
}

// The definition: every pixel x whose source x - s lies in the same line gets
// Y + k or Y - k, clamped to 0..255, with k = min(255, Ys * m / 256 rounded
// down), Y and Ys both taken from before the step. All other pixels and all
// chroma keep their values.
void ApplyEchoStepPixelsScalar(uint8_t* frame, int32_t width, int32_t height, const EchoStepParams& params) {
  if (!frame || width <= 0 || height <= 0) return;
  const int64_t s = params.pixel_shift;
  const int64_t m = params.gain;
  std::vector<int64_t> before(static_cast<size_t>(width));
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* line = frame + static_cast<size_t>(y) * 2 * static_cast<size_t>(width);
    for (int32_t x = 0; x < width; ++x) before[x] = line[2 * static_cast<size_t>(x)];
    for (int32_t x = 0; x < width; ++x) {
      const int64_t source = x - s;
      if (source < 0 || source >= width) continue;
      const int64_t k = std::min<int64_t>(255, (before[source] * m) >> 8);
      const int64_t luma = params.subtract ? before[x] - k : before[x] + k;
      line[2 * static_cast<size_t>(x)] = static_cast<uint8_t>(std::clamp<int64_t>(luma, 0, 255));
    }
  }
}

void ApplyEchoStepScalar(uint8_t* frame, const FrameFormat* format, int32_t shift, int32_t level) {
  if (!format) return;
  ApplyEchoStepPixelsScalar(frame, format->Width, format->Height,
                            DeriveEchoStepParams(format->Width, shift, level));
}

}  // namespace tev
