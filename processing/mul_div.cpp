#include "processing/mul_div.h"

#include <limits>

namespace tev {

int64_t MulDivWide(int32_t x, int32_t y, int32_t z) {
  if (z == 0) return 0;
  const int64_t product = static_cast<int64_t>(x) * y;
  // Work on magnitudes so that the half is rounded away from zero on both sides.
  const bool negative = (product < 0) != (z < 0);
  const uint64_t magnitude = product < 0 ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
  const uint64_t divisor = z < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(z)) : static_cast<uint64_t>(z);
  const uint64_t quotient = (magnitude + divisor / 2) / divisor;
  return negative ? -static_cast<int64_t>(quotient) : static_cast<int64_t>(quotient);
}

int32_t MulDiv(int32_t x, int32_t y, int32_t z) {
  if (z == 0) return -1;
  const int64_t q = MulDivWide(x, y, z);
  if (q > std::numeric_limits<int32_t>::max() || q < std::numeric_limits<int32_t>::min()) return -1;
  return static_cast<int32_t>(q);
}

}  // namespace tev
