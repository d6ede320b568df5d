#include "processing/mul_div.h"

#include <gtest/gtest.h>

#include <climits>

namespace tev {
namespace {

TEST(MulDiv, RoundsHalvesAwayFromZero) {
  struct Case { int32_t x, y, z, wide; } const cases[] = {
      {25, 720, 1000, 18},   {7, 720, 1000, 5},     {-13, 720, 1000, -9},  {1000, 720, 1000, 720},
      {1, 500, 1000, 1},     {-1, 500, 1000, -1},   {100, 256, 100, 256},  {33, 256, 100, 84},
      {1, 256, 100, 3},      {101, 512, 200, 259},  {259, 128, 256, 130},  {1, 512, 400, 1},
      {5, 1, -2, -3},        {-5, 1, -2, 3},        {0, 7, 3, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MulDivWide(c.x, c.y, c.z), c.wide) << c.x << "*" << c.y << "/" << c.z;
  }
  EXPECT_EQ(MulDivWide(INT_MIN, INT_MIN, 1), int64_t{1} << 62);
  EXPECT_EQ(MulDivWide(INT_MIN, INT_MAX, -1), int64_t{INT_MAX} * 2147483648LL);
}

TEST(MulDiv, ThirtyTwoBitFormReportsOverflowAndZeroDivisorAsMinusOne) {
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
  EXPECT_EQ(MulDiv(INT_MAX, 2, 2), INT_MAX);
  EXPECT_EQ(MulDiv(-13, 720, 1000), -9);
  EXPECT_EQ(MulDiv(INT_MIN, 1, 1), INT_MIN);
  EXPECT_EQ(MulDiv(INT_MIN, 1, -1), -1);
  EXPECT_EQ(MulDiv(INT_MIN, 1, -2), 1073741824);
  EXPECT_EQ(MulDiv(INT_MIN, 1, INT_MIN), 1);
}

}  // namespace
}  // namespace tev
