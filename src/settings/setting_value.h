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

// The value as a 16-bit integer, by the runtime's text-to-number rules:
// surrounding blanks allowed, a fraction rounded to the nearest integer and an
// exact half to the even one. Other text is error 13, a number outside
// -32768..32767 error 6.
std::int16_t AsInteger(const SettingValue& value);

}  // namespace launcher
