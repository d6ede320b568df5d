#include "demo/tuning.h"

#include <cmath>

#include "estimate/black_level.h"

namespace tev::demo {

estimate::Response ModelResponse(const ChannelModel& model, int width) {
  std::vector<estimate::EchoPath> paths;
  for (const Echo& echo : model.echoes) {
    std::vector<double> smear = SmearTaps(model.smear_taps);
    // A smear that would reach back before the direct signal is cut off.
    const int delay = EchoDelayPixels(echo, width);
    const int half = static_cast<int>(smear.size() / 2);
    for (int t = 0; t < static_cast<int>(smear.size()); ++t)
      if (delay > 0 && delay + t - half < 0) smear[t] = 0;
    paths.push_back({delay, echo.amplitude, smear});
  }
  return estimate::ChannelResponse(paths);
}

std::vector<StepSetting> CascadeSteps(const ChannelModel& model, int width, int max_steps) {
  const Echo* strongest = nullptr;
  for (const Echo& echo : model.echoes)
    if (!strongest || std::fabs(echo.amplitude) > std::fabs(strongest->amplitude)) strongest = &echo;
  if (!strongest) return {};
  return estimate::CascadeSteps(EchoDelayPixels(*strongest, width), strongest->amplitude, width, max_steps);
}

std::vector<StepSetting> FitSteps(const ChannelModel& model, int width, int max_steps) {
  return estimate::FitSteps(ModelResponse(model, width), width, max_steps);
}

double PredictedResidualDb(const ChannelModel& model, int width, const std::vector<StepSetting>& steps) {
  return estimate::PredictedResidualDb(ModelResponse(model, width), width, steps);
}

Headroom ChooseHeadroom(const ChannelModel& model, int width, const std::vector<StepSetting>& steps) {
  const GainControl agc = ReceiverGain(model);
  return estimate::ChooseHeadroom(estimate::ModelSpans(ModelResponse(model, width), agc.gain, agc.offset, width, steps));
}

PluginSettings FittedSettings(const ChannelModel& model, int width) {
  PluginSettings fit;
  fit.steps = FitSteps(model, width);
  const Headroom room = ChooseHeadroom(model, width, fit.steps);
  fit.brightness = room.brightness;
  fit.contrast = room.contrast;
  return fit;
}

PluginSettings FittedSettingsOn(const ChannelModel& model, const std::vector<uint8_t>& received, int width,
                                int height) {
  PluginSettings fit = FittedSettings(model, width);
  const estimate::Arrangement arranged = estimate::ArrangeSteps(received.data(), width, height, fit.steps,
                                                                ReceiverGain(model).offset,
                                                                {fit.brightness, fit.contrast, true});
  fit.steps = arranged.steps;
  fit.brightness = arranged.room.brightness;
  fit.contrast = arranged.room.contrast;
  return fit;
}

}  // namespace tev::demo
