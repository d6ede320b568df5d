#include "processing/line_stages.h"

#include <algorithm>

#include "processing/brightness_contrast.h"
#include "processing/echo_step.h"

namespace tev {

LineStages::LineStages(int32_t width, int32_t height, const StageSettings& settings)
    : kernels(line::ChooseLineKernels()), width_(std::max(0, width)) {
  if (width <= 0 || height <= 0) return;
  if (settings.correct) {
    correct_limit_ = width_ * height / 4 * 4;
    line::PrepareLumaCorrection(&correction_, LumaMapFor(settings.brightness, settings.contrast));
  }
  for (int i = 0; i < settings.step_count; ++i) {
    const EchoStepParams p = DeriveEchoStepParams(width, settings.steps[i].shift, settings.steps[i].level);
    if (p.pixel_shift >= width_ || p.pixel_shift <= -width_ || p.gain <= 0) continue;
    line::PrepareEchoLineStep(&steps_[step_count++], p.pixel_shift, p.gain, p.subtract);
  }
}

size_t LineStages::Corrected(int32_t y) const {
  return static_cast<size_t>(std::clamp<int64_t>(correct_limit_ - y * width_, 0, width_));
}

void LineStages::GatherLine(const uint8_t* yuy2, uint8_t* luma, int32_t y) const {
  const size_t corrected = Corrected(y);
  if (corrected == static_cast<size_t>(width_)) return kernels.gather_correct(yuy2, luma, corrected, correction_);
  kernels.gather(yuy2, luma, static_cast<size_t>(width_));
  if (corrected != 0) kernels.correct(luma, corrected, correction_);
}

void LineStages::GatherLines(const uint8_t* yuy2, uint8_t* luma, int32_t first, int32_t count) const {
  const size_t pixels = static_cast<size_t>(width_) * static_cast<size_t>(count);
  const size_t last = Corrected(first + count - 1);
  if (last == static_cast<size_t>(width_)) return kernels.gather_correct(yuy2, luma, pixels, correction_);
  if (Corrected(first) == 0) return kernels.gather(yuy2, luma, pixels);
  for (int32_t j = 0; j < count; ++j) GatherLine(yuy2 + 2 * width_ * j, luma + width_ * j, first + j);
}

void LineStages::CorrectBlock(uint8_t* luma, ptrdiff_t stride, int32_t first, int32_t count) const {
  for (int32_t j = 0; j < count; ++j) {
    const size_t corrected = Corrected(first + j);
    if (corrected != 0) kernels.correct(luma + j * stride, corrected, correction_);
  }
}

void LineStages::StepBlock(uint8_t* luma, ptrdiff_t stride, int32_t count) const {
  for (int i = 0; i < step_count; ++i) {
    kernels.echo(luma, stride, static_cast<size_t>(width_), count, steps_[i]);
  }
}

}  // namespace tev
