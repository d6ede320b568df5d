// x * y / z with an exact 64-bit product, rounded to the nearest integer,
// halves away from zero. Every scaling of a setting to pixels or to a gain
// goes through it.
#pragma once

#include <cstdint>

namespace tev {

// The exact rounded quotient as a 64-bit value; never overflows
// (|x * y| < 2^62). z == 0 gives 0.
int64_t MulDivWide(int32_t x, int32_t y, int32_t z);

// The platform's 32-bit MulDiv: the rounded quotient, or -1 when z is 0 or the
// quotient does not fit 32 bits. Code that can meet out-of-range settings uses
// MulDivWide so that the -1 can never be mistaken for a result. Unlike Wine's,
// it returns a quotient of INT32_MIN as is and stays exact for x or z equal to
// INT32_MIN with a negative divisor, where Wine's negation overflows.
int32_t MulDiv(int32_t x, int32_t y, int32_t z);

}  // namespace tev
