// Conversion between 24-bit RGB (B, G, R) and packed 4:2:2 (Y0 U Y1 V), full
// range, two pixels at a time over the whole frame as one run of pixels.
#pragma once

#include <cstdint>

#include "abi/host_abi.h"

namespace tev {

// Reads 6*P bytes of rgb, writes 4*P bytes of yuy2, P = (Width*Height)/2.
void ConvertRgb24ToYuy2(const uint8_t* rgb, uint8_t* yuy2, const FrameFormat* format);
// Reads 4*P bytes of yuy2, writes 6*P bytes of rgb.
void ConvertYuy2ToRgb24(const uint8_t* yuy2, uint8_t* rgb, const FrameFormat* format);

// The definitions that the fast versions are held to.
void ConvertRgb24ToYuy2Scalar(const uint8_t* rgb, uint8_t* yuy2, const FrameFormat* format);
void ConvertYuy2ToRgb24Scalar(const uint8_t* yuy2, uint8_t* rgb, const FrameFormat* format);

// Luma of one B, G, R pixel by the forward rule.
inline uint8_t LumaOfBgr(const uint8_t* bgr) {
  return static_cast<uint8_t>((29 * bgr[0] + 150 * bgr[1] + 77 * bgr[2]) >> 8);
}

}  // namespace tev
