// One echo cancellation step: adds or subtracts a horizontally shifted, scaled
// copy of every line's luma, in place, on a packed 4:2:2 (YUY2) frame.
#pragma once

#include <cstdint>

#include "abi/host_abi.h"

namespace tev {

// shift: tenths of a percent of the line width; level: percent, below 0 subtracts.
// Reads only Width and Height of `format`; touches only luma bytes of the frame.
void ApplyEchoStep(uint8_t* frame, const FrameFormat* format, int32_t shift, int32_t level);

// The pixel-by-pixel definition that the fast version is held to.
void ApplyEchoStepScalar(uint8_t* frame, const FrameFormat* format, int32_t shift, int32_t level);

// What one call works with once Shift and Level are turned into pixels and a gain.
struct EchoStepParams {
  int64_t pixel_shift;  // s: the source of pixel x is pixel x - s of the same line
  int64_t gain;         // m, in 1/256; above 256 only from out-of-range Levels
  bool subtract;
};

// s = Shift x W / 1000 and m = |Level| x 256 / 100, both rounded half away from
// zero in 64 bits, so that no setting, however large, wraps.
EchoStepParams DeriveEchoStepParams(int32_t width, int32_t shift, int32_t level);

// The fast step on an already derived pixel shift and gain, through the
// line kernels the CPU flags allow.
void ApplyEchoStepPixels(uint8_t* frame, int32_t width, int32_t height, const EchoStepParams& params);

// The reference for the same derived values.
void ApplyEchoStepPixelsScalar(uint8_t* frame, int32_t width, int32_t height, const EchoStepParams& params);

}  // namespace tev
