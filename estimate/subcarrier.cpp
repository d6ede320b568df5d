#include "estimate/subcarrier.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace tev::estimate {
namespace {

// The spectrum is read in windows of this many pixels (three along a
// 720-pixel line), at bins of 1/256 cycle a pixel.
constexpr int kWindow = 256;
constexpr int kBins = 256;
constexpr double kLowest = 0.15, kHighest = 0.47;
// Lines read: at most this many groups of three a plane, from at most this
// many planes.
constexpr int kMaxGroups = 48;
constexpr size_t kMaxPlanes = 4;
// A carrier stands this far above the median of the spectrum within this
// many bins either side (photographs at most 2.2, the test card 2.6)...
constexpr double kMinProminence = 4.0;
constexpr int kNeighbourhood = 12;
// ... and is in opposite phase one line on (NTSC's half cycle a line) or
// two (PAL's three quarters a line, V switched), where a picture's own fine
// structure keeps its phase down the picture (the test card's gratings: 0.9
// and more in phase).
constexpr double kMinOpposition = 0.25;
// The notch's pole radius: about 0.03 cycle a pixel wide, as a carrier that
// the colours modulate spreads.
constexpr double kNotchRadius = 0.9;

}  // namespace

Subcarrier FindSubcarrier(const std::vector<const uint8_t*>& planes, int width, int height) {
  Subcarrier result;
  if (width < kWindow + 2 || height < 2 || planes.empty()) return result;
  const double pi = std::acos(-1.0);
  const int first = static_cast<int>(std::ceil(kLowest * kBins)), last = static_cast<int>(kHighest * kBins);
  const int bins = last - first + 1;
  // Windows spread over the line's derivative, overlapping as they must.
  const int span = width - 1, windows = (span + kWindow - 1) / kWindow;
  std::vector<int> starts;
  for (int i = 0; i < windows; ++i)
    starts.push_back(windows == 1 ? 0 : static_cast<int>(static_cast<long long>(span - kWindow) * i / (windows - 1)));
  std::vector<double> hann(kWindow);
  for (int x = 0; x < kWindow; ++x) hann[x] = 0.5 - 0.5 * std::cos(2 * pi * (x + 0.5) / kWindow);
  // The windowed transform of one line at every bin, window by window, from
  // a table of the window times each bin's turns.
  std::vector<std::complex<double>> table(static_cast<size_t>(bins) * kWindow);
  for (int b = 0; b < bins; ++b)
    for (int x = 0; x < kWindow; ++x) table[static_cast<size_t>(b) * kWindow + x] = std::polar(hann[x], -2 * pi * (first + b) * x / kBins);
  std::vector<double> slope(kWindow);
  auto transform = [&](const uint8_t* line, std::vector<std::complex<double>>& out) {
    out.assign(static_cast<size_t>(bins) * starts.size(), {});
    for (size_t w = 0; w < starts.size(); ++w) {
      for (int x = 0; x < kWindow; ++x) slope[x] = static_cast<double>(line[starts[w] + x + 1]) - line[starts[w] + x];
      for (int b = 0; b < bins; ++b) {
        const std::complex<double>* turns = &table[static_cast<size_t>(b) * kWindow];
        double re = 0, im = 0;
        for (int x = 0; x < kWindow; ++x) re += slope[x] * turns[x].real(), im += slope[x] * turns[x].imag();
        out[w * bins + b] = {re, im};
      }
    }
  };
  std::vector<double> power(bins, 0.0);
  std::vector<double> next(bins, 0.0), after(bins, 0.0);  // the real cross-spectra at one and two lines
  std::vector<std::complex<double>> d0, d1, d2;
  const int groups = std::min(kMaxGroups, height / 3);
  for (size_t p = 0; p < std::min(planes.size(), kMaxPlanes); ++p)
    for (int i = 0; i < groups; ++i) {
      // Groups start on even lines, so that a carrier's step that alternates
      // line by line (PAL's switched V) is read alike in every group.
      const int y = 2 * static_cast<int>(static_cast<long long>((height - 3) / 2) * i / std::max(1, groups - 1));
      const uint8_t* line = planes[p] + static_cast<size_t>(y) * width;
      transform(line, d0);
      transform(line + width, d1);
      transform(line + 2 * static_cast<size_t>(width), d2);
      for (size_t k = 0; k < d0.size(); ++k) {
        const size_t b = k % bins;
        power[b] += (std::norm(d0[k]) + std::norm(d1[k]) + std::norm(d2[k])) / 3;
        next[b] += (d0[k] * std::conj(d1[k])).real();
        after[b] += (d0[k] * std::conj(d2[k])).real();
      }
    }
  for (int b = 0; b < bins; ++b) {
    std::vector<double> around;
    for (int n = std::max(0, b - kNeighbourhood); n <= std::min(bins - 1, b + kNeighbourhood); ++n) around.push_back(power[n]);
    std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
    const double median = around[around.size() / 2];
    if (!(median > 0)) continue;
    const double prominence = power[b] / median;
    if (prominence <= result.prominence) continue;
    result.prominence = prominence;
    result.frequency = static_cast<double>(first + b) / kBins;
    result.next_line = next[b] / power[b];
    result.line_after = after[b] / power[b];
    result.found = prominence >= kMinProminence && std::min(result.next_line, result.line_after) < -kMinOpposition;
  }
  return result;
}

void NotchSubcarrier(uint8_t* plane, int width, int height, double frequency) {
  if (width < 3) return;
  const double c = 2 * std::cos(2 * std::acos(-1.0) * frequency), r = kNotchRadius;
  const double gain = (1 - r * c + r * r) / (2 - c);  // unity at DC
  std::vector<double> v(width);
  for (int y = 0; y < height; ++y) {
    uint8_t* line = plane + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) v[x] = line[x];
    // Forward, then backward: no shift along the line. The filter starts as
    // if the line's end value had always been there.
    for (int pass = 0; pass < 2; ++pass) {
      double x1 = v[0], x2 = v[0], y1 = v[0], y2 = v[0];
      for (int x = 0; x < width; ++x) {
        const double out = gain * (v[x] - c * x1 + x2) + r * c * y1 - r * r * y2;
        x2 = x1, x1 = v[x], y2 = y1, y1 = out;
        v[x] = out;
      }
      std::reverse(v.begin(), v.end());
    }
    for (int x = 0; x < width; ++x) line[x] = static_cast<uint8_t>(std::clamp(std::lround(v[x]), 0L, 255L));
  }
}

}  // namespace tev::estimate
