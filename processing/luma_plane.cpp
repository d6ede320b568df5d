#include "processing/luma_plane.h"

#include <vector>

#include "processing/brightness_contrast.h"
#include "processing/echo_step.h"

namespace tev {

void ProcessLumaPlane(uint8_t* luma, ptrdiff_t stride, int32_t width, int32_t height,
                      const StageSettings& settings) {
  if (width <= 0 || height <= 0) return;
  const int64_t pixels = static_cast<int64_t>(width) * height;
  const int64_t corrected = pixels / 4 * 4;
  const LumaMap map = LumaMapFor(settings.brightness, settings.contrast);
  // Each line goes through the plugin's own step as a one-line 4:2:2 frame.
  std::vector<uint8_t> line(static_cast<size_t>(width) * 2, 128);
  const FrameFormat line_format{width, 1, 2, 0, 0};
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = luma + y * stride;
    if (settings.correct) {
      const int64_t first = static_cast<int64_t>(y) * width;
      for (int32_t x = 0; x < width && first + x < corrected; ++x) row[x] = ApplyLumaMap(map, row[x]);
    }
    if (settings.step_count == 0) continue;
    for (int32_t x = 0; x < width; ++x) line[2 * x] = row[x];
    for (int i = 0; i < settings.step_count; ++i) {
      ApplyEchoStep(line.data(), &line_format, settings.steps[i].shift, settings.steps[i].level);
    }
    for (int32_t x = 0; x < width; ++x) row[x] = line[2 * x];
  }
}

}  // namespace tev
