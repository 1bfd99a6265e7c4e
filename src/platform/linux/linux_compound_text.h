// COMPOUND_TEXT, the ISO 2022 based encoding of older X clients' window
// titles, decoded to UTF-8 without Xlib.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace launcher {

// The text in UTF-8; nothing when it uses a character set or sequence we
// cannot decode. Known: ASCII and the ISO 8859 sets, JIS X 0201, the 94x94 sets
// GB 2312, JIS X 0208 and KS C 5601, UTF-8 segments and extended segments of
// any encoding the C library converts.
std::optional<std::string> CompoundTextToUtf8(std::string_view text);

}  // namespace launcher
