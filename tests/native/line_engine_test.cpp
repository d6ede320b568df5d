// The line engine against the stage-by-stage definition: same bytes in the
// frame and in the 4:2:2 work buffer, for both kinds of frame, every width up
// to 300 and larger random sizes, hostile settings, at every CPU level, with
// no byte touched outside the buffers.
#include "processing/line_engine.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

#include "tests/native/cpu_levels.h"
#include "tests/native/guarded_frame.h"

namespace tev {
namespace {

class Random {
 public:
  explicit Random(uint32_t seed) : rng_(seed) {}
  int32_t In(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng_); }
  std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng_());
    return bytes;
  }

  // Mostly the dialog's ranges, often far beyond them.
  int32_t Percent() {
    switch (In(0, 5)) {
      case 0: return In(-3000, 3000);
      case 1: return In(0, 1) ? INT_MIN : INT_MAX;
      default: return In(-100, 100);
    }
  }
  int32_t Shift(int32_t width) {
    switch (In(0, 5)) {
      case 0: return In(INT_MIN, INT_MAX);
      case 1: return In(-1100, 1100);
      case 2: return static_cast<int32_t>(In(-40, 40) * 1000LL / width);  // small pixel shifts, s = 0 included
      default: return In(-1000, 1000);
    }
  }
  StageSettings Settings(int32_t width) {
    StageSettings s;
    s.correct = In(0, 1);
    s.brightness = Percent();
    s.contrast = In(0, 3) ? Percent() : (In(0, 1) ? -100 : 100);  // the correction's flat and steepest maps
    s.step_count = In(0, kStepCount);
    for (int i = 0; i < s.step_count; ++i) s.steps[i] = {Shift(width), Percent()};
    return s;
  }

 private:
  std::mt19937 rng_;
};

void ExpectSameAsDefinition(const FrameShape& shape, const StageSettings& settings, Random& random,
                            const CpuLevel& level) {
  const size_t pixels = static_cast<size_t>(shape.width) * shape.height;
  const std::vector<uint8_t> input = random.Bytes(pixels * (shape.rgb ? 3 : 2));
  const std::vector<uint8_t> work_before = random.Bytes(shape.rgb ? pixels * 2 : 0);

  std::vector<uint8_t> want = input, want_work = work_before;
  RunFrameStagesScalar(want.data(), want_work.data(), shape, settings);

  GuardedFrame frame(input, random.In(0, 3), 0xA5), work(work_before, 0, 0x5A);
  GuardedFrame line(random.Bytes(LineBufferBytes(shape.width)), 0, 0xC3);
  {
    ScopedCpuLevel scoped(level);
    RunFrameStages(frame.data(), shape.rgb ? work.data() : nullptr, line.data(), shape, settings);
  }
  ASSERT_EQ(frame.frame(), want) << level.name << " " << shape.width << "x" << shape.height << " rgb " << shape.rgb;
  ASSERT_EQ(work.frame(), want_work) << level.name << " " << shape.width << "x" << shape.height;
  ASSERT_TRUE(frame.GuardsIntact() && work.GuardsIntact() && line.GuardsIntact()) << level.name;
}

TEST(LineEngine, MatchesTheStageByStageDefinition) {
  Random random(12);
  for (const CpuLevel& level : CpuLevels()) {
    for (bool rgb : {false, true}) {
      for (int32_t width = 1; width <= 300; ++width) {
        // Some frames tall enough to span blocks of lines.
        const FrameShape shape{width, width % 5 == 0 ? random.In(20, 120) : random.In(1, 3), rgb};
        ExpectSameAsDefinition(shape, random.Settings(width), random, level);
      }
      for (int i = 0; i < 12; ++i) {
        const FrameShape shape{random.In(1, 4096), random.In(1, 64), rgb};
        ExpectSameAsDefinition(shape, random.Settings(shape.width), random, level);
      }
    }
  }
}

// Every stage on at once, with the shifts of a real ghost, on broadcast sizes.
TEST(LineEngine, MatchesOnWholeFramesWithEveryStageOn) {
  Random random(13);
  StageSettings settings;
  settings.correct = true;
  settings.brightness = 7;
  settings.contrast = -7;
  const int32_t shifts[] = {23, 25, 25, 26, 48, 50, 51, -25};
  for (int32_t shift : shifts) settings.steps[settings.step_count++] = {shift, random.In(-20, 20)};
  for (const CpuLevel& level : CpuLevels()) {
    for (bool rgb : {false, true}) ExpectSameAsDefinition({721, 577, rgb}, settings, random, level);
  }
}

}  // namespace
}  // namespace tev
