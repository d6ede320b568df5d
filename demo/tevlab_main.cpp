// tevlab: the demo's native tools. Makes the test card, passes it through a
// multipath channel, works out canceller settings from the channel model,
// measures pictures against the clean original and lays them side by side.
#include <cxxopts.hpp>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "demo/bitmap_font.h"
#include "demo/canvas.h"
#include "demo/channel_model.h"
#include "demo/estimate_eval.h"
#include "demo/metrics.h"
#include "demo/test_card.h"
#include "demo/tuning.h"
#include "media/file_colour.h"
#include "media/frame_format.h"
#include "media/frame_sink.h"
#include "media/frame_source.h"
#include "media/image_file.h"
#include "media/whole_file.h"
#include "processing/brightness_contrast.h"
#include "processing/echo_step.h"

namespace tev::demo {
namespace {

using media::FileFormat;
using media::FrameSize;
using media::PixelKind;

const char kUsage[] =
    "usage: tevlab COMMAND [options]   (tevlab COMMAND --help for its options)\n"
    "  card      make the test card, one still or a moving sequence\n"
    "  ghost     pass frames through a multipath channel model\n"
    "  settings  write plugin settings tuned to a channel model\n"
    "  preview   apply echo steps natively (the plugin's kernels, no host)\n"
    "  measure   ghost energy and PSNR of pictures against the clean original\n"
    "  compare   two pictures side by side as one image, with captions\n"
    "  photo     a photograph of any size as a 720x576 frame\n"
    "  estimate-eval  the blind estimator against settings fitted to the known channel, by class\n";

struct Frames {
  FrameSize size;
  PixelKind kind;
  std::vector<std::vector<uint8_t>> frames;
  std::string y4m_params;
};

Frames ReadAll(const std::string& path, const std::string& format, const std::string& size) {
  auto source = media::OpenFrameSource(path, media::ResolveFileFormat(format, path),
                                      size.empty() ? FrameSize{} : media::ParseFrameSize(size));
  Frames all{source->size(), source->kind(), {}, source->y4m_params()};
  std::vector<uint8_t> frame;
  while (source->Next(frame)) all.frames.push_back(frame);
  return all;
}

void WriteAll(const std::string& path, const std::string& format, const Frames& all) {
  media::FrameSink sink(path, media::ResolveFileFormat(format, path), all.size, all.y4m_params);
  for (const auto& frame : all.frames) sink.Put(frame, all.kind);
  sink.Commit();
}

ChannelModel ModelFrom(const cxxopts::ParseResult& args) {
  ChannelModel model;
  for (const std::string& echo : args["echo"].as<std::vector<std::string>>()) model.echoes.push_back(ParseEcho(echo));
  model.smear_taps = args["smear"].as<int>();
  if (model.smear_taps != 1 && model.smear_taps != 3 && model.smear_taps != 5)
    throw std::invalid_argument("--smear must be 1, 3 or 5");
  return model;
}

void AddModelOptions(cxxopts::Options& options) {
  options.add_options()("echo", "an echo: DELAY%:AMPLITUDE (repeatable)",
                        cxxopts::value<std::vector<std::string>>()->default_value("2.5:+30%"))(
      "smear", "taps of the echo's low-pass: 1, 3 or 5", cxxopts::value<int>()->default_value("3"));
}

cxxopts::ParseResult Parse(cxxopts::Options& options, int argc, char** argv) {
  options.add_options()("h,help", "this help");
  cxxopts::ParseResult args = options.parse(argc, argv);
  if (args.count("help")) {
    std::cout << options.help() << "\n";
    std::exit(0);
  }
  if (!args.unmatched().empty()) throw std::invalid_argument("unexpected argument '" + args.unmatched()[0] + "'");
  return args;
}

int Card(int argc, char** argv) {
  cxxopts::Options options("tevlab card", "Makes the test card.");
  options.add_options()("o,out", "output file (.png for a still; .yuy2, .bgr24, .y4m for a sequence)",
                        cxxopts::value<std::string>())(
      "size", "WIDTHxHEIGHT", cxxopts::value<std::string>()->default_value("720x576"))(
      "frames", "frames of the sequence", cxxopts::value<int>()->default_value("1"))(
      "format", "output format: auto, yuy2, bgr24, y4m, image", cxxopts::value<std::string>()->default_value("auto"));
  auto args = Parse(options, argc, argv);
  if (!args.count("out")) throw std::invalid_argument("--out is required");
  const FrameSize size = media::ParseFrameSize(args["size"].as<std::string>());
  const int count = args["frames"].as<int>();
  if (count < 1 || count > 1000) throw std::invalid_argument("--frames must be 1..1000");
  Frames all{size, PixelKind::Bgr24, {}, {}};
  for (int n = 0; n < count; ++n) all.frames.push_back(MakeTestCard(size.width, size.height, n).bgr);
  WriteAll(args["out"].as<std::string>(), args["format"].as<std::string>(), all);
  return 0;
}

int Ghost(int argc, char** argv) {
  cxxopts::Options options("tevlab ghost", "Passes frames through a multipath channel: delayed, smeared copies of "
                                           "the luma along each line, scaled by the receiver's gain control so that "
                                           "nothing clips.");
  options.add_options()("i,in", "input frames", cxxopts::value<std::string>())(
      "o,out", "output frames (YUY2 inside; converted when the output is BGR or an image)",
      cxxopts::value<std::string>())("size", "WIDTHxHEIGHT of raw input", cxxopts::value<std::string>()->default_value(""))(
      "in-format", "input format", cxxopts::value<std::string>()->default_value("auto"))(
      "out-format", "output format", cxxopts::value<std::string>()->default_value("auto"));
  AddModelOptions(options);
  auto args = Parse(options, argc, argv);
  if (!args.count("in") || !args.count("out")) throw std::invalid_argument("--in and --out are required");
  Frames all = ReadAll(args["in"].as<std::string>(), args["in-format"].as<std::string>(), args["size"].as<std::string>());
  const ChannelModel model = ModelFrom(args);
  for (auto& frame : all.frames) {
    frame = media::ConvertFileFrame(frame, all.kind, PixelKind::Yuy2, all.size);
    ApplyChannelYuy2(model, frame, all.size.width, all.size.height);
  }
  all.kind = PixelKind::Yuy2;
  WriteAll(args["out"].as<std::string>(), args["out-format"].as<std::string>(), all);
  const GainControl agc = ReceiverGain(model);
  std::printf("channel: %s; receiver gain %.3f, offset %.1f\n", DescribeModel(model).c_str(), agc.gain, agc.offset);
  return 0;
}

int Settings(int argc, char** argv) {
  cxxopts::Options options("tevlab settings", "Writes a plugin settings file tuned to a channel model.");
  options.add_options()("o,out", "settings file to write", cxxopts::value<std::string>())(
      "width", "line width in pixels of the frames", cxxopts::value<int>()->default_value("720"))(
      "key", "channel key of the section", cxxopts::value<long long>()->default_value("1001"))(
      "method", "fit (up to 8 steps fitted to the model) or cascade (d, 2d, 4d)",
      cxxopts::value<std::string>()->default_value("fit"))(
      "steps", "most steps to use, 1..8", cxxopts::value<int>()->default_value("8"))(
      "with-default", "also write the values as the DEFAULT section")(
      "every-step", "enable all 8 steps, the unused ones at shift 1, level -1 (for timing every stage)");
  AddModelOptions(options);
  auto args = Parse(options, argc, argv);
  if (!args.count("out")) throw std::invalid_argument("--out is required");
  const ChannelModel model = ModelFrom(args);
  const int width = args["width"].as<int>();
  const int max_steps = args["steps"].as<int>();
  if (width < 2 || width > media::kMaxSide) throw std::invalid_argument("--width out of range");
  if (max_steps < 1 || max_steps > 8) throw std::invalid_argument("--steps must be 1..8");
  const std::string method = args["method"].as<std::string>();
  PluginSettings settings;
  if (method == "fit")
    settings.steps = FitSteps(model, width, max_steps);
  else if (method == "cascade")
    settings.steps = CascadeSteps(model, width, max_steps);
  else
    throw std::invalid_argument("--method must be fit or cascade");
  if (args.count("every-step"))
    while (settings.steps.size() < 8) settings.steps.push_back({1, -1});
  const Headroom headroom = ChooseHeadroom(model, width, settings.steps);
  settings.brightness = headroom.brightness;
  settings.contrast = headroom.contrast;
  const std::string text = ComposeSettingsFile(settings, args["key"].as<long long>(), args.count("with-default") > 0);
  media::WriteWholeFile(args["out"].as<std::string>(), std::vector<uint8_t>(text.begin(), text.end()));
  std::printf("steps (%s):", method.c_str());
  for (const StepSetting& step : settings.steps)
    std::printf(" %d/%+d (%d px)", step.shift, step.level, PixelShift(step.shift, width));
  std::printf("\npre-correction for headroom: brightness %d, contrast %d%s", settings.brightness, settings.contrast,
              headroom.clip_free ? "" : " (some clipping remains)");
  std::printf("\nmodel residual: %.1f dB with no steps, %.1f dB with these steps\n",
              PredictedResidualDb(model, width, {}), PredictedResidualDb(model, width, settings.steps));
  return 0;
}

int Preview(int argc, char** argv) {
  cxxopts::Options options("tevlab preview",
                           "Applies echo steps to frames natively with the plugin's own kernels, without a host.");
  options.add_options()("i,in", "input frames", cxxopts::value<std::string>())(
      "o,out", "output frames", cxxopts::value<std::string>())(
      "size", "WIDTHxHEIGHT of raw input", cxxopts::value<std::string>()->default_value(""))(
      "step", "SHIFT:LEVEL in settings units (repeatable)", cxxopts::value<std::vector<std::string>>())(
      "brightness", "pre-correction brightness (percent)", cxxopts::value<int>()->default_value("0"))(
      "contrast", "pre-correction contrast (percent)", cxxopts::value<int>()->default_value("0"));
  auto args = Parse(options, argc, argv);
  if (!args.count("in") || !args.count("out")) throw std::invalid_argument("--in and --out are required");
  Frames all = ReadAll(args["in"].as<std::string>(), "auto", args["size"].as<std::string>());
  std::vector<StepSetting> steps;
  if (args.count("step"))
    for (const std::string& text : args["step"].as<std::vector<std::string>>()) {
      const size_t colon = text.find(':');
      if (colon == std::string::npos) throw std::invalid_argument("--step '" + text + "': expected SHIFT:LEVEL");
      steps.push_back({std::stoi(text.substr(0, colon)), std::stoi(text.substr(colon + 1))});
    }
  const FrameFormat format{all.size.width, all.size.height, 2, 0, 0};
  for (auto& frame : all.frames) {
    frame = media::ConvertFileFrame(frame, all.kind, PixelKind::Yuy2, all.size);
    const int brightness = args["brightness"].as<int>(), contrast = args["contrast"].as<int>();
    if (brightness || contrast) AdjustBrightnessContrast(frame.data(), &format, brightness, contrast);
    for (const StepSetting& step : steps) ApplyEchoStep(frame.data(), &format, step.shift, step.level);
  }
  all.kind = PixelKind::Yuy2;
  WriteAll(args["out"].as<std::string>(), "auto", all);
  return 0;
}

int Measure(int argc, char** argv) {
  cxxopts::Options options("tevlab measure", "Ghost energy and PSNR of pictures against the clean original, on "
                                             "luma, after matching gain and offset (least squares).");
  options.add_options()("clean", "the clean frames", cxxopts::value<std::string>())(
      "size", "WIDTHxHEIGHT of raw files", cxxopts::value<std::string>()->default_value(""))(
      "label", "a name for each picture (repeatable, in order)", cxxopts::value<std::vector<std::string>>())(
      "pictures", "frames to measure", cxxopts::value<std::vector<std::string>>());
  options.parse_positional({"pictures"});
  auto args = Parse(options, argc, argv);
  if (!args.count("clean") || !args.count("pictures")) throw std::invalid_argument("--clean and pictures are required");
  const std::string size = args["size"].as<std::string>();
  const Frames clean = ReadAll(args["clean"].as<std::string>(), "auto", size);
  const auto pictures = args["pictures"].as<std::vector<std::string>>();
  const auto labels = args.count("label") ? args["label"].as<std::vector<std::string>>() : std::vector<std::string>{};
  for (size_t p = 0; p < pictures.size(); ++p) {
    const Frames picture = ReadAll(pictures[p], "auto", size);
    if (picture.frames.size() != clean.frames.size() || picture.size.width != clean.size.width ||
        picture.size.height != clean.size.height)
      throw std::invalid_argument("'" + pictures[p] + "' does not have the clean input's frames and size");
    double ghost = 0, psnr = 0;
    for (size_t f = 0; f < clean.frames.size(); ++f) {
      const PictureFigures figures =
          MeasureAgainstClean(media::FileFrameLuma(clean.frames[f], clean.kind, clean.size),
                              media::FileFrameLuma(picture.frames[f], picture.kind, picture.size));
      ghost += figures.ghost_db;
      psnr += figures.psnr_db;
    }
    const double n = static_cast<double>(clean.frames.size());
    std::printf("%s ghost_db=%.1f psnr_db=%.1f frames=%zu\n", p < labels.size() ? labels[p].c_str() : pictures[p].c_str(),
                ghost / n, psnr / n, clean.frames.size());
  }
  return 0;
}

int Compare(int argc, char** argv) {
  cxxopts::Options options("tevlab compare", "Lays pictures side by side in one image with a caption over each.");
  options.add_options()("o,out", "output image (.png)", cxxopts::value<std::string>())(
      "size", "WIDTHxHEIGHT of raw files", cxxopts::value<std::string>()->default_value(""))(
      "frame", "which frame of a sequence", cxxopts::value<int>()->default_value("0"))(
      "caption", "a caption for each picture (repeatable, in order)", cxxopts::value<std::vector<std::string>>())(
      "crop", "X,Y,W,H: show this part of each picture, enlarged", cxxopts::value<std::string>()->default_value(""))(
      "zoom", "enlargement of the crop", cxxopts::value<int>()->default_value("2"))(
      "pictures", "pictures", cxxopts::value<std::vector<std::string>>());
  options.parse_positional({"pictures"});
  auto args = Parse(options, argc, argv);
  if (!args.count("out") || !args.count("pictures")) throw std::invalid_argument("--out and pictures are required");
  const auto pictures = args["pictures"].as<std::vector<std::string>>();
  const auto captions = args.count("caption") ? args["caption"].as<std::vector<std::string>>() : std::vector<std::string>{};
  const int which = args["frame"].as<int>();
  std::vector<std::vector<uint8_t>> rgb;  // B, G, R
  FrameSize size{};
  for (const std::string& path : pictures) {
    Frames all = ReadAll(path, "auto", args["size"].as<std::string>());
    if (which < 0 || which >= static_cast<int>(all.frames.size()))
      throw std::invalid_argument("'" + path + "' has no frame " + std::to_string(which));
    if (size.width && (size.width != all.size.width || size.height != all.size.height))
      throw std::invalid_argument("pictures of different sizes");
    size = all.size;
    rgb.push_back(media::ConvertFileFrame(all.frames[which], all.kind, PixelKind::Bgr24, size));
  }
  int cx = 0, cy = 0, cw = size.width, ch = size.height, zoom = 1;
  if (!args["crop"].as<std::string>().empty()) {
    if (std::sscanf(args["crop"].as<std::string>().c_str(), "%d,%d,%d,%d", &cx, &cy, &cw, &ch) != 4 || cx < 0 || cy < 0 ||
        cw < 1 || ch < 1 || cx + cw > size.width || cy + ch > size.height)
      throw std::invalid_argument("--crop must be X,Y,W,H inside the picture");
    zoom = args["zoom"].as<int>();
    if (zoom < 1 || zoom > 8) throw std::invalid_argument("--zoom must be 1..8");
  }
  const int gap = 8, caption_height = 28;
  const int panel_w = cw * zoom, panel_h = ch * zoom;
  Canvas out(static_cast<int>(pictures.size()) * (panel_w + gap) + gap, panel_h + caption_height + gap);
  out.FillRect(0, 0, out.width, out.height, 32, 32, 32);
  for (size_t p = 0; p < pictures.size(); ++p) {
    const int left = gap + static_cast<int>(p) * (panel_w + gap);
    if (p < captions.size()) DrawText(out, left, 7, captions[p], 2, 255, 255, 255);
    for (int y = 0; y < panel_h; ++y)
      for (int x = 0; x < panel_w; ++x) {
        const uint8_t* px = &rgb[p][(static_cast<size_t>(cy + y / zoom) * size.width + cx + x / zoom) * 3];
        out.Set(left + x, caption_height + y, px[0], px[1], px[2]);
      }
  }
  std::vector<uint8_t> image = out.bgr;
  for (size_t i = 0; i < image.size(); i += 3) std::swap(image[i], image[i + 2]);
  media::WriteRgbImage(args["out"].as<std::string>(), image, {out.width, out.height});
  return 0;
}

int Photo(int argc, char** argv) {
  cxxopts::Options options("tevlab photo", "Scales a photograph (any size) to a 720x576 frame by area averaging.");
  options.add_options()("i,in", "a PNG, BMP or JPEG picture", cxxopts::value<std::string>())(
      "o,out", "output frame (.yuy2, .png, ...)", cxxopts::value<std::string>());
  auto args = Parse(options, argc, argv);
  if (!args.count("in") || !args.count("out")) throw std::invalid_argument("--in and --out are required");
  WriteAll(args["out"].as<std::string>(), "auto",
           Frames{{720, 576}, PixelKind::Yuy2, {PhotoFrame(args["in"].as<std::string>())}, {}});
  return 0;
}

int EstimateEval(int argc, char** argv) {
  cxxopts::Options options("tevlab estimate-eval",
                           "Random channels (one to three echoes, both signs, smear, noise, gain control) on the test "
                           "card and on the photographs given, estimated blind, against settings fitted to the known "
                           "channel; prints the table by class.");
  options.add_options()("cases", "cases per class", cxxopts::value<int>()->default_value("12"))(
      "seed", "random seed", cxxopts::value<unsigned>()->default_value("1"))(
      "png", "estimate from the luma of RGB frames (as from a PNG) instead of the YUY2 luma")(
      "pan", "interlace each picture, its second field panned this many pixels (a camera moving between "
      "the fields)", cxxopts::value<int>()->default_value("0"))(
      "subcarrier", "add this share (0..1) of the chroma to the luma on the PAL colour subcarrier, as a "
      "composite decoder leaves it, after the channel", cxxopts::value<double>()->default_value("0"))(
      "jpeg", "estimate from the luma of a JPEG of each frame at this quality (1..100; 0: none), as a snapshot saved so",
      cxxopts::value<int>()->default_value("0"))(
      "verbose", "one line per case")("model-room",
                                        "give the fit the room its channel model needs for every picture, not the "
                                        "room traded on the picture as the estimator trades it")("trace", "the estimator's candidates, on stderr")("class", "run only this class", cxxopts::value<std::string>()->default_value(""))("photos", "photographs (any size; scaled to 720x576)",
                                      cxxopts::value<std::vector<std::string>>());
  options.parse_positional({"photos"});
  auto args = Parse(options, argc, argv);
  EstimateEvalOptions eval;
  if (args.count("photos")) eval.photos = args["photos"].as<std::vector<std::string>>();
  eval.cases_per_class = args["cases"].as<int>();
  eval.seed = args["seed"].as<unsigned>();
  eval.png_input = args.count("png") > 0;
  eval.pan = args["pan"].as<int>();
  if (std::abs(eval.pan) > 100) throw std::invalid_argument("--pan must be -100..100");
  eval.subcarrier = args["subcarrier"].as<double>();
  if (!(eval.subcarrier >= 0 && eval.subcarrier <= 1)) throw std::invalid_argument("--subcarrier must be 0..1");
  eval.jpeg_quality = args["jpeg"].as<int>();
  if (eval.jpeg_quality < 0 || eval.jpeg_quality > 100) throw std::invalid_argument("--jpeg must be 1..100 (0: no JPEG)");
  eval.verbose = args.count("verbose") > 0;
  eval.model_room = args.count("model-room") > 0;
  eval.only_class = args["class"].as<std::string>();
  eval.trace = args.count("trace") > 0;
  if (eval.cases_per_class < 1 || eval.cases_per_class > 1000) throw std::invalid_argument("--cases must be 1..1000");
  std::fputs(RunEstimateEval(eval).c_str(), stdout);
  return 0;
}

int Run(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string command = argv[1];
  if (command == "card") return Card(argc - 1, argv + 1);
  if (command == "ghost") return Ghost(argc - 1, argv + 1);
  if (command == "settings") return Settings(argc - 1, argv + 1);
  if (command == "preview") return Preview(argc - 1, argv + 1);
  if (command == "measure") return Measure(argc - 1, argv + 1);
  if (command == "compare") return Compare(argc - 1, argv + 1);
  if (command == "photo") return Photo(argc - 1, argv + 1);
  if (command == "estimate-eval") return EstimateEval(argc - 1, argv + 1);
  std::fprintf(stderr, "tevlab: unknown command '%s'\n%s", command.c_str(), kUsage);
  return 2;
}

}  // namespace
}  // namespace tev::demo

int main(int argc, char** argv) {
  try {
    return tev::demo::Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tevlab: %s\n", error.what());
    return 1;
  }
}
