// The splash duration: text to a 16-bit integer (blanks around it allowed, a
// fraction rounded half to even, other text error 13, out of range error 6),
// and what DisplaySplash makes of it.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "fuzz_check.h"
#include "settings/setting_value.h"
#include "splash/frm_splash.h"

namespace launcher::fuzz {
namespace {

const std::string kBin = "C:\\Program Files\\Quarven\\bin\\";

// The conversion's result: a number, or the runtime error it raised.
struct Converted {
  std::optional<std::int16_t> value;
  std::int32_t error = 0;
  bool operator==(const Converted&) const = default;
};

Converted Convert(const std::string& text) {
  Converted out;
  try {
    out.value = AsInteger(SettingValue(text));
  } catch (const RuntimeError& failure) {
    out.error = failure.number();
  }
  return out;
}

// What a plain decimal text stands for, read by the standard library's own
// parser (a leading "+" allowed, as by the runtime): no number, a number, or
// one beyond what a double holds (too large, or so small it is 0).
struct Parsed {
  enum Kind { kNoNumber, kNumber, kBeyondDouble } kind = kNoNumber;
  double number = 0;
};

Parsed Parse(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return {};
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  if (text.find_first_not_of("0123456789+-.eE") != std::string_view::npos)
    return {};
  if (text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-' || text.front() == '+')
      return {};
  }
  double number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (end != text.data() + text.size())
    return {};
  if (error == std::errc::result_out_of_range)
    return {Parsed::kBeyondDouble, 0};
  if (error != std::errc() || !std::isfinite(number))
    return {};
  return {Parsed::kNumber, number};
}

void CheckConversion(const std::string& text) {
  const Converted converted = Convert(text);
  FUZZ_CHECK(converted.value || converted.error == kErrTypeMismatch ||
             converted.error == kErrOverflow);
  const Parsed parsed = Parse(text);
  if (converted.value) {
    if (parsed.kind == Parsed::kBeyondDouble) {
      FUZZ_CHECK(*converted.value == 0);  // only a number too small for a double
    } else {
      // The nearest integer, an exact half going to the even one.
      FUZZ_CHECK(parsed.kind == Parsed::kNumber);
      const double value = *converted.value;
      const double distance = std::fabs(parsed.number - value);
      FUZZ_CHECK(distance <= 0.5);
      if (distance == 0.5)
        FUZZ_CHECK(static_cast<int>(std::fabs(value)) % 2 == 0);
    }
    // Written back as text, the number converts to itself.
    FUZZ_CHECK(Convert(std::to_string(*converted.value)) == converted);
  } else if (converted.error == kErrOverflow) {
    FUZZ_CHECK(
        parsed.kind == Parsed::kBeyondDouble ||
        (parsed.kind == Parsed::kNumber && (parsed.number < -32768.5 || parsed.number >= 32767.5)));
  } else {
    FUZZ_CHECK(parsed.kind == Parsed::kNoNumber);
  }
  // Blanks around the text change nothing.
  FUZZ_CHECK(Convert(" \t" + text + "  ") == converted);
  // A minus sign in front mirrors a plain number.
  if (!text.empty() && text.find_first_of(" \t+-") == std::string::npos && converted.value) {
    const Converted negated = Convert("-" + text);
    FUZZ_CHECK(negated.value && *negated.value == -*converted.value);
  }
}

// The splash that a launcher.ini with this duration shows, or the box it reports.
void CheckSplash(const std::string& text) {
  if (text.empty() || text.find_first_of("\r\n") != std::string::npos)
    return;  // a line break would make it another setting
  const Converted converted = Convert(text);
  FreshMachine machine;
  FakePlatform& fake = machine.fake();
  fake.files[kBin + "launcher.ini"] = {"[resources]\r\nsplash=s.png\r\nsplashDuration=" + text +
                                       "\r\n"};
  fake.pictures[kBin + "s.png"] = {270, 77};
  State().gstrBinPath = kBin;
  State().gstrIniFile = kBin + "launcher.ini";
  DisplaySplash();
  FakeForm* form = fake.OpenForm();
  if (converted.value && *converted.value > 0) {
    FUZZ_CHECK(State().gblnSplash && form != nullptr && fake.boxes.empty());
    const FakeForm::Timer& quit = form->timers[FrmSplash::kTmrQuit];
    FUZZ_CHECK(quit.enabled &&
               quit.interval_ms == static_cast<std::uint32_t>(*converted.value) * 1000);
  } else {
    FUZZ_CHECK(!State().gblnSplash && form == nullptr);
    FUZZ_CHECK(fake.boxes.size() == (converted.value ? 0u : 1u));
  }
}

}  // namespace
}  // namespace launcher::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  launcher::fuzz::CheckConversion(text);
  launcher::fuzz::CheckSplash(text);
  return 0;
}
