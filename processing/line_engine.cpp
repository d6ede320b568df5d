#include "processing/line_engine.h"

#include <algorithm>

#include "processing/brightness_contrast.h"
#include "processing/color_convert.h"
#include "processing/color_convert_kernels.h"
#include "processing/echo_step.h"
#include "processing/line_stages.h"

namespace tev {
namespace {

// A block's compact luma (and for RGB its 4:2:2 and RGB bytes too, about
// six times as much) stays in the first two levels of cache between stages.
constexpr int32_t kBlockLumaBytes = 8 * 1024;
constexpr int32_t kMaxBlockLines = 16;

// A pixel count that fits the frame's own 32-bit product.
int64_t PixelCount(const FrameShape& shape) {
  if (shape.width <= 0 || shape.height <= 0) return 0;
  return static_cast<int64_t>(shape.width) * shape.height;
}

// Lines first..end-1 of a 4:2:2 frame, in blocks: gathered, every stage,
// put back.
void ProcessYuy2Lines(uint8_t* yuy2, uint8_t* luma, int32_t width, int32_t first, int32_t end,
                      const LineStages& stages) {
  const size_t w = static_cast<size_t>(width);
  const int32_t block = LinesPerBlock(width);
  for (int32_t y = first; y < end; y += block) {
    const int32_t count = std::min(block, end - y);
    if (stages.step_count == 0 && stages.Corrected(y) == 0) return;  // nor any later line
    uint8_t* rows = yuy2 + 2 * w * static_cast<size_t>(y);
    // The block's lines are contiguous in both buffers: one call each way
    // for all of them, unless the correction ends inside the block.
    stages.GatherLines(rows, luma, y, count);
    stages.StepBlock(luma, static_cast<ptrdiff_t>(w), count);
    stages.kernels.scatter(luma, rows, w * static_cast<size_t>(count));
  }
}

// The conversion leaves the unpaired last pixel alone, but steps can read it
// as a source: give it this frame's luma and neutral chroma.
void FillUnpairedPixel(const uint8_t* rgb, uint8_t* yuy2, int64_t pixels) {
  if (pixels % 2 == 0) return;
  uint8_t* last = yuy2 + 2 * (pixels - 1);
  last[0] = LumaOfBgr(rgb + 3 * (pixels - 1));
  last[1] = 128;
}

}  // namespace

int32_t LinesPerBlock(int32_t width) {
  return width <= 0 ? 1 : std::clamp(kBlockLumaBytes / width, 1, kMaxBlockLines);
}

size_t LineBufferBytes(int32_t width) {
  return width > 0 ? static_cast<size_t>(width) * static_cast<size_t>(LinesPerBlock(width)) : 1;
}

void RunFrameStages(uint8_t* pixels, uint8_t* work, uint8_t* line, const FrameShape& shape,
                    const StageSettings& settings) {
  const int64_t pixels_total = PixelCount(shape);
  if (pixels_total == 0) return;
  const LineStages stages(shape.width, shape.height, settings);
  if (!shape.rgb) {
    if (stages.Idle()) return;
    ProcessYuy2Lines(pixels, line, shape.width, 0, shape.height, stages);
    return;
  }

  const color::ColorKernels colour = color::ChooseColorKernels();
  const int64_t w = shape.width;
  const int32_t lines_per_block = LinesPerBlock(shape.width);
  const int64_t pairs = pixels_total / 2;
  for (int32_t y = 0; y < shape.height; y += lines_per_block) {
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(shape.height, int64_t{y} + lines_per_block));
    const int64_t first_pixel = y * w, end_pixel = end * w;
    // A pair across the block's end (odd widths) is converted in with this
    // block and out with the next, once both its pixels have been processed.
    const int64_t in_first = (first_pixel + 1) / 2, in_end = std::min(pairs, (end_pixel + 1) / 2);
    const int64_t out_first = first_pixel / 2, out_end = end_pixel / 2;
    color::ConvertRgb24ToYuy2With(colour.forward, pixels + 6 * in_first, work + 4 * in_first,
                                  static_cast<size_t>(in_end - in_first));
    if (end == shape.height) FillUnpairedPixel(pixels, work, pixels_total);
    ProcessYuy2Lines(work, line, shape.width, y, end, stages);
    color::ConvertYuy2ToRgb24With(colour.inverse, work + 4 * out_first, pixels + 6 * out_first,
                                  static_cast<size_t>(out_end - out_first));
  }
}

void RunFrameStagesScalar(uint8_t* pixels, uint8_t* work, const FrameShape& shape, const StageSettings& settings) {
  const int64_t pixels_total = PixelCount(shape);
  if (pixels_total == 0) return;
  const FrameFormat format{shape.width, shape.height, shape.rgb ? 3 : 2, shape.rgb ? FrameKindRgb24 : 0, 0};
  uint8_t* buffer = pixels;
  if (shape.rgb) {
    ConvertRgb24ToYuy2Scalar(pixels, work, &format);
    FillUnpairedPixel(pixels, work, pixels_total);
    buffer = work;
  }
  if (settings.correct) AdjustBrightnessContrastScalar(buffer, &format, settings.brightness, settings.contrast);
  for (int i = 0; i < settings.step_count; ++i) {
    ApplyEchoStepScalar(buffer, &format, settings.steps[i].shift, settings.steps[i].level);
  }
  if (shape.rgb) ConvertYuy2ToRgb24Scalar(work, pixels, &format);
}

}  // namespace tev
