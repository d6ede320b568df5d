// Canceller settings worked out from the demo's channel model (the steps
// never from the picture), through the product's own fit in estimate/.
#pragma once

#include <vector>

#include "demo/channel_model.h"
#include "estimate/channel_fit.h"

namespace tev::demo {

using estimate::ComposeSettingsFile;
using estimate::Headroom;
using estimate::PixelShift;
using estimate::PluginSettings;
using estimate::StepSetting;

// The model's impulse response on a line of `width` pixels.
estimate::Response ModelResponse(const ChannelModel& model, int width);

// The cascade d, 2d, 4d for the strongest echo of the model.
std::vector<StepSetting> CascadeSteps(const ChannelModel& model, int width, int max_steps = 3);
std::vector<StepSetting> FitSteps(const ChannelModel& model, int width, int max_steps = 8);
double PredictedResidualDb(const ChannelModel& model, int width, const std::vector<StepSetting>& steps);
// Room for the steps for every picture through the model and its gain control.
Headroom ChooseHeadroom(const ChannelModel& model, int width, const std::vector<StepSetting>& steps);
// The fitted steps with that room: the settings a user who knew the channel would set.
PluginSettings FittedSettings(const ChannelModel& model, int width);
// The same steps with their room traded on the received picture, as the
// estimator trades it, against the black level the model's gain control
// lifts: the reference a blind estimate is measured against.
PluginSettings FittedSettingsOn(const ChannelModel& model, const std::vector<uint8_t>& received, int width,
                                int height);

}  // namespace tev::demo
