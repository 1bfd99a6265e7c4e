// The runtime's text services, on UTF-8 strings: trimming, replacement and
// character counting.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace launcher {

// Blanks (spaces only, as the runtime's Trim) removed at both ends.
std::string Trim(std::string_view text);

// Every occurrence of `what` replaced by `with`, from the first character on;
// inserted text is not searched again.
std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with);

// Bytes taken by the character that starts at `pos` (1 for a broken sequence).
std::size_t Utf8CharLength(std::string_view text, std::size_t pos);

}  // namespace launcher
