#include "processing/stage_settings.h"

namespace tev {

StageSettings StageSettingsFromValues(const int32_t* values) {
  StageSettings s;
  s.correct = values[CorrEnable] != 0;
  s.brightness = values[Brightness];
  s.contrast = values[Contrast];
  for (int step = 1; step <= kStepCount; ++step) {
    if (values[StepEnableIndex(step)] == 0) continue;
    s.steps[s.step_count++] = {values[StepShiftIndex(step)], values[StepLevelIndex(step)]};
  }
  return s;
}

}  // namespace tev
