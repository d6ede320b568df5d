// The pixel stages of one frame in a single walk over it: on each block of
// lines, while it is in cache, (RGB: conversion in) -> correction -> every
// enabled step -> (RGB: conversion out). The steps work on a compact line of
// 8-bit luma, gathered once per line and put back once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/stage_settings.h"

namespace tev {

struct FrameShape {
  int32_t width;
  int32_t height;
  bool rgb;  // 3 bytes a pixel (B, G, R); otherwise packed 4:2:2 (Y0 U Y1 V)
};

// Lines of a block: the engine runs every stage on one block before the next.
int32_t LinesPerBlock(int32_t width);

// Bytes of the buffer of compact luma lines RunFrameStages needs for frames
// `width` wide: one block of lines.
size_t LineBufferBytes(int32_t width);

// In place on `pixels`. An RGB frame goes through `work`, W*H*2 bytes, which
// ends up holding its 4:2:2 form. `line` holds LineBufferBytes(width). No
// allocation; byte for byte what RunFrameStagesScalar gives.
void RunFrameStages(uint8_t* pixels, uint8_t* work, uint8_t* line, const FrameShape& shape,
                    const StageSettings& settings);

// The definition: each stage over the whole frame in turn, scalar kernels.
void RunFrameStagesScalar(uint8_t* pixels, uint8_t* work, const FrameShape& shape, const StageSettings& settings);

}  // namespace tev
