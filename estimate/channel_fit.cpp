#include "estimate/channel_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "processing/brightness_contrast.h"
#include "processing/echo_step.h"
#include "settings/settings_store.h"
#include "settings/settings_table.h"
#include "settings/settings_writer.h"

namespace tev::estimate {
namespace {

int32_t LevelFor(double gain) {
  return static_cast<int32_t>(std::clamp(std::lround(gain * 100), -100L, 100L));
}

// Smallest-magnitude setting that gives each pixel shift, for 1 <= |shift| <= max.
std::map<int, int32_t> ReachableShifts(int width, int max_pixels) {
  std::map<int, int32_t> shifts;
  for (int32_t setting = 1; setting <= 1000; ++setting) {
    const int pixels = PixelShift(setting, width);
    if (pixels >= 1 && pixels <= max_pixels && !shifts.count(pixels)) {
      shifts[pixels] = setting;
      shifts[-pixels] = -setting;  // the rounding is symmetric about zero
    }
  }
  return shifts;
}

int32_t NearestSetting(const std::map<int, int32_t>& shifts, int pixels) {
  auto best = shifts.begin();
  for (auto it = shifts.begin(); it != shifts.end(); ++it)
    if (std::abs(it->first - pixels) < std::abs(best->first - pixels)) best = it;
  return best->second;
}

double ResidualEnergy(const Response& y) {
  double e = 0;
  for (size_t i = 0; i < y.taps.size(); ++i) {
    const double d = y.taps[i] - (y.first + static_cast<int>(i) == 0 ? 1.0 : 0.0);
    e += d * d;
  }
  if (y.first > 0 || y.last() < 0) e += 1;  // the direct signal itself is missing
  return e;
}

// The strongest echo of `h`: the lag whose neighbourhood (a smear's width)
// holds the most, and that neighbourhood's sum.
void StrongestEcho(const Response& h, int& delay, double& amplitude) {
  delay = 0;
  amplitude = 0;
  for (int lag = h.first; lag <= h.last(); ++lag) {
    if (std::abs(lag) < 1) continue;
    double sum = 0;
    for (int k = lag - 2; k <= lag + 2; ++k)
      if (k != 0 && (k > 0) == (lag > 0)) sum += h.At(k);
    if (std::fabs(sum) > std::fabs(amplitude) + 1e-12 ||
        (std::fabs(sum) > std::fabs(amplitude) - 1e-12 && std::fabs(h.At(lag)) > std::fabs(h.At(delay)))) {
      delay = lag;
      amplitude = sum;
    }
  }
}

}  // namespace

double Response::At(int lag) const {
  const int i = lag - first;
  return i >= 0 && i < static_cast<int>(taps.size()) ? taps[i] : 0.0;
}

void Response::Add(int lag, double value) {
  if (lag < first) {
    taps.insert(taps.begin(), first - lag, 0.0);
    first = lag;
  }
  if (lag > last()) taps.resize(lag - first + 1, 0.0);
  taps[lag - first] += value;
}

Response ChannelResponse(const std::vector<EchoPath>& echoes) {
  Response h;
  for (const EchoPath& echo : echoes) {
    const int half = static_cast<int>(echo.smear.size() / 2);
    for (int t = 0; t < static_cast<int>(echo.smear.size()); ++t) h.Add(echo.delay + t - half, echo.amplitude * echo.smear[t]);
  }
  return h;
}

int32_t PixelShift(int32_t shift, int width) {
  return static_cast<int32_t>(DeriveEchoStepParams(width, shift, 0).pixel_shift);
}

double StepGain(int32_t level) {
  const EchoStepParams params = DeriveEchoStepParams(1, 0, level);
  const double m = static_cast<double>(params.gain) / 256;
  return params.subtract ? -m : m;
}

void StepLine(const double* in, double* out, int width, int shift, double gain) {
  // The samples whose copy comes from within the line, apart from the rest,
  // so that neither loop branches (each sum as before, + 0.0 included).
  const int lo = std::clamp(shift, 0, width), hi = std::clamp(width + shift, 0, width);
  for (int x = 0; x < lo; ++x) out[x] = in[x] + 0.0;
  for (int x = lo; x < hi; ++x) out[x] = in[x] + gain * in[x - shift];
  for (int x = std::max(lo, hi); x < width; ++x) out[x] = in[x] + 0.0;
}

Response ApplyStep(const Response& x, int shift, double gain) {
  Response y;
  y.first = std::min(x.first, x.first + shift);
  y.taps.assign(x.taps.size() + std::abs(shift), 0.0);
  for (size_t k = 0; k < x.taps.size(); ++k) {
    const int lag = x.first + static_cast<int>(k);
    y.taps[lag - y.first] += x.taps[k];
    y.taps[lag + shift - y.first] += gain * x.taps[k];
  }
  return y;
}

std::vector<StepSetting> CascadeSteps(int delay, double amplitude, int width, int max_steps) {
  std::vector<StepSetting> steps;
  if (width < 2 || delay == 0) return steps;
  const auto shifts = ReachableShifts(width, width - 1);
  if (shifts.empty()) return steps;
  double power = amplitude;
  for (int k = 0; k < std::min(max_steps, kStepCount); ++k) {
    const long long pixels = static_cast<long long>(delay) * (1LL << k);  // delays of both signs
    if (std::llabs(pixels) >= width) break;
    const int32_t level = LevelFor(k == 0 ? -power : power);
    if (level == 0) break;
    steps.push_back({NearestSetting(shifts, static_cast<int>(pixels)), level});
    power *= power;
  }
  return steps;
}

namespace {

// What is left of the channel `h` after `steps`, as energy off the impulse.
double ResidualAfter(const Response& h, int width, const std::vector<StepSetting>& steps) {
  Response y = h;
  for (const StepSetting& step : steps) y = ApplyStep(y, PixelShift(step.shift, width), StepGain(step.level));
  return ResidualEnergy(y);
}

}  // namespace

std::vector<StepSetting> MergeSplitSteps(const std::vector<StepSetting>& steps, int width) {
  std::map<int, std::vector<size_t>> at;  // pixel shift -> the steps there
  for (size_t i = 0; i < steps.size(); ++i) at[PixelShift(steps[i].shift, width)].push_back(i);
  if (at.size() == steps.size() || width < 2) return steps;
  // (1 + g1 z)(1 + g2 z) = 1 + (g1 + g2) z + g1 g2 z^2: the cross terms go to
  // the step at twice the shift.
  std::map<int, double> cross;
  std::vector<StepSetting> merged;
  for (size_t i = 0; i < steps.size(); ++i) {
    const int pixels = PixelShift(steps[i].shift, width);
    const std::vector<size_t>& same = at[pixels];
    if (same.front() != i) continue;
    if (same.size() == 1) {
      merged.push_back(steps[i]);
      continue;
    }
    double sum = 0, pairs = 0;
    for (size_t j : same) {
      const double g = StepGain(steps[j].level);
      pairs += sum * g;
      sum += g;
    }
    cross[2 * pixels] += pairs;
    if (LevelFor(sum) != 0) merged.push_back({steps[i].shift, LevelFor(sum)});
  }
  const auto shifts = ReachableShifts(width, width - 1);
  for (const auto& [pixels, gain] : cross) {
    auto term = std::find_if(merged.begin(), merged.end(),
                             [&](const StepSetting& s) { return PixelShift(s.shift, width) == pixels; });
    if (term != merged.end()) {
      term->level = LevelFor(StepGain(term->level) + gain);
      if (term->level == 0) merged.erase(term);
    } else if (LevelFor(gain) != 0 && std::abs(pixels) < width) {
      merged.push_back({NearestSetting(shifts, pixels), LevelFor(gain)});
    }
  }
  return merged;
}

std::vector<StepSetting> CompleteCascade(std::vector<StepSetting> steps, int width) {
  if (steps.empty() || width < 2) return steps;
  const StepSetting* strongest = &steps[0];
  for (const StepSetting& s : steps)
    if (std::abs(s.level) > std::abs(strongest->level)) strongest = &s;
  const int32_t first = PixelShift(strongest->shift, width);
  double gain = StepGain(strongest->level);
  auto at = [&](long long pixels) -> const StepSetting* {
    for (const StepSetting& s : steps)
      if (std::llabs(PixelShift(s.shift, width) - pixels) <= 1) return &s;
    return nullptr;
  };
  // The term at twice the shift must be there and near the square: else the
  // steps are not one echo's cascade (or a second echo shares the lag).
  const StepSetting* second = at(2LL * first);
  if (second == nullptr || first == 0 || std::fabs(gain) < 0.1) return steps;
  const double want = gain * gain, got = StepGain(second->level);
  if (got < 0.6 * want || got > 1.5 * want) return steps;
  // Every step must sit on the cascade (a smear spreads each term over a
  // few pixels): a second echo's steps make cross terms there that the
  // plain cascade does not know.
  for (const StepSetting& s : steps) {
    bool on_cascade = false;
    for (long long pixels = first; std::llabs(pixels) < 2LL * width; pixels *= 2)
      on_cascade |= std::llabs(PixelShift(s.shift, width) - pixels) <= 3;
    if (!on_cascade) return steps;
  }
  const auto shifts = ReachableShifts(width, width - 1);
  gain = got;
  for (long long pixels = 4LL * first; std::llabs(pixels) < width && static_cast<int>(steps.size()) < kStepCount; pixels *= 2) {
    gain *= gain;
    if (const StepSetting* s = at(pixels)) {
      gain = StepGain(s->level);
      continue;
    }
    const int32_t level = LevelFor(gain);
    if (level == 0) break;
    steps.push_back({NearestSetting(shifts, static_cast<int>(pixels)), level});
  }
  return steps;
}

namespace {

// Levels: a cascade term this weak may sit a pixel off its place.
constexpr int kWeakTerm = 2;
// Pixels: beyond this from a strong step a weak one is another echo's.
constexpr int kStrayReach = 6;

// The cascade terms' levels that cancel best what a lone echo `h` leaves
// after its own steps; `terms` index them in `steps`.
std::vector<StepSetting> ImpliedTerms(std::vector<StepSetting> steps, const std::vector<size_t>& terms,
                                      const Response& h, int width) {
  auto residual = [&](const std::vector<StepSetting>& trial) { return ResidualAfter(h, width, trial); };
  double best = residual(steps);
  for (int pass = 0; pass < 3; ++pass)
    for (size_t i : terms) {
      const int32_t was = steps[i].level;
      int32_t chosen = was;
      for (int32_t level = was - 3; level <= was + 3; ++level) {
        if (level == 0 || level < -100 || level > 100) continue;
        steps[i].level = level;
        const double e = residual(steps);
        if (e < best - 1e-12) best = e, chosen = level;
      }
      steps[i].level = chosen;
    }
  return steps;
}

}  // namespace

// The levels of a lone echo's cascade terms as the echo's own steps imply
// them: the criterion hardly tells a 3 % term at twice the shift from a 2 %
// one, while the echo's steps say which one is due (several steps at its
// shift make cross terms there of their own). A term that one level more or
// less on the echo's steps would imply stays: that level is as uncertain.
// Steps that are not one unsmeared echo's cascade (weak steps of another
// echo well away from it aside) are left as they are.
std::vector<StepSetting> SettleCascade(std::vector<StepSetting> steps, int width) {
  if (steps.size() < 2 || width < 2) return steps;
  size_t strongest = 0;
  for (size_t i = 0; i < steps.size(); ++i)
    if (std::abs(steps[i].level) > std::abs(steps[strongest].level)) strongest = i;
  const int first = PixelShift(steps[strongest].shift, width);
  if (first == 0) return steps;
  // The echo as its own steps cancel it.
  Response h;
  double echo = 0;
  for (const StepSetting& step : steps)
    if (PixelShift(step.shift, width) == first) echo -= StepGain(step.level);
  h.Add(first, echo);
  const std::vector<StepSetting> given = steps;
  std::vector<size_t> terms, moved;
  const auto shifts = ReachableShifts(width, width - 1);
  for (size_t i = 0; i < steps.size(); ++i) {
    const int pixels = PixelShift(steps[i].shift, width);
    if (pixels == first) continue;
    // A weak term a pixel off is the criterion fitting the picture's
    // texture there (a blind's -1 % a pixel past twice a -12 % echo, where
    // +1 % was due); it goes where the cascade puts it.
    long long due = 0;
    for (long long m = 2LL * first; std::llabs(m) < width; m *= 2)
      if (std::llabs(pixels - m) <= (std::abs(steps[i].level) <= kWeakTerm ? 1 : 0)) due = m;
    if (due == 0) {
      // A weak step well away from the echo is another one's, and makes no
      // term at the cascade's shifts; a smear or a stronger echo may.
      if (std::abs(steps[i].level) <= kWeakTerm && std::abs(pixels - first) > kStrayReach) continue;
      return given;
    }
    if (due != pixels) {
      const int32_t setting = NearestSetting(shifts, static_cast<int>(due));
      if (PixelShift(setting, width) != due) return given;
      steps[i].shift = setting;
      moved.push_back(i);
    }
    terms.push_back(i);
  }
  // A moved term must not meet another step there.
  for (size_t i : moved)
    for (size_t j = 0; j < steps.size(); ++j)
      if (j != i && PixelShift(steps[j].shift, width) == PixelShift(steps[i].shift, width)) return given;
  if (terms.empty() || std::fabs(echo) < 0.1) return given;
  const std::vector<StepSetting> implied = ImpliedTerms(steps, terms, h, width);
  std::vector<std::vector<StepSetting>> nearby;
  for (int delta : {-1, 1}) {
    std::vector<StepSetting> other = steps;
    other[strongest].level += delta;
    if (other[strongest].level == 0) continue;
    Response near = h;
    near.Add(first, StepGain(steps[strongest].level) - StepGain(other[strongest].level));
    nearby.push_back(ImpliedTerms(other, terms, near, width));
  }
  std::vector<size_t> off;
  for (size_t i : terms) {
    bool within = steps[i].level == implied[i].level;
    for (const auto& n : nearby) within |= steps[i].level == n[i].level;
    if (!within || std::find(moved.begin(), moved.end(), i) != moved.end()) off.push_back(i);
  }
  return off.empty() ? steps : ImpliedTerms(steps, off, h, width);
}

// A weak step (at most 2 %) a few pixels from one six times stronger is the
// picture's own likeness that the criterion fitted around the echo (grass,
// petals): a 2 % step 3 px beside a 17 % echo cost 8 dB. A smear's taps sit
// within 2 px of the nearest strong one with its sign; a weak step of the
// other sign that close is kept only where it offsets a weak smear tap beside it.
std::vector<StepSetting> DropStrays(const std::vector<StepSetting>& steps, int width) {
  constexpr int kWeakest = 2;       // levels: a stray is at most this
  constexpr int kStrongTimes = 6;   // a strong step is this many times the stray's level
  constexpr int kSmearReach = 2;    // pixels: a smear's taps lie this close
  std::vector<StepSetting> kept;
  for (const StepSetting& s : steps) {
    if (std::abs(s.level) > kWeakest) {
      kept.push_back(s);
      continue;
    }
    const int at = PixelShift(s.shift, width);
    auto strong = [&](const StepSetting& n) { return std::abs(n.level) >= kStrongTimes * std::abs(s.level); };
    // A cascade's next term (twice a strong step's shift, or the sum of two)
    // is due, however weak.
    bool cascade = false;
    for (const StepSetting& a : steps)
      for (const StepSetting& b : steps)
        cascade |= strong(a) && strong(b) && std::abs(PixelShift(a.shift, width) + PixelShift(b.shift, width) - at) <= 1;
    // The nearest strong step; one at the same pixel only trims its level.
    const StepSetting* nearest = nullptr;
    int distance = 0;
    bool trims = false;
    for (const StepSetting& n : steps) {
      if (!strong(n)) continue;
      const int d = std::abs(PixelShift(n.shift, width) - at);
      trims |= d == 0;
      if (d > 0 && (nearest == nullptr || d < distance)) nearest = &n, distance = d;
    }
    bool stray = false;
    if (!cascade && !trims && nearest != nullptr && distance <= kStrayReach) {
      stray = distance > kSmearReach;
      if ((nearest->level > 0) != (s.level > 0)) {
        // Of the other sign so close, it may offset a weak smear tap beside it.
        bool offsets = false;
        for (const StepSetting& p : steps)
          offsets |= &p != &s && std::abs(p.level) <= kWeakest && (p.level > 0) == (nearest->level > 0) &&
                     std::abs(PixelShift(p.shift, width) - at) <= 1 &&
                     PixelShift(p.shift, width) != PixelShift(nearest->shift, width);
        stray |= !offsets;
      }
    }
    if (!stray) kept.push_back(s);
  }
  return kept;
}

namespace {

// <r, q shifted by p>, r = q - impulse, for each p of `pixels`: only where
// the shifted copy overlaps q, since elsewhere every term is 0 but the
// impulse's, which lies outside only if q lacks lag 0. Four shifts' sums run
// side by side over the part all four overlap, each adding its terms in
// order (one sum alone waits on its own additions).
void OverlapCrosses(const Response& q, const std::vector<int>& pixels, std::vector<double>& crosses) {
  const int n = static_cast<int>(q.taps.size());
  const double* t = q.taps.data();
  constexpr int kSide = 4;
  for (size_t g = 0; g < pixels.size(); g += kSide) {
    const int count = static_cast<int>(std::min<size_t>(kSide, pixels.size() - g));
    int p[kSide], zero[kSide], lo[kSide], hi[kSide];
    double sum[kSide] = {};
    int common_lo = 0, common_hi = n;
    for (int j = 0; j < count; ++j) {
      p[j] = pixels[g + j];
      zero[j] = -q.first - p[j];  // the k whose lag is 0
      lo[j] = std::max(0, -p[j]);
      hi[j] = std::max(lo[j], std::min(n, n - p[j]));
      common_lo = std::max(common_lo, lo[j]);
      common_hi = std::min(common_hi, hi[j]);
    }
    auto term = [&](int j, int k) { return (t[k + p[j]] - (k == zero[j] ? 1.0 : 0.0)) * t[k]; };
    if (count < kSide || common_lo >= common_hi) {
      for (int j = 0; j < count; ++j)
        for (int k = lo[j]; k < hi[j]; ++k) sum[j] += term(j, k);
    } else {
      for (int j = 0; j < kSide; ++j)
        for (int k = lo[j]; k < common_lo; ++k) sum[j] += term(j, k);
      for (int k = common_lo; k < common_hi; ++k)
        for (int j = 0; j < kSide; ++j) sum[j] += term(j, k);
      for (int j = 0; j < kSide; ++j)
        for (int k = common_hi; k < hi[j]; ++k) sum[j] += term(j, k);
    }
    for (int j = 0; j < count; ++j) {
      if ((zero[j] < lo[j] || zero[j] >= hi[j]) && zero[j] >= 0 && zero[j] < n) sum[j] -= t[zero[j]];
      crosses[g + j] = sum[j];
    }
  }
}

}  // namespace

std::vector<StepSetting> FitSteps(const Response& h, int width, int max_steps) {
  max_steps = std::clamp(max_steps, 0, kStepCount);
  int delay = 0;
  double amplitude = 0;
  StrongestEcho(h, delay, amplitude);
  std::vector<StepSetting> steps = CascadeSteps(delay, amplitude, width, max_steps);
  if (steps.empty()) return steps;
  const int longest = std::max(std::abs(h.first), std::abs(h.last()));
  const auto shifts = ReachableShifts(width, std::min(width - 1, 8 * longest + 8));
  while (static_cast<int>(steps.size()) < max_steps) steps.push_back({shifts.rbegin()->second, 0});
  std::vector<int> shift_pixels;
  for (const auto& shift : shifts) shift_pixels.push_back(shift.first);
  std::vector<double> crosses(shift_pixels.size());

  for (int pass = 0; pass < 8; ++pass) {
    bool changed = false;
    for (size_t i = 0; i < steps.size(); ++i) {
      // Everything but step i, then the best (shift, level) for step i: the
      // residual is quadratic in the step's gain for each shift.
      Response q = h;
      for (size_t j = 0; j < steps.size(); ++j)
        if (j != i && steps[j].level != 0) q = ApplyStep(q, PixelShift(steps[j].shift, width), StepGain(steps[j].level));
      double q_energy = 0;
      for (double v : q.taps) q_energy += v * v;
      const double base = ResidualEnergy(q);
      StepSetting best = steps[i];
      double best_energy = ResidualEnergy(ApplyStep(q, PixelShift(best.shift, width), StepGain(best.level)));
      OverlapCrosses(q, shift_pixels, crosses);
      size_t at = 0;
      for (const auto& [pixels, setting] : shifts) {
        const double cross = crosses[at++];
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

double PredictedResidualDb(const Response& h, int width, const std::vector<StepSetting>& steps) {
  const double e = ResidualAfter(h, width, steps);
  return e > 0 ? 10 * std::log10(e) : -200.0;
}

std::vector<StageSpan> ModelSpans(const Response& h, double gain, double offset, int width,
                                  const std::vector<StepSetting>& steps) {
  std::vector<StageSpan> spans;
  Response p = h;
  double dc = 1;
  for (const StepSetting& step : steps) {
    const double g = StepGain(step.level);
    p = ApplyStep(p, PixelShift(step.shift, width), g);
    dc *= 1 + g;
    double low = 0, high = 0;
    for (double v : p.taps) (v < 0 ? low : high) += v;
    spans.push_back({255 * gain * low + offset * dc, 255 * gain * high + offset * dc, dc});
  }
  return spans;
}

Headroom ChooseHeadroom(const std::vector<StageSpan>& spans) {
  auto fits = [&](double gamma, double lift) {
    for (const StageSpan& s : spans)
      if (gamma * s.low + lift * s.dc < 0 || gamma * s.high + lift * s.dc > 255) return false;
    return true;
  };
  if (fits(1, 0)) return {};
  Headroom best{0, 0, false};
  double best_gamma = -1;
  for (int32_t contrast = 0; contrast >= -60; --contrast) {
    for (int32_t brightness = -60; brightness <= 60; ++brightness) {
      const LumaMap map = LumaMapFor(brightness, contrast);
      // The correction itself must not clip the received picture (0..255).
      if (map.offset < 0 || 255 * map.gain / 256 + map.offset > 255) continue;
      const double gamma = map.gain / 256.0;
      if (fits(gamma, static_cast<double>(map.offset)) && gamma > best_gamma) {
        best_gamma = gamma;
        best = {brightness, contrast, true};
      }
    }
    if (best_gamma > 0) break;  // the first contrast that works loses the least
  }
  return best;
}

void SettingsValues(const PluginSettings& settings, int32_t* values) {
  values[ProcEnable] = settings.proc_enable ? 1 : 0;
  values[CorrEnable] = settings.corr_enable ? 1 : 0;
  values[Brightness] = settings.brightness;
  values[Contrast] = settings.contrast;
  for (int n = 1; n <= kStepCount; ++n) {
    const bool used = n <= static_cast<int>(settings.steps.size());
    values[StepEnableIndex(n)] = used ? 1 : 0;
    values[StepShiftIndex(n)] = used ? settings.steps[n - 1].shift : 0;
    values[StepLevelIndex(n)] = used ? settings.steps[n - 1].level : 0;
  }
}

StageSettings StagesOf(const PluginSettings& settings) {
  int32_t values[kSettingCount];
  SettingsValues(settings, values);
  return StageSettingsFromValues(values);
}

namespace {

void WriteValues(SettingsWriter& writer, const PluginSettings& settings) {
  ChannelSettings record{};
  SettingsValues(settings, record.Values);
  const auto rows = SettingsTableFor(record);
  writer.WriteSettingsTable(rows.data(), rows.size());
}

std::string TextOf(const SettingsWriter& writer) { return std::string(writer.Buffer().Text()); }

}  // namespace

std::string ComposeChannelSection(const PluginSettings& settings, int64_t channel_key) {
  SettingsWriter writer;
  writer.WriteChannelHeader(channel_key);
  WriteValues(writer, settings);
  return TextOf(writer);
}

std::string ComposeSettingsFile(const PluginSettings& settings, int64_t channel_key, bool with_default) {
  SettingsWriter writer;
  writer.WriteSectionHeader(kDialogSection);
  writer.WriteInt32(kDialogPosXKey, kNoDialogPosition);
  writer.WriteInt32(kDialogPosYKey, kNoDialogPosition);
  if (with_default) {
    writer.WriteSectionHeader(kDefaultSection);
    WriteValues(writer, settings);
  }
  return TextOf(writer) + ComposeChannelSection(settings, channel_key);
}

}  // namespace tev::estimate
