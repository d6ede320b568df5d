#include "demo/tuning.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "processing/mul_div.h"

namespace tev::demo {
namespace {

constexpr int kMaxStepCount = 8;

// The gain the plugin applies for a level: MulDiv(|level|, 256, 100) / 256, signed.
double StepGain(int32_t level) {
  const double m = static_cast<double>(MulDivWide(std::abs(level), 256, 100)) / 256;
  return level < 0 ? -m : m;
}

int32_t LevelFor(double gain) {
  return static_cast<int32_t>(std::clamp(std::lround(gain * 100), -100L, 100L));
}

// Smallest positive setting that gives each pixel shift, for shifts 1..max.
std::map<int, int32_t> ReachableShifts(int width, int max_pixels) {
  std::map<int, int32_t> shifts;
  for (int32_t setting = 1; setting <= 1000; ++setting) {
    const int pixels = PixelShift(setting, width);
    if (pixels >= 1 && pixels <= max_pixels && !shifts.count(pixels)) shifts[pixels] = setting;
  }
  return shifts;
}

int32_t NearestSetting(const std::map<int, int32_t>& shifts, int pixels) {
  auto best = shifts.begin();
  for (auto it = shifts.begin(); it != shifts.end(); ++it)
    if (std::abs(it->first - pixels) < std::abs(best->first - pixels)) best = it;
  return best->second;
}

using Response = std::vector<double>;

Response ChannelResponse(const ChannelModel& model, int width) {
  Response h(1, 1.0);
  const std::vector<double> taps = SmearTaps(model.smear_taps);
  const int half = static_cast<int>(taps.size() / 2);
  for (const Echo& echo : model.echoes) {
    const int delay = EchoDelayPixels(echo, width);
    for (int t = 0; t < static_cast<int>(taps.size()); ++t) {
      const int at = delay + t - half;
      if (at < 0) continue;  // a smear reaching before the direct signal is cut off
      if (static_cast<int>(h.size()) <= at) h.resize(at + 1, 0.0);
      h[at] += echo.amplitude * taps[t];
    }
  }
  return h;
}

// y = x * (1 + gain z^-shift), the effect of one step on an impulse response.
Response ApplyStep(const Response& x, int shift, double gain) {
  Response y(x.size() + shift, 0.0);
  for (size_t k = 0; k < x.size(); ++k) {
    y[k] += x[k];
    y[k + shift] += gain * x[k];
  }
  return y;
}

double ResidualEnergy(const Response& y) {
  double e = 0;
  for (size_t k = 0; k < y.size(); ++k) {
    const double d = y[k] - (k == 0 ? 1.0 : 0.0);
    e += d * d;
  }
  return e;
}

const Echo* StrongestEcho(const ChannelModel& model) {
  const Echo* strongest = nullptr;
  for (const Echo& echo : model.echoes)
    if (!strongest || std::fabs(echo.amplitude) > std::fabs(strongest->amplitude)) strongest = &echo;
  return strongest;
}

}  // namespace

int32_t PixelShift(int32_t shift, int width) { return static_cast<int32_t>(MulDivWide(shift, width, 1000)); }

std::vector<StepSetting> CascadeSteps(const ChannelModel& model, int width, int max_steps) {
  std::vector<StepSetting> steps;
  const Echo* echo = StrongestEcho(model);
  if (!echo || width < 2) return steps;
  const int delay = EchoDelayPixels(*echo, width);
  const auto shifts = ReachableShifts(width, width - 1);
  if (shifts.empty() || delay < 1) return steps;
  double power = echo->amplitude;
  for (int k = 0; k < std::min(max_steps, kMaxStepCount); ++k) {
    const int pixels = delay << k;
    if (pixels >= width) break;
    const int32_t level = LevelFor(k == 0 ? -power : power);
    if (level == 0) break;
    steps.push_back({NearestSetting(shifts, pixels), level});
    power *= power;
  }
  return steps;
}

std::vector<StepSetting> FitSteps(const ChannelModel& model, int width, int max_steps) {
  max_steps = std::clamp(max_steps, 0, kMaxStepCount);
  std::vector<StepSetting> steps = CascadeSteps(model, width, max_steps);
  if (steps.empty()) return steps;
  int longest = 0;
  for (const Echo& echo : model.echoes) longest = std::max(longest, EchoDelayPixels(echo, width));
  const auto shifts = ReachableShifts(width, std::min(width - 1, 8 * longest + 8));
  while (static_cast<int>(steps.size()) < max_steps) steps.push_back({shifts.begin()->second, 0});

  const Response h = ChannelResponse(model, width);
  for (int pass = 0; pass < 8; ++pass) {
    bool changed = false;
    for (size_t i = 0; i < steps.size(); ++i) {
      // Everything but step i, then the best (shift, level) for step i: the
      // residual is quadratic in the step's gain for each shift.
      Response q = h;
      for (size_t j = 0; j < steps.size(); ++j)
        if (j != i) q = ApplyStep(q, PixelShift(steps[j].shift, width), StepGain(steps[j].level));
      double q_energy = 0;
      for (double v : q) q_energy += v * v;
      const double base = ResidualEnergy(q);
      StepSetting best = steps[i];
      double best_energy = ResidualEnergy(ApplyStep(q, PixelShift(best.shift, width), StepGain(best.level)));
      for (const auto& [pixels, setting] : shifts) {
        // <r, q shifted>, r = q - impulse
        double cross = 0;
        for (size_t k = pixels; k < q.size() + pixels; ++k) {
          const double r = k < q.size() ? q[k] - (k == 0 ? 1.0 : 0.0) : 0.0;
          cross += r * q[k - pixels];
        }
        const int32_t centre = LevelFor(-cross / q_energy);
        for (int32_t level = centre - 2; level <= centre + 2; ++level) {
          if (level < -100 || level > 100) continue;
          const double g = StepGain(level);
          const double energy = base + 2 * g * cross + g * g * q_energy;
          if (energy < best_energy - 1e-12) {
            best_energy = energy;
            best = {setting, level};
          }
        }
      }
      if (best.shift != steps[i].shift || best.level != steps[i].level) {
        steps[i] = best;
        changed = true;
      }
    }
    if (!changed) break;
  }
  // Keep the plugin's step order simple to read: by shift, then drop idle steps.
  std::stable_sort(steps.begin(), steps.end(), [](const StepSetting& a, const StepSetting& b) { return a.shift < b.shift; });
  steps.erase(std::remove_if(steps.begin(), steps.end(), [](const StepSetting& s) { return s.level == 0; }), steps.end());
  return steps;
}

Headroom ChooseHeadroom(const ChannelModel& model, int width, const std::vector<StepSetting>& steps) {
  const GainControl agc = ReceiverGain(model);
  // Range of each stage's output per unit of clean signal (0..1) and per unit
  // of the picture's lift, stage by stage through the steps.
  struct Stage {
    double low, high, dc;
  };
  std::vector<Stage> stages;
  Response p = ChannelResponse(model, width);
  double dc = 1;
  for (const StepSetting& step : steps) {
    const double g = StepGain(step.level);
    p = ApplyStep(p, PixelShift(step.shift, width), g);
    dc *= 1 + g;
    double low = 0, high = 0;
    for (double v : p) (v < 0 ? low : high) += v;
    stages.push_back({low * agc.gain, high * agc.gain, dc});
  }
  // The lift of the model itself (negative echoes) passes through the steps too.
  auto fits = [&](double gamma, double lift) {
    for (const Stage& s : stages) {
      const double offset = (agc.offset * gamma + lift) * s.dc;
      if (255 * gamma * s.low + offset < 0 || 255 * gamma * s.high + offset > 255) return false;
    }
    return true;
  };
  if (fits(1, 0)) return {};
  Headroom best{0, 0, false};
  double best_gamma = -1;
  for (int32_t contrast = 0; contrast >= -60; --contrast) {
    const int64_t gain = MulDivWide(contrast + 100, 512, 200);
    const double gamma = gain / 256.0;
    for (int32_t brightness = -60; brightness <= 60; ++brightness) {
      const int64_t offset = MulDivWide(brightness, 256, 100) - MulDivWide(static_cast<int32_t>(gain), 128, 256) +
                             MulDivWide(contrast, 512, 400) + 128;
      // The correction itself must not clip the received picture (0..255).
      if (offset < 0 || 255 * gain / 256 + offset > 255) continue;
      if (fits(gamma, static_cast<double>(offset)) && gamma > best_gamma) {
        best_gamma = gamma;
        best = {brightness, contrast, true};
      }
    }
    if (best_gamma > 0) break;  // the first contrast that works loses the least
  }
  return best;
}

double PredictedResidualDb(const ChannelModel& model, int width, const std::vector<StepSetting>& steps) {
  Response y = ChannelResponse(model, width);
  for (const StepSetting& step : steps) y = ApplyStep(y, PixelShift(step.shift, width), StepGain(step.level));
  const double e = ResidualEnergy(y);
  return e > 0 ? 10 * std::log10(e) : -200.0;
}

std::string ComposeSettingsFile(const PluginSettings& settings, int64_t channel_key, bool with_default) {
  std::string body;
  auto line = [&](const std::string& key, long long value) { body += key + "=" + std::to_string(value) + "\r\n"; };
  line("ProcEnable", settings.proc_enable ? 1 : 0);
  line("CorrEnable", settings.corr_enable ? 1 : 0);
  line("Brightness", settings.brightness);
  line("Contrast", settings.contrast);
  for (int n = 0; n < kMaxStepCount; ++n) {
    const bool used = n < static_cast<int>(settings.steps.size());
    const std::string prefix = "Step" + std::to_string(n + 1) + "_";
    line(prefix + "Enable", used ? 1 : 0);
    line(prefix + "Shift", used ? settings.steps[n].shift : 0);
    line(prefix + "Level", used ? settings.steps[n].level : 0);
  }
  std::string file = "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n";
  if (with_default) file += "[DEFAULT]\r\n" + body;
  file += "[" + std::to_string(channel_key) + "]\r\n" + body;
  return file;
}

}  // namespace tev::demo
