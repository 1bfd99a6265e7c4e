#include "settings/setting_value.h"

namespace launcher {

std::string AsText(const SettingValue& value) {
  if (const auto* text = std::get_if<std::string>(&value))
    return *text;
  return std::to_string(std::get<std::int16_t>(value));
}

}  // namespace launcher
