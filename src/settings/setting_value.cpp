#include "settings/setting_value.h"

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
  // Also false for infinities and NaN.
  if (!(parsed > -40000.0 && parsed < 40000.0))
    Raise(kErrOverflow);
  // Halves to even, by hand: the maths library is not worth loading for it.
  const long whole = static_cast<long>(parsed);
  const double fraction = parsed - static_cast<double>(whole);
  long rounded = whole;
  if (fraction > 0.5 || (fraction == 0.5 && (whole & 1) != 0))
    ++rounded;
  else if (fraction < -0.5 || (fraction == -0.5 && (whole & 1) != 0))
    --rounded;
  if (rounded < -32768 || rounded > 32767)
    Raise(kErrOverflow);
  return static_cast<std::int16_t>(rounded);
}

}  // namespace launcher
