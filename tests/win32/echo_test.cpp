// The echo step in the 32-bit build: the kernels as compiled for i686 against
// the reference, and the real DLL's pipeline running enabled steps in order.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "processing/cpu_features.h"
#include "processing/echo_step.h"
#include "processing/line_engine.h"
#include "support/plugin_loader.h"
#include "support/random_bytes.h"
#include "support/settings_file.h"

namespace tev::testing {
namespace {

// Every level down to scalar; a level the CPU lacks repeats the one below.
constexpr uint32_t kCpuMasks[] = {~0u, kCpuSse2 | kCpuSsse3 | kCpuAvx2, kCpuSse2, 0};

// The 32-bit build compiles the kernels differently (eight vector registers,
// a realigned stack): hold every level to the reference here too.
TEST(EchoStep32, KernelsMatchReference) {
  std::mt19937 rng(17);
  auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(rng); };
  for (int i = 0; i < 600; ++i) {
    const int32_t width = i < 300 ? 1 + i % 70 : pick(1, 2000), height = pick(1, 4);
    const EchoStepParams params = DeriveEchoStepParams(
        width, i % 9 == 0 ? pick(INT_MIN, INT_MAX) : pick(-1000, 1000), i % 7 == 0 ? pick(-3000, 3000) : pick(-100, 100));
    const std::vector<uint8_t> input = RandomBytes(2 * static_cast<size_t>(width) * height, rng);
    std::vector<uint8_t> expected = input;
    ApplyEchoStepPixelsScalar(expected.data(), width, height, params);
    for (uint32_t mask : kCpuMasks) {
      std::vector<uint8_t> frame = input;
      MaskCpuFlags(mask);
      ApplyEchoStepPixels(frame.data(), width, height, params);
      MaskCpuFlags(~0u);
      ASSERT_EQ(frame, expected) << "cpu mask " << mask << " W=" << width << " s=" << params.pixel_shift;
    }
  }
}

// The whole line engine as compiled for i686, both kinds of frame, at every
// level, against the stage-by-stage definition.
TEST(EchoStep32, LineEngineMatchesTheDefinition) {
  std::mt19937 rng(19);
  auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(rng); };
  for (int i = 0; i < 120; ++i) {
    const FrameShape shape{pick(1, 900), pick(1, 40), i % 2 == 1};
    StageSettings settings;
    settings.correct = pick(0, 1);
    settings.brightness = pick(-120, 120);
    settings.contrast = pick(-120, 120);
    settings.step_count = pick(0, kStepCount);
    for (int k = 0; k < settings.step_count; ++k) settings.steps[k] = {pick(-1100, 1100), pick(-300, 300)};
    const size_t pixels = static_cast<size_t>(shape.width) * shape.height;
    const std::vector<uint8_t> input = RandomBytes(pixels * (shape.rgb ? 3 : 2), rng);
    std::vector<uint8_t> expected = input, expected_work(2 * pixels);
    RunFrameStagesScalar(expected.data(), expected_work.data(), shape, settings);
    for (uint32_t mask : kCpuMasks) {
      std::vector<uint8_t> frame = input, work(2 * pixels), line(LineBufferBytes(shape.width));
      MaskCpuFlags(mask);
      RunFrameStages(frame.data(), work.data(), line.data(), shape, settings);
      MaskCpuFlags(~0u);
      ASSERT_EQ(frame, expected) << "cpu mask " << mask << " " << shape.width << "x" << shape.height;
    }
  }
}


// Two enabled steps with a disabled one between them: the DLL must give the
// reference applied twice, the second step seeing the first one's output.
TEST(EchoStep32, DllRunsEnabledStepsInOrder) {
  const std::string settings =
      "[DEFAULT]\r\nProcEnable=1\r\nCorrEnable=0\r\n"
      "Step1_Enable=1\r\nStep1_Shift=25\r\nStep1_Level=-30\r\n"
      "Step2_Enable=0\r\nStep2_Shift=100\r\nStep2_Level=100\r\n"
      "Step3_Enable=1\r\nStep3_Shift=-13\r\nStep3_Level=45\r\n";
  ScopedSettingsFile file(settings);
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.ok());
  InitKnowingEveryChannel(plugin.d());

  std::mt19937 rng(23);
  const Channel channel(0x1234567890LL, "Echo");
  for (const FrameFormat& format : {FrameFormat{720, 16, 2, 0, 0}, FrameFormat{333, 5, 2, 0, 0}}) {
    ASSERT_EQ(plugin.d().SetFormat(&format), 1);
    std::vector<uint8_t> frame = RandomBytes(2 * static_cast<size_t>(format.Width) * format.Height, rng);
    std::vector<uint8_t> expected = frame;
    ApplyEchoStepScalar(expected.data(), &format, 25, -30);
    ApplyEchoStepScalar(expected.data(), &format, -13, 45);
    FrameInfo info = MakeFrame(frame.data(), channel);
    ASSERT_EQ(plugin.d().ProcessFrame(&info), 1);
    EXPECT_EQ(frame, expected) << "width " << format.Width;
    plugin.d().FreeBuffers();
  }
  plugin.d().Shutdown();
}

}  // namespace
}  // namespace tev::testing
