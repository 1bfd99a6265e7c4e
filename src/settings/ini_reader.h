// Reads one value from a settings file of "[section]" headers and "key=value" lines.
#pragma once

#include <optional>
#include <string>

#include "settings/setting_value.h"

namespace launcher {

// The value of `key` in `section` of the file at `path`, or the default (the
// 16-bit integer 0 when none is given) when the file, the section, the key or
// a value is missing. A failure is traced and passed on as error 4646.
SettingValue GetINISettings(const std::string& path,
                            const std::string& section,
                            const std::string& key,
                            const std::optional<SettingValue>& default_value = std::nullopt);

}  // namespace launcher
