// tev filter: a Y4M stream in, the same stream out with the plugin's stages on
// every frame's luma. Options, settings and files here; the frame loop is
// tev/stream_filter.cpp.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <cxxopts.hpp>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#define TEV_ISATTY _isatty
#define TEV_FILENO _fileno
#else
#include <unistd.h>
#define TEV_ISATTY isatty
#define TEV_FILENO fileno
#endif

#include "media/file_access.h"
#include "media/frame_format.h"
#include "media/whole_file.h"
#include "media/y4m_stream.h"
#include "settings/settings_store.h"
#include "tev/commands.h"
#include "tev/stream_filter.h"

namespace tev::app {
namespace {

const char kHelpTail[] =
    "\n"
    "Reads YUV4MPEG2 (8-bit C420jpeg/420mpeg2/420paldv/420, C422, C444, C411, Cmono)\n"
    "from --in (default: standard input) and writes the same stream to --out\n"
    "(default: standard output): every header and frame parameter unchanged, the\n"
    "chroma bytes untouched, the luma through the plugin's correction and steps.\n"
    "\n"
    "Settings, in the units of the plugin's settings file and dialog:\n"
    "  --settings FILE --channel KEY   the plugin's own file and rules: the channel's\n"
    "                                  section, else [DEFAULT] (what a new channel gets);\n"
    "                                  ProcEnable=0 passes frames through. The file is\n"
    "                                  only read.\n"
    "  --step SHIFT:LEVEL              one echo step, repeatable, in order (at most 8):\n"
    "                                  SHIFT in tenths of a percent of the line width\n"
    "                                  (25 = 2.5 %, 18 pixels of a 720-pixel line; negative\n"
    "                                  takes the source from later in the line), LEVEL in\n"
    "                                  percent (negative subtracts), -100..100.\n"
    "  --correct BRIGHTNESS:CONTRAST   the pre-correction, both in percent, -100..100.\n"
    "\n"
    "Example: a ghost 2.5 % of the line later at +30 %, removed by the cascade:\n"
    "  ffmpeg -i capture.mkv -f yuv4mpegpipe -pix_fmt yuv420p - |\n"
    "    tev filter --step 25:-30 --step 50:9 --step 100:1 |\n"
    "    ffmpeg -f yuv4mpegpipe -i - -c:v libx264 clean.mp4\n"
    "\n"
    "--precision exact (default) gives the plugin's bytes; high keeps every stage's\n"
    "result wide and rounds once at the end, which removes more of the ghost.\n"
    "Exit status: 0 done (also when the reader downstream closes the pipe), 1 bad\n"
    "or truncated input or a file error, 2 bad options, 130 interrupted.\n";

volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnStopSignal(int) { g_stop = 1; }

void InstallSignalHandlers() {
#ifdef _WIN32
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#else
  // No SA_RESTART: a read blocked on a quiet pipe returns, and the loop sees the flag.
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed pipe downstream shows up as a write error we report, not a kill.
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

struct OptionError {
  std::string message;
};

// "A:B" with two integers, each within -limit..limit.
std::pair<int32_t, int32_t> ParsePair(const std::string& text, const char* what, int32_t limit_a, int32_t limit_b) {
  int a = 0, b = 0, used = 0;
  if (std::sscanf(text.c_str(), "%d:%d%n", &a, &b, &used) != 2 || used != static_cast<int>(text.size()))
    throw OptionError{std::string("bad ") + what + " '" + text + "'"};
  if (a < -limit_a || a > limit_a || b < -limit_b || b > limit_b)
    throw OptionError{std::string(what) + " '" + text + "' out of range"};
  return {a, b};
}

// The plugin's store, pointed at the user's file through its platform seam: the
// same reader, [DEFAULT] and channel rules. It is never asked to save, and its
// file operations could not write anyway.
LumaStages StagesFromFile(const std::string& path, const std::optional<int64_t>& channel, bool quiet) {
  std::string content;
  try {
    const std::vector<uint8_t> bytes = media::ReadWholeFile(path, "settings file");
    content.assign(bytes.begin(), bytes.end());
  } catch (const media::FrameFileError& e) {
    throw OptionError{e.what()};
  }
  SettingsPlatform platform;
  platform.PathInputs = [] {
    SettingsPathInputs inputs;
    inputs.VersionKnown = true;
    inputs.ExecutablePath = "C:\\tev\\tev.exe";  // any folder: the path is only a name here
    return inputs;
  };
  platform.ReadOrCreate = [&content](const std::string&, std::string& image) {
    image = content;
    return true;
  };
  SettingsStore store;
  store.SetPlatform(std::move(platform));
  store.LoadSettings("ZRL_TEVPlugin", nullptr);

  const std::vector<int64_t> channels = store.ChannelKeys();
  int32_t values[kSettingCount];
  if (channel) {
    bool known = false;
    for (const int64_t key : channels) known = known || key == *channel;
    if (!known && !quiet)
      std::fprintf(stderr, "tev filter: no section [%lld] in '%s': using its [DEFAULT] values\n",
                   static_cast<long long>(*channel), path.c_str());
    store.SelectChannel(*channel);
    for (int i = 0; i < kSettingCount; ++i) values[i] = store.Setting(i);
  } else {
    store.CopyDefaultValues(values);
  }
  LumaStages stages;
  stages.enabled = values[ProcEnable] != 0;
  stages.settings = StageSettingsFromValues(values);
  if (!stages.enabled && !quiet) {
    // The usual slip: a file with channel sections only, read without --channel.
    std::string keys;
    for (size_t i = 0; i < channels.size() && i < 8; ++i) keys += " " + std::to_string(channels[i]);
    if (channels.size() > 8) keys += " ...";
    const std::string section = channel ? "channel " + std::to_string(*channel) : std::string("[DEFAULT]");
    std::fprintf(stderr, "tev filter: ProcEnable is 0 for %s: frames pass through unchanged%s%s\n",
                 section.c_str(), keys.empty() ? "" : "; channels in the file:", keys.c_str());
  }
  return stages;
}

LumaStages StagesInline(const std::vector<std::string>& steps, const std::optional<std::string>& correct) {
  LumaStages stages;
  stages.enabled = true;
  if (steps.size() > static_cast<size_t>(kStepCount)) throw OptionError{"at most 8 --step"};
  for (const std::string& step : steps) {
    const auto [shift, level] = ParsePair(step, "--step SHIFT:LEVEL", 1000, 100);
    stages.settings.steps[stages.settings.step_count++] = {shift, level};
  }
  if (correct) {
    const auto [brightness, contrast] = ParsePair(*correct, "--correct BRIGHTNESS:CONTRAST", 100, 100);
    stages.settings.correct = true;
    stages.settings.brightness = brightness;
    stages.settings.contrast = contrast;
  }
  return stages;
}

class Progress {
 public:
  explicit Progress(bool shown) : shown_(shown), start_(Clock::now()), last_(start_) {}
  void Update(int64_t frames, bool final = false) {
    if (!shown_) return;
    const Clock::time_point now = Clock::now();
    if (!final && now - last_ < std::chrono::milliseconds(500)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\rtev filter: %lld frames, %.1f frames/s ", static_cast<long long>(frames),
                 seconds > 0 ? frames / seconds : 0.0);
    if (final) std::fputc('\n', stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool shown_;
  Clock::time_point start_, last_;
};

struct OpenFile {
  std::FILE* file = nullptr;
  bool owned = false;
  ~OpenFile() {
    if (owned && file) std::fclose(file);
  }
};

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "tev filter: %s\n", message.c_str());
  return status;
}

}  // namespace

int RunFilter(int argc, char** argv) {
  cxxopts::Options options("tev filter", "Removes ghosts from a YUV4MPEG2 stream with the plugin's settings.");
  options.add_options()("i,in", "input Y4M file, - for standard input", cxxopts::value<std::string>()->default_value("-"))(
      "o,out", "output Y4M file, - for standard output", cxxopts::value<std::string>()->default_value("-"))(
      "settings", "the plugin's settings file", cxxopts::value<std::string>())(
      "channel", "channel key of the section to use", cxxopts::value<int64_t>())(
      "step", "SHIFT:LEVEL of one step (repeatable)", cxxopts::value<std::vector<std::string>>())(
      "correct", "BRIGHTNESS:CONTRAST of the pre-correction", cxxopts::value<std::string>())(
      "precision", "exact (the plugin's bytes) or high", cxxopts::value<std::string>()->default_value("exact"))(
      "q,quiet", "no progress line and no notes on standard error")("h,help", "this text");

  LumaStages stages;
  std::string in_path, out_path;
  bool quiet = false;
  try {
    const cxxopts::ParseResult args = options.parse(argc, argv);
    if (args.count("help")) {
      std::fputs(options.help().c_str(), stdout);
      std::fputs(kHelpTail, stdout);
      return 0;
    }
    if (!args.unmatched().empty()) throw OptionError{"unexpected argument '" + args.unmatched().front() + "'"};
    quiet = args.count("quiet") > 0;
    in_path = args["in"].as<std::string>();
    out_path = args["out"].as<std::string>();
    const bool from_file = args.count("settings") > 0;
    const bool inline_stages = args.count("step") || args.count("correct");
    if (from_file && inline_stages) throw OptionError{"--settings and --step/--correct exclude each other"};
    if (!from_file && args.count("channel")) throw OptionError{"--channel needs --settings"};
    if (!from_file && !inline_stages)
      throw OptionError{"no settings: give --settings FILE [--channel KEY], or --step/--correct (see --help)"};
    const std::string precision = args["precision"].as<std::string>();
    if (precision != "exact" && precision != "high") throw OptionError{"--precision is exact or high"};

    if (from_file) {
      std::optional<int64_t> channel;
      if (args.count("channel")) channel = args["channel"].as<int64_t>();
      try {
        stages = StagesFromFile(args["settings"].as<std::string>(), channel, quiet);
      } catch (const OptionError& e) {
        return Fail(e.message, 1);
      }
    } else {
      std::optional<std::string> correct;
      if (args.count("correct")) correct = args["correct"].as<std::string>();
      stages = StagesInline(args.count("step") ? args["step"].as<std::vector<std::string>>()
                                                : std::vector<std::string>(),
                            correct);
    }
    stages.precision = precision == "high" ? Precision::High : Precision::Exact;
  } catch (const OptionError& e) {
    return Fail(e.message + " (tev filter --help)", 2);
  } catch (const std::exception& e) {
    return Fail(std::string(e.what()) + " (tev filter --help)", 2);
  }

#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  InstallSignalHandlers();

  OpenFile in;
  if (in_path == "-") {
    in.file = stdin;
  } else {
    in.file = media::OpenFile(in_path, "rb");
    in.owned = true;
    if (!in.file) return Fail("cannot open '" + in_path + "': " + std::strerror(errno), 1);
  }
  media::Y4mReader reader(in.file);
  // Nothing is created or written before the input is known to be a stream we read.
  if (!reader.ReadHeader()) return Fail(reader.error(), 1);

  OpenFile out;
  if (out_path == "-") {
    out.file = stdout;
  } else {
    // Writing a file over the input being read would destroy it.
    if (in_path != "-" && media::IdentifyFile(in_path).SameFileAs(media::IdentifyFile(out_path)))
      return Fail("--out is the input file", 1);
    out.file = media::OpenFile(out_path, "wb");
    out.owned = true;
    if (!out.file) return Fail("cannot create '" + out_path + "': " + std::strerror(errno), 1);
  }
  // One frame's planes go out in one write.
  std::setvbuf(out.file, nullptr, _IOFBF, 1 << 16);

  Progress progress(!quiet && TEV_ISATTY(TEV_FILENO(stderr)));
  media::Y4mWriter writer(out.file);
  StreamOutcome outcome;
  try {
    outcome = FilterFrames(reader, writer, stages, &g_stop, [&](int64_t n) { progress.Update(n); });
  } catch (const std::bad_alloc&) {
    // Only the frame buffers are large; nothing of a frame was written yet.
    outcome = {StreamOutcome::OutputFailed, 0, "not enough memory for frames of " + reader.format().header};
  }
  progress.Update(outcome.frames, true);

  if (out.owned) {
    const bool closed = std::fclose(out.file) == 0;
    out.file = nullptr;
    if (!closed && outcome.kind == StreamOutcome::Done) return Fail("cannot finish '" + out_path + "'", 1);
  }
  const std::string written = "; " + std::to_string(outcome.frames) + " frame(s) written";
  switch (outcome.kind) {
    case StreamOutcome::Done:
      return 0;
    case StreamOutcome::OutputClosed:
      if (!quiet) std::fprintf(stderr, "tev filter: output closed by its reader%s\n", written.c_str());
      return 0;
    case StreamOutcome::Interrupted:
      return Fail(outcome.message + written, 130);
    case StreamOutcome::BadInput:
    case StreamOutcome::OutputFailed:
      break;
  }
  return Fail(outcome.message + written, 1);
}

}  // namespace tev::app
