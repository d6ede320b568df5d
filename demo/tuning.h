// Canceller settings worked out from a channel model alone (never from the
// picture): the shifts and levels of up to eight echo steps, and the settings
// file section that carries them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "demo/channel_model.h"

namespace tev::demo {

struct StepSetting {
  int32_t shift;  // tenths of a percent of the line width
  int32_t level;  // percent, negative subtracts
};

// The classic cascade for the strongest echo (delay d, amplitude a): steps at
// d, 2d, 4d, ... with levels -a, +a^2, +a^4, ... while a level rounds to at
// least 1 %. It removes an unsmeared echo up to a remainder of a^(2^n).
std::vector<StepSetting> CascadeSteps(const ChannelModel& model, int width, int max_steps = 3);

// Up to `max_steps` steps fitted to the channel's impulse response (smear
// included) by coordinate descent over every reachable shift and level, with
// the levels quantised exactly as the plugin scales them. Starts from the
// cascade, so it is never worse than it on the model.
std::vector<StepSetting> FitSteps(const ChannelModel& model, int width, int max_steps = 8);

// Energy of what the steps leave of the echoes, relative to the direct signal,
// in dB, for a white signal (the model's own figure, before any picture).
double PredictedResidualDb(const ChannelModel& model, int width, const std::vector<StepSetting>& steps);

// The plugin's pixel shift for a setting (tenths of a percent of the line).
int32_t PixelShift(int32_t shift, int width);

struct PluginSettings {
  bool proc_enable = true;
  bool corr_enable = true;  // with brightness and contrast 0 the correction changes nothing
  int32_t brightness = 0;
  int32_t contrast = 0;
  std::vector<StepSetting> steps;  // at most 8, all enabled
};

// Brightness and contrast for the pre-correction that give the steps room:
// the AGC fills 0..255, and a step that subtracts can dip below black (or one
// that adds rise above white) before the next step restores it. Chosen so that
// no stage clips for any picture through the model, with the least loss of
// contrast; (0, 0) when the steps never leave the range.
struct Headroom {
  int32_t brightness = 0;
  int32_t contrast = 0;
  bool clip_free = true;  // false when no setting avoids every clip
};
Headroom ChooseHeadroom(const ChannelModel& model, int width, const std::vector<StepSetting>& steps);

// A settings file with one section for `channel_key` and, when asked, the
// same values as "DEFAULT"; CR LF line ends as the plugin writes them.
std::string ComposeSettingsFile(const PluginSettings& settings, int64_t channel_key, bool with_default);

}  // namespace tev::demo
