#include "processing/echo_step.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

#include "processing/luma_line_kernels.h"
#include "processing/mul_div.h"

namespace tev {

EchoStepParams DeriveEchoStepParams(int32_t width, int32_t shift, int32_t level) {
  EchoStepParams params;
  params.pixel_shift = MulDivWide(shift, width, 1000);
  // Rounding half away from zero is symmetric, so |MulDiv(Level)| is MulDiv(|Level|),
  // and it avoids negating INT32_MIN.
  params.gain = std::llabs(MulDivWide(level, 256, 100));
  params.subtract = level < 0;
  return params;
}

void ApplyEchoStepPixels(uint8_t* frame, int32_t width, int32_t height, const EchoStepParams& params) {
  if (!frame || width <= 0 || height <= 0) return;
  const int64_t s = params.pixel_shift;
  // No pixel has a source within its line, or every k is 0.
  if (s >= width || s <= -width || params.gain <= 0) return;
  const line::LineKernels kernels = line::ChooseLineKernels();
  line::EchoLineStep step;
  line::PrepareEchoLineStep(&step, s, params.gain, params.subtract);
  // Each line's luma goes through the step as a compact line and back.
  std::vector<uint8_t> luma(static_cast<size_t>(width));
  const size_t pitch = 2 * static_cast<size_t>(width);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = frame + pitch * static_cast<size_t>(y);
    kernels.gather(row, luma.data(), luma.size());
    kernels.echo(luma.data(), 0, luma.size(), 1, step);
    kernels.scatter(luma.data(), row, luma.size());
  }
}

void ApplyEchoStep(uint8_t* frame, const FrameFormat* format, int32_t shift, int32_t level) {
  if (!format) return;
  ApplyEchoStepPixels(frame, format->Width, format->Height, DeriveEchoStepParams(format->Width, shift, level));
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
