// The blind estimator's time per 720x576 frame, for one frame and for a clip
// of four, read against one pass of the plugin's stages (correction and eight
// steps) over the same frame in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "estimate/ghost_estimator.h"
#include "estimate/subcarrier.h"
#include "processing/luma_plane.h"

namespace tev::bench {
namespace {

constexpr int kWidth = 720, kHeight = 576;

// A picture with edges at every scale (random blocks, softened), then a ghost
// 18 pixels later at +30 %, as the estimator meets it.
estimate::LumaFrame GhostedFrame(uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<double> x(static_cast<size_t>(kWidth) * kHeight);
  for (int by = 0; by < kHeight; by += 16)
    for (int bx = 0; bx < kWidth; bx += 8 + static_cast<int>(rng() % 24)) {
      const double level = 30 + rng() % 190;
      for (int y = by; y < std::min(by + 16, kHeight); ++y)
        for (int i = bx; i < kWidth; ++i) x[static_cast<size_t>(y) * kWidth + i] = level;
    }
  estimate::LumaFrame frame{kWidth, kHeight, std::vector<uint8_t>(x.size())};
  for (int y = 0; y < kHeight; ++y)
    for (int i = 0; i < kWidth; ++i) {
      const size_t at = static_cast<size_t>(y) * kWidth + i;
      const double ghost = i >= 18 ? 0.3 * x[at - 18] : 0.0;
      frame.pixels[at] = static_cast<uint8_t>(std::clamp((x[at] + ghost) / 1.3, 0.0, 255.0));
    }
  return frame;
}

void BM_EstimateGhost(benchmark::State& state) {
  std::vector<estimate::LumaFrame> frames;
  for (int i = 0; i < state.range(0); ++i) frames.push_back(GhostedFrame(1 + i));
  for (auto _ : state) benchmark::DoNotOptimize(estimate::EstimateGhost(frames));
  state.counters["frames"] = static_cast<double>(frames.size());
}
BENCHMARK(BM_EstimateGhost)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// The search for a colour subcarrier that every estimate makes first.
void BM_FindSubcarrier(benchmark::State& state) {
  const estimate::LumaFrame frame = GhostedFrame(1);
  for (auto _ : state) benchmark::DoNotOptimize(estimate::FindSubcarrier({frame.pixels.data()}, kWidth, kHeight));
}
BENCHMARK(BM_FindSubcarrier)->Unit(benchmark::kMillisecond);

// The reference: one frame through every stage of the plugin.
void BM_StagesOneFrame(benchmark::State& state) {
  const estimate::LumaFrame frame = GhostedFrame(1);
  estimate::PluginSettings settings;
  settings.brightness = 5;
  settings.contrast = -5;
  for (int i = 0; i < 8; ++i) settings.steps.push_back({25 * (i + 1), i % 2 ? 3 : -3});
  const StageSettings stages = estimate::StagesOf(settings);
  std::vector<uint8_t> plane = frame.pixels;
  for (auto _ : state) {
    ProcessLumaPlane(plane.data(), kWidth, kWidth, kHeight, stages);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StagesOneFrame)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tev::bench
