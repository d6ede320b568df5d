// What the pixel stages of one frame read, taken once when the frame starts so
// that a whole frame is processed with one consistent set of values.
#pragma once

#include <cstdint>

#include "settings/settings_index.h"

namespace tev {

struct EchoStepSetting {
  int32_t shift;  // tenths of a percent of the line width
  int32_t level;  // percent; below 0 subtracts
};

struct StageSettings {
  bool correct = false;  // CorrEnable
  int32_t brightness = 0;
  int32_t contrast = 0;
  int step_count = 0;  // the enabled steps, in the order 1..8
  EchoStepSetting steps[kStepCount] = {};
};

// From the 28 values in the order of ActiveSettings. ProcEnable is not part of
// the result: a caller that sees it off runs no stage at all.
StageSettings StageSettingsFromValues(const int32_t* values);

}  // namespace tev
