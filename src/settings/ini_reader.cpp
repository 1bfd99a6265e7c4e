#include "settings/ini_reader.h"

#include <cstddef>
#include <memory>

#include "diagnostics/error_handler.h"
#include "platform/platform.h"

namespace launcher {

namespace {

constexpr const char* kSource = "QUARVENlauncher GetINISettingsError";

// Whether the character that starts `rest` could carry a key name on, so that
// key "name" is not taken to be the start of a "names=" line.
bool ContinuesKeyName(std::string_view rest) {
  if (rest.empty())
    return false;
  const auto c = static_cast<unsigned char>(rest.front());
  return c >= 0x80 || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
         (c >= 'A' && c <= 'Z');
}

}  // namespace

SettingValue GetINISettings(const std::string& path,
                            const std::string& section,
                            const std::string& key,
                            const std::optional<SettingValue>& default_value) {
  try {
    bool found = false;
    bool hit = false;
    std::string result;
    if (Sys().FileExists(path)) {
      const std::unique_ptr<TextFile> file = Sys().OpenTextFile(path);
      const std::string header = "[" + section + "]";
      while (!file->AtEnd() && !found)
        found = file->ReadLine() == header;
      std::string line;
      while (found && !file->AtEnd() && (line.empty() || line[0] != '[') && !hit) {
        line = file->ReadLine();
        const std::string_view view(line);
        if (view.substr(0, key.size()) != key || ContinuesKeyName(view.substr(key.size())))
          continue;
        hit = true;
        // The key and the one separator character after it are dropped; the
        // separator cannot continue a key name, so it is a single byte.
        if (view.size() == key.size())
          Raise(kErrInvalidCall);
        result = std::string(view.substr(key.size() + 1));
      }
    }
    if (!found || !hit || result.empty())
      return default_value.value_or(SettingValue(std::int16_t{0}));
    return result;
  } catch (const RuntimeError& failure) {
    HandleError(failure, kSource, false, false);
    return std::int16_t{0};
  }
}

}  // namespace launcher
