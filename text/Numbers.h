#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// Reads a number the way atol does: leading blanks skipped, an optional sign, digits up
// to the first other character, 0 when there are none. Out-of-range values saturate
// instead of wrapping.
std::int64_t ReadInt64(std::string_view text);
std::int32_t ReadInt32(std::string_view text);

// a + b, held at the ends of the range instead of wrapping.
std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b);

// Plain decimal: a leading "-" for negatives, no grouping, no filling.
std::string Decimal(std::int64_t value);

}  // namespace qv
