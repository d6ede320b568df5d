// A multipath channel: delayed, smeared copies of the luma along each line,
// as a reflected signal reaches a TV set, with a receiver's gain control that
// keeps the sum in range.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tev::demo {

struct Echo {
  double delay_percent;  // of the line width; the copy arrives this far to the right (left when negative)
  double amplitude;      // signed, relative to the direct signal
};

struct ChannelModel {
  std::vector<Echo> echoes;
  int smear_taps = 3;  // 1 (none), 3 ([1 2 1]/4) or 5 ([1 4 6 4 1]/16): the reflected path's low-pass
};

// "2.5:0.3" or "2.5:+30%": delay in percent of the line, then the amplitude.
// Throws std::invalid_argument on anything else.
Echo ParseEcho(const std::string& text);
std::string DescribeModel(const ChannelModel& model);

// Delay of an echo in whole pixels for a line of `width` pixels.
int EchoDelayPixels(const Echo& echo, int width);

// The receiver's gain and offset: the sum of the direct signal and every
// echo, each worst case, maps onto 0..255 without clipping.
struct GainControl {
  double gain;
  double offset;
};
GainControl ReceiverGain(const ChannelModel& model);

// Applies the channel to every line of a luma plane (width x height bytes).
// Before the line start and after its end the signal is at black (blanking).
std::vector<uint8_t> ApplyChannel(const ChannelModel& model, const std::vector<uint8_t>& luma, int width,
                                  int height);

// The same on a YUY2 frame: luma through the channel, chroma only scaled by
// the receiver's gain.
void ApplyChannelYuy2(const ChannelModel& model, std::vector<uint8_t>& yuy2, int width, int height);

// The smear's taps, centred, summing to 1.
std::vector<double> SmearTaps(int taps);

}  // namespace tev::demo
