#include "text/Numbers.h"

#include <charconv>
#include <limits>

namespace qv {

std::int64_t ReadInt64(std::string_view text) {
    size_t i = 0;
    // isspace in the C locale: blank, \t, \n, \v, \f, \r
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t magnitude = 0;  // accumulated negatively when needed, to reach INT64_MIN
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (negative) {
            if (magnitude < (std::numeric_limits<std::int64_t>::min() + digit) / 10)
                return std::numeric_limits<std::int64_t>::min();
            magnitude = magnitude * 10 - digit;
        } else {
            if (magnitude > (kMax - digit) / 10) return kMax;
            magnitude = magnitude * 10 + digit;
        }
    }
    return magnitude;
}

std::int32_t ReadInt32(std::string_view text) {
    std::int64_t v = ReadInt64(text);
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return sum;
}

std::string Decimal(std::int64_t value) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec;
    return std::string(buf, end);
}

}  // namespace qv
