// The colour conversions: the worked values, greys, the unpaired last pixel,
// and the public functions at every CPU level byte for byte against the
// scalar rows.
#include "processing/color_convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "processing/color_convert_kernels.h"
#include "tests/native/cpu_levels.h"

namespace tev {
namespace {

constexpr size_t kGuard = 48;
constexpr uint8_t kGuardByte = 0x5A;

// A buffer with guard bytes on both sides, its body filled with `fill`.
struct Guarded {
  Guarded(size_t size, uint8_t fill) : bytes(size + 2 * kGuard, kGuardByte) {
    std::memset(bytes.data() + kGuard, fill, size);
  }
  uint8_t* data() { return bytes.data() + kGuard; }
  const uint8_t* data() const { return bytes.data() + kGuard; }
  size_t size() const { return bytes.size() - 2 * kGuard; }
  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes[i] != kGuardByte || bytes[bytes.size() - 1 - i] != kGuardByte) return false;
    }
    return true;
  }
  std::vector<uint8_t> bytes;
};

struct Bgr {
  uint8_t b, g, r;
};

std::vector<uint8_t> Repeat(const std::vector<uint8_t>& unit, size_t times) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

// Whole frames of `pixels / 2` pairs through the public functions at one
// CPU level (each level picks its own row kernels, scalar included).
void Forward(const CpuLevel& level, const uint8_t* rgb, uint8_t* yuy2, int pixels) {
  const FrameFormat format{pixels, 1, 3, FrameKindRgb24, 0};
  ScopedCpuLevel scoped(level);
  ConvertRgb24ToYuy2(rgb, yuy2, &format);
}
void Inverse(const CpuLevel& level, const uint8_t* yuy2, uint8_t* rgb, int pixels) {
  const FrameFormat format{pixels, 1, 3, FrameKindRgb24, 0};
  ScopedCpuLevel scoped(level);
  ConvertYuy2ToRgb24(yuy2, rgb, &format);
}

TEST(ColorConvert, WorkedPairs) {
  struct Row {
    Bgr first, second;
    uint8_t yuy2[4];
    Bgr back_first, back_second;
  } const rows[] = {
      {{255, 255, 255}, {255, 255, 255}, {255, 128, 255, 128}, {255, 255, 255}, {255, 255, 255}},
      {{0, 0, 0}, {0, 0, 0}, {0, 128, 0, 128}, {0, 0, 0}, {0, 0, 0}},
      {{128, 128, 128}, {128, 128, 128}, {128, 128, 128, 128}, {128, 128, 128}, {128, 128, 128}},
      {{0, 0, 255}, {0, 0, 255}, {76, 85, 76, 255}, {0, 0, 254}, {0, 0, 254}},
      {{0, 255, 0}, {0, 255, 0}, {149, 43, 149, 21}, {0, 253, 0}, {0, 253, 0}},
      {{255, 0, 0}, {255, 0, 0}, {28, 255, 28, 107}, {253, 0, 0}, {253, 0, 0}},
      {{0, 0, 255}, {255, 0, 0}, {76, 170, 28, 181}, {150, 23, 150}, {102, 0, 102}},
  };
  constexpr int kPairs = 37;  // whole SIMD blocks and a scalar tail
  for (const Row& row : rows) {
    const std::vector<uint8_t> rgb = Repeat({row.first.b, row.first.g, row.first.r, row.second.b, row.second.g,
                                             row.second.r},
                                            kPairs);
    const std::vector<uint8_t> yuy2 = Repeat({row.yuy2[0], row.yuy2[1], row.yuy2[2], row.yuy2[3]}, kPairs);
    const std::vector<uint8_t> back = Repeat({row.back_first.b, row.back_first.g, row.back_first.r,
                                              row.back_second.b, row.back_second.g, row.back_second.r},
                                             kPairs);
    for (const CpuLevel& path : CpuLevels()) {
      SCOPED_TRACE(testing::Message() << path.name << ", pair " << int{row.first.b} << "," << int{row.first.g}
                                      << "," << int{row.first.r} << " / " << int{row.second.b} << ","
                                      << int{row.second.g} << "," << int{row.second.r});
      std::vector<uint8_t> converted(yuy2.size()), restored(rgb.size());
      Forward(path, rgb.data(), converted.data(), 2 * kPairs);
      EXPECT_EQ(converted, yuy2);
      Inverse(path, converted.data(), restored.data(), 2 * kPairs);
      EXPECT_EQ(restored, back);
    }
  }
}

TEST(ColorConvert, DecodingAloneExpandsNoRange) {
  struct Row {
    uint8_t yuy2[4];
    Bgr first, second;
  } const rows[] = {
      {{16, 128, 235, 128}, {16, 16, 16}, {235, 235, 235}},
      {{100, 0, 100, 255}, {0, 52, 255}, {0, 52, 255}},
  };
  constexpr int kPairs = 21;
  for (const Row& row : rows) {
    const std::vector<uint8_t> yuy2 = Repeat({row.yuy2[0], row.yuy2[1], row.yuy2[2], row.yuy2[3]}, kPairs);
    const std::vector<uint8_t> rgb =
        Repeat({row.first.b, row.first.g, row.first.r, row.second.b, row.second.g, row.second.r}, kPairs);
    for (const CpuLevel& path : CpuLevels()) {
      std::vector<uint8_t> out(rgb.size());
      Inverse(path, yuy2.data(), out.data(), 2 * kPairs);
      EXPECT_EQ(out, rgb) << path.name << ", " << int{row.yuy2[0]} << " " << int{row.yuy2[1]} << " "
                          << int{row.yuy2[2]} << " " << int{row.yuy2[3]};
    }
  }
}

TEST(ColorConvert, EveryGreyComesBackUnchanged) {
  std::vector<uint8_t> greys(256);
  for (int i = 0; i < 256; ++i) greys[i] = static_cast<uint8_t>(i);
  std::shuffle(greys.begin(), greys.end(), std::mt19937(3));
  std::vector<uint8_t> rgb;
  for (uint8_t grey : greys) rgb.insert(rgb.end(), {grey, grey, grey});
  for (const CpuLevel& path : CpuLevels()) {
    std::vector<uint8_t> yuy2(2 * 256), back(rgb.size());
    Forward(path, rgb.data(), yuy2.data(), 256);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(yuy2[2 * i], greys[i]) << path.name << ", pixel " << i;
      ASSERT_EQ(yuy2[2 * i + 1], 128) << path.name << ", pixel " << i;
    }
    Inverse(path, yuy2.data(), back.data(), 256);
    EXPECT_EQ(back, rgb) << path.name;
  }
}

// Frames of every size from no pair to several blocks and a tail, odd ones
// included: only the bytes of whole pairs are written, each exactly as the
// scalar rows write it, and nothing around them is touched. The inputs are
// exactly 6P and 4P bytes long, so that AddressSanitizer sees any read past
// them; outputs start from different fills and have guard bytes, so that a
// byte one version forgets, or writes outside, shows.
TEST(ColorConvert, EveryKernelMatchesTheScalarRowsOnRandomFrames) {
  std::mt19937 rng(77);
  for (int pixels = 0; pixels <= 141; ++pixels) {
    const size_t pairs = static_cast<size_t>(pixels) / 2;
    std::vector<uint8_t> rgb(6 * pairs), yuy2(4 * pairs);
    for (uint8_t& byte : rgb) byte = static_cast<uint8_t>(rng());
    for (uint8_t& byte : yuy2) byte = static_cast<uint8_t>(rng());
    const size_t rgb_size = 3 * static_cast<size_t>(pixels), yuy2_size = 2 * static_cast<size_t>(pixels);

    Guarded want_yuy2(yuy2_size, 0x11), want_rgb(rgb_size, 0x22);
    color::Rgb24ToYuy2RowScalar(rgb.data(), want_yuy2.data(), pairs);
    color::Yuy2ToRgb24RowScalar(yuy2.data(), want_rgb.data(), pairs);

    for (const CpuLevel& path : CpuLevels()) {
      SCOPED_TRACE(testing::Message() << path.name << ", " << pixels << " pixels");
      const std::vector<uint8_t> rgb_in = rgb, yuy2_in = yuy2;
      Guarded got_yuy2(yuy2_size, 0xEE), got_rgb(rgb_size, 0xDD);
      Forward(path, rgb.data(), got_yuy2.data(), pixels);
      Inverse(path, yuy2.data(), got_rgb.data(), pixels);
      ASSERT_EQ(rgb, rgb_in) << "the RGB input was written";
      ASSERT_EQ(yuy2, yuy2_in) << "the 4:2:2 input was written";
      ASSERT_TRUE(got_yuy2.GuardsIntact());
      ASSERT_TRUE(got_rgb.GuardsIntact());
      ASSERT_EQ(0, std::memcmp(got_yuy2.data(), want_yuy2.data(), 4 * pairs));
      ASSERT_EQ(0, std::memcmp(got_rgb.data(), want_rgb.data(), 6 * pairs));
      for (size_t i = 4 * pairs; i < yuy2_size; ++i) ASSERT_EQ(got_yuy2.data()[i], 0xEE) << i;
      for (size_t i = 6 * pairs; i < rgb_size; ++i) ASSERT_EQ(got_rgb.data()[i], 0xDD) << i;
    }
  }
}

// Every (U, V) with luma at the ends and in between, and a large random
// RGB frame: far more values than the frames above.
TEST(ColorConvert, EveryKernelMatchesTheScalarRowsOnEveryChromaPair) {
  constexpr int kPairs = 3 * 65536;
  std::vector<uint8_t> yuy2(4 * kPairs), rgb(6 * kPairs);
  std::mt19937 rng(9);
  for (int i = 0; i < kPairs; ++i) {
    const int ends = i / 65536;  // 0: black and white, 1: white and black, 2: random
    yuy2[4 * i] = ends == 0 ? 0 : ends == 1 ? 255 : static_cast<uint8_t>(rng());
    yuy2[4 * i + 1] = static_cast<uint8_t>(i);
    yuy2[4 * i + 2] = ends == 0 ? 255 : ends == 1 ? 0 : static_cast<uint8_t>(rng());
    yuy2[4 * i + 3] = static_cast<uint8_t>(i >> 8);
  }
  for (uint8_t& byte : rgb) byte = static_cast<uint8_t>(rng());
  std::vector<uint8_t> want_rgb(rgb.size()), want_yuy2(yuy2.size());
  color::Yuy2ToRgb24RowScalar(yuy2.data(), want_rgb.data(), kPairs);
  color::Rgb24ToYuy2RowScalar(rgb.data(), want_yuy2.data(), kPairs);
  for (const CpuLevel& path : CpuLevels()) {
    std::vector<uint8_t> got_rgb(rgb.size()), got_yuy2(yuy2.size());
    Inverse(path, yuy2.data(), got_rgb.data(), 2 * kPairs);
    Forward(path, rgb.data(), got_yuy2.data(), 2 * kPairs);
    EXPECT_TRUE(got_rgb == want_rgb) << path.name;
    EXPECT_TRUE(got_yuy2 == want_yuy2) << path.name;
  }
}

// Through the public functions with a real frame format: W*H pixels as one
// run, the unpaired last pixel of an odd frame left alone, and frames without
// a pair (or without pixels) untouched.
TEST(ColorConvert, FramesAreOneRunAndTheUnpairedPixelIsLeftAlone) {
  struct Size {
    int width, height;
  } const sizes[] = {{3, 3}, {5, 7}, {1, 9}, {9, 1}, {7, 2}, {1, 1}, {0, 4}, {4, 0}, {-2, -3}, {-6, 2}};
  std::mt19937 rng(5);
  for (const Size& s : sizes) {
    SCOPED_TRACE(testing::Message() << s.width << "x" << s.height);
    const FrameFormat format{s.width, s.height, 3, FrameKindRgb24, 0};
    const int pixels = s.width > 0 && s.height > 0 ? s.width * s.height : 0;
    const size_t pairs = static_cast<size_t>(pixels / 2);
    Guarded rgb(3 * static_cast<size_t>(pixels), 0);
    for (size_t i = 0; i < rgb.size(); ++i) rgb.data()[i] = static_cast<uint8_t>(rng());
    Guarded yuy2(2 * static_cast<size_t>(pixels), 0x77), want(2 * static_cast<size_t>(pixels), 0x77);
    ConvertRgb24ToYuy2(rgb.data(), yuy2.data(), &format);
    color::Rgb24ToYuy2RowScalar(rgb.data(), want.data(), pairs);
    EXPECT_EQ(yuy2.bytes, want.bytes);

    Guarded back = rgb;
    ConvertYuy2ToRgb24(yuy2.data(), back.data(), &format);
    for (size_t i = 6 * pairs; i < back.size(); ++i) EXPECT_EQ(back.data()[i], rgb.data()[i]) << "byte " << i;
    EXPECT_TRUE(back.GuardsIntact());
    EXPECT_TRUE(yuy2.GuardsIntact());
  }
}

}  // namespace
}  // namespace tev
