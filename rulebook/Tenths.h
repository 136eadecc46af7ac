#pragma once

#include <limits>

namespace qv {

// The extended type of the point arithmetic: results at the edges depend on its 64-bit
// significand, so it must be exactly that.
using Extended = long double;
static_assert(std::numeric_limits<Extended>::digits == 64,
              "point arithmetic needs an extended type with a 64-bit significand");

// 0.1 correctly rounded to the extended type (slightly above 0.1): coefficient settings
// and implement weights are tenths and are scaled by it.
inline constexpr Extended kTenth = 0.1L;

}  // namespace qv
