// A whole frame with every stage on (the correction and eight steps with the
// shifts of a real ghost), through the line engine, beside a memcpy of the
// same frame timed in the same loop: the x_memcpy counter is the ratio of
// their medians. Both are timed in this thread's CPU time, so that a busy
// machine that takes the core away mid-frame does not count against either.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "processing/cpu_features.h"
#include "processing/line_engine.h"

namespace tev::bench {
namespace {

// The demo channel's fitted steps (17, 18, 18, 19, 35, 36, 37 px at 720)
// and a negative one, with small levels.
StageSettings EveryStageOn() {
  StageSettings s;
  s.correct = true;
  s.brightness = 7;
  s.contrast = -7;
  const EchoStepSetting steps[kStepCount] = {{23, -8}, {25, -16}, {25, 1}, {26, -8},
                                             {48, 1},  {50, 3},   {51, 1}, {-25, -2}};
  for (const EchoStepSetting& step : steps) s.steps[s.step_count++] = step;
  return s;
}

double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double Median(std::vector<double>& v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// Arguments: width, height, 1 for RGB24; the CPU flags kept.
void Frame(benchmark::State& state, uint32_t cpu_mask) {
  const FrameShape shape{static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)),
                         state.range(2) != 0};
  const size_t pixels = static_cast<size_t>(shape.width) * shape.height;
  const size_t size = pixels * (shape.rgb ? 3 : 2);
  AlignedBytes frame(size), work(pixels * 2), line(LineBufferBytes(shape.width)), copy(size);
  const StageSettings settings = EveryStageOn();
  MaskCpuFlags(cpu_mask);
  std::vector<double> stages, copies;
  for (auto _ : state) {
    const double t0 = ThreadSeconds();
    RunFrameStages(frame.data, work.data, line.data, shape, settings);
    benchmark::ClobberMemory();
    const double t1 = ThreadSeconds();
    std::memcpy(copy.data, frame.data, size);
    benchmark::ClobberMemory();
    const double t2 = ThreadSeconds();
    stages.push_back(t1 - t0);
    copies.push_back(t2 - t1);
    state.SetIterationTime(t1 - t0);
  }
  MaskCpuFlags(~0u);
  state.counters["x_memcpy"] = Median(stages) / Median(copies);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_FrameEveryStage(benchmark::State& state) { Frame(state, ~0u); }
void BM_FrameEveryStageAvx2(benchmark::State& state) { Frame(state, kCpuSse2 | kCpuSsse3 | kCpuAvx2); }
void BM_FrameEveryStageSse2(benchmark::State& state) { Frame(state, kCpuSse2); }

void FrameArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "rgb"})->UseManualTime();
  for (int rgb : {0, 1}) {
    b->Args({720, 576, rgb});
    b->Args({1920, 1080, rgb});
  }
}

BENCHMARK(BM_FrameEveryStage)->Apply(FrameArgs);
BENCHMARK(BM_FrameEveryStageAvx2)->Apply(FrameArgs);
BENCHMARK(BM_FrameEveryStageSse2)->Apply(FrameArgs);

}  // namespace
}  // namespace tev::bench
