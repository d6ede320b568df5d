// Brightness and contrast pre-correction of the luma of a packed 4:2:2 buffer.
#pragma once

#include <cstdint>

#include "plugin/host_abi.h"

namespace tev {

// Brightness and Contrast in percent. Reads only Width and Height of `format`.
void AdjustBrightnessContrast(uint8_t* buffer, const FrameFormat* format, int32_t brightness,
                              int32_t contrast);

// The definition that the fast version is held to.
void AdjustBrightnessContrastScalar(uint8_t* buffer, const FrameFormat* format, int32_t brightness,
                                    int32_t contrast);

}  // namespace tev
