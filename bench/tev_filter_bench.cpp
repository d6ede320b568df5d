// tev filter as it runs in a pipeline: the program's own command (options,
// settings file, its Y4M reader and writer) with a pipe on either side, on a
// 720x576 4:2:0 stream, with the correction and eight steps in exact and high
// precision, beside the same command on a channel with every stage off (the
// pure pass-through of the same stream), in the same run. A thread feeds the
// input pipe and one drains the output, as the programs on either side would;
// times are CPU time of the filter's own thread (the build machine is
// shared), and `realtime` is frames/s over 25.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tev/commands.h"

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

// Channel 1 passes frames through; channel 2 has the demo's fitted settings
// for its default channel, plus an eighth step. The file goes at exit; its
// name is kept in plain storage, which outlives the strings destroyed then.
char g_settings_path[64];

const char* SettingsPath() {
  if (!g_settings_path[0]) {
    std::snprintf(g_settings_path, sizeof g_settings_path, "/tmp/tev_filter_bench_%d.ini", static_cast<int>(getpid()));
    std::string text = "[1]\r\nProcEnable=0\r\n[2]\r\nProcEnable=1\r\nCorrEnable=1\r\nBrightness=7\r\nContrast=-7\r\n";
    const int steps[][2] = {{23, -8}, {25, -16}, {25, 1}, {26, -8}, {48, 1}, {50, 3}, {51, 1}, {100, 1}};
    for (int i = 0; i < 8; ++i) {
      const std::string k = "Step" + std::to_string(i + 1);
      text += k + "_Enable=1\r\n" + k + "_Shift=" + std::to_string(steps[i][0]) + "\r\n" + k +
              "_Level=" + std::to_string(steps[i][1]) + "\r\n";
    }
    std::FILE* file = std::fopen(g_settings_path, "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    std::atexit([] { std::remove(g_settings_path); });
  }
  return g_settings_path;
}

void FilterStream(benchmark::State& state, const char* channel, const char* precision) {
  const std::string& stream = Stream();
  std::signal(SIGPIPE, SIG_IGN);  // a filter that fails early closes the feeder's pipe
  for (auto _ : state) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return state.SkipWithError("no pipe");
    std::thread feeder([&] {
      for (size_t at = 0; at < stream.size();) {
        const ssize_t n = write(in[1], stream.data() + at, stream.size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      close(in[1]);
    });
    std::thread drainer([&] {
      std::vector<char> sink(1 << 16);
      while (read(out[0], sink.data(), sink.size()) > 0) {
      }
      close(out[0]);
    });
    std::string args[] = {"filter",      "-q", "-i", "/dev/fd/" + std::to_string(in[0]), "-o",
                          "/dev/fd/" + std::to_string(out[1]), "--settings", SettingsPath(), "--channel",
                          channel,     "--precision", precision};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    const int status = app::RunFilter(static_cast<int>(argv.size()), argv.data());
    close(in[0]);
    close(out[1]);
    feeder.join();
    drainer.join();
    if (status != 0) return state.SkipWithError("tev filter failed");
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
  state.counters["realtime"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kFrames / 25.0, benchmark::Counter::kIsRate);
}

void BM_TevFilterPassThrough(benchmark::State& state) { FilterStream(state, "1", "exact"); }
void BM_TevFilterExact(benchmark::State& state) { FilterStream(state, "2", "exact"); }
void BM_TevFilterHigh(benchmark::State& state) { FilterStream(state, "2", "high"); }

BENCHMARK(BM_TevFilterPassThrough)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TevFilterExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TevFilterHigh)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tev::bench
