// The RGB path in the 32-bit build: the conversion and correction kernels as
// compiled for i686 against their scalar definitions, and RGB frames through
// the real DLL with the settings coming from its settings file.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "processing/brightness_contrast.h"
#include "processing/brightness_contrast_kernels.h"
#include "processing/color_convert.h"
#include "processing/color_convert_kernels.h"
#include "processing/cpu_features.h"
#include "processing/echo_step.h"
#include "support/plugin_loader.h"
#include "support/random_bytes.h"
#include "support/settings_file.h"

namespace tev::testing {
namespace {

// The 32-bit build has eight vector registers and realigns its stack for
// the wider kernels: hold every path the CPU runs to the scalar rows here too.
TEST(Rgb32, ConversionKernelsMatchTheScalarRows) {
  struct Path {
    const char* name;
    color::Rgb24ToYuy2Row forward;
    color::Yuy2ToRgb24Row inverse;
    bool available;
  } const paths[] = {
      {"SSE2", color::Rgb24ToYuy2RowSse2, color::Yuy2ToRgb24RowSse2, true},
      {"SSSE3", color::Rgb24ToYuy2RowSsse3, color::Yuy2ToRgb24RowSsse3, CpuHas(kCpuSsse3)},
      {"AVX2", color::Rgb24ToYuy2RowAvx2, color::Yuy2ToRgb24RowAvx2, CpuHas(kCpuAvx2)},
      {"AVX-512 VBMI", color::Rgb24ToYuy2RowAvx512Vbmi, color::Yuy2ToRgb24RowAvx512Vbmi, CpuHas(kCpuAvx512Vbmi)},
  };
  std::mt19937 rng(31);
  for (size_t pairs : {0u, 1u, 3u, 4u, 7u, 8u, 9u, 10u, 11u, 17u, 18u, 19u, 33u, 100u, 4099u}) {
    const std::vector<uint8_t> rgb = RandomBytes(6 * pairs, rng), yuy2 = RandomBytes(4 * pairs, rng);
    std::vector<uint8_t> want_yuy2(4 * pairs), want_rgb(6 * pairs);
    color::Rgb24ToYuy2RowScalar(rgb.data(), want_yuy2.data(), pairs);
    color::Yuy2ToRgb24RowScalar(yuy2.data(), want_rgb.data(), pairs);
    for (const Path& path : paths) {
      if (!path.available) continue;
      std::vector<uint8_t> got_yuy2(4 * pairs, 0xEE), got_rgb(6 * pairs, 0xDD);
      color::ConvertRgb24ToYuy2With(path.forward, rgb.data(), got_yuy2.data(), pairs);
      color::ConvertYuy2ToRgb24With(path.inverse, yuy2.data(), got_rgb.data(), pairs);
      EXPECT_EQ(got_yuy2, want_yuy2) << path.name << ", " << pairs << " pairs";
      EXPECT_EQ(got_rgb, want_rgb) << path.name << ", " << pairs << " pairs";
    }
  }
}

TEST(Rgb32, CorrectionMatchesItsScalarDefinition) {
  std::mt19937 rng(37);
  const int32_t settings[] = {INT_MIN, -20000, -901, -100, -37, 0, 1, 10, 100, 699, 12800, INT_MAX};
  for (int32_t brightness : settings) {
    for (int32_t contrast : settings) {
      const FrameFormat format{37, 3, 2, 0, 0};
      const std::vector<uint8_t> input = RandomBytes(2 * 37 * 3, rng);
      std::vector<uint8_t> want = input, got = input;
      AdjustBrightnessContrastScalar(want.data(), &format, brightness, contrast);
      AdjustBrightnessContrast(got.data(), &format, brightness, contrast);
      ASSERT_EQ(got, want) << brightness << ", " << contrast;
      const LumaMap map = LumaMapFor(brightness, contrast);
      if (!brightness::FitsLanes(map)) continue;
      for (auto kernel : {brightness::AdjustLumaSse2, brightness::AdjustLumaAvx2}) {
        if (kernel == brightness::AdjustLumaAvx2 && !CpuHas(kCpuAvx2)) continue;
        std::vector<uint8_t> lanes = input;
        kernel(lanes.data(), 37 * 3 / 4 * 8, map);
        ASSERT_EQ(lanes, want) << brightness << ", " << contrast;
      }
    }
  }
}


struct Stages {
  bool correction;
  int32_t brightness, contrast;
  bool step;
  int32_t shift, level;
};

// The RGB frame as the DLL must return it: both conversions, and between
// them the enabled stages on the 4:2:2 copy, whose unpaired last pixel (odd
// W*H) carries the frame's own luma.
std::vector<uint8_t> Expected(std::vector<uint8_t> frame, const FrameFormat& format, const Stages& stages) {
  const size_t pixels = static_cast<size_t>(format.Width) * format.Height;
  std::vector<uint8_t> work(2 * pixels);
  ConvertRgb24ToYuy2Scalar(frame.data(), work.data(), &format);
  if (pixels % 2 == 1) {
    work[2 * pixels - 2] = LumaOfBgr(&frame[3 * pixels - 3]);
    work[2 * pixels - 1] = 128;
  }
  if (stages.correction) AdjustBrightnessContrastScalar(work.data(), &format, stages.brightness, stages.contrast);
  if (stages.step) ApplyEchoStepScalar(work.data(), &format, stages.shift, stages.level);
  ConvertYuy2ToRgb24Scalar(work.data(), frame.data(), &format);
  return frame;
}

// Loads the DLL with `settings` as its file, runs `frames` of each format
// through it and checks each against Expected.
void RunThroughDll(const std::string& settings, const Stages& stages, const std::vector<FrameFormat>& formats) {
  ScopedSettingsFile file(settings);
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.ok());
  InitKnowingEveryChannel(plugin.d());
  std::mt19937 rng(41);
  const Channel channel(0x2A, "RGB");
  for (const FrameFormat& format : formats) {
    SCOPED_TRACE(::testing::Message() << format.Width << "x" << format.Height);
    ASSERT_EQ(plugin.d().SetFormat(&format), 1);
    for (int n = 0; n < 2; ++n) {
      std::vector<uint8_t> frame = RandomBytes(3 * static_cast<size_t>(format.Width) * format.Height, rng);
      const std::vector<uint8_t> want = Expected(frame, format, stages);
      FrameInfo info = MakeFrame(frame.data(), channel);
      ASSERT_EQ(plugin.d().ProcessFrame(&info), 1);
      EXPECT_EQ(frame, want) << "frame " << n;
    }
    plugin.d().FreeBuffers();
  }
  plugin.d().Shutdown();
}

const std::vector<FrameFormat> kFormats = {
    {720, 8, 3, FrameKindRgb24, 0}, {33, 5, 3, FrameKindRgb24, 0}, {7, 5, 4, FrameKindRgb24, 0}};

TEST(Rgb32, DllConvertsBothWaysWithEveryStageOff) {
  const std::string settings = "[DEFAULT]\r\nProcEnable=1\r\nCorrEnable=0\r\n";
  {
    ScopedSettingsFile file(settings);
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.ok());
    InitKnowingEveryChannel(plugin.d());
    const FrameFormat format{16, 4, 3, FrameKindRgb24, 0};
    ASSERT_EQ(plugin.d().SetFormat(&format), 1);
    std::vector<uint8_t> red;
    for (int i = 0; i < 64; ++i) red.insert(red.end(), {0, 0, 255});
    FrameInfo info = MakeFrame(red.data(), Channel(7, "Red"));
    ASSERT_EQ(plugin.d().ProcessFrame(&info), 1);
    for (int i = 0; i < 64; ++i) {
      ASSERT_EQ(red[3 * i], 0) << "pixel " << i;
      ASSERT_EQ(red[3 * i + 1], 0) << "pixel " << i;
      ASSERT_EQ(red[3 * i + 2], 254) << "pixel " << i;
    }
    plugin.d().FreeBuffers();
    plugin.d().Shutdown();
  }
  RunThroughDll(settings, {false, 0, 0, false, 0, 0}, kFormats);
}

TEST(Rgb32, DllCorrectionMatchesTheReferencesChained) {
  RunThroughDll("[DEFAULT]\r\nProcEnable=1\r\nCorrEnable=1\r\nBrightness=10\r\nContrast=-10\r\n",
                {true, 10, -10, false, 0, 0}, kFormats);
}

// An odd frame and a step whose sources lie to the right: the last pixel of
// the last line is a source, and must be this frame's.
TEST(Rgb32, DllOddFramesFeedTheirOwnLastPixelToTheSteps) {
  RunThroughDll(
      "[DEFAULT]\r\nProcEnable=1\r\nCorrEnable=1\r\nBrightness=-5\r\nContrast=20\r\n"
      "Step1_Enable=1\r\nStep1_Shift=-150\r\nStep1_Level=70\r\n",
      {true, -5, 20, true, -150, 70}, kFormats);
}

}  // namespace
}  // namespace tev::testing
