// tev filter's whole frame loop (read a Y4M frame, process its luma, write it
// out) on a 720x576 4:2:0 stream with the correction and eight steps, exact
// and high, beside the same loop with every stage off: the pure pass-through
// of the same stream, in the same run. `realtime` is frames/s over 25. Times
// are CPU time of the one thread: the build machine is shared.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "media/y4m_stream.h"
#include "tev/stream_filter.h"

namespace tev::bench {
namespace {

constexpr int kWidth = 720, kHeight = 576, kFrames = 16;

const std::string& Stream() {
  static const std::string stream = [] {
    const size_t planes = kWidth * kHeight * 3 / 2;
    std::string s = "YUV4MPEG2 W720 H576 F25:1 Ip A16:15 C420jpeg\n";
    std::mt19937 rng(1);
    for (int f = 0; f < kFrames; ++f) {
      s += "FRAME\n";
      for (size_t i = 0; i < planes; ++i) s += static_cast<char>(rng());
    }
    return s;
  }();
  return stream;
}

void FilterStream(benchmark::State& state, bool enabled, app::Precision precision) {
  app::LumaStages stages;
  stages.enabled = enabled;
  stages.precision = precision;
  // The demo's fitted settings for its default channel, plus an eighth step.
  stages.settings.correct = true;
  stages.settings.brightness = 7;
  stages.settings.contrast = -7;
  const EchoStepSetting steps[] = {{23, -8}, {25, -16}, {25, 1}, {26, -8}, {48, 1}, {50, 3}, {51, 1}, {100, 1}};
  for (const EchoStepSetting& step : steps) stages.settings.steps[stages.settings.step_count++] = step;

  std::string& stream = const_cast<std::string&>(Stream());
  std::FILE* out = std::fopen("/dev/null", "wb");
  std::setvbuf(out, nullptr, _IOFBF, 1 << 16);
  int64_t frames = 0;
  for (auto _ : state) {
    std::FILE* in = fmemopen(stream.data(), stream.size(), "rb");
    media::Y4mReader reader(in);
    media::Y4mWriter writer(out);
    if (!reader.ReadHeader()) return state.SkipWithError("bad stream");
    const app::StreamOutcome outcome = app::FilterFrames(reader, writer, stages, nullptr);
    std::fclose(in);
    if (outcome.kind != app::StreamOutcome::Done) return state.SkipWithError("filter failed");
    frames += outcome.frames;
  }
  std::fclose(out);
  state.SetItemsProcessed(frames);
  state.counters["realtime"] = benchmark::Counter(frames / 25.0, benchmark::Counter::kIsRate);
}

void BM_TevFilterPassThrough(benchmark::State& state) { FilterStream(state, false, app::Precision::Exact); }
void BM_TevFilterExact(benchmark::State& state) { FilterStream(state, true, app::Precision::Exact); }
void BM_TevFilterHigh(benchmark::State& state) { FilterStream(state, true, app::Precision::High); }

BENCHMARK(BM_TevFilterPassThrough)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TevFilterExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TevFilterHigh)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tev::bench
