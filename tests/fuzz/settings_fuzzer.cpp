// The settings reader on arbitrary bytes as launcher.ini: every key the
// launcher reads, with the launcher's own defaults and conversions.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/text_file.h"
#include "settings/ini_reader.h"
#include "settings/setting_value.h"

namespace launcher::fuzz {
namespace {

const std::string kIni = "C:\\Program Files\\Quarven\\bin\\launcher.ini";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

struct Key {
  const char* section;
  const char* key;
  SettingValue default_value;
};

const Key kKeys[] = {
    {"resources", "name", std::string("QUARVENlauncher")},
    {"resources", "splashDuration", std::int16_t{5}},
    {"resources", "splash", std::string()},
    {"app", "xulrunner", std::string("xulrunner\\quarven.exe")},
    {"app", "inifile", std::string()},
    {"app", "localization", std::string("en-US")},
};

// One lookup: the value, or the failure passed on, and the trace lines it wrote.
struct Outcome {
  std::optional<SettingValue> value;
  std::int32_t number = 0;
  std::string description;
  std::string source;
  std::size_t traces = 0;
  bool operator==(const Outcome&) const = default;
};

Outcome Read(FakePlatform& fake, const std::string& bytes, const Key& key) {
  fake.files[kIni] = {bytes};
  fake.trace.clear();
  Outcome outcome;
  try {
    outcome.value = GetINISettings(kIni, key.section, key.key, key.default_value);
  } catch (const RuntimeError& failure) {
    outcome.number = failure.number();
    outcome.description = failure.description();
    outcome.source = failure.source();
  }
  outcome.traces = fake.trace.size();
  FUZZ_CHECK(fake.files[kIni].bytes == bytes);  // read, never written
  return outcome;
}

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

// The file as the fake's reader sees it: UTF-8 after a byte-order mark, else
// each byte a Latin-1 character.
// A file that starts with a UTF-16 byte-order mark is read as UTF-16: its
// lines are not the bytes' lines, and bytes put before or after it are no
// text of its encoding.
bool Utf16(const std::string& bytes) {
  return bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0;
}

std::string Decoded(const std::string& bytes) {
  if (bytes.compare(0, kBom.size(), kBom) == 0)
    return bytes.substr(kBom.size());
  return DecodeLatin1(bytes);
}

// Whether some whole line of `text` is `key`, one separator character, `value`.
bool HasValueLine(const std::string& text, const std::string& key, const std::string& value) {
  for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    const bool line_start = at == 0 || IsLineBreak(text[at - 1]);
    const std::size_t from = at + key.size() + 1;
    const std::size_t end = from + value.size();
    if (line_start && from <= text.size() && text.compare(from, value.size(), value) == 0 &&
        (end == text.size() || IsLineBreak(text[end])))
      return true;
  }
  return false;
}

void CheckKey(FakePlatform& fake, const std::string& bytes, const Key& key) {
  const Outcome outcome = Read(fake, bytes, key);
  if (!outcome.value) {
    // The one failure a file can cause: a key line with nothing after the key.
    FUZZ_CHECK(outcome.number == kErrPassedOn);
    FUZZ_CHECK(outcome.description == DescribeError(kErrInvalidCall));
    FUZZ_CHECK(outcome.source == "QUARVENlauncher GetINISettingsError");
    FUZZ_CHECK(outcome.traces == 1);
  } else {
    FUZZ_CHECK(outcome.traces == 0);
    const auto* text = std::get_if<std::string>(&*outcome.value);
    if (*outcome.value != key.default_value) {
      // Found in the file: a non-empty text on one line of it.
      FUZZ_CHECK(text != nullptr && !text->empty());
      FUZZ_CHECK(text->find_first_of("\r\n") == std::string::npos);
      if (!Utf16(bytes))
        FUZZ_CHECK(HasValueLine(Decoded(bytes), key.key, *text));
    }
    // The launcher's conversions take every value: text as it is, the
    // duration as a 16-bit number or one of the two conversion failures.
    if (std::holds_alternative<std::int16_t>(key.default_value)) {
      try {
        const std::int16_t duration = AsInteger(*outcome.value);
        if (text == nullptr)
          FUZZ_CHECK(duration == 5);
      } catch (const RuntimeError& failure) {
        FUZZ_CHECK(text != nullptr);
        FUZZ_CHECK(failure.number() == kErrTypeMismatch || failure.number() == kErrOverflow);
      }
    } else {
      FUZZ_CHECK(text != nullptr && AsText(*outcome.value) == *text);
    }
  }

  // Nothing is kept between lookups: the same file reads the same again.
  FUZZ_CHECK(Read(fake, bytes, key) == outcome);
  // Other sections, before or after the file's own lines, change nothing.
  if (Utf16(bytes))
    return;
  if (bytes.compare(0, kBom.size(), kBom) != 0)
    FUZZ_CHECK(Read(fake, "[other]\r\nname=x\r\nsplashDuration=7\r\n" + bytes, key) == outcome);
  FUZZ_CHECK(Read(fake, bytes + "\r\n[zz]\r\nname=y\r\nxulrunner=z\r\n", key) == outcome);
}

}  // namespace
}  // namespace launcher::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace launcher::fuzz;
  FreshMachine machine;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (const Key& key : kKeys)
    CheckKey(machine.fake(), bytes, key);
  return 0;
}
