#include "processing/echo_step.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/native/cpu_levels.h"
#include "tests/native/guarded_frame.h"

namespace tev {
namespace {

// A line of the given lumas, every chroma byte 128.
std::vector<uint8_t> LineOf(const std::vector<int>& luma) {
  std::vector<uint8_t> bytes;
  for (int y : luma) bytes.insert(bytes.end(), {static_cast<uint8_t>(y), 128});
  return bytes;
}

struct Variant {
  std::string name;
  std::function<void(uint8_t*, const FrameFormat*, int32_t, int32_t)> apply;
};

// The reference, and the public entry at every instruction-set level.
std::vector<Variant> Variants() {
  std::vector<Variant> variants = {{"reference", ApplyEchoStepScalar}};
  for (const CpuLevel& level : CpuLevels()) {
    variants.push_back({level.name, [level](uint8_t* frame, const FrameFormat* f, int32_t shift, int32_t level_) {
                          ScopedCpuLevel scoped(level);
                          ApplyEchoStep(frame, f, shift, level_);
                        }});
  }
  return variants;
}

TEST(EchoStep, KnownLines) {
  const std::vector<int> example = {100, 200, 50, 0, 255, 128, 10, 60};
  std::vector<int> lone_peak(16, 100);
  lone_peak[6] = 200;
  struct Case {
    std::vector<int> in;
    int32_t shift, level;
    std::vector<int> out;
  } const cases[] = {
      {example, 250, -50, {100, 200, 0, 0, 230, 128, 0, 0}},
      {example, 250, 50, {100, 200, 100, 100, 255, 128, 137, 124}},
      {example, -250, -50, {75, 200, 0, 0, 250, 98, 10, 60}},
      {example, 375, 100, {100, 200, 50, 100, 255, 178, 10, 255}},
      {example, 0, 25, {125, 250, 62, 0, 255, 160, 12, 75}},
      // Pixel 10 takes pixel 8's value from before the step, not its new 0.
      {lone_peak, 125, -50, {100, 100, 50, 50, 50, 50, 150, 50, 0, 50, 50, 50, 50, 50, 50, 50}},
      {{20, 250}, 500, 100, {20, 255}},
      {{30, 10}, 500, -100, {30, 0}},
      {{100, 200, 0, 128}, 0, 100, {200, 255, 0, 255}},
      {{100, 200, 0, 128}, 0, -100, {0, 0, 0, 0}},
      // Level 1 is m = 3 (not 2), Level -33 is m = 84 (not 85).
      {{100, 100}, 0, 1, {101, 101}},
      {{100, 100}, 0, -33, {68, 68}},
      // Beyond 100 %, k saturates at 255 instead of wrapping (200 x 384 / 256 = 300).
      {{200, 250}, 500, -150, {200, 0}},
      {{200, 1}, 500, 150, {200, 255}},
      {{1, 3, 255}, 0, INT_MIN, {0, 0, 0}},
      {{1, 0, 255}, 0, INT_MAX, {255, 0, 255}},
  };
  for (const Variant& variant : Variants()) {
    for (const Case& c : cases) {
      std::vector<uint8_t> line = LineOf(c.in);
      const FrameFormat format{static_cast<int32_t>(c.in.size()), 1, 2, 0, 0};
      variant.apply(line.data(), &format, c.shift, c.level);
      EXPECT_EQ(line, LineOf(c.out)) << variant.name << " shift " << c.shift << " level " << c.level;
    }
  }
}

TEST(EchoStep, DerivesShiftAndGainWithoutWrapping) {
  struct Case {
    int32_t width, shift, level;
    int64_t s, m;
  } const cases[] = {
      {720, 25, 0, 18, 0},   {720, 7, 100, 5, 256},  {720, -13, -100, -9, 256}, {720, 1000, 50, 720, 128},
      {500, 1, 10, 1, 26},   {500, -1, -10, -1, 26},
      // The platform's 32-bit MulDiv would give -1 here: a real one-pixel shift.
      {4096, INT_MAX, INT_MIN, 8796093018LL, 5497558139LL},
  };
  for (const Case& c : cases) {
    const EchoStepParams params = DeriveEchoStepParams(c.width, c.shift, c.level);
    EXPECT_EQ(params.pixel_shift, c.s) << c.width << " " << c.shift;
    EXPECT_EQ(params.gain, c.m) << c.level;
  }
}

TEST(EchoStep, SettingsThatReachNoPixelLeaveFrameAlone) {
  struct Case {
    int32_t width, shift, level;
  } const cases[] = {
      {720, 250, 0},     {720, 1000, -100},   {720, -1000, 100},    {1000, 1001, 100},
      {1000, -1001, -100}, {4096, INT_MAX, -100}, {4096, INT_MIN, 100}, {0, 0, 100}, {-4, 0, 100},
  };
  std::mt19937 rng(7);
  for (const Variant& variant : Variants()) {
    for (const Case& c : cases) {
      std::vector<uint8_t> frame(2 * 3 * static_cast<size_t>(std::max(c.width, 1)));
      for (uint8_t& b : frame) b = static_cast<uint8_t>(rng());
      const std::vector<uint8_t> before = frame;
      const FrameFormat format{c.width, 3, 2, 0, 0};
      variant.apply(frame.data(), &format, c.shift, c.level);
      EXPECT_EQ(frame, before) << variant.name << " width " << c.width << " shift " << c.shift;
    }
  }
  ApplyEchoStep(nullptr, nullptr, 0, 100);
}

TEST(EchoStep, StrongerLevelNeverCancelsLess) {
  std::mt19937 rng(11);
  std::vector<uint8_t> input(2 * 64);
  for (uint8_t& b : input) b = static_cast<uint8_t>(rng());
  const FrameFormat format{64, 1, 2, 0, 0};
  for (const Variant& variant : Variants()) {
    std::vector<uint8_t> weaker_add = input, weaker_subtract = input;
    for (int32_t level = 0; level <= 2000; level += 9) {
      std::vector<uint8_t> added = input, subtracted = input;
      variant.apply(added.data(), &format, 100, level);
      variant.apply(subtracted.data(), &format, 100, -level);
      for (size_t i = 0; i < input.size(); i += 2) {
        ASSERT_GE(added[i], weaker_add[i]) << variant.name << " level " << level;
        ASSERT_LE(subtracted[i], weaker_subtract[i]) << variant.name << " level " << level;
      }
      weaker_add = added;
      weaker_subtract = subtracted;
    }
  }
}

// Every variant against the reference on one random frame: identical bytes,
// chroma as it was, guards untouched (filled differently for each run).
void ExpectSameAsReference(int32_t width, int32_t height, int32_t shift, int32_t level, std::mt19937& rng) {
  std::vector<uint8_t> input(2 * static_cast<size_t>(width) * height);
  for (uint8_t& b : input) b = static_cast<uint8_t>(rng());
  const FrameFormat format{width, height, 2, 0, 0};
  const size_t misalign = rng() % 3 * 2;
  GuardedFrame reference(input, misalign, 0x5A);
  ApplyEchoStepScalar(reference.data(), &format, shift, level);
  const std::vector<uint8_t> expected = reference.frame();
  for (size_t i = 1; i < input.size(); i += 2) ASSERT_EQ(expected[i], input[i]) << "chroma changed";
  for (const Variant& variant : Variants()) {
    GuardedFrame fast(input, misalign, 0xA5);
    variant.apply(fast.data(), &format, shift, level);
    ASSERT_EQ(fast.frame(), expected) << variant.name << " W=" << width << " H=" << height << " shift=" << shift
                                      << " level=" << level;
    ASSERT_TRUE(fast.GuardsIntact()) << variant.name << " W=" << width << " shift=" << shift;
  }
}

TEST(EchoStep, FastMatchesReferenceForEveryPixelShiftOfSmallWidths) {
  std::mt19937 rng(3);
  for (int32_t width = 1; width <= 70; ++width) {
    for (int32_t s = -width; s <= width; ++s) {
      const auto shift = static_cast<int32_t>(std::lround(s * 1000.0 / width));
      ASSERT_EQ(DeriveEchoStepParams(width, shift, 0).pixel_shift, s);
      for (int32_t level : {-100, -37, 1, 50, 100, 260, -1000}) {
        // One line shows reads outside the line; three show lines kept apart.
        ExpectSameAsReference(width, 1, shift, level, rng);
        ExpectSameAsReference(width, 3, shift, level, rng);
      }
    }
  }
}

TEST(EchoStep, FastMatchesReferenceOnRandomFrames) {
  std::mt19937 rng(5);
  auto pick = [&](int32_t low, int32_t high) { return std::uniform_int_distribution<int32_t>(low, high)(rng); };
  for (int i = 0; i < 400; ++i) {
    int32_t shift = pick(-1000, 1000), level = pick(-100, 100);
    if (i % 5 == 1) shift = pick(-40, 40);
    if (i % 7 == 2) shift = pick(INT_MIN, INT_MAX);
    if (i % 6 == 3) level = pick(-3000, 3000);
    if (i % 11 == 4) level = pick(INT_MIN, INT_MAX);
    ExpectSameAsReference(i < 20 ? 720 + i % 4 : pick(1, 4096), pick(1, 5), shift, level, rng);
  }
  // Whole broadcast frames, including the zero shift that runs as one pass.
  for (int32_t shift : {-51, -1, 0, 1, 25, 51}) ExpectSameAsReference(720, 576, shift, shift < 0 ? 60 : -60, rng);
}

}  // namespace
}  // namespace tev
