// The demo's channel model, tuning and metrics: the ghost is where and as
// strong as asked, nothing clips, the tuned settings cancel it through the
// plugin's own kernels, and the figures mean what they say.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "demo/channel_model.h"
#include "demo/metrics.h"
#include "demo/test_card.h"
#include "demo/tuning.h"
#include "media/file_colour.h"
#include "media/frame_format.h"
#include "processing/brightness_contrast.h"
#include "processing/echo_step.h"

namespace tev::demo {
namespace {

TEST(ChannelModel, ParsesEchoesAndRejectsNonsense) {
  struct Case {
    const char* text;
    double delay, amplitude;
  };
  for (const Case& c : {Case{"2.5:0.3", 2.5, 0.3}, Case{"2.5%:+30%", 2.5, 0.3}, Case{"10:-45%", 10, -0.45},
                       Case{"-3:+25%", -3, 0.25}}) {
    const Echo echo = ParseEcho(c.text);
    EXPECT_DOUBLE_EQ(echo.delay_percent, c.delay) << c.text;
    EXPECT_DOUBLE_EQ(echo.amplitude, c.amplitude) << c.text;
  }
  for (const char* bad : {"", "2.5", "x:0.3", "2.5:y", "2.5:0.3z", "0:0.3", "60:0.3", "2.5:1.2", "2.5:-100%", "nan:0.1"})
    EXPECT_THROW(ParseEcho(bad), std::invalid_argument) << bad;
}

TEST(ChannelModel, PutsTheEchoAtItsDelayAndNeverClips) {
  const int width = 200;
  // A white step from black at x = 50, and the extremes of the range.
  std::vector<uint8_t> line(width, 0);
  for (int x = 50; x < width; ++x) line[x] = 255;
  struct Case {
    double amplitude;
    int smear;
  };
  for (const Case& c : {Case{0.3, 1}, Case{-0.3, 1}, Case{0.5, 3}, Case{-0.45, 5}}) {
    ChannelModel model{{{5.0, c.amplitude}}, c.smear};  // 10 pixels
    const GainControl agc = ReceiverGain(model);
    const auto out = ApplyChannel(model, line, width, 1);
    // Before the echo arrives the picture is only scaled and lifted.
    EXPECT_EQ(out[40], std::lround(agc.offset));
    EXPECT_EQ(out[55], std::lround(255 * agc.gain + agc.offset));
    // Well after the step both paths carry white: the sum is 255 (1 + a) scaled.
    EXPECT_EQ(out[150], std::lround(255 * (1 + c.amplitude) * agc.gain + agc.offset));
    // The receiver's gain keeps the worst case inside the range, never at a clip.
    for (uint8_t v : out) {
      EXPECT_GE(v, 0);
      EXPECT_LE(v, 255);
    }
    EXPECT_NEAR(255 * (1 + std::fmax(c.amplitude, 0)) * agc.gain + agc.offset, 255, 1e-9);
    EXPECT_NEAR(255 * std::fmin(c.amplitude, 0) * agc.gain + agc.offset, 0, 1e-9);
  }
}

TEST(Tuning, CascadeOfAnUnsmearedEchoIsTheClassicOne) {
  const ChannelModel model{{{2.5, 0.3}}, 1};
  const auto steps = CascadeSteps(model, 720);
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].shift, 25);  // 18 px
  EXPECT_EQ(steps[0].level, -30);
  EXPECT_EQ(steps[1].shift, 50);  // 36 px
  EXPECT_EQ(steps[1].level, 9);
  EXPECT_EQ(steps[2].shift, 100);  // 72 px
  EXPECT_EQ(steps[2].level, 1);
  EXPECT_EQ(PixelShift(steps[1].shift, 720), 36);
}

TEST(Tuning, FitIsNeverWorseThanTheCascadeAndUsesAtMostEightSteps) {
  for (const ChannelModel& model : {ChannelModel{{{2.5, 0.3}}, 3}, ChannelModel{{{2.5, 0.3}}, 1},
                                    ChannelModel{{{4.0, -0.25}}, 5}, ChannelModel{{{1.5, 0.2}, {6.0, -0.1}}, 3},
                                    ChannelModel{{{-3.0, 0.25}}, 3}, ChannelModel{{{2.0, -0.2}, {-5.0, 0.15}}, 1}}) {
    SCOPED_TRACE(DescribeModel(model));
    const auto fit = FitSteps(model, 720);
    EXPECT_LE(fit.size(), 8u);
    EXPECT_LE(PredictedResidualDb(model, 720, fit), PredictedResidualDb(model, 720, CascadeSteps(model, 720)) + 1e-9);
    EXPECT_LT(PredictedResidualDb(model, 720, fit), PredictedResidualDb(model, 720, {}) - 10);
  }
}

TEST(Tuning, SettingsFileCarriesEveryKeyWithCrLf) {
  PluginSettings settings;
  settings.brightness = 7;
  settings.contrast = -7;
  settings.steps = {{25, -30}, {50, 9}};
  const std::string file = ComposeSettingsFile(settings, -5, true);
  EXPECT_EQ(file.find("[DEFAULT]\r\nProcEnable=1\r\nCorrEnable=1\r\nBrightness=7\r\nContrast=-7\r\n"), file.find("[DEFAULT]"));
  EXPECT_NE(file.find("[-5]\r\nProcEnable=1\r\n"), std::string::npos);
  EXPECT_NE(file.find("Step2_Enable=1\r\nStep2_Shift=50\r\nStep2_Level=9\r\nStep3_Enable=0\r\n"), std::string::npos);
  EXPECT_NE(file.find("Step8_Level=0\r\n"), std::string::npos);
  EXPECT_EQ(file.find('\n', file.find("Step8_Level") ) + 1, file.find("[-5]"));  // DEFAULT ends where the channel begins
  EXPECT_EQ(file.find("\n\n"), std::string::npos);
}

TEST(Metrics, FiguresIgnoreGainAndOffsetButNotTheGhost) {
  const Canvas card = MakeTestCard(96, 64, 0);
  const auto clean = media::FileFrameLuma(card.bgr, media::PixelKind::Bgr24, {96, 64});
  const PictureFigures same = MeasureAgainstClean(clean, clean);
  EXPECT_LT(same.ghost_db, -100);

  std::vector<uint8_t> scaled(clean.size());
  for (size_t i = 0; i < clean.size(); ++i) scaled[i] = static_cast<uint8_t>(clean[i] / 2 + 20);
  const PictureFigures affine = MeasureAgainstClean(clean, scaled);
  EXPECT_NEAR(affine.alpha, 0.5, 0.01);
  EXPECT_LT(affine.ghost_db, -30);  // only the rounding of the halving remains

  const auto ghosted = ApplyChannel(ChannelModel{{{5.0, 0.3}}, 1}, clean, 96, 64);
  const PictureFigures ghost = MeasureAgainstClean(clean, ghosted);
  EXPECT_GT(ghost.ghost_db, -15);
  EXPECT_LT(ghost.psnr_db, affine.psnr_db);
  EXPECT_THROW(MeasureAgainstClean(clean, std::vector<uint8_t>(3)), std::invalid_argument);
}

// The whole chain natively, through the plugin's own kernels: the default
// channel, settings from the model alone, the ghost falls by at least 15 dB.
TEST(DemoChain, TunedStepsRemoveTheDefaultGhost) {
  const media::FrameSize size{720, 576};
  const Canvas card = MakeTestCard(size.width, size.height, 0);
  std::vector<uint8_t> frame = media::ConvertFileFrame(card.bgr, media::PixelKind::Bgr24, media::PixelKind::Yuy2, size);
  const auto clean = media::FileFrameLuma(frame, media::PixelKind::Yuy2, size);
  const ChannelModel model{{{2.5, 0.3}}, 3};
  ApplyChannelYuy2(model, frame, size.width, size.height);
  const double before = MeasureAgainstClean(clean, media::FileFrameLuma(frame, media::PixelKind::Yuy2, size)).ghost_db;

  const auto steps = FitSteps(model, size.width);
  const Headroom headroom = ChooseHeadroom(model, size.width, steps);
  EXPECT_TRUE(headroom.clip_free);
  const FrameFormat format{size.width, size.height, 2, 0, 0};
  AdjustBrightnessContrast(frame.data(), &format, headroom.brightness, headroom.contrast);
  for (const StepSetting& step : steps) ApplyEchoStep(frame.data(), &format, step.shift, step.level);
  const PictureFigures after = MeasureAgainstClean(clean, media::FileFrameLuma(frame, media::PixelKind::Yuy2, size));
  EXPECT_GE(before - after.ghost_db, 15.0) << "before " << before << " dB, after " << after.ghost_db << " dB";
}

}  // namespace
}  // namespace tev::demo
