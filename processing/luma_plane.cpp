#include "processing/luma_plane.h"

#include <algorithm>

#include "processing/line_engine.h"
#include "processing/line_stages.h"

namespace tev {

// A plane's line is already the compact luma line the engine works on.
void ProcessLumaPlane(uint8_t* luma, ptrdiff_t stride, int32_t width, int32_t height,
                      const StageSettings& settings) {
  if (!luma || width <= 0 || height <= 0) return;
  const LineStages stages(width, height, settings);
  if (stages.Idle()) return;
  const int32_t lines = LinesPerBlock(width);
  for (int32_t y = 0; y < height; y += lines) {
    const int32_t count = std::min(lines, height - y);
    stages.CorrectBlock(luma + y * stride, stride, y, count);
    stages.StepBlock(luma + y * stride, stride, count);
  }
}

}  // namespace tev
