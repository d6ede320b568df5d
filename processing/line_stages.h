// Internal to the line engine: the stages of one frame prepared once (the
// kernels chosen, the correction's map and each step's pixel shift and gain),
// then run line by line on compact luma.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/luma_line_kernels.h"
#include "processing/stage_settings.h"

namespace tev {

class LineStages {
 public:
  LineStages(int32_t width, int32_t height, const StageSettings& settings);
  LineStages(const LineStages&) = delete;
  LineStages& operator=(const LineStages&) = delete;

  // Pixels of line y that the correction covers: it covers the first
  // floor(W*H/4)*4 pixels of the frame, not of each line.
  size_t Corrected(int32_t y) const;
  bool Idle() const { return correct_limit_ == 0 && step_count == 0; }

  // Line y of a 4:2:2 frame to a compact line, corrected.
  void GatherLine(const uint8_t* yuy2, uint8_t* luma, int32_t y) const;
  // Lines first..first+count-1, contiguous in both buffers, the same way.
  void GatherLines(const uint8_t* yuy2, uint8_t* luma, int32_t first, int32_t count) const;
  // Lines first..first+count-1 of the frame, compact, `stride` bytes apart.
  void CorrectBlock(uint8_t* luma, ptrdiff_t stride, int32_t first, int32_t count) const;
  // Each step over all the lines before the next step, so that a step never
  // reads bytes the one before has only just stored (a load that straddles
  // pending stores waits for them).
  void StepBlock(uint8_t* luma, ptrdiff_t stride, int32_t count) const;

  line::LineKernels kernels;
  // Steps that change something: |s| < W and m > 0.
  int step_count = 0;

 private:
  int64_t width_;
  int64_t correct_limit_ = 0;
  line::LumaCorrection correction_;
  line::EchoLineStep steps_[kStepCount];
};

}  // namespace tev
