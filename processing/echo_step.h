// One echo cancellation step: adds or subtracts a horizontally shifted, scaled
// copy of every line's luma, in place, on a packed 4:2:2 (YUY2) frame.
#pragma once

#include <cstdint>

#include "plugin/host_abi.h"

namespace tev {

// shift: tenths of a percent of the line width; level: percent, below 0 subtracts.
// Reads only Width and Height of `format`; touches only luma bytes of the frame.
void ApplyEchoStep(uint8_t* frame, const FrameFormat* format, int32_t shift, int32_t level);

// The pixel-by-pixel definition that the fast version is held to.
void ApplyEchoStepScalar(uint8_t* frame, const FrameFormat* format, int32_t shift, int32_t level);

}  // namespace tev
