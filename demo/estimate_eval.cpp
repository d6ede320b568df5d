#include "demo/estimate_eval.h"

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <stdexcept>

#include "demo/channel_model.h"
#include "demo/metrics.h"
#include "demo/test_card.h"
#include "demo/tuning.h"
#include "estimate/ghost_estimator.h"
#include "media/file_colour.h"
#include "media/frame_sink.h"
#include "media/frame_source.h"
#include "media/image_codecs.h"
#include "media/image_file.h"
#include "processing/color_convert.h"
#include "processing/luma_plane.h"

namespace tev::demo {
namespace {

constexpr int kWidth = 720, kHeight = 576;
const char* const kClasses[] = {"positive", "negative", "smeared", "noisy", "multi-echo", "ghost-free"};

// Area average of a BGR picture onto kWidth x kHeight.
std::vector<uint8_t> ScaleBgr(const std::vector<uint8_t>& bgr, media::FrameSize size) {
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    const int y0 = y * size.height / kHeight, y1 = std::max(y0 + 1, (y + 1) * size.height / kHeight);
    for (int x = 0; x < kWidth; ++x) {
      const int x0 = x * size.width / kWidth, x1 = std::max(x0 + 1, (x + 1) * size.width / kWidth);
      for (int c = 0; c < 3; ++c) {
        long sum = 0;
        for (int yy = y0; yy < y1; ++yy)
          for (int xx = x0; xx < x1; ++xx) sum += bgr[(static_cast<size_t>(yy) * size.width + xx) * 3 + c];
        out[(static_cast<size_t>(y) * kWidth + x) * 3 + c] = static_cast<uint8_t>((sum + (y1 - y0) * (x1 - x0) / 2) / ((y1 - y0) * (x1 - x0)));
      }
    }
  }
  return out;
}

struct Picture {
  std::string name;
  std::vector<uint8_t> yuy2;  // clean
};

}  // namespace

std::vector<uint8_t> PhotoFrame(const std::string& path) {
  auto source = media::OpenFrameSource(path, media::FileFormat::Image, {});
  std::vector<uint8_t> frame;
  if (!source->Next(frame)) throw media::FrameFileError("'" + path + "' holds no picture");
  const auto bgr = media::ConvertFileFrame(frame, source->kind(), media::PixelKind::Bgr24, source->size());
  return media::ConvertFileFrame(ScaleBgr(bgr, source->size()), media::PixelKind::Bgr24, media::PixelKind::Yuy2,
                            {kWidth, kHeight});
}

namespace {

std::vector<Picture> LoadPictures(const std::vector<std::string>& photos) {
  std::vector<Picture> pictures;
  const media::FrameSize size{kWidth, kHeight};
  pictures.push_back({"test card", media::ConvertFileFrame(MakeTestCard(kWidth, kHeight, 0).bgr, media::PixelKind::Bgr24,
                                                      media::PixelKind::Yuy2, size)});
  for (const std::string& path : photos) pictures.push_back({path.substr(path.find_last_of('/') + 1), PhotoFrame(path)});
  return pictures;
}

std::vector<uint8_t> EvenBytes(const std::vector<uint8_t>& yuy2) {
  std::vector<uint8_t> luma(yuy2.size() / 2);
  for (size_t i = 0; i < luma.size(); ++i) luma[i] = yuy2[2 * i];
  return luma;
}

struct Case {
  std::string klass, picture;
  ChannelModel model;
  double noise = 0;
};

Case RandomCase(const std::string& klass, std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(0, 1);
  auto echo = [&](int sign) {
    const double delay = (1 + 9 * unit(rng)) * (unit(rng) < 0.5 ? -1 : 1);
    double amplitude = 0.05 + 0.35 * unit(rng);
    if (sign == 0) sign = unit(rng) < 0.5 ? -1 : 1;
    return Echo{delay, sign * amplitude};
  };
  const int smears[] = {1, 3, 5};
  Case c;
  c.klass = klass;
  c.model.smear_taps = 1;
  if (klass == "positive") c.model.echoes = {echo(+1)};
  if (klass == "negative") c.model.echoes = {echo(-1)};
  if (klass == "smeared") {
    c.model.echoes = {echo(0)};
    c.model.smear_taps = unit(rng) < 0.5 ? 3 : 5;
  }
  if (klass == "noisy") {
    c.model.echoes = {echo(0)};
    c.model.smear_taps = smears[rng() % 3];
    c.noise = 2 + 2 * unit(rng);
  }
  if (klass == "multi-echo") {
    const int n = 2 + static_cast<int>(rng() % 2);
    for (int i = 0; i < n; ++i) {
      Echo e = echo(0);
      // Later echoes are weaker, as reflections of longer paths are; keep the
      // delays apart so that each is its own echo.
      e.amplitude *= i == 0 ? 1.0 : 0.6;
      bool apart = true;
      for (const Echo& other : c.model.echoes) apart &= std::fabs(other.delay_percent - e.delay_percent) > 1.0;
      if (apart) c.model.echoes.push_back(e); else --i;
    }
    c.model.smear_taps = smears[rng() % 3];
  }
  if (klass == "ghost-free") c.noise = unit(rng) < 0.5 ? 0 : 3 * unit(rng);
  return c;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(std::floor(p * (v.size() - 1)))];
}

std::vector<uint8_t> Process(std::vector<uint8_t> luma, const estimate::PluginSettings& settings) {
  if (settings.proc_enable) ProcessLumaPlane(luma.data(), kWidth, kWidth, kHeight, estimate::StagesOf(settings));
  return luma;
}

// A snapshot as a host or viewer saves it: encoded by libjpeg-turbo at
// `quality` (chroma halved both ways) and decoded as `tev` reads it.
std::vector<uint8_t> ThroughJpeg(std::vector<uint8_t> bgr, int quality) {
#ifdef _WIN32
  (void)bgr, (void)quality;
  throw std::invalid_argument("--jpeg needs the native build's encoder");
#else
  for (size_t i = 0; i < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
  return media::DecodeImage(media::EncodeJpeg(bgr, {kWidth, kHeight}, quality), "snapshot").bgr;
#endif
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double e = 0;
  for (size_t i = 0; i < a.size(); ++i) e += (a[i] - b[i]) * (a[i] - b[i]);
  return e == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * a.size() / e);
}

}  // namespace

// What a PAL decoder leaves of the chroma in the luma: `share` of U and V on
// the 4.43 MHz subcarrier (0.328 cycles a pixel at 13.5 MHz), turning three
// quarters of a cycle a line, V's sign switched every line.
void AddSubcarrier(std::vector<uint8_t>& yuy2, int width, int height, double share) {
  const double pi = std::acos(-1.0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x, pair = (i / 2) * 4;
      const double u = yuy2[pair + 1] - 128.0, v = yuy2[pair + 3] - 128.0;
      const double phase = 2 * pi * 0.3284 * x + 1.5 * pi * y;
      const double carrier = u * std::sin(phase) + (y % 2 ? -v : v) * std::cos(phase);
      yuy2[2 * i] = static_cast<uint8_t>(std::clamp(std::lround(yuy2[2 * i] + share * carrier), 0L, 255L));
    }
}

void PanSecondField(std::vector<uint8_t>& yuy2, int width, int height, int pixels) {
  std::vector<uint8_t> line(width);
  for (int y = 1; y < height; y += 2) {
    uint8_t* row = &yuy2[static_cast<size_t>(y) * width * 2];
    for (int x = 0; x < width; ++x) line[x] = row[2 * std::clamp(x - pixels, 0, width - 1)];
    for (int x = 0; x < width; ++x) row[2 * x] = line[x];
  }
}

std::string RunEstimateEval(const EstimateEvalOptions& options) {
  const std::vector<Picture> pictures = LoadPictures(options.photos);
  std::mt19937 rng(options.seed);
  struct Row {
    std::vector<double> reduction, gap, psnr;
    int worse = 0;
  };
  std::map<std::string, Row> rows;
  std::vector<double> all_reduction, all_gap, all_fit;
  // The same settings on the ghosted picture before its noise: the ghost they
  // leave, which the measure above mixes with noise that no setting removes.
  std::vector<double> alone_reduction, alone_fit;
  std::vector<double> seconds;
  int worse_total = 0;
  for (const char* klass : kClasses) {
    for (int n = 0; n < options.cases_per_class; ++n) {
      Case c = RandomCase(klass, rng);
      const Picture& picture = pictures[(n + rng() % pictures.size()) % pictures.size()];
      c.picture = picture.name;
      // Each case's noise has its own seed, so that a run of one class
      // sees the same cases as the full run.
      std::mt19937 noise_rng(static_cast<unsigned>(rng()));
      if (!options.only_class.empty() && options.only_class != klass) continue;
      std::vector<uint8_t> source = picture.yuy2;
      if (options.pan != 0) PanSecondField(source, kWidth, kHeight, options.pan);
      std::vector<uint8_t> ghost = source;
      if (!c.model.echoes.empty()) ApplyChannelYuy2(c.model, ghost, kWidth, kHeight);
      const std::vector<uint8_t> noiseless = EvenBytes(ghost);
      if (c.noise > 0) {
        std::normal_distribution<double> noise(0, c.noise);
        for (size_t i = 0; i < ghost.size(); i += 2)
          ghost[i] = static_cast<uint8_t>(std::clamp(std::lround(ghost[i] + noise(noise_rng)), 0L, 255L));
      }
      std::vector<uint8_t> reference = source;
      if (options.subcarrier > 0) {
        // The decoder's leak comes after the channel and is no ghost: the
        // clean picture for the measure carries it too.
        AddSubcarrier(reference, kWidth, kHeight, options.subcarrier);
        AddSubcarrier(ghost, kWidth, kHeight, options.subcarrier);
      }
      const std::vector<uint8_t> clean = EvenBytes(reference), received = EvenBytes(ghost);
      estimate::LumaFrame frame{kWidth, kHeight, received};
      if (options.png_input || options.jpeg_quality > 0) {
        auto bgr = media::ConvertFileFrame(ghost, media::PixelKind::Yuy2, media::PixelKind::Bgr24, {kWidth, kHeight});
        if (options.jpeg_quality > 0) bgr = ThroughJpeg(bgr, options.jpeg_quality);
        for (size_t i = 0; i < frame.pixels.size(); ++i) frame.pixels[i] = LumaOfBgr(&bgr[3 * i]);
      }
      // Processor time, not wall time: the machine may be shared.
      const std::clock_t start = std::clock();
      estimate::EstimateOptions estimate_options;
      if (options.trace) estimate_options.trace = stderr;
      const estimate::Estimate found = estimate::EstimateGhost({frame}, estimate_options);
      seconds.push_back(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
      const std::vector<uint8_t> processed = Process(received, found.settings);
      Row& row = rows[klass];
      char line[512];
      if (c.model.echoes.empty()) {
        row.psnr.push_back(Psnr(processed, received));
        std::snprintf(line, sizeof line, "%-10s %-18s noise %.1f: PSNR %.1f dB, %zu steps\n", klass, c.picture.c_str(),
                      c.noise, row.psnr.back(), found.settings.proc_enable ? found.settings.steps.size() : 0);
      } else {
        const estimate::PluginSettings fit = options.model_room ? FittedSettings(c.model, kWidth)
                                                                : FittedSettingsOn(c.model, received, kWidth, kHeight);
        const double before = MeasureAgainstClean(clean, received).ghost_db;
        const double with_fit = MeasureAgainstClean(clean, Process(received, fit)).ghost_db;
        const double with_estimate = MeasureAgainstClean(clean, processed).ghost_db;
        const double reduction = before - with_estimate, gap = (before - with_fit) - reduction;
        row.reduction.push_back(reduction);
        row.gap.push_back(gap);
        all_reduction.push_back(reduction);
        all_gap.push_back(gap);
        all_fit.push_back(before - with_fit);
        const double alone_before = MeasureAgainstClean(clean, noiseless).ghost_db;
        alone_reduction.push_back(alone_before - MeasureAgainstClean(clean, Process(noiseless, found.settings)).ghost_db);
        alone_fit.push_back(alone_before - MeasureAgainstClean(clean, Process(noiseless, fit)).ghost_db);
        if (reduction < 0) ++row.worse, ++worse_total;
        std::snprintf(line, sizeof line, "%-10s %-18s %s noise %.1f: reduction %.1f dB, fit %.1f dB, gap %.1f dB\n",
                      klass, c.picture.c_str(), DescribeModel(c.model).c_str(), c.noise, reduction, before - with_fit,
                      gap);
      }
      if (options.verbose) {
        std::fputs(line, stdout);
        if (options.trace) {
          auto describe = [](const estimate::PluginSettings& s) {
            std::string text = "b" + std::to_string(s.brightness) + " c" + std::to_string(s.contrast);
            for (const estimate::StepSetting& step : s.steps)
              text += " " + std::to_string(step.shift) + "/" + std::to_string(step.level);
            return text;
          };
          std::printf("  estimated: %s in %.2f s\n", found.settings.proc_enable ? describe(found.settings).c_str() : "off",
                      seconds.back());
          if (!c.model.echoes.empty())
            std::printf("  fitted:    %s\n", describe(options.model_room ? FittedSettings(c.model, kWidth)
                                                                      : FittedSettingsOn(c.model, received, kWidth, kHeight))
                                               .c_str());
        }
        std::fflush(stdout);
      }
    }
  }
  std::string table =
      "| class | cases | median reduction | median gap to the fit | within 3 dB of the fit | worst case | made worse |\n"
      "|---|---|---|---|---|---|---|\n";
  char line[512];
  for (const char* klass : kClasses) {
    const Row& row = rows[klass];
    if (row.reduction.empty()) {
      std::snprintf(line, sizeof line, "| %s | %zu | (processing off in %d of %zu) | | | PSNR %.1f dB against the input | |\n",
                    klass, row.psnr.size(),
                    static_cast<int>(std::count_if(row.psnr.begin(), row.psnr.end(), [](double p) { return p >= 99; })),
                    row.psnr.size(), Percentile(row.psnr, 0));
    } else {
      const double within = std::count_if(row.gap.begin(), row.gap.end(), [](double g) { return g <= 3; });
      std::snprintf(line, sizeof line, "| %s | %zu | %.1f dB | %.2f dB | %.0f %% | %.1f dB | %d |\n", klass,
                    row.reduction.size(), Median(row.reduction), Median(row.gap), 100 * within / row.gap.size(),
                    Percentile(row.reduction, 0), row.worse);
    }
    table += line;
  }
  const double within = std::count_if(all_gap.begin(), all_gap.end(), [](double g) { return g <= 3; });
  std::snprintf(line, sizeof line,
                "| all ghosted | %zu | %.1f dB | %.2f dB | %.0f %% | %.1f dB (10th percentile %.1f dB; the fit's %.1f dB) | %d |\n",
                all_gap.size(), Median(all_reduction), Median(all_gap), 100 * within / std::max<size_t>(1, all_gap.size()),
                Percentile(all_reduction, 0), Percentile(all_reduction, 0.1), Percentile(all_fit, 0.1), worse_total);
  table += line;
  std::snprintf(line, sizeof line,
                "\nthe ghost alone (the same settings on the picture before its noise): median %.1f dB, "
                "10th percentile %.1f dB (the fit's %.1f dB)\n",
                Median(alone_reduction), Percentile(alone_reduction, 0.1), Percentile(alone_fit, 0.1));
  table += line;
  // The slowest frames, not only the mean: a user waits on the frame they have.
  const double total = std::accumulate(seconds.begin(), seconds.end(), 0.0);
  std::snprintf(line, sizeof line,
                "\nestimate time per %dx%d frame (one core): %.2f s on average over %zu frames, "
                "90th percentile %.2f s, slowest %.2f s\n",
                kWidth, kHeight, total / std::max<size_t>(1, seconds.size()), seconds.size(), Percentile(seconds, 0.9),
                Percentile(seconds, 1));
  table += line;
  return table;
}

}  // namespace tev::demo
