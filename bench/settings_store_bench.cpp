// What a new channel costs the store as the list grows: the mean time of
// SelectChannel for each of the records N .. N+999 of a store that already
// holds N-1. The row for N = 10 is the reference the larger ones are read
// against; with growth by one element and a search of every record, the
// row for N = 100000 was thousands of times slower.
#include <benchmark/benchmark.h>

#include "settings/settings_store.h"

namespace tev::bench {
namespace {

constexpr int kAddedPerRun = 1000;

void BM_AddChannelRecord(benchmark::State& state) {
  const int64_t existing = state.range(0) - 1;
  SettingsStore store;  // no platform: settings in memory, as in a run without a file
  store.LoadSettings("bench", nullptr);
  for (int64_t key = 1; key <= existing; ++key) store.SelectChannel(key);
  int64_t key = existing + 1;
  for (auto _ : state) benchmark::DoNotOptimize(store.SelectChannel(key++));
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_AddChannelRecord)->Arg(10)->Arg(1000)->Arg(100000)->Iterations(kAddedPerRun)->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace tev::bench
