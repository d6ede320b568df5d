#include "estimate/ghost_estimator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "processing/brightness_contrast.h"
#include "processing/luma_plane.h"

namespace tev::estimate {
namespace {

// Order of the short predictor that whitens the differentiated lines: it takes
// out what neighbouring pixels share (upscaled sources, soft optics), which
// would otherwise lean on every delay near the shortest echo.
constexpr int kWhiteningOrder = 4;
// Picture detail below which an echo cannot be told from nothing.
constexpr int kMinEdgeSamples = 200;
constexpr int kEdgeStep = 8;  // levels between neighbours that make an edge sample
// The echo floor: taps below this many robust deviations of the picture's own
// estimate noise, or below an absolute 1 %, are not echoes.
constexpr double kFloorDeviations = 5.5;
constexpr double kFloorAbsolute = 0.01;
// Settings must beat processing off by this share of the criterion.
constexpr double kWinMargin = 0.004;

struct Geometry {
  int width, height;
  int first_tap;  // smallest lag that may hold an echo tap
  int last_tap;   // largest
  int lags;       // lags of the inverse filter (a few times the longest echo)
};

// Levinson-Durbin: predictor a[0..order] (a[0] = 1) for an autocorrelation.
std::vector<double> Levinson(const std::vector<double>& r, int order) {
  std::vector<double> a(order + 1, 0.0), previous;
  a[0] = 1;
  double error = r[0];
  for (int i = 1; i <= order && error > 0; ++i) {
    double acc = r[i];
    for (int j = 1; j < i; ++j) acc += a[j] * r[i - j];
    const double k = -acc / error;
    previous = a;
    for (int j = 1; j < i; ++j) a[j] = previous[j] + k * previous[i - j];
    a[i] = k;
    error *= 1 - k * k;
  }
  return a;
}

// Solves the symmetric positive definite system m x = b in place (Cholesky).
bool SolveSpd(std::vector<double>& m, std::vector<double>& b, int n) {
  for (int j = 0; j < n; ++j) {
    double d = m[j * n + j];
    for (int k = 0; k < j; ++k) d -= m[j * n + k] * m[j * n + k];
    if (!(d > 0)) return false;
    d = std::sqrt(d);
    m[j * n + j] = d;
    for (int i = j + 1; i < n; ++i) {
      double s = m[i * n + j];
      for (int k = 0; k < j; ++k) s -= m[i * n + k] * m[j * n + k];
      m[i * n + j] = s / d;
    }
  }
  for (int i = 0; i < n; ++i) {
    double s = b[i];
    for (int k = 0; k < i; ++k) s -= m[i * n + k] * b[k];
    b[i] = s / m[i * n + i];
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int k = i + 1; k < n; ++k) s -= m[k * n + i] * b[k];
    b[i] = s / m[i * n + i];
  }
  return true;
}

// Immerkaer's estimate of white noise in a picture, in levels.
double NoiseSigma(const LumaFrame& f) {
  double sum = 0;
  const int w = f.width;
  for (int y = 1; y + 1 < f.height; ++y) {
    const uint8_t* a = &f.pixels[static_cast<size_t>(y - 1) * w];
    const uint8_t* b = a + w;
    const uint8_t* c = b + w;
    for (int x = 1; x + 1 < w; ++x) {
      const int v = a[x - 1] - 2 * a[x] + a[x + 1] - 2 * (b[x - 1] - 2 * b[x] + b[x + 1]) + c[x - 1] - 2 * c[x] + c[x + 1];
      sum += std::abs(v);
    }
  }
  const double count = 6.0 * (w - 2) * (f.height - 2);
  return std::sqrt(M_PI / 2) * sum / count;
}

// The autocorrelation of the whitened, differentiated lines of every frame,
// lags 0..lags, less what white noise of `sigma` contributes.
std::vector<double> WhitenedAutocorrelation(const std::vector<LumaFrame>& frames, const Geometry& g, double sigma,
                                            int& edge_samples) {
  const int n = g.width - 1;
  std::vector<double> rd(kWhiteningOrder + 1, 0.0);
  std::vector<float> d(n);
  edge_samples = 0;
  for (const LumaFrame& f : frames)
    for (int y = 0; y < g.height; ++y) {
      const uint8_t* row = &f.pixels[static_cast<size_t>(y) * g.width];
      for (int x = 0; x < n; ++x) {
        d[x] = static_cast<float>(row[x + 1] - row[x]);
        if (std::abs(row[x + 1] - row[x]) >= kEdgeStep) ++edge_samples;
      }
      for (int k = 0; k <= kWhiteningOrder; ++k) {
        double s = 0;
        for (int x = 0; x + k < n; ++x) s += d[x] * d[x + k];
        rd[k] += s;
      }
    }
  // White noise through the difference: 2 sigma^2 at lag 0, -sigma^2 at lag 1.
  const double samples = static_cast<double>(frames.size()) * g.height * n;
  std::vector<double> clean = rd;
  clean[0] -= std::min(0.5 * rd[0], 2 * sigma * sigma * samples);
  clean[1] += std::min(0.5 * rd[0], sigma * sigma * samples);
  const std::vector<double> a = Levinson(clean, kWhiteningOrder);

  std::vector<double> r(g.lags + 1, 0.0);
  std::vector<float> w(n);
  std::vector<double> line_r(g.lags + 1);
  for (const LumaFrame& f : frames)
    for (int y = 0; y < g.height; ++y) {
      const uint8_t* row = &f.pixels[static_cast<size_t>(y) * g.width];
      for (int x = 0; x < n; ++x) d[x] = static_cast<float>(row[x + 1] - row[x]);
      for (int x = 0; x < n; ++x) {
        double s = 0;
        for (int i = 0; i <= kWhiteningOrder && i <= x; ++i) s += a[i] * d[x - i];
        w[x] = static_cast<float>(s);
      }
      for (int k = 0; k <= g.lags && k < n; ++k) {
        float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        int x = 0;
        for (; x + 3 + k < n; x += 4) {
          s0 += w[x] * w[x + k];
          s1 += w[x + 1] * w[x + 1 + k];
          s2 += w[x + 2] * w[x + 2 + k];
          s3 += w[x + 3] * w[x + 3 + k];
        }
        for (; x + k < n; ++x) s0 += w[x] * w[x + k];
        r[k] += static_cast<double>(s0) + s1 + s2 + s3;
      }
    }
  // The noise's share of the whitened lags near 0: sigma^2 times the
  // autocorrelation of the whitener applied to the difference.
  std::vector<double> q(kWhiteningOrder + 2, 0.0);
  for (int i = 0; i <= kWhiteningOrder; ++i) {
    q[i] += a[i];
    q[i + 1] -= a[i];
  }
  for (int k = 0; k < static_cast<int>(q.size()) && k <= g.lags; ++k) {
    double acf = 0;
    for (size_t i = 0; i + k < q.size(); ++i) acf += q[i] * q[i + k];
    const double share = sigma * sigma * samples * acf;
    r[k] -= k == 0 ? std::min(share, 0.5 * r[0]) : std::clamp(share, -0.5 * r[0], 0.5 * r[0]);
  }
  return r;
}

// The channel's echo taps at lags first_tap..last_tap, as the minimum-phase
// factor of the whitened spectrum: the inverse of the least-squares predictor
// that may only look first_tap or more pixels back.
std::vector<double> EchoTaps(const std::vector<double>& r, const Geometry& g) {
  const int n = g.lags - g.first_tap + 1;
  std::vector<double> m(static_cast<size_t>(n) * n), b(n);
  const double loading = 1e-4 * r[0];
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) m[static_cast<size_t>(i) * n + j] = r[std::abs(i - j)] + (i == j ? loading : 0.0);
    b[i] = -r[g.first_tap + i];
  }
  std::vector<double> h(g.last_tap + 1, 0.0);
  if (!SolveSpd(m, b, n)) return h;
  // h = 1 / (1 + sum c_k z^-k)
  h[0] = 1;
  for (int t = 1; t <= g.last_tap; ++t) {
    double s = 0;
    for (int k = g.first_tap; k <= t && k <= g.lags; ++k) s -= b[k - g.first_tap] * h[t - k];
    h[t] = s;
  }
  return h;
}

struct Cluster {
  int peak;
  std::vector<double> taps;  // lags peak-2..peak+2
  double confidence;
};

std::vector<Cluster> FindClusters(const std::vector<double>& h, const Geometry& g, int max_echoes) {
  std::vector<double> magnitudes;
  for (int k = g.first_tap; k <= g.last_tap; ++k) magnitudes.push_back(std::fabs(h[k]));
  std::nth_element(magnitudes.begin(), magnitudes.begin() + magnitudes.size() / 2, magnitudes.end());
  const double deviation = 1.4826 * magnitudes[magnitudes.size() / 2] + 1e-9;
  const double floor = std::max(kFloorDeviations * deviation, kFloorAbsolute);
  std::vector<bool> used(g.last_tap + 3, false);
  std::vector<Cluster> clusters;
  while (static_cast<int>(clusters.size()) < max_echoes) {
    int peak = -1;
    for (int k = g.first_tap; k <= g.last_tap; ++k)
      if (!used[k] && (peak < 0 || std::fabs(h[k]) > std::fabs(h[peak]))) peak = k;
    if (peak < 0 || std::fabs(h[peak]) < floor) break;
    Cluster c{peak, std::vector<double>(5, 0.0), 0};
    double sum = 0;
    for (int k = peak - 2; k <= peak + 2; ++k) {
      if (k < g.first_tap || k > g.last_tap || used[k]) continue;
      // Neighbours of the other sign or lost in the floor are not this echo's smear.
      if (h[k] * h[peak] <= 0 || std::fabs(h[k]) < 2 * deviation) continue;
      c.taps[k - peak + 2] = h[k];
      sum += h[k];
      used[k] = true;
    }
    used[peak] = true;
    c.confidence = std::fabs(sum) / deviation;
    clusters.push_back(c);
  }
  return clusters;
}

// The range of each stage's output on the picture, for the headroom.
std::vector<StageSpan> PictureSpans(const LumaFrame& f, const std::vector<StepSetting>& steps) {
  std::vector<StageSpan> spans(steps.size(), StageSpan{1e9, -1e9, 1});
  std::vector<double> line(f.width), next(f.width);
  double dc = 1;
  for (size_t i = 0; i < steps.size(); ++i) {
    dc *= 1 + StepGain(steps[i].level);
    spans[i].dc = dc;
  }
  for (int y = 0; y < f.height; y += 2) {
    const uint8_t* row = &f.pixels[static_cast<size_t>(y) * f.width];
    for (int x = 0; x < f.width; ++x) line[x] = row[x];
    for (size_t i = 0; i < steps.size(); ++i) {
      const int s = PixelShift(steps[i].shift, f.width);
      const double g = StepGain(steps[i].level);
      for (int x = 0; x < f.width; ++x) {
        const int from = x - s;
        next[x] = line[x] + (from >= 0 && from < f.width ? g * line[from] : 0.0);
        spans[i].low = std::min(spans[i].low, next[x]);
        spans[i].high = std::max(spans[i].high, next[x]);
      }
      line.swap(next);
    }
  }
  return spans;
}

PluginSettings SettingsFor(const LumaFrame& f, std::vector<StepSetting> steps) {
  PluginSettings settings;
  settings.steps = std::move(steps);
  const Headroom room = ChooseHeadroom(PictureSpans(f, settings.steps));
  settings.brightness = room.brightness;
  settings.contrast = room.contrast;
  return settings;
}

Response HypothesisResponse(const std::vector<Cluster>& clusters, unsigned pre_mask) {
  Response h;
  for (size_t c = 0; c < clusters.size(); ++c) {
    const bool pre = pre_mask >> c & 1;
    for (int t = 0; t < 5; ++t) {
      const int lag = clusters[c].peak + t - 2;
      if (clusters[c].taps[t] != 0) h.Add(pre ? -lag : lag, clusters[c].taps[t]);
    }
  }
  return h;
}

// Steps near `steps` through the real stages: each level by one, each shift
// by a pixel, each step left out, kept when the criterion falls.
PluginSettings Refine(const std::vector<LumaFrame>& frames, PluginSettings best, double& best_score, int score_frames) {
  const int width = frames[0].width;
  auto shift_setting = [&](int32_t setting, int direction) {
    const int pixels = PixelShift(setting, width);
    for (int32_t s = setting + direction; std::abs(s) <= 1000; s += direction)
      if (PixelShift(s, width) != pixels) return s;
    return setting;
  };
  for (int pass = 0; pass < 3; ++pass) {
    bool changed = false;
    for (size_t i = 0; i < best.steps.size(); ++i) {
      std::vector<StepSetting> variants;
      const StepSetting step = best.steps[i];
      for (int dl : {-2, -1, 1, 2})
        if (std::abs(step.level + dl) <= 100 && step.level + dl != 0) variants.push_back({step.shift, step.level + dl});
      for (int direction : {-1, 1}) {
        const int32_t s = shift_setting(step.shift, direction);
        if (s != step.shift && PixelShift(s, width) != 0) variants.push_back({s, step.level});
      }
      variants.push_back({0, 0});  // left out
      for (const StepSetting& v : variants) {
        PluginSettings candidate = best;
        if (v.level == 0)
          candidate.steps.erase(candidate.steps.begin() + static_cast<long>(i));
        else
          candidate.steps[i] = v;
        const double score = BlindScore(frames, candidate, score_frames);
        if (score < best_score - 1e-9) {
          best_score = score;
          best = candidate;
          changed = true;
          break;
        }
      }
      if (i >= best.steps.size()) break;
    }
    if (!changed) break;
  }
  return best;
}

}  // namespace

const char* EstimateStatusText(EstimateStatus status) {
  switch (status) {
    case EstimateStatus::Done: return "done";
    case EstimateStatus::TooSmall: return "the picture is too small to estimate a ghost";
    case EstimateStatus::TooFlat: return "the picture is too flat (too little detail) to estimate a ghost";
  }
  return "?";
}

double BlindScore(const std::vector<LumaFrame>& frames, const PluginSettings& settings, int max_frames) {
  const StageSettings stages = StagesOf(settings);
  // Every step keeps the direct signal at weight 1, so only the correction's
  // gain scales the picture's edges.
  const double gain = settings.proc_enable && stages.correct
                          ? static_cast<double>(LumaMapFor(stages.brightness, stages.contrast).gain) / 256
                          : 1.0;
  double total = 0;
  std::vector<uint8_t> out;
  const int count = std::min<int>(max_frames, static_cast<int>(frames.size()));
  for (int i = 0; i < count; ++i) {
    const LumaFrame& f = frames[i];
    out = f.pixels;
    if (settings.proc_enable) ProcessLumaPlane(out.data(), f.width, f.width, f.height, stages);
    int64_t variation = 0;
    for (int y = 0; y < f.height; ++y) {
      const uint8_t* row = &out[static_cast<size_t>(y) * f.width];
      for (int x = 0; x + 1 < f.width; ++x) variation += std::abs(row[x + 1] - row[x]);
    }
    total += static_cast<double>(variation) / (static_cast<double>(f.width - 1) * f.height);
  }
  return gain > 0 ? total / count / gain : 1e30;
}

Estimate EstimateGhost(const std::vector<LumaFrame>& frames, const EstimateOptions& options) {
  Estimate result;
  result.settings.proc_enable = false;
  if (frames.empty() || frames[0].width < kMinEstimateWidth || frames[0].height < kMinEstimateHeight) {
    result.status = EstimateStatus::TooSmall;
    return result;
  }
  for (const LumaFrame& f : frames)
    if (f.width != frames[0].width || f.height != frames[0].height ||
        f.pixels.size() != static_cast<size_t>(f.width) * f.height) {
      result.status = EstimateStatus::TooSmall;
      return result;
    }
  Geometry g{};
  g.width = frames[0].width;
  g.height = frames[0].height;
  const int shortest = std::max(2, static_cast<int>(std::lround(options.min_delay_percent / 100 * g.width)));
  const int longest = std::max(shortest + 1, static_cast<int>(std::lround(options.max_delay_percent / 100 * g.width)));
  g.first_tap = std::max(2, shortest - 2);
  g.last_tap = std::min(g.width / 3, longest + 2);
  g.lags = std::min(g.width / 2, 3 * g.last_tap);
  if (g.last_tap <= g.first_tap + 4) {
    result.status = EstimateStatus::TooSmall;
    return result;
  }

  const double sigma = NoiseSigma(frames[0]);
  int edge_samples = 0;
  const std::vector<double> r = WhitenedAutocorrelation(frames, g, sigma, edge_samples);
  result.score_off = BlindScore(frames, result.settings, options.score_frames);
  result.score_on = result.score_off;
  if (edge_samples < kMinEdgeSamples || !(r[0] > 0)) {
    result.status = EstimateStatus::TooFlat;
    return result;
  }
  const std::vector<Cluster> clusters = FindClusters(EchoTaps(r, g), g, options.max_echoes);
  if (clusters.empty()) return result;

  // Second-order statistics cannot tell a ghost after the picture from one
  // before it; the picture's edges can. Every sign pattern goes through the
  // real stages and the cleanest wins.
  PluginSettings best;
  double best_score = result.score_off;
  unsigned best_mask = 0;
  bool found = false;
  for (unsigned mask = 0; mask < (1u << clusters.size()); ++mask) {
    const Response h = HypothesisResponse(clusters, mask);
    PluginSettings candidate = SettingsFor(frames[0], FitSteps(h, g.width, kStepCount));
    if (candidate.steps.empty()) continue;
    const double score = BlindScore(frames, candidate, options.score_frames);
    if (!found || score < best_score) {
      best = candidate;
      best_score = score;
      best_mask = mask;
      found = true;
    }
  }
  if (!found) return result;
  best = Refine(frames, best, best_score, options.score_frames);
  // The refined steps may need other room than the fitted ones.
  PluginSettings roomed = SettingsFor(frames[0], best.steps);
  const double roomed_score = BlindScore(frames, roomed, options.score_frames);
  if (roomed_score <= best_score) {
    best = roomed;
    best_score = roomed_score;
  }
  if (!(best_score < result.score_off * (1 - kWinMargin)) || best.steps.empty()) return result;

  result.settings = best;
  result.score_on = best_score;
  for (size_t c = 0; c < clusters.size(); ++c) {
    FoundEcho echo;
    const bool pre = best_mask >> c & 1;
    double sum = 0;
    for (double t : clusters[c].taps) sum += t;
    echo.delay = pre ? -clusters[c].peak : clusters[c].peak;
    echo.amplitude = sum;
    for (double t : clusters[c].taps) echo.smear.push_back(sum != 0 ? t / sum : 0);
    if (pre) std::reverse(echo.smear.begin(), echo.smear.end());
    while (echo.smear.size() > 1 && echo.smear.front() == 0 && echo.smear.back() == 0) {
      echo.smear.erase(echo.smear.begin());
      echo.smear.pop_back();
    }
    echo.confidence = clusters[c].confidence;
    result.echoes.push_back(echo);
  }
  return result;
}

}  // namespace tev::estimate
