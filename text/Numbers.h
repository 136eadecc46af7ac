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

// value from text of 1 to 18 ASCII digits and nothing else (18 digits cannot overflow),
// checked and read in one pass; false, value untouched, for any other text. The quick
// path of readers that see a million plain numbers and fall back to a slower rule.
inline bool ReadPlainDigits(std::string_view text, std::int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    std::int64_t read = 0;
    for (const char c : text) {
        const unsigned digit = static_cast<unsigned char>(c) - unsigned{'0'};
        if (digit > 9) return false;
        read = read * 10 + digit;
    }
    value = read;
    return true;
}

// a + b, held at the ends of the range instead of wrapping.
std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b);

// Plain decimal: a leading "-" for negatives, no grouping, no filling.
std::string Decimal(std::int64_t value);

}  // namespace qv
