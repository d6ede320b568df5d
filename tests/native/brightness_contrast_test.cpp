// The brightness and contrast correction: the worked values, its edges, wide
// arithmetic for settings far out of range, and every fast path byte for byte
// against the scalar definition.
#include "processing/brightness_contrast.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "processing/brightness_contrast_kernels.h"
#include "processing/cpu_features.h"
#include "tests/native/cpu_levels.h"

namespace tev {
namespace {

constexpr size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0xA5;

// A frame with guard bytes on both sides that must never change.
struct GuardedFrame {
  GuardedFrame(int width, int height, uint32_t seed) : format{width, height, 2, 0, 0} {
    const size_t size = width > 0 && height > 0 ? static_cast<size_t>(width) * height * 2 : 0;
    bytes.assign(size + 2 * kGuard, kGuardByte);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < size; ++i) bytes[kGuard + i] = static_cast<uint8_t>(rng());
  }
  uint8_t* data() { return bytes.data() + kGuard; }
  size_t size() const { return bytes.size() - 2 * kGuard; }
  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes[i] != kGuardByte || bytes[bytes.size() - 1 - i] != kGuardByte) return false;
    }
    return true;
  }
  FrameFormat format;
  std::vector<uint8_t> bytes;
};

// The rule computed independently, in 128-bit arithmetic.
__int128 RoundedQuotient(__int128 numerator, __int128 denominator) {
  const __int128 magnitude = (numerator < 0 ? -numerator : numerator) + denominator / 2;
  return numerator < 0 ? -(magnitude / denominator) : magnitude / denominator;
}
uint8_t Rule(int32_t brightness, int32_t contrast, uint8_t y) {
  const __int128 gain = RoundedQuotient((static_cast<__int128>(contrast) + 100) * 512, 200);
  const __int128 offset = RoundedQuotient(static_cast<__int128>(brightness) * 256, 100) -
                          RoundedQuotient(gain * 128, 256) + RoundedQuotient(static_cast<__int128>(contrast) * 512, 400) +
                          128;
  __int128 product = y * gain;
  // Floor division by 256, also for negative products.
  product = product >= 0 ? product / 256 : -((-product + 255) / 256);
  const __int128 value = product + offset;
  return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

TEST(BrightnessContrast, WorkedValues) {
  struct Row {
    int32_t brightness, contrast;
    int64_t gain, offset;
    uint8_t out[6];
  } const rows[] = {
      {0, 0, 256, 0, {0, 16, 100, 128, 235, 255}},
      {50, 0, 256, 128, {128, 144, 228, 255, 255, 255}},
      {-50, 0, 256, -128, {0, 0, 0, 0, 107, 127}},
      {0, 50, 384, 0, {0, 24, 150, 192, 255, 255}},
      {0, -50, 128, 0, {0, 8, 50, 64, 117, 127}},
      {0, 1, 259, -1, {0, 15, 100, 128, 236, 255}},
      {10, -10, 230, 26, {26, 40, 115, 141, 237, 255}},
      {-30, -40, 154, -77, {0, 0, 0, 0, 64, 76}},
      {0, 100, 512, 0, {0, 32, 200, 255, 255, 255}},
      {-100, 100, 512, -256, {0, 0, 0, 0, 214, 254}},
      {0, -100, 0, 0, {0, 0, 0, 0, 0, 0}},
      {100, -100, 0, 256, {255, 255, 255, 255, 255, 255}},
  };
  const uint8_t in[6] = {0, 16, 100, 128, 235, 255};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "Brightness " << row.brightness << ", Contrast " << row.contrast);
    const LumaMap map = LumaMapFor(row.brightness, row.contrast);
    EXPECT_EQ(map.gain, row.gain);
    EXPECT_EQ(map.offset, row.offset);
    // The six lumas repeated over 48 pixels, so that every fast path sees them.
    FrameFormat format{48, 1, 2, 0, 0};
    std::vector<uint8_t> fast(96), scalar;
    for (size_t i = 0; i < 48; ++i) {
      fast[2 * i] = in[i % 6];
      fast[2 * i + 1] = static_cast<uint8_t>(i * 5);
    }
    scalar = fast;
    AdjustBrightnessContrast(fast.data(), &format, row.brightness, row.contrast);
    AdjustBrightnessContrastScalar(scalar.data(), &format, row.brightness, row.contrast);
    for (size_t i = 0; i < 48; ++i) {
      EXPECT_EQ(fast[2 * i], row.out[i % 6]) << "pixel " << i;
      EXPECT_EQ(scalar[2 * i], row.out[i % 6]) << "pixel " << i;
      EXPECT_EQ(fast[2 * i + 1], static_cast<uint8_t>(i * 5)) << "chroma of pixel " << i;
    }
  }
}

// Values from a hand-edited file: beyond the 16-bit lanes, near the 32-bit
// limits, and on the edges of the lane kernels' range.
const int32_t kWildSettings[] = {INT_MIN, INT_MIN + 1, -2000000000, -1000000, -70000, -32768, -12801, -12800,
                                 -12700,  -902,        -901,        -900,     -899,   -101,   -100,   -1,
                                 0,       1,           100,         101,      698,    699,    700,    12700,
                                 12750,   12800,       32767,       70000,    1000000, 2000000000, INT_MAX - 100,
                                 INT_MAX - 99, INT_MAX};

TEST(BrightnessContrast, SettingsFarOutOfRangeFollowTheWideRuleAndNeverWrap) {
  FrameFormat format{256, 1, 2, 0, 0};
  for (int32_t brightness : kWildSettings) {
    for (int32_t contrast : kWildSettings) {
      std::vector<uint8_t> frame(512), scalar;
      for (int y = 0; y < 256; ++y) {
        frame[2 * y] = static_cast<uint8_t>(y);
        frame[2 * y + 1] = static_cast<uint8_t>(255 - y);
      }
      scalar = frame;
      AdjustBrightnessContrast(frame.data(), &format, brightness, contrast);
      AdjustBrightnessContrastScalar(scalar.data(), &format, brightness, contrast);
      for (int y = 0; y < 256; ++y) {
        const uint8_t want = Rule(brightness, contrast, static_cast<uint8_t>(y));
        ASSERT_EQ(frame[2 * y], want) << "Brightness " << brightness << ", Contrast " << contrast << ", Y " << y;
        ASSERT_EQ(scalar[2 * y], want) << "Brightness " << brightness << ", Contrast " << contrast << ", Y " << y;
        ASSERT_EQ(frame[2 * y + 1], 255 - y);
      }
    }
  }
  // What a 16-bit wrap would have got wrong.
  EXPECT_EQ(Rule(20000, 0, 0), 255);  // offset 51328 is not -14208
  EXPECT_EQ(Rule(0, INT_MAX, 1), 255);
  EXPECT_EQ(Rule(0, INT_MIN, 1), 0);
}

TEST(BrightnessContrast, OnlyWholeGroupsOfFourPixelsChange) {
  struct Size {
    int width, height, changed_pixels;
  } const sizes[] = {{1, 1, 0}, {3, 1, 0}, {1, 3, 0}, {2, 2, 4}, {5, 1, 4}, {3, 3, 8},
                     {7, 1, 4}, {6, 1, 4}, {33, 1, 32}, {9, 7, 60}, {0, 5, 0}, {5, 0, 0},
                     {-4, -4, 0}, {-3, 8, 0}};
  for (const Size& s : sizes) {
    SCOPED_TRACE(testing::Message() << s.width << "x" << s.height);
    const int pixels = s.width > 0 && s.height > 0 ? s.width * s.height : 0;
    GuardedFrame frame(std::max(pixels, 1), 1, 7);
    for (int i = 0; i < pixels; ++i) frame.data()[2 * i] = 100;
    const std::vector<uint8_t> before = frame.bytes;
    FrameFormat format{s.width, s.height, 2, 0, 0};
    AdjustBrightnessContrast(frame.data(), &format, 50, 0);  // 100 -> 228
    for (int i = 0; i < pixels; ++i) {
      EXPECT_EQ(frame.data()[2 * i], i < s.changed_pixels ? 228 : 100) << "pixel " << i;
    }
    for (size_t i = 0; i < frame.bytes.size(); ++i) {
      if (i < kGuard || i >= kGuard + 2 * static_cast<size_t>(s.changed_pixels) || (i - kGuard) % 2 == 1) {
        ASSERT_EQ(frame.bytes[i], before[i]) << "byte " << i;
      }
    }
  }
}

TEST(BrightnessContrast, LinesAreNotTreatedApart) {
  const int layouts[][2] = {{24, 1}, {8, 3}, {6, 4}, {4, 6}, {12, 2}, {1, 24}};
  std::vector<uint8_t> first;
  for (const auto& layout : layouts) {
    GuardedFrame frame(24, 1, 11);
    FrameFormat format{layout[0], layout[1], 2, 0, 0};
    AdjustBrightnessContrast(frame.data(), &format, 17, 43);
    std::vector<uint8_t> result(frame.data(), frame.data() + frame.size());
    if (first.empty()) first = result;
    EXPECT_EQ(result, first) << layout[0] << "x" << layout[1];
  }
}

struct LanePath {
  const char* name;
  void (*kernel)(uint8_t*, size_t, const LumaMap&);
  bool available;
};
const LanePath kLanePaths[] = {
    {"SSE2", brightness::AdjustLumaSse2, true},
    {"AVX2", brightness::AdjustLumaAvx2, CpuHas(kCpuAvx2)},
};

// The lane kernels on the edges of the range where they claim to be exact.
TEST(BrightnessContrast, LaneKernelsAreExactUpToTheirLimits) {
  for (int64_t gain : {0, 1, 255, 256, 257, 2047, 2048, 20000, 32767}) {
    for (int64_t offset : {-32512, -32511, -20000, -256, -1, 0, 1, 254, 255}) {
      const LumaMap map{gain, offset};
      ASSERT_TRUE(brightness::FitsLanes(map));
      for (const LanePath& path : kLanePaths) {
        if (!path.available) continue;
        std::vector<uint8_t> frame(512 + 8);  // 260 pixels: whole and half vectors
        for (size_t i = 0; i < frame.size() / 2; ++i) {
          frame[2 * i] = static_cast<uint8_t>(i);
          frame[2 * i + 1] = static_cast<uint8_t>(i * 7);
        }
        path.kernel(frame.data(), frame.size(), map);
        for (size_t i = 0; i < frame.size() / 2; ++i) {
          ASSERT_EQ(frame[2 * i], ApplyLumaMap(map, static_cast<uint8_t>(i)))
              << path.name << ", gain " << gain << ", offset " << offset << ", Y " << (i & 255);
          ASSERT_EQ(frame[2 * i + 1], static_cast<uint8_t>(i * 7));
        }
      }
    }
  }
  EXPECT_FALSE(brightness::FitsLanes({-1, 0}));
  EXPECT_FALSE(brightness::FitsLanes({32768, 0}));
  EXPECT_FALSE(brightness::FitsLanes({256, 256}));
  EXPECT_FALSE(brightness::FitsLanes({256, -32513}));
}

// The public function at every CPU level against the scalar definition, on
// random frames of many sizes and random settings: in range, just outside it
// and far outside.
TEST(BrightnessContrast, FastPathsMatchTheScalarDefinition) {
  std::mt19937 rng(20240607);
  auto setting = [&rng]() -> int32_t {
    switch (rng() % 4) {
      case 0: return static_cast<int32_t>(rng() % 201) - 100;
      case 1: return static_cast<int32_t>(rng() % 2001) - 1000;
      case 2: return static_cast<int32_t>(rng() % 40001) - 20000;
      default: return static_cast<int32_t>(rng());
    }
  };
  for (int width = 1; width <= 41; ++width) {
    for (int height : {1, 2, 3, 5, 8, 13}) {
      const int32_t brightness = setting(), contrast = setting();
      SCOPED_TRACE(testing::Message() << width << "x" << height << ", Brightness " << brightness << ", Contrast "
                                      << contrast);
      const GuardedFrame input(width, height, rng());
      GuardedFrame reference = input;
      AdjustBrightnessContrastScalar(reference.data(), &reference.format, brightness, contrast);
      for (size_t i = 1; i < input.size(); i += 2) ASSERT_EQ(reference.data()[i], input.bytes[kGuard + i]);

      for (const CpuLevel& level : CpuLevels()) {
        GuardedFrame fast = input;
        {
          ScopedCpuLevel scoped(level);
          AdjustBrightnessContrast(fast.data(), &fast.format, brightness, contrast);
        }
        ASSERT_EQ(fast.bytes, reference.bytes) << level.name;
        ASSERT_TRUE(fast.GuardsIntact()) << level.name;
      }
    }
  }
}

}  // namespace
}  // namespace tev
