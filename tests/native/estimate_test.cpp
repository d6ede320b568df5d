// The blind estimator and `tev estimate`: a known channel on a natural
// photograph is found, a clean picture is left alone, pictures it cannot
// judge are refused, and a settings file keeps every byte but the channel's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "demo/channel_model.h"
#include "demo/estimate_eval.h"
#include "demo/metrics.h"
#include "demo/tuning.h"
#include "demo/test_card.h"
#include "estimate/black_level.h"
#include "estimate/ghost_estimator.h"
#include "estimate/subcarrier.h"
#include "media/file_colour.h"
#include "media/frame_sink.h"
#include "media/frame_source.h"
#include "media/image_file.h"
#include "media/whole_file.h"
#include "processing/color_convert.h"
#include "processing/luma_plane.h"
#include "settings/settings_section_edit.h"
#include "tev/commands.h"

namespace tev::estimate {
namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 720, kHeight = 576;
// A natural photograph from Debian's mate-backgrounds (GPL-2+), installed by scripts/setup.sh.
const char kPhoto[] = "/usr/share/backgrounds/mate/nature/Garden.jpg";

// Fine grain that a lower contrast rounds away; with a little noise it once
// passed for a ghost.
const char kGrainPhoto[] = "/usr/share/backgrounds/mate/nature/Wood.jpg";

// The photograph's luma at 720x576 (nearest pixel is enough for a test).
std::vector<uint8_t> PhotoLuma(const char* path = kPhoto) {
  auto source = media::OpenFrameSource(path, media::FileFormat::Image, {});
  std::vector<uint8_t> frame;
  source->Next(frame);
  const media::FrameSize size = source->size();
  const std::vector<uint8_t> luma = media::FileFrameLuma(frame, source->kind(), size);
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      out[static_cast<size_t>(y) * kWidth + x] =
          luma[static_cast<size_t>(y * size.height / kHeight) * size.width + x * size.width / kWidth];
  return out;
}

// The photograph's luma area-averaged to 720x576, as the evaluation takes
// it: nearest pixels hid a fault once.
std::vector<uint8_t> EvalLuma(const std::string& path) {
  return media::FileFrameLuma(demo::PhotoFrame(path), media::PixelKind::Yuy2, {kWidth, kHeight});
}

// A picture of `w` x `h` (area averages) scaled back up to 720x576 by linear
// interpolation, as a smaller source reaches a TV picture.
std::vector<uint8_t> Upscaled(const std::vector<uint8_t>& luma, int w, int h) {
  std::vector<double> small(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double sum = 0;
      int n = 0;
      for (int yy = y * kHeight / h; yy < (y + 1) * kHeight / h; ++yy)
        for (int xx = x * kWidth / w; xx < (x + 1) * kWidth / w; ++xx, ++n)
          sum += luma[static_cast<size_t>(yy) * kWidth + xx];
      small[static_cast<size_t>(y) * w + x] = sum / n;
    }
  auto at = [&](double pos, int size) {
    const double p = std::clamp(pos, 0.0, size - 1.0);
    const int i = std::min(static_cast<int>(p), size - 2);
    return std::pair{i, p - i};
  };
  std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    const auto [iy, fy] = at((y + 0.5) * h / kHeight - 0.5, h);
    for (int x = 0; x < kWidth; ++x) {
      const auto [ix, fx] = at((x + 0.5) * w / kWidth - 0.5, w);
      auto v = [&](int yy, int xx) { return small[static_cast<size_t>(yy) * w + xx]; };
      const double top = v(iy, ix) * (1 - fx) + v(iy, ix + 1) * fx;
      const double bottom = v(iy + 1, ix) * (1 - fx) + v(iy + 1, ix + 1) * fx;
      out[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(std::lround(top * (1 - fy) + bottom * fy));
    }
  }
  return out;
}

// Ghost energy the settings take out of `ghosted`, in dB against `clean`.
double Reduction(const std::vector<uint8_t>& clean, const std::vector<uint8_t>& ghosted,
                 const PluginSettings& settings) {
  std::vector<uint8_t> processed = ghosted;
  if (settings.proc_enable) ProcessLumaPlane(processed.data(), kWidth, kWidth, kHeight, StagesOf(settings));
  return demo::MeasureAgainstClean(clean, ghosted).ghost_db - demo::MeasureAgainstClean(clean, processed).ghost_db;
}

// A clean picture through a known channel (and noise of `sigma` levels),
// and what the estimator makes of it.
struct Estimated {
  std::vector<uint8_t> clean, ghosted;
  demo::ChannelModel model;
  Estimate found;
  double reduction() const { return Reduction(clean, ghosted, found.settings); }
  double fitted_reduction() const { return Reduction(clean, ghosted, demo::FittedSettings(model, kWidth)); }
  // The fit with its room traded on the picture, as the estimator trades it.
  double traded_fit_reduction() const {
    return Reduction(clean, ghosted, demo::FittedSettingsOn(model, ghosted, kWidth, kHeight));
  }
};

// A YUY2 picture through a known channel, as the evaluation makes it: `ghost`
// gets the frame, the result the luma before and after; the estimate is the caller's.
Estimated ThroughYuy2(const std::vector<uint8_t>& yuy2, const demo::ChannelModel& model, std::vector<uint8_t>& ghost) {
  ghost = yuy2;
  demo::ApplyChannelYuy2(model, ghost, kWidth, kHeight);
  Estimated e{std::vector<uint8_t>(yuy2.size() / 2), std::vector<uint8_t>(yuy2.size() / 2), model, {}};
  for (size_t i = 0; i < e.clean.size(); ++i) {
    e.clean[i] = yuy2[2 * i];
    e.ghosted[i] = ghost[2 * i];
  }
  return e;
}

Estimated EstimateThrough(const std::vector<uint8_t>& clean, const demo::ChannelModel& model, double sigma = 0,
                          unsigned seed = 1) {
  Estimated e{clean, demo::ApplyChannel(model, clean, kWidth, kHeight), model, {}};
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0, sigma);
  if (sigma > 0)
    for (uint8_t& v : e.ghosted) v = static_cast<uint8_t>(std::clamp(std::lround(v + noise(rng)), 0L, 255L));
  e.found = EstimateGhost({LumaFrame{kWidth, kHeight, e.ghosted}});
  return e;
}

// The steps a rule returns, shift and level, in order.
void ExpectSteps(const std::vector<StepSetting>& got, const std::vector<StepSetting>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].shift, want[i].shift) << i;
    EXPECT_EQ(got[i].level, want[i].level) << i;
  }
}

// A photograph of Debian's nature backgrounds through a known channel.
const std::string kNature = "/usr/share/backgrounds/mate/nature/";
struct PhotoCase {
  const char* photo;
  demo::ChannelModel model;
};

std::vector<uint8_t> CardYuy2() {
  return media::ConvertFileFrame(demo::MakeTestCard(kWidth, kHeight, 0).bgr, media::PixelKind::Bgr24,
                                 media::PixelKind::Yuy2, {kWidth, kHeight});
}

std::vector<uint8_t> CardLuma() {
  return media::FileFrameLuma(demo::MakeTestCard(kWidth, kHeight, 0).bgr, media::PixelKind::Bgr24, {kWidth, kHeight});
}

// Each line one value, the values varying from line to line: no detail
// along the lines at all.
std::vector<uint8_t> FlatLines() {
  std::vector<uint8_t> luma(static_cast<size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y)
    std::fill_n(luma.begin() + static_cast<ptrdiff_t>(y) * kWidth, kWidth, static_cast<uint8_t>(40 + y * 37 % 160));
  return luma;
}

TEST(GhostEstimator, FindsAKnownChannelOnANaturalPhotograph) {
  if (!fs::exists(kPhoto)) GTEST_SKIP() << kPhoto << " missing: run scripts/setup.sh";
  const std::vector<uint8_t> clean = PhotoLuma();
  struct Case {
    double delay_percent, amplitude;
  };
  for (const Case& c : {Case{3, 0.20}, Case{-5, -0.15}, Case{6, -0.25}}) {
    const demo::ChannelModel model{{{c.delay_percent, c.amplitude}}, 1};
    SCOPED_TRACE(demo::DescribeModel(model));
    const Estimate found = EstimateGhost({LumaFrame{kWidth, kHeight, demo::ApplyChannel(model, clean, kWidth, kHeight)}});
    ASSERT_EQ(found.status, EstimateStatus::Done);
    ASSERT_FALSE(found.echoes.empty());
    EXPECT_NEAR(found.echoes[0].delay, demo::EchoDelayPixels(model.echoes[0], kWidth), 1);
    EXPECT_NEAR(found.echoes[0].amplitude, c.amplitude, 0.02);
    EXPECT_TRUE(found.settings.proc_enable);
    EXPECT_LT(found.score_on, found.score_off);
  }
}

// A smeared echo's level was once overshot by half; its settings must now
// come near those fitted to the known channel, on either side of the picture.
TEST(GhostEstimator, SmearedEchoesComeNearTheChannelAwareFit) {
  const char kWings[] = "/usr/share/backgrounds/mate/nature/TwoWings.jpg";
  if (!fs::exists(kPhoto) || !fs::exists(kWings)) GTEST_SKIP() << "photographs missing: run scripts/setup.sh";
  struct Case {
    std::vector<uint8_t> clean;
    demo::ChannelModel model;
  };
  for (const Case& c : {Case{PhotoLuma(kWings), {{{7.87, 0.16}}, 3}}, Case{PhotoLuma(), {{{3, 0.25}}, 5}}}) {
    SCOPED_TRACE(demo::DescribeModel(c.model));
    const Estimated e = EstimateThrough(c.clean, c.model);
    EXPECT_GT(e.reduction(), e.fitted_reduction() - 3);
  }
}

// Soft pictures once drew the sparse-gradient inverse towards a blur on both
// sides of the picture, whose steps (levels near 100 %) wrecked it by 10 dB.
// An echo that fell on the test card's own vertical lines, read through the
// card's edge of one value, once took it 6 dB worse.
TEST(GhostEstimator, NeverMakesAGhostedPictureWorse) {
  for (const PhotoCase& c : {PhotoCase{"", {{{5.45, 0.13}}, 1}},
                             PhotoCase{"RainDrops.jpg", {{{5.15, -0.105}, {2.55, 0.105}, {-2.84, 0.14}}, 5}}}) {
    const std::string path = kNature + c.photo;
    if (*c.photo && !fs::exists(path)) GTEST_SKIP() << path << " missing: run scripts/setup.sh";
    SCOPED_TRACE(c.photo + (" " + demo::DescribeModel(c.model)));
    const Estimated e = EstimateThrough(*c.photo ? EvalLuma(path) : CardLuma(), c.model);
    EXPECT_GE(e.reduction(), 0.0);
    for (const StepSetting& step : e.found.settings.steps) EXPECT_LE(std::abs(step.level), 60);
  }
}

// Echoes the correlation test sees but cannot confirm: a short one (12 px),
// the weaker of two, one beside a blind's slats that looked one-sided too,
// three on both sides of a soft picture, two where a ladybird's shell looks
// one-sided as well (at 10 px, and as a pair of likenesses 5 px apart), and
// three of which the criterion all but ties without one the edges show.
TEST(GhostEstimator, FindsEchoesTheCorrelationTestLeavesUnconfirmed) {
  for (const PhotoCase& c : {PhotoCase{"Garden.jpg", {{{1.64, 0.09}}, 1}},
                             PhotoCase{"YellowFlower.jpg", {{{-5.81, 0.14}, {-3.29, -0.10}}, 3}},
                             PhotoCase{"Blinds.jpg", {{{-3.35, 0.13}}, 1}},
                             PhotoCase{"YellowFlower.jpg", {{{4.15, -0.11}, {2.92, -0.11}, {-3.98, 0.12}}, 3}},
                             PhotoCase{"LadyBird.jpg", {{{-3.88, 0.29}}, 1}},
                             PhotoCase{"LadyBird.jpg", {{{-1.8084, 0.1739}}, 1}},
                             PhotoCase{"LadyBird.jpg", {{{-7.9269, 0.2381}, {-1.4415, -0.1856}, {7.7200, 0.1837}}, 5}}}) {
    const std::string path = kNature + c.photo;
    if (!fs::exists(path)) GTEST_SKIP() << path << " missing: run scripts/setup.sh";
    SCOPED_TRACE(c.photo + (" " + demo::DescribeModel(c.model)));
    const Estimated e = EstimateThrough(EvalLuma(path), c.model);
    EXPECT_GT(e.reduction(), e.fitted_reduction() - 3);
  }
}

// Outside the line the signal is black, so an echo copies the line's start
// or end into the picture: on a picture too soft (motion-blurred along the
// lines) or too flat for its own detail to show the ghost, that copy does.
TEST(GhostEstimator, FindsAGhostOnlyTheLineEdgesShow) {
  struct Case {
    std::vector<uint8_t> clean;
    demo::ChannelModel model;
    double noise = 0;
  };
  std::vector<Case> cases{{FlatLines(), {{{4, 0.12}}, 1}}, {FlatLines(), {{{-6, -0.2}}, 3}}};
  const std::string storm = kNature + "Storm.jpg", wood = kNature + "Wood.jpg", blinds = kNature + "Blinds.jpg";
  if (fs::exists(storm)) {
    cases.push_back({EvalLuma(storm), {{{-8.05, 0.06}}, 1}});
    // Under noise, cancelling a strong echo on a soft sky copies more noise
    // than ghost it takes away, by the criterion's count.
    cases.push_back({EvalLuma(storm), {{{8.69, -0.30}}, 1}, 2.1});
    // The receiver's lift of black, read through the origin, took a third
    // of this echo's step.
    cases.push_back({EvalLuma(storm), {{{9.40, -0.09}}, 5}});
  }
  // The slats lower the criterion more than the true echo's steps do.
  if (fs::exists(blinds)) cases.push_back({EvalLuma(blinds), {{{3.58, 0.13}}, 3}});
  // A bright end of nearly one value on every line, under noise: only the
  // step standing out from the other columns' shows the echo.
  if (fs::exists(wood)) cases.push_back({EvalLuma(wood), {{{-9.84, -0.24}}, 1}, 2.2});
  for (const Case& c : cases) {
    SCOPED_TRACE(demo::DescribeModel(c.model));
    const Estimated e = EstimateThrough(c.clean, c.model, c.noise);
    ASSERT_FALSE(e.found.echoes.empty());
    EXPECT_NEAR(e.found.echoes[0].delay, demo::EchoDelayPixels(c.model.echoes[0], kWidth), 1);
    EXPECT_GT(e.reduction(), e.fitted_reduction() - 3);
  }
}

// A short echo on grass: the sparse-gradient inverse also fits the grass and
// spread a clean 26 % echo over eight steps of both signs (2.7 dB); the
// channel the correlation measured, but could not confirm, does far better.
TEST(GhostEstimator, KeepsAShortEchoOnTextureClean) {
  const std::string path = kNature + "GreenMeadow.jpg";
  if (!fs::exists(path)) GTEST_SKIP() << path << " missing: run scripts/setup.sh";
  const Estimated e = EstimateThrough(EvalLuma(path), {{{1.53, 0.26}}, 1});
  ASSERT_FALSE(e.found.echoes.empty());
  EXPECT_EQ(e.found.echoes[0].delay, 11);
  EXPECT_GT(e.reduction(), 8);
}

// A negative echo makes the receiver lift black; the steps copy that lift
// into the line only where their source lies inside it, a band that cost
// about half of what the steps won (11.5 and 12.0 dB). Brightness now takes
// the lift out before the steps. (Aqua.jpg gives 15.6 dB once its level
// follows the line's edges; the channel-aware fit gives 14.8 dB.)
TEST(GhostEstimator, TakesOutTheBlackLevelTheReceiverLifted) {
  const struct {
    const char* photo;
    demo::ChannelModel model;
  } cases[] = {{"LadyBird.jpg", {{{-9.19, -0.25}}, 1}}, {"Aqua.jpg", {{{-5.48, -0.33}}, 1}}};
  for (const auto& c : cases) {
    const std::string path = kNature + c.photo;
    if (!fs::exists(path)) GTEST_SKIP() << path << " missing: run scripts/setup.sh";
    SCOPED_TRACE(c.photo);
    const Estimated e = EstimateThrough(EvalLuma(path), c.model);
    EXPECT_LT(e.found.settings.brightness, 0);
    EXPECT_GT(e.reduction(), 15);
  }
}

// A lift or black level no echo of the steps could make is the picture's
// own bright end: on a blind under -13 % at 1.40 % it read 209 levels, and
// the steps that also cancel the slats won by it (1.2 dB where the fit gives
// 15.0 dB); under a smeared -7 % echo a black of 77 levels took the contrast
// to -40 (11.5 dB where the fit gives 17.9 dB).
TEST(GhostEstimator, TakesNoLiftTheEchoesCannotMake) {
  for (const PhotoCase& c : {PhotoCase{"Blinds.jpg", {{{-1.40, -0.13}}, 1}},
                             PhotoCase{"YellowFlower.jpg", {{{-5.60, -0.07}}, 5}}}) {
    const std::string path = kNature + c.photo;
    if (!fs::exists(path)) GTEST_SKIP() << path << " missing: run scripts/setup.sh";
    SCOPED_TRACE(c.photo);
    const Estimated e = EstimateThrough(EvalLuma(path), c.model);
    EXPECT_GT(e.reduction(), e.fitted_reduction() - 3);
  }
}

// Blinds repeat near a second echo's delay and the criterion could not judge
// it (+15 % at 33 px beside +21.5 % at 44 px: 5.9 dB where the fit gives
// 11.1 dB); the line's edges show it plainly.
TEST(GhostEstimator, AddsAnEchoTheEdgesShow) {
  const std::string path = kNature + "Blinds.jpg";
  if (!fs::exists(path)) GTEST_SKIP() << path << " missing: run scripts/setup.sh";
  const Estimated e = EstimateThrough(EvalLuma(path), {{{6.13, 0.215}, {4.56, 0.15}}, 5});
  bool second = false;
  for (const FoundEcho& echo : e.found.echoes) second |= std::abs(echo.delay - 33) <= 1;
  EXPECT_TRUE(second);
  EXPECT_GT(e.reduction(), e.fitted_reduction() - 3);
}

// A second echo whose steps needed less room than the first's was refused
// through the plugin's stages, where the first's lower contrast had rounded
// small gradients away (7.0 dB where the fit gives 10.7 dB on the card).
TEST(GhostEstimator, JudgesAnExtraEchoAgainstItsOwnRoom) {
  const demo::ChannelModel model{{{6.8595, -0.33289}, {9.1672, 0.09708}, {5.2747, -0.15008}}, 1};
  std::vector<uint8_t> ghost;
  Estimated e = ThroughYuy2(CardYuy2(), model, ghost);
  // Estimated from the luma of the picture as RGB (as from a PNG).
  const std::vector<uint8_t> bgr =
      media::ConvertFileFrame(ghost, media::PixelKind::Yuy2, media::PixelKind::Bgr24, {kWidth, kHeight});
  std::vector<uint8_t> luma(e.clean.size());
  for (size_t i = 0; i < luma.size(); ++i) luma[i] = LumaOfBgr(&bgr[3 * i]);
  e.found = EstimateGhost({LumaFrame{kWidth, kHeight, luma}});
  EXPECT_GT(e.reduction(), e.traded_fit_reduction() - 3);
}

// Photographs never tuned to (lomiri-wallpapers-16.04, CC-BY-SA-4.0) and the
// card, estimated from YUY2 as the evaluation does, against the fit with the
// room traded on the picture. The first three were refused whole, where the
// fit gives 12 to 17 dB:
// - a weak echo beside two others: it changed the criterion by less than
//   the side gap asked of one, though that was more than it took away;
// - a pre-echo on a soft picture: its steps left one-sidedness at the
//   level the picture shows at lags with no echo, but not under half of
//   what it had;
// - three echoes on the card, where only the try that took away the
//   edges' weak echo was eligible, and it cancelled nothing else.
// On a grain, a likeness beside a true echo passed as a second one (13.4 dB
// where the fit gives 24.2 dB; now 20.4 dB, the rest is the echo's level).
// A short pre-echo beside a strong one was refused as a further echo though
// plainly one-sided (9.8 dB where the fit gives 13.7 dB). Echoes 69 and 70 px
// either side of the picture: the try with both left the edges' step and
// lost to one with a single echo (4.7 dB where the fit gives 10.6 dB).
// Sky beside grass: a +8 % echo's blocks were counted alike, the flat ones
// outvoted the detailed ones, and it was refused (0.0 dB where the fit gives
// 14.8 dB); confirmed, a +26 % echo on grass was measured with the grass's
// sharpening beside it (6.9 dB where the fit gives 21.3 dB). A pre-echo and
// an echo after the picture at nearly one delay were read as one echo of
// their summed amplitude (4.3 dB where the fit gives 17.5 dB), and the
// pair's other side went unreported.
TEST(GhostEstimator, ComesNearTheFitWhereItsTestsOnceFailed) {
  const std::string soft = "/usr/share/backgrounds/Picture_1A_by_freespace.jpg";
  const std::string grain = "/usr/share/backgrounds/analogpattern_by_Peter_Nerlich.jpg";
  struct Case {
    std::string photo;
    demo::ChannelModel model;
    double within = 3;  // dB of the fit
    size_t echoes = 0;  // at least this many reported
  };
  for (const Case& c : {Case{soft, {{{2.4597, -0.09892}, {-8.2286, 0.15537}, {-3.3890, 0.09083}}, 5}},
                        Case{soft, {{{-3.6732, 0.09067}}, 1}},
                        Case{"", {{{3.2163, -0.31682}, {-8.5501, 0.05641}, {-3.6686, -0.04664}}, 3}},
                        Case{grain, {{{-8.9047, -0.22612}}, 1}, 5},
                        Case{"/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg",
                             {{{3.8104, -0.36837}, {-1.9980, 0.13491}, {-6.5502, 0.05141}}, 3}},
                        Case{"/usr/share/backgrounds/Dragonfly_by_Bolly.jpg", {{{9.5982, -0.27965}, {-9.7456, 0.22010}}, 1}},
                        Case{kNature + "LadyBird.jpg", {{{4.9826, 0.07969}}, 1}},
                        Case{kNature + "GreenMeadow.jpg", {{{1.5332, 0.25757}}, 1}},
                        Case{kNature + "YellowFlower.jpg", {{{-7.0588, -0.07860}, {7.2737, 0.15181}}, 3}, 3, 2},
                        Case{"/usr/share/backgrounds/seeding_by_Clements_Engelhardt.jpg",
                             {{{-5.81, 0.14}, {-3.29, -0.10}}, 3}, 3, 2},
                        Case{"/usr/share/backgrounds/seeding_by_Clements_Engelhardt.jpg", {{{1.27, -0.24}}, 1}},
                        Case{"/usr/share/backgrounds/picosdeeuropa_by_Aitzol_Berasategi.jpg",
                             {{{1.55, -0.18}, {-1.67, 0.16}}, 3}, 9, 2},
                        Case{kNature + "Blinds.jpg", {{{7.60, 0.38}, {-6.77, -0.16}, {2.48, 0.20}}, 1}, 4, 3}}) {
    if (!c.photo.empty() && !fs::exists(c.photo)) GTEST_SKIP() << c.photo << " missing: run scripts/setup.sh";
    SCOPED_TRACE(c.photo + " " + demo::DescribeModel(c.model));
    std::vector<uint8_t> ghost;
    Estimated e = ThroughYuy2(c.photo.empty() ? CardYuy2() : demo::PhotoFrame(c.photo), c.model, ghost);
    e.found = EstimateGhost({LumaFrame{kWidth, kHeight, e.ghosted}});
    EXPECT_GT(e.reduction(), e.traded_fit_reduction() - c.within);
    EXPECT_GE(e.found.echoes.size(), c.echoes);
  }
}

// The same steps in another order clip less between their stages: on the
// card (black beside white) subtracting first dipped below 0, and the
// settings left 16.3 dB where the order that adds first leaves 21.7 dB.
TEST(GhostEstimator, OrdersTheStepsSoTheirStagesClipLeast) {
  const Estimated e = EstimateThrough(CardLuma(), {{{2.5, 0.3}}, 3});
  ASSERT_TRUE(e.found.settings.proc_enable);
  EXPECT_GT(e.found.settings.steps.front().level, 0);
  EXPECT_GT(e.reduction(), 20);
}

// A level refined up from a weak first estimate left the cascade a term
// short: Aqua.jpg with +34 % at 8.79 % kept 17.9 dB where the fit has 22.5.
TEST(CompleteCascade, AddsTheTermsOnlyOneEchosCascadeIsDue) {
  const struct {
    std::vector<StepSetting> steps, want;
  } cases[] = {
      {{{87, -34}, {175, 11}}, {{87, -34}, {175, 11}, {350, 1}}},
      {{{87, -34}, {175, 12}, {350, 1}}, {{87, -34}, {175, 12}, {350, 1}}},
      {{{87, -34}, {175, 5}}, {{87, -34}, {175, 5}}},                  // not the square: not a cascade
      {{{87, -34}, {175, 11}, {60, -8}}, {{87, -34}, {175, 11}, {60, -8}}},  // a second echo's step
      {{{-87, 30}, {-175, 9}}, {{-87, 30}, {-175, 9}, {-350, 1}}},       // a ghost ahead, subtracting
  };
  for (const auto& c : cases) {
    ExpectSteps(CompleteCascade(c.steps, kWidth), c.want);
  }
  const std::string path = kNature + "Aqua.jpg";
  if (!fs::exists(path)) GTEST_SKIP() << path << " missing: run scripts/setup.sh";
  EXPECT_GT(EstimateThrough(EvalLuma(path), {{{8.79, 0.34}}, 1}).reduction(), 20);
}

// The criterion hardly tells a 3 % term at twice the shift from a 2 % one:
// YellowFlower.jpg with -13 % at 8.41 % kept 15.2 dB with 169/3 where the fit
// has 19.3 dB with 169/2.
TEST(SettleCascade, SetsTermsTheEchosStepsImplyAndKeepsTheRest) {
  const struct {
    std::vector<StepSetting> steps, want;
  } cases[] = {
      {{{85, 13}, {169, 3}}, {{85, 13}, {169, 2}}},
      {{{79, -20}, {158, 3}}, {{79, -20}, {158, 4}}},
      {{{-96, 35}, {-191, 13}, {-383, 3}}, {{-96, 35}, {-191, 13}, {-383, 2}}},  // only the term that is off
      {{{68, 12}, {136, 2}}, {{68, 12}, {136, 2}}},  // what a level more on the echo implies
      {{{-90, 22}, {-90, 2}, {-180, 9}}, {{-90, 22}, {-90, 2}, {-180, 5}}},  // split: cross terms of its own
      {{{-80, 8}, {-79, 12}, {-78, 8}, {-158, 3}}, {{-80, 8}, {-79, 12}, {-78, 8}, {-158, 3}}},  // a smear
      {{{85, 13}, {169, 3}, {40, -8}}, {{85, 13}, {169, 3}, {40, -8}}},  // a second echo
      {{{-50, -25}, {-100, 4}, {30, 2}}, {{-50, -25}, {-100, 6}, {30, 2}}},  // a weak one's step far off
      {{{-44, 11}, {-90, -1}}, {{-44, 11}, {-89, 1}}},  // a weak term a pixel off goes to its place
      {{{-44, 11}, {-90, -3}}, {{-44, 11}, {-90, -3}}},  // a stronger one is another echo
  };
  for (const auto& c : cases) {
    ExpectSteps(SettleCascade(c.steps, kWidth), c.want);
  }
}

// Garden.jpg with +35 % at 8.59 %: the echo's level split over five steps at
// one shift left no step for the cascade's 2 % term (22.8 dB where the fit
// gives 26.1 dB).
TEST(MergeSplitSteps, KeepsTheProductInFewerSteps) {
  const struct {
    std::vector<StepSetting> steps, want;
  } cases[] = {
      {{{87, 1}, {172, 3}, {172, 8}, {86, -7}, {87, -1}, {86, -25}, {86, -3}, {172, -1}},
       {{172, 13}, {86, -35}}},                       // cross terms at twice the shift
      {{{25, -16}, {25, 1}, {23, -8}}, {{25, -15}, {23, -8}}},
      {{{-90, 20}, {-90, 10}}, {{-90, 30}, {-180, 2}}},  // a cross term where no step was
      {{{33, -17}, {37, 2}}, {{33, -17}, {37, 2}}},     // nothing split
  };
  for (const auto& c : cases) {
    ExpectSteps(MergeSplitSteps(c.steps, kWidth), c.want);
  }
}

TEST(DropStrays, KeepsSmearsCascadesAndFarSteps) {
  const struct {
    std::vector<StepSetting> steps, want;
  } cases[] = {
      {{{33, -17}, {37, 2}}, {{33, -17}}},                                  // 3 px off
      {{{98, -24}, {100, 1}}, {{98, -24}}},                                 // 1 px off, other sign
      {{{98, -24}, {100, -2}, {101, 1}}, {{98, -24}, {100, -2}, {101, 1}}},  // offsets a smear tap
      {{{-82, 1}, {-80, 8}, {-79, 12}, {-78, 8}, {-76, 2}},                  // a 5-tap smear
       {{-82, 1}, {-80, 8}, {-79, 12}, {-78, 8}, {-76, 2}}},
      {{{21, -11}, {41, 1}, {50, -11}}, {{21, -11}, {41, 1}, {50, -11}}},    // the first echo's cascade
      {{{33, -17}, {50, 2}}, {{33, -17}, {50, 2}}},                          // 12 px off
      {{{23, -8}, {25, -16}, {25, 1}}, {{23, -8}, {25, -16}, {25, 1}}},       // trims a strong level
  };
  for (const auto& c : cases) {
    ExpectSteps(DropStrays(c.steps, kWidth), c.want);
  }
}

// The steps' bands say how far the receiver lifted black, whether the line's
// edge is the same on every line or not, and that it lifted nothing for an
// echo that adds.
TEST(BandReading, ReadsTheLiftOfTheReceiversBlack) {
  const struct {
    std::vector<uint8_t> clean;
    demo::ChannelModel model;
  } cases[] = {{FlatLines(), {{{4.2, -0.2}}, 1}}, {FlatLines(), {{{-6.5, -0.3}}, 3}}, {FlatLines(), {{{5.0, 0.25}}, 1}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(demo::DescribeModel(c.model));
    const std::vector<uint8_t> ghosted = demo::ApplyChannel(c.model, c.clean, kWidth, kHeight);
    const std::vector<StepSetting> fitted = demo::FitSteps(c.model, kWidth);
    const BandReading r = ReadBands(ghosted.data(), kWidth, kHeight, fitted);
    EXPECT_NEAR(r.lift, demo::ReceiverGain(c.model).offset, 2);
    EXPECT_NEAR(r.visible, demo::ReceiverGain(c.model).offset, 2);
    // A first step 5 % short leaves 5 % of the line edge's copy at its lag
    // (a smeared echo's steps sit side by side and are not read one by one).
    if (c.model.smear_taps > 1) continue;
    std::vector<StepSetting> short_steps = fitted;
    short_steps[0].level += short_steps[0].level > 0 ? -5 : 5;
    const int lag = PixelShift(short_steps[0].shift, kWidth);
    int read = 0;
    for (const BandReading::Residual& q : ReadBands(ghosted.data(), kWidth, kHeight, short_steps, true).residuals)
      if (q.lag == lag) {
        ++read;
        EXPECT_NEAR(q.response, StepGain(short_steps[0].level) - StepGain(fitted[0].level), 0.01);
      }
    EXPECT_EQ(read, 1);
  }
}

// Grass looks in part like its own ghost, and every criterion on gradients
// settled the +26 % echo at 20 % (12.9 dB); the line's edges show the rest.
// (Confirmed by the correlation, the echo is now settled at 21 %, where the
// edges' residual falls just short of following them: 16 dB.) Beside the
// -32 % echo a stray 1 % step 3 px off was read only in the sum of the two
// (17.4 dB).
TEST(GhostEstimator, SetsTheLevelTheLineEdgesShow) {
  const std::string path = kNature + "GreenMeadow.jpg";
  if (!fs::exists(path)) GTEST_SKIP() << path << " missing: run scripts/setup.sh";
  const std::vector<uint8_t> clean = EvalLuma(path);
  const struct {
    demo::ChannelModel model;
    double least;
  } cases[] = {{{{{1.53, 0.26}}, 1}, 15}, {{{{-4.37, -0.32}}, 1}, 19}};
  for (const auto& c : cases) {
    SCOPED_TRACE(demo::DescribeModel(c.model));
    const Estimated e = EstimateThrough(clean, c.model);
    EXPECT_GT(e.reduction(), c.least);
  }
}

// Around an echo the criterion also fits the picture's likeness with weak
// steps a few pixels off (18.3 and 17.6 dB with them).
TEST(GhostEstimator, LeavesNoWeakStepBesideAStrongEcho) {
  for (const PhotoCase& c :
       {PhotoCase{"YellowFlower.jpg", {{{6.06, 0.26}}, 1}}, PhotoCase{"GreenMeadow.jpg", {{{4.25, 0.19}}, 1}}}) {
    const std::string path = kNature + c.photo;
    if (!fs::exists(path)) GTEST_SKIP() << path << " missing: run scripts/setup.sh";
    SCOPED_TRACE(c.photo + (" " + demo::DescribeModel(c.model)));
    EXPECT_GT(EstimateThrough(EvalLuma(path), c.model).reduction(), 20);
  }
}

// Under noise the pre-correction alone once scored as well as the steps (a
// lower contrast rounds the noise's small gradients away), and an echo found
// plainly was left uncorrected; a lone echo whose steps left just over half
// its one-sidedness was refused.
TEST(GhostEstimator, CorrectsAnEchoUnderNoise) {
  struct Case {
    std::string photo;
    demo::ChannelModel model;
    double sigma;
    unsigned seed;
  };
  const std::string seeding = "/usr/share/backgrounds/seeding_by_Clements_Engelhardt.jpg";
  for (const Case& c : {Case{kNature + "TwoWings.jpg", {{{7.71, -0.14}}, 5}, 2.4, 4},
                        Case{kNature + "TwoWings.jpg", {{{7.71, -0.14}}, 5}, 2.4, 5},
                        Case{seeding, {{{1.61, 0.27}}, 1}, 3.4, 2}}) {
    if (!fs::exists(c.photo)) GTEST_SKIP() << c.photo << " missing: run scripts/setup.sh";
    SCOPED_TRACE(c.photo + " seed " + std::to_string(c.seed));
    const Estimated e = EstimateThrough(EvalLuma(c.photo), c.model, c.sigma, c.seed);
    EXPECT_GT(e.reduction(), e.fitted_reduction() - 3);
  }
}

// The photograph's luma with what a PAL decoder leaves of its chroma in it.
std::vector<uint8_t> WithSubcarrier(const std::string& path, double share) {
  std::vector<uint8_t> yuy2 = demo::PhotoFrame(path);
  demo::AddSubcarrier(yuy2, kWidth, kHeight, share);
  return media::FileFrameLuma(yuy2, media::PixelKind::Yuy2, {kWidth, kHeight});
}

TEST(GhostEstimator, LeavesGhostFreePicturesAlone) {
  std::vector<std::vector<uint8_t>> pictures{CardLuma()};
  if (fs::exists(kPhoto)) pictures.push_back(PhotoLuma());
  // A texture whose derivative is hardly sparser than noise (lomiri-wallpapers-16.04,
  // CC-BY-SA-4.0): at 7 px it once passed every test for a -25 % echo, and the
  // black level its steps' bands seemed to show took the contrast to -40.
  const char kPattern[] = "/usr/share/backgrounds/analogpattern_by_Peter_Nerlich.jpg";
  for (const auto& [path, area] : {std::pair{kGrainPhoto, false}, std::pair{kPattern, true}}) {
    if (!fs::exists(path)) continue;
    std::vector<uint8_t> grain = area ? EvalLuma(path) : PhotoLuma(path);
    std::mt19937 rng(2);
    std::normal_distribution<double> noise(0, 2);
    for (uint8_t& v : grain) v = static_cast<uint8_t>(std::clamp(std::lround(v + noise(rng)), 0L, 255L));
    pictures.push_back(grain);
  }
  // Upscaled sources (lomiri-wallpapers-16.04, CC-BY-SA-4.0): what the
  // whitener leaves at the shortest lags passed for a -8 % to -23 % echo.
  for (const char* path : {"/usr/share/backgrounds/aitzgorri_by_Aitzol_Berasategi.jpg",
                           "/usr/share/backgrounds/life_by_Aitzol_Berasategi.jpg", kPattern})
    if (fs::exists(path)) pictures.push_back(Upscaled(EvalLuma(path), 400, 320));
  // What a PAL decoder left of the chroma: its cross-line correlation repeats
  // every period and passed for a -15 % echo at 35 px.
  for (const char* photo : {"Aqua.jpg", "LadyBird.jpg"})
    if (fs::exists(kNature + photo)) pictures.push_back(WithSubcarrier(kNature + photo, 0.1));
  // Stripes down the whole picture: every line alike, as a ghost makes them.
  const char stripes[] = "/usr/share/backgrounds/mate/desktop/Stripes.png";
  if (fs::exists(stripes)) pictures.push_back(PhotoLuma(stripes));
  for (const auto& luma : pictures) {
    const Estimate found = EstimateGhost({LumaFrame{kWidth, kHeight, luma}});
    EXPECT_EQ(found.status, EstimateStatus::Done);
    EXPECT_FALSE(found.settings.proc_enable);
    EXPECT_TRUE(found.echoes.empty());
  }
}

TEST(Subcarrier, IsFoundWhereTheDecoderLeftItAndNowhereElse) {
  struct Case {
    std::vector<uint8_t> luma;
    bool carrier;
  };
  std::vector<Case> cases = {{CardLuma(), false}};
  for (const char* photo : {"LadyBird.jpg", "Aqua.jpg"}) {
    if (!fs::exists(kNature + photo)) continue;
    cases.push_back({EvalLuma(kNature + photo), false});
    cases.push_back({WithSubcarrier(kNature + photo, 0.1), true});
  }
  for (Case& c : cases) {
    const Subcarrier found = FindSubcarrier({c.luma.data()}, kWidth, kHeight);
    EXPECT_EQ(found.found, c.carrier) << found.frequency << " " << found.prominence << " " << found.next_line << " "
                                      << found.line_after;
    if (!c.carrier) continue;
    EXPECT_NEAR(found.frequency, 0.3284, 0.004);
    NotchSubcarrier(c.luma.data(), kWidth, kHeight, found.frequency);
    EXPECT_FALSE(FindSubcarrier({c.luma.data()}, kWidth, kHeight).found);
  }
}

TEST(GhostEstimator, ReadsAFrameWhoseFieldsMovedFieldByField) {
  struct Case {
    const char* photo;
    demo::ChannelModel model;
    int pan;
  };
  const Case cases[] = {
      {"life_by_Aitzol_Berasategi.jpg", {{{3.55, 0.18}}, 3}, 12},
      {"RainDrops.jpg", {{{-5.42, 0.16}}, 3}, -9},
      {"Blinds.jpg", {{}, 1}, 10},
  };
  for (const Case& c : cases) {
    std::string path = kNature + c.photo;
    if (!fs::exists(path)) path = std::string("/usr/share/backgrounds/") + c.photo;
    if (!fs::exists(path)) continue;
    std::vector<uint8_t> yuy2 = demo::PhotoFrame(path);
    demo::PanSecondField(yuy2, kWidth, kHeight, c.pan);
    const Estimated e = EstimateThrough(media::FileFrameLuma(yuy2, media::PixelKind::Yuy2, {kWidth, kHeight}), c.model);
    if (c.model.echoes.empty()) {
      EXPECT_FALSE(e.found.settings.proc_enable) << c.photo;
    } else {
      EXPECT_GT(e.reduction(), e.traded_fit_reduction() - 3) << c.photo;
    }
  }
}

TEST(GhostEstimator, RefusesPicturesItCannotJudge) {
  struct Case {
    std::vector<LumaFrame> frames;
    EstimateStatus status;
  };
  const LumaFrame card{kWidth, kHeight, CardLuma()};
  for (const Case& c : {Case{{}, EstimateStatus::TooSmall},
                        Case{{LumaFrame{32, 16, std::vector<uint8_t>(32 * 16, 9)}}, EstimateStatus::TooSmall},
                        Case{{card, LumaFrame{64, 64, std::vector<uint8_t>(64 * 64)}}, EstimateStatus::TooSmall},
                        Case{{LumaFrame{kWidth, kHeight, {1, 2, 3}}}, EstimateStatus::TooSmall},
                        Case{{LumaFrame{kWidth, kHeight, std::vector<uint8_t>(kWidth * kHeight, 128)}},
                             EstimateStatus::TooFlat},
                        Case{{LumaFrame{kWidth, kHeight, FlatLines()}}, EstimateStatus::TooFlat}}) {
    const Estimate found = EstimateGhost(c.frames);
    EXPECT_EQ(found.status, c.status) << EstimateStatusText(c.status);
    EXPECT_FALSE(found.settings.proc_enable);
  }
}

// Every byte outside the channel's own section stays, whatever the line ends.
TEST(SettingsSectionEdit, ReplacesOnlyTheChannelsSection) {
  const std::string section = "[7]\r\nProcEnable=1\r\n";
  struct Case {
    const char* name;
    std::string before, after;
  };
  const Case cases[] = {
      {"empty file", "", "[DIALOG]\r\n" + section},
      {"replaced in the middle", "[DIALOG]\r\nDlgWndPosX=5\r\n[7]\r\nProcEnable=0\r\nX=1\r\n[8]\nA=1\n",
       "[DIALOG]\r\nDlgWndPosX=5\r\n" + section + "[8]\nA=1\n"},
      {"replaced at the end, bare CR kept elsewhere", "[DEFAULT]\rA=1\r[ 7 ]\rB=2", "[DEFAULT]\rA=1\r" + section},
      {"every copy replaced", "[DIALOG]\n[7]\nA\n[9]\n[7]\nB\n", "[DIALOG]\n" + section + "[9]\n" + section},
      {"appended after the others", "[DIALOG]\r\n[70]\r\nA=1\r\n", "[DIALOG]\r\n[70]\r\nA=1\r\n" + section},
      {"unterminated last line", "[DIALOG]\r\n; note", "[DIALOG]\r\n; note\r\n" + section},
      {"no section the plugin starts from", "[17]\r\nA=1\r\n", "[17]\r\nA=1\r\n[DIALOG]\r\n" + section},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceChannelSection(c.before, 7, section), c.after) << c.name;
}

class EstimateCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tev_estimate_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "estimate");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return app::RunEstimate(static_cast<int>(argv.size()), argv.data());
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  // The test card through a channel, as a PNG.
  std::string GhostedCard(const demo::ChannelModel& model) const {
    const media::FrameSize size{kWidth, kHeight};
    std::vector<uint8_t> frame = media::ConvertFileFrame(demo::MakeTestCard(kWidth, kHeight, 0).bgr, media::PixelKind::Bgr24,
                                                    media::PixelKind::Yuy2, size);
    demo::ApplyChannelYuy2(model, frame, kWidth, kHeight);
    const std::string path = Path("ghosted.png");
    media::FrameSink sink(path, media::FileFormat::Image, size, "");
    sink.Put(frame, media::PixelKind::Yuy2);
    sink.Commit();
    return path;
  }

  fs::path dir_;
};

TEST_F(EstimateCommand, UpdatesOnlyItsChannelInAnExistingFile) {
  const std::string input = GhostedCard({{{2.5, 0.3}}, 3});
  const std::string settings = Path("plugin.ini");
  const std::string before = "[DIALOG]\r\nDlgWndPosX=12\r\nDlgWndPosY=34\r\n[1001]\r\nProcEnable=0\r\n[1002]\r\nStep1_Level=-7\r\n";
  Write(settings, before);
  ASSERT_EQ(Run({"--in", input, "--channel", "1001", "--out", settings}), 0);
  const std::string after = Read(settings);
  const size_t start = after.find("[1001]\r\n"), end = after.find("[1002]");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(after.substr(0, start), before.substr(0, before.find("[1001]")));
  EXPECT_EQ(after.substr(end), "[1002]\r\nStep1_Level=-7\r\n");
  EXPECT_NE(after.find("ProcEnable=1\r\n", start), std::string::npos);
  EXPECT_NE(after.find("_Shift=25\r\n", start), std::string::npos);  // the 18-pixel echo at 2.5 % of the line

  // Asked again, the same settings leave the file as it is.
  ASSERT_EQ(Run({"--in", input, "--channel", "1001", "--out", settings}), 0);
  EXPECT_EQ(Read(settings), after);
}

TEST_F(EstimateCommand, NotesThatAJpegSnapshotCancelsLess) {
  const std::string png = GhostedCard({{{2.5, 0.3}}, 3});
  const auto decoded = media::DecodeImage(media::ReadWholeFile(png), png);
  std::vector<uint8_t> rgb = decoded.bgr;
  for (size_t i = 0; i < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
  const std::string jpeg = Path("snapshot.jpg");
  media::WriteRgbImage(jpeg, rgb, decoded.size);
  for (const std::string& input : {png, jpeg}) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Run({"--in", input, "--channel", "5", "--dry-run"}), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr().find("is a JPEG") != std::string::npos, input == jpeg) << input;
  }
}

TEST_F(EstimateCommand, FailsCleanlyAndWritesNothing) {
  const std::string settings = Path("plugin.ini");
  const std::string kept = "[DIALOG]\r\n[5]\r\nA=1\r\n";
  Write(settings, kept);
  Write(Path("bad.png"), "not a picture");
  media::WriteRgbImage(Path("tiny.png"), std::vector<uint8_t>(40 * 10 * 3, 200), {40, 10});
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"--in", Path("missing.png"), "--channel", "5", "--out", settings}, 1},
      {{"--in", Path("bad.png"), "--channel", "5", "--out", settings}, 1},
      {{"--in", Path("tiny.png"), "--channel", "5", "--out", settings}, 1},
      {{"--in", Path("tiny.png"), "--size", "41x10", "--channel", "5", "--out", settings}, 1},
      {{"--in", Path("bad.yuy2"), "--channel", "5", "--out", settings}, 1},  // raw without --size
      {{"--in", Path("tiny.png"), "--channel", "0", "--out", settings}, 2},
      {{"--in", Path("tiny.png"), "--out", settings}, 2},
      {{"--in", GhostedCard({{{2.5, 0.3}}, 3}), "--channel", "5", "--out", settings, "--dry-run"}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args), c.status) << c.args[1];
    EXPECT_EQ(Read(settings), kept) << c.args[1];
  }
  EXPECT_FALSE(fs::exists(Path("new.ini")));
}

}  // namespace
}  // namespace tev::estimate
