// Canceller settings from an impulse response: the shifts and levels of up to
// eight echo steps, the pre-correction that gives them room, and the settings
// text that carries them. Used by the demo (a known channel model) and by the
// blind estimator (a channel measured on the picture).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "processing/stage_settings.h"

namespace tev::estimate {

using StepSetting = EchoStepSetting;

// An impulse response on whole pixels: taps[i] is the response at lag
// first + i. Lag 0 is the direct signal; lags below 0 arrive ahead of it.
struct Response {
  int first = 0;
  std::vector<double> taps{1.0};

  double At(int lag) const;
  void Add(int lag, double value);
  int last() const { return first + static_cast<int>(taps.size()) - 1; }
};

// One echo path: a copy `delay` pixels later (earlier when negative), scaled
// by `amplitude` and spread by centred `smear` taps that sum to 1.
struct EchoPath {
  int delay = 0;
  double amplitude = 0;
  std::vector<double> smear{1.0};
};
Response ChannelResponse(const std::vector<EchoPath>& echoes);

// The plugin's own derivations for one step (DeriveEchoStepParams): the pixel
// shift of a Shift setting and the signed gain of a Level.
int32_t PixelShift(int32_t shift, int width);
double StepGain(int32_t level);

// y = x * (1 + gain z^-shift): one step's effect on a response.
Response ApplyStep(const Response& x, int pixel_shift, double gain);
// The same step on a line of `width` values in exact arithmetic: out = in +
// gain * in shifted by `shift` pixels, a source outside the line adding nothing.
void StepLine(const double* in, double* out, int width, int shift, double gain);

// The classic cascade for one echo (delay d, amplitude a): steps at d, 2d,
// 4d, ... with levels -a, +a^2, +a^4, ... while a level rounds to at least
// 1 %. It removes an unsmeared echo up to a remainder of a^(2^n).
std::vector<StepSetting> CascadeSteps(int delay, double amplitude, int width, int max_steps = 3);

// Steps that cancel one echo by its cascade, refined on a picture, may stop
// a term short: a level refined up from a weaker first estimate leaves the
// next term (+level^2 at twice the shift) unfitted. When the strongest step
// and its term at twice the shift read as one cascade, the missing terms that
// still round to a level are added, while there is a free step.
std::vector<StepSetting> CompleteCascade(std::vector<StepSetting> steps, int width);

// Several steps at one shift as one step, their cross terms moved to the
// step at twice the shift: the same product in fewer steps, which leaves
// room for a cascade's further terms.
std::vector<StepSetting> MergeSplitSteps(const std::vector<StepSetting>& steps, int width);

// Steps that cancel one unsmeared echo by its cascade: each term at 2, 4, ...
// times the echo's shift set to the level the echo's own steps imply, unless
// one level more or less on those steps would imply the term as it is. A
// weak term (at most 2 %) a pixel off its place is moved there and set; a
// weak step well away from the echo is another one's and stays as it is.
std::vector<StepSetting> SettleCascade(std::vector<StepSetting> steps, int width);

// `steps` without the weak ones (at most 2 %) that sit a few pixels from a
// strong step and belong neither to its smear nor to a cascade.
std::vector<StepSetting> DropStrays(const std::vector<StepSetting>& steps, int width);

// Up to `max_steps` steps fitted to `h` by coordinate descent over every
// reachable shift (both signs) and level, levels quantised as the plugin
// scales them. Starts from the cascade of the strongest echo in `h`, so it is
// never worse than that cascade.
std::vector<StepSetting> FitSteps(const Response& h, int width, int max_steps = 8);

// Energy of what the steps leave of the echoes, relative to the direct signal,
// in dB, for a white signal.
double PredictedResidualDb(const Response& h, int width, const std::vector<StepSetting>& steps);

// The range of the received picture after each step, with no correction and
// no clipping, and the steps' gain for a constant so far.
struct StageSpan {
  double low, high, dc;
};
// The spans for every picture through a channel whose output the receiver's
// gain control maps as y = gain * (h * x) + offset, x in 0..255.
std::vector<StageSpan> ModelSpans(const Response& h, double gain, double offset, int width,
                                  const std::vector<StepSetting>& steps);

// Brightness and contrast that give the steps room: a step that subtracts can
// dip below black (or one that adds rise above white) before the next one
// restores the picture. The first contrast (from 0 down) for which some
// brightness keeps every stage inside 0..255 loses the least; (0, 0) when the
// steps never leave the range.
struct Headroom {
  int32_t brightness = 0;
  int32_t contrast = 0;
  bool clip_free = true;  // false when no setting avoids every clip
};
Headroom ChooseHeadroom(const std::vector<StageSpan>& spans);

struct PluginSettings {
  bool proc_enable = true;
  bool corr_enable = true;  // with brightness and contrast 0 the correction changes nothing
  int32_t brightness = 0;
  int32_t contrast = 0;
  std::vector<StepSetting> steps;  // at most 8, all enabled
};

// The 28 values in the order of the settings table.
void SettingsValues(const PluginSettings& settings, int32_t* values);
// What the stages of one frame read for these settings.
StageSettings StagesOf(const PluginSettings& settings);

// One channel's section, "[key]" line included, as the plugin writes it.
std::string ComposeChannelSection(const PluginSettings& settings, int64_t channel_key);
// A whole settings file: the dialog section, then, when asked, the same
// values as "DEFAULT", then the channel's section; CR LF line ends.
std::string ComposeSettingsFile(const PluginSettings& settings, int64_t channel_key, bool with_default);

}  // namespace tev::estimate
