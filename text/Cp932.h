#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv {

// CP932 (Shift-JIS) bytes to UTF-8. Bytes that are not valid CP932 become U+FFFD, so
// whatever a file holds can be shown.
std::string Cp932ToUtf8(std::string_view cp932);

// UTF-8 to CP932 bytes; nothing when the text holds a character CP932 cannot hold (or
// is not valid UTF-8).
std::optional<std::string> Utf8ToCp932(std::string_view utf8);

}  // namespace qv
