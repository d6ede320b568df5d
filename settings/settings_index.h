// Where each of the 28 live settings sits in ActiveSettings.
#pragma once

namespace tev {

constexpr int kSettingCount = 28;
constexpr int kStepCount = 8;

enum SettingIndex : int {
  ProcEnable = 0,
  CorrEnable = 1,
  Brightness = 2,
  Contrast = 3,
};

// Steps are numbered 1..8.
constexpr int StepEnableIndex(int step) { return 4 + 3 * (step - 1); }
constexpr int StepShiftIndex(int step) { return 5 + 3 * (step - 1); }
constexpr int StepLevelIndex(int step) { return 6 + 3 * (step - 1); }

}  // namespace tev
