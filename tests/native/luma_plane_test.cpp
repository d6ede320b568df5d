// The plane form of the stages gives the luma the plugin's 4:2:2 path gives,
// for any size, stride and setting, and never writes past a line.
#include "processing/luma_plane.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "processing/brightness_contrast.h"
#include "processing/echo_step.h"

namespace tev {
namespace {

TEST(LumaPlane, MatchesTheKernelsOnA422Frame) {
  std::mt19937 rng(7);
  auto any = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 400; ++round) {
    const int w = any(1, 70), h = any(1, 5), pad = any(0, 3);
    StageSettings s;
    s.correct = any(0, 1);
    s.brightness = any(-120, 120);
    s.contrast = any(-120, 120);
    s.step_count = any(0, 8);
    for (int i = 0; i < s.step_count; ++i) s.steps[i] = {any(-1100, 1100), any(-110, 110)};

    std::vector<uint8_t> yuy2(static_cast<size_t>(2 * w * h));
    for (auto& b : yuy2) b = static_cast<uint8_t>(any(0, 255));
    std::vector<uint8_t> plane(static_cast<size_t>((w + pad) * h), 0xA5);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) plane[y * (w + pad) + x] = yuy2[2 * (y * w + x)];

    const FrameFormat format{w, h, 2, 0, 0};
    if (s.correct) AdjustBrightnessContrast(yuy2.data(), &format, s.brightness, s.contrast);
    for (int i = 0; i < s.step_count; ++i) ApplyEchoStep(yuy2.data(), &format, s.steps[i].shift, s.steps[i].level);
    ProcessLumaPlane(plane.data(), w + pad, w, h, s);

    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w + pad; ++x) {
        const uint8_t want = x < w ? yuy2[2 * (y * w + x)] : 0xA5;
        ASSERT_EQ(plane[y * (w + pad) + x], want) << "round " << round << " w " << w << " h " << h << " x " << x;
      }
    }
  }
}

}  // namespace
}  // namespace tev
