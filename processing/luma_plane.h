// The plugin's stages on a plane of 8-bit luma, for programs that hold frames
// as planes (Y4M of any chroma layout). The bytes are exactly those the plugin
// gives the luma of a 4:2:2 frame of the same size with the same settings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/stage_settings.h"

namespace tev {

// `luma` holds `height` lines of `width` bytes, `stride` bytes apart
// (stride >= width). The correction, when on, covers the first
// floor(W*H/4)*4 pixels of the frame in line order, as on a 4:2:2 frame; then
// each step in order. Nothing outside the W bytes of each line is touched.
void ProcessLumaPlane(uint8_t* luma, ptrdiff_t stride, int32_t width, int32_t height,
                      const StageSettings& settings);

}  // namespace tev
