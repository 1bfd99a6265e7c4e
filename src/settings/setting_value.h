// The value a settings lookup returns: the text found in the file, or the
// caller's default with its own type.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace launcher {

using SettingValue = std::variant<std::string, std::int16_t>;

// The value as text: a number in decimal.
std::string AsText(const SettingValue& value);

}  // namespace launcher
