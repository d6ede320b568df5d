// tev estimate: finds the ghost in a captured picture or clip and writes the
// plugin's settings for one channel, keeping the rest of the settings file.
#include <cxxopts.hpp>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "estimate/channel_fit.h"
#include "estimate/ghost_estimator.h"
#include "media/file_access.h"
#include "media/frame_source.h"
#include "media/whole_file.h"
#include "processing/color_convert.h"
#include "settings/settings_section_edit.h"
#include "tev/commands.h"

namespace tev::app {
namespace {

struct Options {
  std::string in, size, out;
  int frames = 1;
  long long channel = 0;
  bool dry_run = false;
  bool trace = false;
};

// 0 to go on, else the exit status (help printed, or bad options).
int ParseOptions(int argc, char** argv, Options& o) {
  cxxopts::Options options("tev estimate",
                           "Finds the ghost in a captured picture or clip from the picture alone and writes the "
                           "plugin's settings for one channel. Only that channel's section of SETTINGS changes.");
  options.add_options()("i,in", "a PNG, BMP or JPEG still, raw YUY2 (.yuy2, needs --size) or Y4M 4:2:2",
                        cxxopts::value<std::string>())(
      "size", "WIDTHxHEIGHT: needed for raw YUY2, checked against the others", cxxopts::value<std::string>()->default_value(""))(
      "frames", "frames of a clip to use (the first N)", cxxopts::value<int>()->default_value("1"))(
      "channel", "the channel's key, the section name in the settings file", cxxopts::value<long long>())(
      "o,out", "the settings file to write or update", cxxopts::value<std::string>())(
      "dry-run", "print what was found and the settings, write nothing")(
      "trace", "also print every candidate echo and how the settings were chosen (on stderr)")("h,help", "this help");
  cxxopts::ParseResult args;
  try {
    args = options.parse(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tev estimate: %s\n", error.what());
    return 2;
  }
  if (args.count("help")) {
    std::cout << options.help() << "\n";
    return -1;
  }
  auto bad = [](const char* message) {
    std::fprintf(stderr, "tev estimate: %s\n", message);
    return 2;
  };
  if (!args.count("in")) return bad("--in is required");
  if (!args.count("channel")) return bad("--channel is required");
  if (!args.count("out") && !args.count("dry-run")) return bad("--out is required (or --dry-run)");
  o.in = args["in"].as<std::string>();
  o.size = args["size"].as<std::string>();
  o.frames = args["frames"].as<int>();
  o.channel = args["channel"].as<long long>();
  o.out = args.count("out") ? args["out"].as<std::string>() : "";
  o.dry_run = args.count("dry-run") > 0;
  o.trace = args.count("trace") > 0;
  if (o.frames < 1 || o.frames > 1000) return bad("--frames must be 1..1000");
  if (o.channel == 0) return bad("--channel must not be 0 (the plugin skips that key)");
  return 0;
}

// The frames, and whether they came from a lossy still.
std::vector<estimate::LumaFrame> ReadLuma(const Options& o, bool& lossy) {
  using namespace tev::media;
  const FrameSize size = o.size.empty() ? FrameSize{} : ParseFrameSize(o.size);
  auto source = OpenFrameSource(o.in, ResolveFileFormat("", o.in), size);
  std::vector<estimate::LumaFrame> frames;
  std::vector<uint8_t> frame;
  while (static_cast<int>(frames.size()) < o.frames && source->Next(frame)) {
    estimate::LumaFrame luma{source->size().width, source->size().height, {}};
    const size_t pixels = static_cast<size_t>(luma.width) * luma.height;
    luma.pixels.resize(pixels);
    // The plugin's own rule for the luma of an RGB frame.
    for (size_t i = 0; i < pixels; ++i)
      luma.pixels[i] = source->kind() == PixelKind::Bgr24 ? LumaOfBgr(&frame[3 * i]) : frame[2 * i];
    frames.push_back(std::move(luma));
  }
  if (frames.empty()) throw FrameFileError("'" + o.in + "' holds no frame");
  lossy = source->lossy();
  return frames;
}

void PrintFindings(const estimate::Estimate& found, int width) {
  if (found.echoes.empty()) std::printf("no ghost found: processing stays off\n");
  for (const estimate::FoundEcho& echo : found.echoes)
    std::printf("echo: delay %+d px (%+.1f %% of the line, Shift %+d), amplitude %+.1f %%, %zu-tap smear, "
                "confidence %.1f\n",
                echo.delay, 100.0 * echo.delay / width, static_cast<int>(std::lround(1000.0 * echo.delay / width)),
                100 * echo.amplitude, echo.smear.size(), echo.confidence);
  if (!found.echoes.empty())
    std::printf("ghost correlation left by the settings: %.1f dB\n", 10 * std::log10(found.score_on / found.score_off));
}

}  // namespace

int RunEstimate(int argc, char** argv) {
  Options o;
  if (const int status = ParseOptions(argc, argv, o)) return status < 0 ? 0 : status;
  std::vector<estimate::LumaFrame> frames;
  bool lossy = false;
  try {
    frames = ReadLuma(o, lossy);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tev estimate: %s\n", error.what());
    return 1;
  }
  // Compression drops the weak copy of fine detail that a ghost is, so the
  // estimate sees a smeared, weaker echo (`tevlab estimate-eval --jpeg`).
  if (lossy)
    std::fprintf(stderr,
                 "tev estimate: note: '%s' is a JPEG; compression blurs the ghost's copy of fine detail, and settings "
                 "estimated from it cancel less (within 3 dB of the best in 60 %% of test cases at quality 85, "
                 "against 91 %% from the same pictures as PNG): save the snapshot as PNG or BMP where you can\n",
                 o.in.c_str());
  estimate::EstimateOptions options;
  if (o.trace) options.trace = stderr;
  const estimate::Estimate found = estimate::EstimateGhost(frames, options);
  if (found.status != estimate::EstimateStatus::Done) {
    std::fprintf(stderr, "tev estimate: '%s': %s (%dx%d); nothing written\n", o.in.c_str(),
                 estimate::EstimateStatusText(found.status), frames[0].width, frames[0].height);
    return 1;
  }
  PrintFindings(found, frames[0].width);
  const std::string section = estimate::ComposeChannelSection(found.settings, o.channel);
  std::fputs(section.c_str(), stdout);
  if (o.dry_run) return 0;

  try {
    const media::FileIdentity target = media::IdentifyFile(o.out);
    if (target.SameFileAs(media::IdentifyFile(o.in)))
      throw media::FrameFileError("settings file '" + o.out + "' is the input picture");
    const bool exists = target.exists;
    std::string old_text;
    if (exists) {
      const std::vector<uint8_t> bytes = media::ReadWholeFile(o.out, "settings file");
      old_text.assign(bytes.begin(), bytes.end());
    }
    const std::string new_text = exists ? ReplaceChannelSection(old_text, o.channel, section)
                                        : estimate::ComposeSettingsFile(found.settings, o.channel, false);
    if (exists && new_text == old_text) {
      std::printf("'%s' already holds these settings\n", o.out.c_str());
      return 0;
    }
    media::WriteWholeFile(o.out, std::vector<uint8_t>(new_text.begin(), new_text.end()), "settings file");
    std::printf("%s channel %lld in '%s'\n", exists ? "updated" : "wrote", o.channel, o.out.c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tev estimate: %s; nothing written\n", error.what());
    return 1;
  }
  return 0;
}

}  // namespace tev::app
