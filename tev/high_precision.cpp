#include "tev/high_precision.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "processing/brightness_contrast.h"
#include "processing/echo_step.h"

namespace tev {
namespace {

struct WideStep {
  int32_t shift;  // pixels; the source of x is x - shift
  float gain;     // signed: negative subtracts
};

// One step from `in` to `out` (distinct buffers, so every source is the value
// from before the step, as in the plugin's in-place walk).
void ApplyWideStep(const float* __restrict in, float* __restrict out, int32_t width, const WideStep& step) {
  const int32_t s = step.shift;
  const float k = step.gain;
  if (s >= 0) {
    for (int32_t x = 0; x < s; ++x) out[x] = in[x];
    for (int32_t x = s; x < width; ++x) out[x] = in[x] + k * in[x - s];
  } else {
    const int32_t end = width + s;
    for (int32_t x = 0; x < end; ++x) out[x] = in[x] + k * in[x - s];
    for (int32_t x = end; x < width; ++x) out[x] = in[x];
  }
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

  std::vector<float> a(static_cast<size_t>(width)), b(static_cast<size_t>(width));
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = luma + y * stride;
    const int64_t first = static_cast<int64_t>(y) * width;
    const int32_t corrected_here =
        settings.correct ? static_cast<int32_t>(std::clamp<int64_t>(corrected - first, 0, width)) : 0;
    if (corrected_here == 0 && step_count == 0) continue;
    float* in = a.data();
    float* out = b.data();
    for (int32_t x = 0; x < corrected_here; ++x) in[x] = row[x] * scale + offset;
    for (int32_t x = corrected_here; x < width; ++x) in[x] = row[x];
    for (int i = 0; i < step_count; ++i) {
      ApplyWideStep(in, out, width, steps[i]);
      std::swap(in, out);
    }
    // Round half up and clamp, once.
    for (int32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(std::clamp(in[x] + 0.5f, 0.0f, 255.0f));
  }
}

}  // namespace tev
