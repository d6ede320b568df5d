// Internal to the brightness and contrast correction: the 16-bit lane kernels
// and the limits within which they give exactly the bytes of the LumaMap rule.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/brightness_contrast.h"

namespace tev::brightness {

// The lane kernels take Y << 8 times gain as an unsigned multiply-high, add
// offset + kLaneBias with signed saturation and take kLaneBias off again with
// unsigned saturation, which clamps to 0..255 in two instructions. That is
// exact while gain fits 0..32767 and offset fits -kLaneBias..255.
constexpr int32_t kLaneBias = 32512;
bool FitsLanes(const LumaMap& map);

// Over `bytes` bytes (a multiple of 8) from `buffer`, with a map that FitsLanes.
void AdjustLumaSse2(uint8_t* buffer, size_t bytes, const LumaMap& map);
void AdjustLumaAvx2(uint8_t* buffer, size_t bytes, const LumaMap& map);

}  // namespace tev::brightness
