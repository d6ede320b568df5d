#include "demo/channel_model.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace tev::demo {

Echo ParseEcho(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) throw std::invalid_argument("echo '" + text + "': expected DELAY%:AMPLITUDE");
  std::string delay = text.substr(0, colon), amplitude = text.substr(colon + 1);
  if (!delay.empty() && delay.back() == '%') delay.pop_back();
  bool percent = false;
  if (!amplitude.empty() && amplitude.back() == '%') {
    amplitude.pop_back();
    percent = true;
  }
  size_t used_delay = 0, used_amplitude = 0;
  Echo echo{};
  try {
    echo.delay_percent = std::stod(delay, &used_delay);
    echo.amplitude = std::stod(amplitude, &used_amplitude);
  } catch (const std::exception&) {
    throw std::invalid_argument("echo '" + text + "': expected numbers, e.g. 2.5:0.3 or 2.5:+30%");
  }
  if (used_delay != delay.size() || used_amplitude != amplitude.size())
    throw std::invalid_argument("echo '" + text + "': expected numbers, e.g. 2.5:0.3 or 2.5:+30%");
  if (percent) echo.amplitude /= 100;
  // A negative delay is a ghost ahead of the picture (a pre-echo).
  if (!(echo.delay_percent != 0 && std::fabs(echo.delay_percent) < 50))
    throw std::invalid_argument("echo '" + text + "': the delay must lie between -50 and 50 % of the line, not 0");
  if (!(std::fabs(echo.amplitude) < 1)) throw std::invalid_argument("echo '" + text + "': |amplitude| must be below 1");
  return echo;
}

std::string DescribeModel(const ChannelModel& model) {
  std::string text;
  for (const Echo& echo : model.echoes) {
    char part[64];
    std::snprintf(part, sizeof part, "%secho %.2f %% of the line at %+.0f %%", text.empty() ? "" : ", ",
                  echo.delay_percent, echo.amplitude * 100);
    text += part;
  }
  text += model.smear_taps > 1 ? ", " + std::to_string(model.smear_taps) + "-tap smear" : ", no smear";
  return text;
}

int EchoDelayPixels(const Echo& echo, int width) {
  return static_cast<int>(std::lround(echo.delay_percent / 100.0 * width));
}

GainControl ReceiverGain(const ChannelModel& model) {
  double up = 1, down = 0;
  for (const Echo& echo : model.echoes) (echo.amplitude > 0 ? up : down) += std::fabs(echo.amplitude);
  // The sum ranges over [-255 down, 255 up]: scale that span onto 0..255.
  const double gain = 1 / (up + down);
  return {gain, 255 * down * gain};
}

std::vector<double> SmearTaps(int taps) {
  if (taps >= 5) return {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0};
  if (taps >= 3) return {0.25, 0.5, 0.25};
  return {1.0};
}

std::vector<uint8_t> ApplyChannel(const ChannelModel& model, const std::vector<uint8_t>& luma, int width,
                                  int height) {
  const GainControl agc = ReceiverGain(model);
  const std::vector<double> taps = SmearTaps(model.smear_taps);
  const int half = static_cast<int>(taps.size() / 2);
  std::vector<uint8_t> out(luma.size());
  std::vector<double> line(width);
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = &luma[static_cast<size_t>(y) * width];
    auto at = [&](int x) { return x < 0 || x >= width ? 0.0 : double(in[x]); };
    for (int x = 0; x < width; ++x) line[x] = in[x];
    for (const Echo& echo : model.echoes) {
      const int delay = EchoDelayPixels(echo, width);
      for (int x = 0; x < width; ++x) {
        double smeared = 0;
        for (int t = 0; t < static_cast<int>(taps.size()); ++t) smeared += taps[t] * at(x - delay + t - half);
        line[x] += echo.amplitude * smeared;
      }
    }
    uint8_t* o = &out[static_cast<size_t>(y) * width];
    for (int x = 0; x < width; ++x) {
      const long v = std::lround(line[x] * agc.gain + agc.offset);
      o[x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
  return out;
}

void ApplyChannelYuy2(const ChannelModel& model, std::vector<uint8_t>& yuy2, int width, int height) {
  const size_t pixels = static_cast<size_t>(width) * height;
  std::vector<uint8_t> luma(pixels);
  for (size_t i = 0; i < pixels; ++i) luma[i] = yuy2[2 * i];
  luma = ApplyChannel(model, luma, width, height);
  // The gain control scales the whole signal, colour included; the echo of
  // the colour is left out, as the canceller works on luma only.
  const double gain = ReceiverGain(model).gain;
  for (size_t i = 0; i < pixels; ++i) {
    yuy2[2 * i] = luma[i];
    yuy2[2 * i + 1] = static_cast<uint8_t>(std::lround(128 + gain * (yuy2[2 * i + 1] - 128)));
  }
}

}  // namespace tev::demo
