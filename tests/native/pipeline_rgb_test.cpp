// The pipeline's RGB path: the frame converted into the work buffer, the
// stages run there, and the result converted back, with the unpaired last
// pixel of an odd frame given this frame's luma before any step can read it.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "processing/brightness_contrast.h"
#include "processing/color_convert.h"
#include "processing/echo_step.h"
#include "processing/pipeline.h"
#include "settings/settings_index.h"
#include "settings/settings_store.h"

namespace tev {
namespace {

struct Step {
  int32_t shift, level;
};

struct Settings {
  bool correction = false;
  int32_t brightness = 0, contrast = 0;
  std::vector<Step> steps;
};

// What the pipeline must produce, built from the scalar definitions.
std::vector<uint8_t> Expected(std::vector<uint8_t> frame, const FrameFormat& format, const Settings& settings) {
  const size_t pixels = static_cast<size_t>(format.Width) * format.Height;
  std::vector<uint8_t> work(2 * pixels, 0xCD);
  ConvertRgb24ToYuy2Scalar(frame.data(), work.data(), &format);
  if (pixels % 2 == 1) {
    work[2 * pixels - 2] = LumaOfBgr(&frame[3 * pixels - 3]);
    work[2 * pixels - 1] = 128;
  }
  if (settings.correction) {
    AdjustBrightnessContrastScalar(work.data(), &format, settings.brightness, settings.contrast);
  }
  for (const Step& step : settings.steps) ApplyEchoStepScalar(work.data(), &format, step.shift, step.level);
  ConvertYuy2ToRgb24Scalar(work.data(), frame.data(), &format);
  return frame;
}

class PipelineRgb : public ::testing::Test {
 protected:
  PipelineRgb() : channel_(12 + 5 + 1, 0) { std::memcpy(channel_.data() + 12, "Test", 5); }

  // The first frame of a channel loads its (default) record, so the
  // settings are set after a frame without pixels has selected it.
  void Start(int width, int height, const Settings& settings) {
    format = {width, height, 3, FrameKindRgb24, 0};
    pipeline.SetFormat(&format);
    pipeline.ProcessFrame(nullptr, nullptr, Channel());
    store.SetSetting(ProcEnable, 1);
    store.SetSetting(CorrEnable, settings.correction ? 1 : 0);
    store.SetSetting(Brightness, settings.brightness);
    store.SetSetting(Contrast, settings.contrast);
    for (int step = 1; step <= kStepCount; ++step) {
      const bool on = static_cast<size_t>(step) <= settings.steps.size();
      store.SetSetting(StepEnableIndex(step), on ? 1 : 0);
      store.SetSetting(StepShiftIndex(step), on ? settings.steps[step - 1].shift : 0);
      store.SetSetting(StepLevelIndex(step), on ? settings.steps[step - 1].level : 0);
    }
  }

  std::vector<uint8_t> Process(std::vector<uint8_t> frame) {
    EXPECT_EQ(pipeline.ProcessFrame(frame.data(), nullptr, Channel()), 1);
    return frame;
  }

  std::vector<uint8_t> RandomFrame(std::mt19937& rng) const {
    std::vector<uint8_t> frame(3 * static_cast<size_t>(format.Width) * format.Height);
    for (uint8_t& byte : frame) byte = static_cast<uint8_t>(rng());
    return frame;
  }

  const ChannelInfo* Channel() const { return reinterpret_cast<const ChannelInfo*>(channel_.data()); }

  SettingsStore store;
  Pipeline pipeline{store};
  FrameFormat format{};

 private:
  std::vector<uint8_t> channel_;
};

TEST_F(PipelineRgb, WithNoStageAFrameComesBackAsTheTwoConversionsLeaveIt) {
  Start(6, 3, {});
  std::vector<uint8_t> red;
  for (int i = 0; i < 18; ++i) red.insert(red.end(), {0, 0, 255});
  const std::vector<uint8_t> out = Process(red);
  for (int i = 0; i < 18; ++i) {
    EXPECT_EQ(out[3 * i], 0);
    EXPECT_EQ(out[3 * i + 1], 0);
    EXPECT_EQ(out[3 * i + 2], 254) << "pixel " << i;
  }
  std::mt19937 rng(1);
  const std::vector<uint8_t> frame = RandomFrame(rng);
  EXPECT_EQ(Process(frame), Expected(frame, format, {}));
}

TEST_F(PipelineRgb, TheCorrectionAndTheStepsRunOnTheWorkBuffer) {
  Settings settings;
  settings.correction = true;
  settings.brightness = 10;
  settings.contrast = -10;
  settings.steps = {{25, -30}, {-60, 20}};
  Start(64, 9, settings);
  std::mt19937 rng(2);
  for (int frame_number = 0; frame_number < 3; ++frame_number) {
    const std::vector<uint8_t> frame = RandomFrame(rng);
    EXPECT_EQ(Process(frame), Expected(frame, format, settings)) << "frame " << frame_number;
  }
}

// With W*H odd, the forward conversion leaves the work buffer's last pixel
// alone; a step with a negative shift reads it as the source of the pixels
// before it on the last line. It must hold this frame's luma, whatever the
// buffer held before (here: the last pixel of a white frame).
TEST_F(PipelineRgb, TheUnpairedLastPixelIsThisFramesOwnForTheSteps) {
  struct Case {
    int width, height;
    Settings settings;
  } const cases[] = {
      {5, 3, {false, 0, 0, {{-200, 100}}}},   // s = -1: pixel 13 reads pixel 14
      {7, 5, {false, 0, 0, {{-300, 60}}}},    // s = -2
      {9, 1, {false, 0, 0, {{-500, -50}, {-120, 100}}}},
      {3, 3, {true, 20, 30, {{-340, 100}}}},  // s = -1 after the correction
      {11, 7, {true, -5, 40, {{150, 40}, {-90, 80}}}},
      {1, 5, {false, 0, 0, {{-1000, 100}}}},
  };
  std::mt19937 rng(3);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    Start(c.width, c.height, c.settings);
    const size_t pixels = static_cast<size_t>(c.width) * c.height;
    const std::vector<uint8_t> white(3 * pixels, 255);
    EXPECT_EQ(Process(white), Expected(white, format, c.settings));

    std::vector<uint8_t> dark = RandomFrame(rng);
    for (uint8_t& byte : dark) byte = static_cast<uint8_t>(byte / 8);
    const std::vector<uint8_t> out = Process(dark);
    EXPECT_EQ(out, Expected(dark, format, c.settings));
    // The host's last pixel is never rewritten by the conversion back.
    EXPECT_EQ(0, std::memcmp(&out[3 * pixels - 3], &dark[3 * pixels - 3], 3));
    const uint8_t* work = pipeline.WorkBuffer();
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work[2 * pixels - 1], 128);
  }
}

}  // namespace
}  // namespace tev
