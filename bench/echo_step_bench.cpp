// One echo step over a whole 4:2:2 frame (each line gathered to compact luma
// and back), per instruction set, beside the scalar reference; read against BM_FloorSse2_Yuy2 and BM_FloorAvx2_Yuy2, the
// in-place floor over the same bytes, in the same run.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include "processing/cpu_features.h"
#include "processing/echo_step.h"

namespace tev::bench {
namespace {

// Arguments: width, height, pixel shift s, sign of Level (|Level| = 50, m = 128).
template <class Step>
void EchoFrame(benchmark::State& state, Step step) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  const EchoStepParams params{state.range(2), 128, state.range(3) < 0};
  const size_t size = static_cast<size_t>(width) * height * 2;
  AlignedBytes frame(size);
  for (auto _ : state) {
    step(frame.data, width, height, params);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// The fast step with the CPU flags kept to `mask`.
void EchoAt(benchmark::State& state, uint32_t mask) {
  MaskCpuFlags(mask);
  EchoFrame(state, ApplyEchoStepPixels);
  MaskCpuFlags(~0u);
}

void BM_EchoStep(benchmark::State& state) { EchoAt(state, ~0u); }
void BM_EchoStepAvx2(benchmark::State& state) {
  if (!CpuHas(kCpuAvx2)) return state.SkipWithError("no AVX2");
  EchoAt(state, kCpuSse2 | kCpuSsse3 | kCpuAvx2);
}
void BM_EchoStepSse2(benchmark::State& state) { EchoAt(state, kCpuSse2); }

void BM_EchoStepScalar(benchmark::State& state) { EchoFrame(state, ApplyEchoStepPixelsScalar); }

void EchoArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "s", "sign"});
  for (const auto& size : {std::pair<int, int>{720, 576}, std::pair<int, int>{1920, 1080}}) {
    for (int s : {-37, -1, 0, 1, 18, 37}) {
      for (int sign : {-1, 1}) b->Args({size.first, size.second, s, sign});
    }
  }
}

BENCHMARK(BM_EchoStep)->Apply(EchoArgs);
BENCHMARK(BM_EchoStepAvx2)->Apply(EchoArgs);
BENCHMARK(BM_EchoStepSse2)->Apply(EchoArgs);
BENCHMARK(BM_EchoStepScalar)->Apply(EchoArgs);

}  // namespace
}  // namespace tev::bench
