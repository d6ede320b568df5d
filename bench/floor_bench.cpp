// The reference rows that every kernel row is read against, in the same run.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/bench_support.h"

namespace tev::bench {
namespace {

void Frame(benchmark::State& state, void (*pass)(uint8_t*, size_t), int bytes_per_pixel) {
  const size_t size = static_cast<size_t>(state.range(0)) * state.range(1) * bytes_per_pixel;
  AlignedBytes frame(size);
  for (auto _ : state) {
    pass(frame.data, size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_FloorSse2_Yuy2(benchmark::State& state) { Frame(state, InPlaceFloorSse2, 2); }
void BM_FloorAvx2_Yuy2(benchmark::State& state) {
  if (!__builtin_cpu_supports("avx2")) return state.SkipWithError("no AVX2");
  Frame(state, InPlaceFloorAvx2, 2);
}
void BM_FloorSse2_Rgb24(benchmark::State& state) { Frame(state, InPlaceFloorSse2, 3); }

void BM_Memcpy_Yuy2(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0)) * state.range(1) * 2;
  AlignedBytes from(size), to(size);
  for (auto _ : state) {
    std::memcpy(to.data, from.data, size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

#define TEV_FRAME_SIZES Args({720, 576})->Args({1920, 1080})
BENCHMARK(BM_FloorSse2_Yuy2)->TEV_FRAME_SIZES;
BENCHMARK(BM_FloorAvx2_Yuy2)->TEV_FRAME_SIZES;
BENCHMARK(BM_FloorSse2_Rgb24)->TEV_FRAME_SIZES;
BENCHMARK(BM_Memcpy_Yuy2)->TEV_FRAME_SIZES;

}  // namespace
}  // namespace tev::bench
