#include "processing/color_convert.h"

namespace tev {

// Placeholder until the kernels land.
void ConvertRgb24ToYuy2(const uint8_t*, uint8_t*, const FrameFormat*) {}
void ConvertYuy2ToRgb24(const uint8_t*, uint8_t*, const FrameFormat*) {}
void ConvertRgb24ToYuy2Scalar(const uint8_t*, uint8_t*, const FrameFormat*) {}
void ConvertYuy2ToRgb24Scalar(const uint8_t*, uint8_t*, const FrameFormat*) {}

}  // namespace tev
