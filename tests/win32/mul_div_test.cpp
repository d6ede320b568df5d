// Our MulDiv against the platform's own, on the triples where both are defined.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "processing/mul_div.h"

namespace tev {
namespace {

struct Triple {
  int32_t x, y, z;
};

// Platform MulDiv rounds halves away from zero like ours and gives -1 when the
// quotient leaves the 32-bit range; it also gives -1 for INT_MIN itself, and
// negates x to handle a negative divisor, which overflows for x = INT_MIN.
// Those results are left out; -1 as a real quotient is compared.
bool BothDefined(const Triple& t) {
  if (t.z == 0) return false;
  const int64_t exact = MulDivWide(t.x, t.y, t.z);
  if (exact <= INT_MIN || exact > INT_MAX) return false;
  return !(t.z < 0 && (t.x == INT_MIN || t.z == INT_MIN));
}

std::vector<Triple> Triples() {
  std::vector<Triple> triples;
  const int32_t edges[] = {0, 1, -1, 2, -2, 3, 7, 100, 256, 720, 1000, 1920, 65535, 65536, -65536,
                           INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, 46341, -46341};
  for (int32_t x : edges) {
    for (int32_t y : edges) {
      for (int32_t z : edges) triples.push_back({x, y, z});
    }
  }
  // Halves: odd numerators over 2 and exact .5 cases over 1000 and 100.
  for (int32_t x = -2001; x <= 2001; x += 2) {
    triples.push_back({x, 1, 2});
    triples.push_back({x, 500, 1000});
    triples.push_back({x, 50, 100});
    triples.push_back({x, 256, 100});
    triples.push_back({x, 720, 1000});
  }
  std::mt19937 rng(29);
  std::uniform_int_distribution<int32_t> any(INT_MIN, INT_MAX), small(-5000, 5000);
  for (int i = 0; i < 200000; ++i) {
    switch (i % 4) {
      case 0: triples.push_back({any(rng), any(rng), any(rng)}); break;
      case 1: triples.push_back({small(rng), any(rng), any(rng) | 1}); break;
      case 2: triples.push_back({small(rng), small(rng), small(rng)}); break;
      default: triples.push_back({any(rng), small(rng), 1 + (any(rng) & 0xFFFF)}); break;
    }
  }
  return triples;
}

TEST(MulDivPlatform, AgreesWhereBothAreDefined) {
  int compared = 0, negative_divisors = 0;
  for (const Triple& t : Triples()) {
    if (!BothDefined(t)) continue;
    ++compared;
    if (t.z < 0) ++negative_divisors;
    ASSERT_EQ(tev::MulDiv(t.x, t.y, t.z), ::MulDiv(t.x, t.y, t.z)) << t.x << " * " << t.y << " / " << t.z;
  }
  EXPECT_GT(compared, 100000);
  EXPECT_GT(negative_divisors, 10000);
}

// Where the platform has no answer, ours is still defined and exact.
TEST(MulDivPlatform, OursIsDefinedWherePlatformGivesMinusOne) {
  EXPECT_EQ(::MulDiv(INT_MAX, 2, 1), -1);
  EXPECT_EQ(tev::MulDivWide(INT_MAX, 2, 1), int64_t{INT_MAX} * 2);
  EXPECT_EQ(::MulDiv(5, 1, 0), -1);
  EXPECT_EQ(tev::MulDivWide(5, 1, 0), 0);
}

}  // namespace
}  // namespace tev
