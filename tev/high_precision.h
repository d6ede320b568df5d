// The plugin's stages with the plugin's own settings, order and direction, but
// carried wide: no rounding down and no saturation between stages, one rounding
// to nearest and one clamp to 0..255 at the end. The plugin rounds and clamps
// after every step, which caps what any settings can reach; offline work on
// captures has no reason to keep that cap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/stage_settings.h"

namespace tev {

// Same contract as ProcessLumaPlane: `height` lines of `width` bytes, `stride`
// apart; the correction covers the first floor(W*H/4)*4 pixels in line order,
// each step uses the plugin's pixel shift and gain (s and m/256), and nothing
// outside the W bytes of each line is touched. One difference at the line ends:
// where a step's source lies beyond the line, the source is the line's
// blanking, black through the same stages (the plugin keeps such pixels as
// they are, which differs once a correction lifts black).
void ProcessLumaPlaneHighPrecision(uint8_t* luma, ptrdiff_t stride, int32_t width, int32_t height,
                                   const StageSettings& settings);

}  // namespace tev
