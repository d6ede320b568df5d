// tevhost: a substitute TV-tuner host for ZRL_TEVPlugin.dll. Loads the plugin
// the way the host application does, feeds it frames from files, writes the
// processed frames, measures ProcessFrame, or shows the frames live with the
// plugin's settings dialog.
#include <windows.h>

#include <cxxopts.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "host/interrupt.h"
#include "host/live_view.h"
#include "host/plugin_host.h"
#include "host/private_run.h"
#include "media/file_access.h"
#include "media/file_colour.h"
#include "media/frame_sink.h"
#include "media/frame_source.h"
#include "media/temporary_files.h"
#include "media/whole_file.h"

namespace tev::host {
namespace {

using namespace tev::media;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Options {
  std::string input, output, in_format, out_format, size, kind, plugin, settings, save_settings, channel_name;
  int64_t channel = 1001;
  int64_t frames = -1;
  bool stats = false;
  int repeat = 200;
  bool dialog = false;
  int fps = 25;
  bool plugin_given = false;
  DWORD private_run_parent = 0;  // the host that started this private run; 0 for none
};

// A file of the user's that two options name at once: refused before a byte is written.
class SameFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Unix paths (as Wine's Z: drive) become Windows paths, so either form works.
std::string WindowsPath(const std::string& path) {
  if (path.size() < 2 || path[0] != '/' || path[1] == '/') return path;
  std::string converted = "Z:" + path;
  std::replace(converted.begin(), converted.end(), '/', '\\');
  return converted;
}

std::string ExecutableFolder() {
  const std::string path = media::Utf8Text(HostExecutablePath());
  return path.substr(0, path.find_last_of('\\') + 1);
}

bool IsInstanceOption(const char* arg) {
  std::string lower(arg);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.rfind("/inst:", 0) == 0 || lower.rfind("-inst:", 0) == 0;
}

cxxopts::Options MakeParser() {
  cxxopts::Options parser("tevhost",
                          "Substitute TV-tuner host for ZRL_TEVPlugin.dll: loads the plugin, feeds it frames from a "
                          "file on one channel, and writes the processed frames.\n\n"
                          "Input and output formats: raw YUY2 (.yuy2), raw 24-bit BGR (.bgr24), YUV4MPEG2 4:2:2 "
                          "(.y4m, FFmpeg's yuv422p) and images (.png, .bmp, .jpg in; .png, .bmp, .jpg, .tga out). "
                          "Paths may be Windows paths or Unix paths (taken as Wine's Z: drive).\n\n"
                          "The plugin reads its settings from <tevhost folder>\\Plugins\\<plugin>.ini (or "
                          "Instances\\<tag>\\Plugins\\ with /inst:<tag>) at Init and rewrites it at Shutdown. With "
                          "--settings the run gets a private copy of the host in a temporary folder instead, so the "
                          "plugin's own file and folder are never written.\n\n"
                          "Exit status: 0 done, 1 a file or the plugin failed (no output is left behind), 2 bad "
                          "options.");
  parser.positional_help("").custom_help("[options] --in FILE [--out FILE]");
  // clang-format off
  parser.add_options()
    ("i,in", "input frames", cxxopts::value<std::string>())
    ("o,out", "processed frames; without it the frames are processed and dropped", cxxopts::value<std::string>())
    ("in-format", "input format: auto (from the name), yuy2, bgr24, y4m, image", cxxopts::value<std::string>()->default_value("auto"))
    ("out-format", "output format: auto (from the name), yuy2, bgr24, y4m, image", cxxopts::value<std::string>()->default_value("auto"))
    ("size", "WIDTHxHEIGHT of raw input, e.g. 720x576 (checked against other inputs)", cxxopts::value<std::string>()->default_value(""))
    ("kind", "frame kind given to the plugin: auto (the input's own: YUY2 for .yuy2 and .y4m, RGB24 for .bgr24 and images), yuy2, rgb24", cxxopts::value<std::string>()->default_value("auto"))
    ("frames", "process at most N frames", cxxopts::value<int64_t>())
    ("plugin", "the plugin DLL (default: ZRL_TEVPlugin.dll beside tevhost.exe)", cxxopts::value<std::string>()->default_value(""))
    ("settings", "a settings file for this run only: the plugin reads it in a private folder; FILE and the plugin's own file stay as they are", cxxopts::value<std::string>()->default_value(""))
    ("save-settings", "write the settings file as the plugin left it at Shutdown to FILE (e.g. after tuning with --dialog)", cxxopts::value<std::string>()->default_value(""))
    ("channel", "channel key of every frame (signed 64-bit)", cxxopts::value<int64_t>()->default_value("1001"))
    ("channel-name", "channel name of every frame", cxxopts::value<std::string>()->default_value("Demo"))
    ("stats", "measure ProcessFrame on the first frame with QueryPerformanceCounter, beside a memcpy of the same frame")
    ("repeat", "timed calls of each kind for --stats", cxxopts::value<int>()->default_value("200"))
    ("dialog", "live mode: show the frames in a window, looping, processed on every tick, with the plugin's dialog (F2 or double-click opens it again, Space pauses)")
    ("fps", "frame rate of the live window", cxxopts::value<int>()->default_value("25"))
    ("h,help", "this help; /inst:<tag> on the command line selects the host instance, as with the real host");
  parser.add_options("internal")
    (kPrivateRunOption, "the run of a private copy, with the starting host's process id", cxxopts::value<uint32_t>());
  // clang-format on
  return parser;
}

Options ParseOptions(std::vector<std::string>& argv, bool& help) {
  // The host instance option belongs to the plugin's settings location; it
  // stays in the process command line, where the plugin reads it.
  std::vector<char*> args;
  for (size_t i = 0; i < argv.size(); ++i)
    if (i == 0 || !IsInstanceOption(argv[i].c_str())) args.push_back(argv[i].data());
  cxxopts::Options parser = MakeParser();
  cxxopts::ParseResult parsed;
  try {
    parsed = parser.parse(static_cast<int>(args.size()), args.data());
  } catch (const cxxopts::exceptions::exception& error) {
    throw UsageError(error.what());
  }
  if (parsed.count("help")) {
    help = true;
    std::printf("%s\n", parser.help({""}).c_str());
    return {};
  }
  if (!parsed.unmatched().empty()) throw UsageError("unexpected argument '" + parsed.unmatched()[0] + "'");
  Options o;
  if (!parsed.count("in")) throw UsageError("no input: give --in FILE (see --help)");
  o.input = WindowsPath(parsed["in"].as<std::string>());
  if (parsed.count("out")) o.output = WindowsPath(parsed["out"].as<std::string>());
  o.in_format = parsed["in-format"].as<std::string>();
  o.out_format = parsed["out-format"].as<std::string>();
  o.size = parsed["size"].as<std::string>();
  o.kind = parsed["kind"].as<std::string>();
  if (parsed.count("frames")) {
    o.frames = parsed["frames"].as<int64_t>();
    if (o.frames < 1) throw UsageError("--frames must be at least 1");
  }
  o.plugin_given = !parsed["plugin"].as<std::string>().empty();
  if (parsed.count(kPrivateRunOption)) o.private_run_parent = parsed[kPrivateRunOption].as<uint32_t>();
  o.plugin = parsed["plugin"].as<std::string>().empty() ? ExecutableFolder() + "ZRL_TEVPlugin.dll"
                                                         : WindowsPath(parsed["plugin"].as<std::string>());
  o.settings = WindowsPath(parsed["settings"].as<std::string>());
  o.save_settings = WindowsPath(parsed["save-settings"].as<std::string>());
  o.channel = parsed["channel"].as<int64_t>();
  o.channel_name = parsed["channel-name"].as<std::string>();
  if (o.channel_name.size() > 255) throw UsageError("--channel-name is longer than 255 characters");
  o.stats = parsed.count("stats") > 0;
  o.repeat = parsed["repeat"].as<int>();
  if (o.repeat < 1 || o.repeat > 100000) throw UsageError("--repeat must be 1..100000");
  o.dialog = parsed.count("dialog") > 0;
  o.fps = parsed["fps"].as<int>();
  if (o.fps < 1 || o.fps > 200) throw UsageError("--fps must be 1..200");
  if (o.kind != "auto" && o.kind != "yuy2" && o.kind != "rgb24")
    throw UsageError("unknown --kind '" + o.kind + "': use auto, yuy2 or rgb24");
  if (o.dialog && !o.output.empty()) throw UsageError("--dialog shows the frames; it writes no --out");
  return o;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One memcpy through a pointer the compiler cannot see through, so that it is
// really made every time.
void* (*volatile g_memcpy)(void*, const void*, size_t) = std::memcpy;

void MeasureProcessFrame(PluginHost& plugin, const HostChannel& channel, const std::vector<uint8_t>& original,
                         FrameSize size, PixelKind kind, int repeat) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const double ns_per_tick = 1e9 / static_cast<double>(frequency.QuadPart);
  std::vector<uint8_t> work(original.size()), copy(original.size());
  std::vector<double> process_ns, memcpy_ns;
  // Warm both paths once, untimed.
  g_memcpy(work.data(), original.data(), original.size());
  plugin.ProcessFrame(work.data(), channel);
  g_memcpy(copy.data(), original.data(), original.size());
  for (int i = 0; i < repeat; ++i) {
    CheckInterrupt();
    LARGE_INTEGER t0, t1, t2, t3;
    g_memcpy(work.data(), original.data(), original.size());  // a fresh frame each time, untimed
    QueryPerformanceCounter(&t0);
    plugin.ProcessFrame(work.data(), channel);
    QueryPerformanceCounter(&t1);
    QueryPerformanceCounter(&t2);
    g_memcpy(copy.data(), original.data(), original.size());
    QueryPerformanceCounter(&t3);
    process_ns.push_back(static_cast<double>(t1.QuadPart - t0.QuadPart) * ns_per_tick);
    memcpy_ns.push_back(static_cast<double>(t3.QuadPart - t2.QuadPart) * ns_per_tick);
  }
  const double process = Median(process_ns), reference = std::max(Median(memcpy_ns), 1.0);
  std::printf("stats: %dx%d %s, %zu bytes a frame, median of %d calls each\n", size.width, size.height,
              kind == PixelKind::Yuy2 ? "YUY2" : "RGB24", original.size(), repeat);
  std::printf("stats: ProcessFrame %.0f ns/frame (%.1f frames/s)\n", process, process > 0 ? 1e9 / process : 0.0);
  std::printf("stats: memcpy of one frame %.0f ns\n", reference);
  std::printf("stats: ProcessFrame / memcpy = %.2f\n", process / reference);
}

// The same file under two options (also through "./", case or a link) would
// lose the user's file: refused by identity before anything is written.
void RefuseSameFiles(const Options& o) {
  const std::pair<const char*, const std::string*> files[] = {
      {"--in", &o.input}, {"--out", &o.output}, {"--settings", &o.settings}, {"--save-settings", &o.save_settings}};
  for (size_t i = 0; i < std::size(files); ++i)
    for (size_t j = i + 1; j < std::size(files); ++j) {
      if (files[i].second->empty() || files[j].second->empty()) continue;
      if (media::NameSameFile(*files[i].second, *files[j].second))
        throw SameFileError(std::string(files[j].first) + " names the same file as " + files[i].first + " ('" +
                            *files[j].second + "'); give it a file of its own");
    }
}

double MillisecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1e3 / static_cast<double>(frequency.QuadPart);
}

int Run(const Options& o) {
  RefuseSameFiles(o);
  // The plugin's own rule says where it will look; a tag it refuses would
  // leave it on defaults while the run looked fine.
  const std::string tag = InstanceTagOf(GetCommandLineA());
  const SettingsPaths plugin_paths = PluginSettingsPaths(o.plugin);
  if (!tag.empty() && plugin_paths.SettingsFilePath.empty() &&
      !PluginSettingsPaths(o.plugin, true).SettingsFilePath.empty())
    throw UsageError("/inst:" + tag + " gives the plugin no settings folder: it takes as an instance tag only a "
                     "character that can be a folder name of its own, and would run on its defaults");
  if (!o.settings.empty() && o.private_run_parent == 0)
    return RunWithPrivateSettings(ReadWholeFile(o.settings, "settings file"), o.plugin, o.plugin_given);
  // A target that cannot be written (read-only, denied, no such folder) is
  // found now, with the system's reason, not after a tuning session; its
  // temporary goes with a Ctrl+C like the output's.
  std::optional<TemporaryFile> saved_settings;
  if (!o.save_settings.empty()) saved_settings.emplace(o.save_settings, "saved settings file");

  const FileFormat in_format = ResolveFileFormat(o.in_format, o.input);
  std::unique_ptr<FrameSource> source =
      OpenFrameSource(o.input, in_format, o.size.empty() ? FrameSize{} : ParseFrameSize(o.size));
  const FrameSize size = source->size();
  const PixelKind kind = o.kind == "auto" ? source->kind() : o.kind == "yuy2" ? PixelKind::Yuy2 : PixelKind::Bgr24;
  CheckFrameSize(kind, size);

  // Everything about the output is checked before the plugin runs.
  std::unique_ptr<FrameSink> sink;
  if (!o.output.empty()) {
    const FileFormat out_format = ResolveFileFormat(o.out_format, o.output);
    if (out_format == FileFormat::Image && source->frame_count() > 1 && o.frames != 1)
      throw FrameFileError("image output '" + o.output + "' holds one frame; the input has " +
                           std::to_string(source->frame_count()) + " (use --frames 1, or a .yuy2, .bgr24 or .y4m output)");
    sink = std::make_unique<FrameSink>(o.output, out_format, size, source->y4m_params());
  }

  PluginHost plugin(o.plugin);
  const HostChannel channel(o.channel, o.channel_name);

  std::printf("tevhost: %s (%s), %dx%d %s frames as %s, channel %lld\n", o.plugin.c_str(), plugin.DisplayName().c_str(),
              size.width, size.height, FileFormatName(in_format), kind == PixelKind::Yuy2 ? "YUY2" : "RGB24",
              static_cast<long long>(o.channel));
  std::fflush(stdout);

  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  plugin.Init();
  const double init_ms = MillisecondsSince(start);
  plugin.SetFormat(size.width, size.height, kind == PixelKind::Bgr24);

  std::vector<uint8_t> frame, first;
  int64_t processed = 0;
  if (o.dialog) {
    LiveViewInput live{size, kind, {}, o.fps};
    const int64_t limit = o.frames > 0 ? o.frames : 250;  // frames kept in memory for the loop
    while (static_cast<int64_t>(live.frames.size()) < limit && source->Next(frame))
      live.frames.push_back(ConvertFileFrame(frame, source->kind(), kind, size));
    if (live.frames.empty()) throw FrameFileError("no frames in '" + o.input + "'");
    processed = RunLiveView(plugin, channel, live, ("tevhost - " + o.input + "  (F2: settings, Space: pause)").c_str());
  } else {
    while ((o.frames < 0 || processed < o.frames) && source->Next(frame)) {
      CheckInterrupt();
      frame = ConvertFileFrame(frame, source->kind(), kind, size);
      if (first.empty()) first = frame;
      plugin.ProcessFrame(frame.data(), channel);
      if (sink) sink->Put(frame, kind);
      ++processed;
    }
    if (processed == 0) throw FrameFileError("no frames in '" + o.input + "'");
    if (o.stats) MeasureProcessFrame(plugin, channel, first, size, kind, o.repeat);
  }
  plugin.FreeBuffers();
  QueryPerformanceCounter(&start);
  plugin.Shutdown();
  const double shutdown_ms = MillisecondsSince(start);
  if (o.stats) std::printf("stats: Init %.1f ms, Shutdown %.1f ms (settings read and written)\n", init_ms, shutdown_ms);
  CheckInterrupt();

  if (!o.save_settings.empty()) {
    // Where this process's plugin keeps its file: the private folder in a
    // run with --settings.
    const SettingsPaths paths = PluginSettingsPaths(o.plugin);
    if (paths.SettingsFilePath.empty())
      throw SettingsFileError("the plugin keeps its settings in memory only; there is nothing for --save-settings");
    const std::string plugin_file = PluginTextToUtf8(paths.SettingsFilePath);
    if (!media::IdentifyFile(plugin_file).exists)
      throw SettingsFileError("the plugin left no settings file at '" + plugin_file + "'");
    const std::vector<uint8_t> bytes = ReadWholeFile(plugin_file, "the plugin's settings file");
    saved_settings->Write(bytes.data(), bytes.size());
    saved_settings->Commit();
  }
  if (sink) {
    sink->Commit();
    std::printf("tevhost: %lld frame(s) processed into %s\n", static_cast<long long>(processed), o.output.c_str());
  } else {
    std::printf("tevhost: %lld frame(s) processed\n", static_cast<long long>(processed));
  }
  return kExitOk;
}

}  // namespace
}  // namespace tev::host

int main(int argc, char** argv) {
  using namespace tev::host;
  bool help = false;
  Options options;
  std::vector<std::string> args = tev::media::Utf8Arguments(argc, argv);
  try {
    options = ParseOptions(args, help);
    if (help) return kExitOk;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tevhost: %s\n", error.what());
    return kExitUsage;
  }
  // A private run is ended by its starter's console event too, and by the
  // starter's death; the starter itself only waits for it and cleans up.
  InstallInterruptHandler(!options.settings.empty() && options.private_run_parent == 0);
  if (options.private_run_parent != 0) EndWithParent(options.private_run_parent);
  try {
    return Run(options);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "tevhost: %s\n", error.what());
    return kExitUsage;
  } catch (const Interrupted& error) {
    std::fprintf(stderr, "tevhost: %s\n", error.what());
    return kExitInterrupted;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tevhost: not enough memory for frames of this size\n");
    return kExitFailure;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tevhost: %s\n", error.what());
    return kExitFailure;
  }
}
