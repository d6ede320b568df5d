// Brightness and contrast pre-correction of the luma of a packed 4:2:2 buffer.
#pragma once

#include <cstdint>

#include "abi/host_abi.h"

namespace tev {

// Brightness and Contrast in percent. Reads only Width and Height of `format`.
void AdjustBrightnessContrast(uint8_t* buffer, const FrameFormat* format, int32_t brightness,
                              int32_t contrast);

// The definition that the fast version is held to.
void AdjustBrightnessContrastScalar(uint8_t* buffer, const FrameFormat* format, int32_t brightness,
                                    int32_t contrast);

// Every luma byte Y becomes min(255, max(0, floor(Y * gain / 256) + offset)).
// Both terms are kept wide so that settings from a hand-edited file never wrap.
struct LumaMap {
  int64_t gain;
  int64_t offset;
};
LumaMap LumaMapFor(int32_t brightness, int32_t contrast);
uint8_t ApplyLumaMap(const LumaMap& map, uint8_t luma);

}  // namespace tev
