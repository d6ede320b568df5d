#include "estimate/black_level.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <tuple>
#include <utility>

#include "processing/brightness_contrast.h"

namespace tev::estimate {
namespace {

// Bands whose jumps make less than this together are not read.
constexpr double kMinBandJump = 0.02;

struct ActiveStep {
  int shift;
  double gain;
};

// The steps the plugin applies: a shift off the line or a zero gain does nothing.
std::vector<ActiveStep> ActiveSteps(const std::vector<StepSetting>& steps, int width) {
  std::vector<ActiveStep> active;
  for (const StepSetting& s : steps) {
    const int shift = PixelShift(s.shift, width);
    const double gain = StepGain(s.level);
    if (gain != 0 && shift < width && shift > -width) active.push_back({shift, gain});
  }
  return active;
}

void Step(const std::vector<double>& in, std::vector<double>& out, const ActiveStep& s) {
  StepLine(in.data(), out.data(), static_cast<int>(in.size()), s.shift, s.gain);
}

// What the steps make of a constant 1 on the line, after each step (index 0
// is the constant itself): the shape of the bands a black level leaves.
std::vector<std::vector<double>> Patterns(const std::vector<ActiveStep>& steps, int width) {
  std::vector<std::vector<double>> p(1, std::vector<double>(width, 1.0));
  for (const ActiveStep& s : steps) {
    p.emplace_back(width);
    Step(p[p.size() - 2], p.back(), s);
  }
  return p;
}

double Median(std::vector<double>& v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// Ascending, as std::sort leaves them, by a radix sort of their bits: the
// room's search sorts every stage's values, and comparison sorts took a
// fifth of an estimate's time. Equal values have equal bits, so the order is
// the same (but for -0 before 0, which sum alike).
void SortValues(std::vector<double>& v) {
  constexpr int kDigit = 11;
  constexpr uint64_t kMask = (uint64_t{1} << kDigit) - 1, kSign = uint64_t{1} << 63;
  const size_t n = v.size();
  if (n < 256) {
    std::sort(v.begin(), v.end());
    return;
  }
  // Negative values' bits count down: flipped, every key orders as its value.
  std::vector<uint64_t> keys(n), spare(n);
  for (size_t i = 0; i < n; ++i) {
    uint64_t bits;
    std::memcpy(&bits, &v[i], sizeof bits);
    keys[i] = bits & kSign ? ~bits : bits | kSign;
  }
  std::vector<size_t> start(kMask + 2);
  for (int shift = 0; shift < 64; shift += kDigit) {
    std::fill(start.begin(), start.end(), 0);
    for (uint64_t k : keys) ++start[((k >> shift) & kMask) + 1];
    if (std::find(start.begin(), start.end(), n) != start.end()) continue;  // one digit for all
    for (size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
    for (uint64_t k : keys) spare[start[(k >> shift) & kMask]++] = k;
    keys.swap(spare);
  }
  for (size_t i = 0; i < n; ++i) {
    const uint64_t bits = keys[i] & kSign ? keys[i] & ~kSign : ~keys[i];
    std::memcpy(&v[i], &bits, sizeof bits);
  }
}

// The values of one stage on the sampled lines that share one band level,
// sorted, with running sums: clipping at any level then costs a search.
struct Sorted {
  double band;  // the stage's band level for these pixels
  std::vector<double> u, s1, s2;  // values, running sums of u and u^2 (s1[i] over u[0..i))

  void Finish() {
    SortValues(u);
    s1.assign(u.size() + 1, 0);
    s2.assign(u.size() + 1, 0);
    for (size_t i = 0; i < u.size(); ++i) {
      s1[i + 1] = s1[i] + u[i];
      s2[i + 1] = s2[i] + u[i] * u[i];
    }
  }
  // Where the search for a bound last ended: the room's search moves it
  // a little at a time, and a search over all values missed the cache.
  mutable size_t low_hint = 0, high_hint = 0;

  // Energy outside 0..255 of k * u + q.
  double Clipped(double k, double q) const {
    const size_t n = u.size();
    const double below = -q / k, above = (255 - q) / k;
    const size_t low = low_hint = BoundNear(low_hint, [below](double v) { return v < below; });
    const size_t high = high_hint = BoundNear(high_hint, [above](double v) { return !(above < v); });
    auto energy = [&](size_t from, size_t to, double c) {
      const double count = static_cast<double>(to - from), a = s1[to] - s1[from], b = s2[to] - s2[from];
      return k * k * b + 2 * k * c * a + c * c * count;
    };
    return energy(0, low, q) + (high < n ? energy(high, n, q - 255) : 0.0);
  }

  // The first value that `before` does not take (as std::partition_point),
  // searched outward from `hint`.
  template <typename Before>
  size_t BoundNear(size_t hint, Before before) const {
    const size_t n = u.size();
    size_t lo = std::min(hint, n), hi = lo;  // the bound is widened into [lo, hi]
    for (size_t step = 1; lo > 0 && !before(u[lo - 1]); step *= 2) {
      hi = lo - 1;
      lo = lo - 1 > step ? lo - 1 - step : 0;
    }
    for (size_t step = 1; hi < n && before(u[hi]); step *= 2) {
      lo = hi + 1;
      hi = std::min(n, hi + 1 + step);
    }
    return static_cast<size_t>(std::partition_point(u.begin() + static_cast<ptrdiff_t>(lo),
                                                    u.begin() + static_cast<ptrdiff_t>(hi), before) -
                               u.begin());
  }
};

// d = intercept + slope * e by least squares, once more without the lines
// far off the first fit (the picture's own steps); the intercept's standard
// error is infinite when the fit cannot be made.
struct LineFit {
  double slope = 0, intercept = 0, intercept_error = 1e30, slope_error = 1e30;
};
LineFit FitLine(const std::vector<double>& e, const std::vector<double>& d) {
  LineFit fit;
  std::vector<bool> use(e.size(), true);
  for (int pass = 0; pass < 2; ++pass) {
    double n = 0, me = 0, md = 0;
    for (size_t j = 0; j < e.size(); ++j)
      if (use[j]) n += 1, me += e[j], md += d[j];
    if (n < 8) return pass == 0 ? LineFit{} : fit;
    me /= n;
    md /= n;
    double see = 0, sed = 0;
    for (size_t j = 0; j < e.size(); ++j)
      if (use[j]) see += (e[j] - me) * (e[j] - me), sed += (e[j] - me) * (d[j] - md);
    if (see <= 0) return pass == 0 ? LineFit{} : fit;
    fit.slope = sed / see;
    fit.intercept = md - fit.slope * me;
    std::vector<double> residual;
    for (size_t j = 0; j < e.size(); ++j)
      if (use[j]) residual.push_back(std::fabs(d[j] - fit.intercept - fit.slope * e[j]));
    const double spread = 1.4826 * Median(residual) + 1e-6;
    fit.intercept_error = spread * std::sqrt(1 / n + me * me / see);
    fit.slope_error = spread / std::sqrt(see);
    for (size_t j = 0; j < e.size(); ++j) use[j] = std::fabs(d[j] - fit.intercept - fit.slope * e[j]) <= 3 * spread;
  }
  return fit;
}

// The slope's standard error from the spread of fits that each leave out
// one block of neighbouring lines. Neighbouring lines are alike, so the
// lines are far fewer independent samples than they are lines, and the
// least-squares error alone was a fifth of the real one on textured fields.
double JackknifeSlopeError(const std::vector<double>& e, const std::vector<double>& d) {
  constexpr size_t kBlocks = 24;
  std::vector<double> slopes, part_e, part_d;
  for (size_t b = 0; b < kBlocks; ++b) {
    part_e.clear();
    part_d.clear();
    for (size_t j = 0; j < e.size(); ++j)
      if (j * kBlocks / e.size() != b) part_e.push_back(e[j]), part_d.push_back(d[j]);
    const LineFit part = FitLine(part_e, part_d);
    if (part.slope_error < 1e30) slopes.push_back(part.slope);
  }
  if (slopes.size() < kBlocks / 2) return 1e30;
  double mean = 0, spread = 0;
  for (double v : slopes) mean += v;
  mean /= static_cast<double>(slopes.size());
  for (double v : slopes) spread += (v - mean) * (v - mean);
  return std::sqrt(spread * static_cast<double>(slopes.size() - 1) / static_cast<double>(slopes.size()));
}

}  // namespace

BandReading ReadBands(const uint8_t* luma, int width, int height, const std::vector<StepSetting>& steps,
                      bool residuals) {
  BandReading reading;
  const std::vector<ActiveStep> active = ActiveSteps(steps, width);
  if (active.empty() || width < 8 || height < 1) return reading;
  const std::vector<double> p = Patterns(active, width).back();
  // Columns where the band level changes, gathered into runs (a smeared
  // echo's steps sit side by side); each run is read across its whole width.
  struct Run {
    int from, to;  // the band changes between column from and column to
    double jump;
  };
  auto changes = [&](int x) { return x >= 1 && x < width && std::fabs(p[x] - p[x - 1]) >= 1e-4; };
  std::vector<Run> runs;
  for (int x = 1; x < width; ++x) {
    if (!changes(x)) continue;
    if (!runs.empty() && x - 1 - runs.back().to <= 2) runs.back().to = x;
    else runs.push_back({x - 1, x, 0});
  }
  for (Run& r : runs) r.jump = p[r.to] - p[r.from];
  auto inside_run = [&](int a, int b) {
    for (const Run& r : runs)
      if (r.from < b && a < r.to) return true;
    return false;
  };
  // Per run and line: the step across the run less the picture's own slope
  // beside it, and the line's value at the edge whose copy enters there.
  std::vector<std::vector<double>> steps_of(runs.size()), edges_of(runs.size());
  // For the residuals, a column whose neighbours do not change is read on its
  // own even where a run holds it: a stray step a few pixels from an echo's
  // would otherwise only be read in their sum.
  struct Column {
    size_t run;
    int x;
    std::vector<double> steps;
  };
  std::vector<Column> columns;
  if (residuals)
    for (size_t i = 0; i < runs.size(); ++i)
      if (runs[i].to - runs[i].from > 1)
        for (int x = runs[i].from + 1; x <= runs[i].to; ++x)
          if (x >= 2 && x + 1 < width && changes(x) && !changes(x - 1) && !changes(x + 1)) columns.push_back({i, x, {}});
  std::vector<double> line(width), next(width);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = luma + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) line[x] = row[x];
    for (const ActiveStep& s : active) {
      Step(line, next, s);
      line.swap(next);
    }
    for (size_t i = 0; i < runs.size(); ++i) {
      const Run& r = runs[i];
      const int span = r.to - r.from;
      double sum = 0;
      int n = 0;
      if (r.from - span >= 0 && !inside_run(r.from - span, r.from)) sum += line[r.from] - line[r.from - span], ++n;
      if (r.to + span < width && !inside_run(r.to, r.to + span)) sum += line[r.to + span] - line[r.to], ++n;
      steps_of[i].push_back(line[r.to] - line[r.from] - (n > 0 ? sum / n : 0.0));
      edges_of[i].push_back(2 * r.to < width ? row[0] : row[width - 1]);
    }
    for (Column& c : columns)
      c.steps.push_back(line[c.x] - line[c.x - 1] - (line[c.x - 1] - line[c.x - 2] + line[c.x + 1] - line[c.x]) / 2);
  }
  // The residual where the band changes between column x - 1 and x. At the
  // line's start the copy enters going right; at its end it leaves.
  auto add_residual = [&](int x, const LineFit& fit, const std::vector<double>& edges, const std::vector<double>& d) {
    if (fit.slope_error >= 1e30) return;
    const double error = std::max(fit.slope_error, JackknifeSlopeError(edges, d));
    const bool start = 2 * x < width;
    reading.residuals.push_back({start ? x : x - width, start ? fit.slope : -fit.slope, error});
  };
  for (const Column& c : columns) add_residual(c.x, FitLine(edges_of[c.run], c.steps), edges_of[c.run], c.steps);
  double num = 0, den = 0, lift_num = 0, lift_weight = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    std::vector<double> v = steps_of[i];
    const double step = Median(v);
    num += step * runs[i].jump;
    den += runs[i].jump * runs[i].jump;
    // The step is k e + lift (jump - k): a copy of the edge the steps leave
    // (k), and the lift in the band. Where the edge's value changes from line
    // to line the two part.
    const LineFit fit = FitLine(edges_of[i], steps_of[i]);
    const double k = fit.slope, c = fit.intercept, se = fit.intercept_error;
    if (residuals && runs[i].to - runs[i].from == 1) add_residual(runs[i].to, fit, edges_of[i], steps_of[i]);
    const double scale = runs[i].jump - k;
    if (se >= 1e30 || std::fabs(scale) < 1e-3) continue;
    const double error = se / std::fabs(scale);
    lift_num += c / scale / (error * error);
    lift_weight += 1 / (error * error);
  }
  // Bands of a few percent say little, and cost little; a gain control
  // lifts black by at most half the range, and the edges' copy stays small.
  if (den >= kMinBandJump * kMinBandJump) reading.visible = std::clamp(num / den, -32.0, 128.0);
  if (lift_weight > 0) {
    reading.lift = lift_num / lift_weight;
    reading.lift_error = 1 / std::sqrt(lift_weight);
  }
  return reading;
}

namespace {

// The room for `steps` in their order that loses least, and its loss.
std::pair<Headroom, double> Balance(const uint8_t* luma, int width, int height, const std::vector<StepSetting>& steps,
                                    double black_level, const Headroom& keep) {
  const std::vector<ActiveStep> active = ActiveSteps(steps, width);
  if (active.empty() || width < 1 || height < 1) return {keep, 0.0};
  const std::vector<std::vector<double>> patterns = Patterns(active, width);
  const size_t stages = patterns.size();
  // A clip at one stage passes through the steps after it.
  std::vector<double> carried(stages, 1.0);
  for (size_t i = stages - 1; i-- > 0;) carried[i] = carried[i + 1] * (1 + active[i].gain * active[i].gain);
  // Pixels of each stage grouped by their band level.
  std::vector<std::vector<Sorted>> groups(stages);
  std::vector<std::vector<int>> group_of(stages, std::vector<int>(width));
  for (size_t i = 0; i < stages; ++i) {
    std::map<long long, int> index;
    for (int x = 0; x < width; ++x) {
      const long long key = std::llround(patterns[i][x] * 1e6);
      auto it = index.find(key);
      if (it == index.end()) {
        it = index.emplace(key, static_cast<int>(groups[i].size())).first;
        groups[i].push_back(Sorted{patterns[i][x], {}, {}, {}});
      }
      group_of[i][x] = it->second;
    }
    // Each group's values sized once, not grown a value at a time.
    std::vector<size_t> columns(groups[i].size(), 0);
    for (int x = 0; x < width; ++x) ++columns[group_of[i][x]];
    for (size_t g = 0; g < groups[i].size(); ++g) groups[i][g].u.reserve(columns[g] * ((height + 1) / 2));
  }
  std::vector<double> line(width), next(width);
  int sampled = 0;
  for (int y = 0; y < height; y += 2, ++sampled) {
    for (int x = 0; x < width; ++x) line[x] = luma[static_cast<size_t>(y) * width + x];
    for (size_t i = 0; i < stages; ++i) {
      if (i > 0) {
        Step(line, next, active[i - 1]);
        line.swap(next);
      }
      for (int x = 0; x < width; ++x) groups[i][group_of[i][x]].u.push_back(line[x]);
    }
  }
  for (auto& stage : groups)
    for (Sorted& g : stage) g.Finish();
  // The band's shape in the output and the band the stages' rounding makes:
  // each step adds its copy rounded down, half a level low on average,
  // where its source lies inside the line. Less their means: a constant
  // costs nothing.
  const std::vector<double>& last = patterns.back();
  std::vector<double> floor_band(width, 0.0), next_band(width);
  for (const ActiveStep& s : active) {
    Step(floor_band, next_band, s);
    for (int x = 0; x < width; ++x)
      if (x - s.shift >= 0 && x - s.shift < width) next_band[x] += s.gain > 0 ? -0.5 : 0.5;
    floor_band.swap(next_band);
  }
  double mean_p = 0, mean_f = 0;
  for (int x = 0; x < width; ++x) mean_p += last[x], mean_f += floor_band[x];
  mean_p /= width;
  mean_f /= width;
  double pp = 0, pf = 0, ff = 0;
  for (int x = 0; x < width; ++x) {
    const double p = last[x] - mean_p, r = floor_band[x] - mean_f;
    pp += p * p, pf += p * r, ff += r * r;
  }
  const double pixels = static_cast<double>(sampled) * width;
  // The cost, or where it cannot come under `beat` a bound below it that
  // does not either (the clipped energy only adds).
  auto cost = [&](int32_t brightness, int32_t contrast, double beat) {
    const LumaMap map = LumaMapFor(brightness, contrast);
    const double k = map.gain / 256.0, q = static_cast<double>(map.offset);
    if (k <= 0) return 1e300;
    const double left = k * black_level + q;
    double e = (left * left * pp + 2 * left * pf + ff) * sampled;
    const double least = (e + (contrast != 0 ? pixels / 12 : 0.0)) / (k * k);
    if (!(least < beat)) return least;
    for (size_t i = 0; i < stages; ++i)
      for (const Sorted& g : groups[i]) e += carried[i] * g.Clipped(k, q * g.band);
    // A contrast other than 0 rounds every pixel once more (a brightness
    // alone adds whole levels).
    if (contrast != 0) e += pixels / 12;
    return e / (k * k);
  };
  Headroom best = keep;
  double best_cost = cost(keep.brightness, keep.contrast, 1e300);
  for (int32_t contrast = 0; contrast >= -40; --contrast)
    for (int32_t brightness = -60; brightness <= 60; ++brightness) {
      const double c = cost(brightness, contrast, best_cost);
      if (c < best_cost) best_cost = c, best = {brightness, contrast, true};
    }
  return {best, best_cost};
}

}  // namespace

Arrangement ArrangeSteps(const uint8_t* luma, int width, int height, const std::vector<StepSetting>& steps,
                         double black_level, const Headroom& keep) {
  Arrangement best{steps, keep};
  double best_cost;
  std::tie(best.room, best_cost) = Balance(luma, width, height, steps, black_level, keep);
  for (bool adding_first : {true, false}) {
    std::vector<StepSetting> order = steps;
    std::stable_partition(order.begin(), order.end(),
                          [&](const StepSetting& s) { return (s.level > 0) == adding_first; });
    bool same = true;
    for (size_t i = 0; i < order.size(); ++i)
      same &= order[i].shift == steps[i].shift && order[i].level == steps[i].level;
    if (same) continue;
    const auto [room, cost] = Balance(luma, width, height, order, black_level, keep);
    if (cost < best_cost) best_cost = cost, best = {order, room};
  }
  return best;
}

}  // namespace tev::estimate
