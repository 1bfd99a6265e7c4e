#include "settings/setting_value.h"

#include <cmath>
#include <cstdlib>

#include "platform/runtime_error.h"

namespace launcher {

std::string AsText(const SettingValue& value) {
  if (const auto* text = std::get_if<std::string>(&value))
    return *text;
  return std::to_string(std::get<std::int16_t>(value));
}

std::int16_t AsInteger(const SettingValue& value) {
  if (const auto* number = std::get_if<std::int16_t>(&value))
    return *number;
  const std::string& text = std::get<std::string>(value);
  const std::size_t first = text.find_first_not_of(" \t");
  const std::size_t last = text.find_last_not_of(" \t");
  if (first == std::string::npos)
    Raise(kErrTypeMismatch);
  const std::string digits = text.substr(first, last - first + 1);
  // Plain decimal notation only: no hex, no "inf" or "nan" that strtod would take.
  if (digits.find_first_not_of("0123456789+-.eE") != std::string::npos)
    Raise(kErrTypeMismatch);
  char* end = nullptr;
  const double parsed = std::strtod(digits.c_str(), &end);
  if (end != digits.c_str() + digits.size() || end == digits.c_str())
    Raise(kErrTypeMismatch);
  const double rounded = std::nearbyint(parsed);  // the default mode rounds halves to even
  if (!std::isfinite(rounded) || rounded < -32768.0 || rounded > 32767.0)
    Raise(kErrOverflow);
  return static_cast<std::int16_t>(rounded);
}

}  // namespace launcher
