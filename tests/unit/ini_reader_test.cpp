#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fake_fixture.h"
#include "settings/ini_reader.h"

namespace launcher {
namespace {

const std::string kPath = "C:\\q\\bin\\launcher.ini";

class IniReaderTest : public FakeTest {
 protected:
  SettingValue Read(const std::string& bytes,
                    const std::string& section,
                    const std::string& key,
                    const std::optional<SettingValue>& fallback = std::string("DEFAULT")) {
    fake.files[kPath] = {bytes};
    return GetINISettings(kPath, section, key, fallback);
  }
};

struct Case {
  const char* name;
  const char* file;
  const char* section;
  const char* key;
  const char* expected;  // nullptr: the default comes back
};

// What each file yields for one key; the default is "DEFAULT".
const Case kCases[] = {
    {"exact", "[resources]\r\nname=Foo\r\n", "resources", "name", "Foo"},
    {"last line needs no line end", "[resources]\r\nname=Foo", "resources", "name", "Foo"},
    {"header case differs", "[Resources]\r\nname=Foo\r\n", "resources", "name", nullptr},
    {"blank before header", " [resources]\r\nname=Foo\r\n", "resources", "name", nullptr},
    {"blank after header", "[resources] \r\nname=Foo\r\n", "resources", "name", nullptr},
    {"key case differs", "[resources]\r\nName=Foo\r\n", "resources", "name", nullptr},
    {"blanks around separator", "[resources]\r\nname = Foo\r\n", "resources", "name", "= Foo"},
    {"colon separator", "[resources]\r\nname:Foo\r\n", "resources", "name", "Foo"},
    {"blank separator", "[resources]\r\nname Foo\r\n", "resources", "name", "Foo"},
    {"blank then equals", "[resources]\r\nname =Foo\r\n", "resources", "name", "=Foo"},
    {"empty value", "[resources]\r\nname=\r\n", "resources", "name", nullptr},
    {"first line wins", "[resources]\r\nname=A\r\nname=B\r\n", "resources", "name", "A"},
    {"only first section searched", "[resources]\r\nx=1\r\n[resources]\r\nname=B\r\n", "resources",
     "name", nullptr},
    {"key after next header", "[resources]\r\nx=1\r\n[app]\r\nname=B\r\n", "resources", "name",
     nullptr},
    {"next header read and ends scan", "[app]\r\nx=1\r\n[inifile]\r\ninifile=z\r\n", "app",
     "inifile", nullptr},
    {"trailing blanks kept", "[resources]\r\nname=Foo  \r\n", "resources", "name", "Foo  "},
    {"section missing", "[app]\r\nname=Foo\r\n", "resources", "name", nullptr},
    {"lone CR ends a line", "[resources]\rname=Foo\r", "resources", "name", "Foo"},
    {"other lines passed over", "[resources]\r\n;comment\r\nfoo=1\r\nname=Foo\r\n", "resources",
     "name", "Foo"},
    // A key is not the start of a longer key name.
    {"longer key skipped", "[resources]\r\nnames=Foo\r\nname=Bar\r\n", "resources", "name", "Bar"},
    {"longer key only", "[resources]\r\nnames=Foo\r\n", "resources", "name", nullptr},
    {"splash after splashDuration", "[resources]\r\nsplashDuration=5\r\nsplash=pic.bmp\r\n",
     "resources", "splash", "pic.bmp"},
    {"splashDuration after splash", "[resources]\r\nsplash=pic.bmp\r\nsplashDuration=5\r\n",
     "resources", "splashDuration", "5"},
    {"digit continues key", "[resources]\r\nname2=Foo\r\n", "resources", "name", nullptr},
    {"underscore continues key", "[resources]\r\nname_x=Foo\r\n", "resources", "name", nullptr},
    // Unix line ends are lines too.
    {"LF only", "[resources]\nname=Foo\n", "resources", "name", "Foo"},
    {"mixed line ends", "[app]\r\nx=1\n[resources]\rname=Foo\r\n", "resources", "name", "Foo"},
    {"empty line before key", "[resources]\r\n\r\nname=Foo\r\n", "resources", "name", "Foo"},
    {"non-ASCII letter continues key",
     "[resources]\r\nname\xC3\xA9"
     "Foo\r\n",
     "resources", "name", nullptr},
};

class IniReaderCases : public IniReaderTest, public ::testing::WithParamInterface<Case> {};

TEST_P(IniReaderCases, ReadsValueOrDefault) {
  const Case& c = GetParam();
  const SettingValue value = Read(c.file, c.section, c.key);
  EXPECT_EQ(std::get<std::string>(value), c.expected ? c.expected : "DEFAULT") << c.name;
  EXPECT_TRUE(fake.trace.empty()) << "no failure expected";
}

INSTANTIATE_TEST_SUITE_P(Lines, IniReaderCases, ::testing::ValuesIn(kCases));

TEST_F(IniReaderTest, NonAsciiAfterKeyContinuesTheName) {
  // A non-ASCII character may be part of a longer key name, so "name" does not hit it.
  EXPECT_EQ(AsText(Read("\xEF\xBB\xBF[r]\r\nname\xE2\x86\x92value\r\n", "r", "name")), "DEFAULT");
  EXPECT_EQ(AsText(Read("\xEF\xBB\xBF[r]\r\nname\xE2\x86\x92 value\r\n", "r", "name")), "DEFAULT");
  EXPECT_EQ(AsText(Read("\xEF\xBB\xBF[r]\r\nname \xE2\x86\x92value\r\n", "r", "name")),
            "\xE2\x86\x92value");
}

TEST_F(IniReaderTest, DefaultKeepsItsOwnType) {
  const SettingValue absent =
      Read("[resources]\r\n", "resources", "splashDuration", SettingValue(std::int16_t{5}));
  ASSERT_TRUE(std::holds_alternative<std::int16_t>(absent));
  EXPECT_EQ(std::get<std::int16_t>(absent), 5);

  const SettingValue present = Read("[resources]\r\nsplashDuration=5\r\n", "resources",
                                    "splashDuration", SettingValue(std::int16_t{5}));
  ASSERT_TRUE(std::holds_alternative<std::string>(present));
  EXPECT_EQ(std::get<std::string>(present), "5");

  const SettingValue none = Read("", "resources", "name", std::nullopt);
  ASSERT_TRUE(std::holds_alternative<std::int16_t>(none));
  EXPECT_EQ(std::get<std::int16_t>(none), 0);

  EXPECT_EQ(std::get<std::string>(Read("", "app", "inifile", std::string())), "");
}

TEST_F(IniReaderTest, MissingOrHiddenFileGivesDefault) {
  EXPECT_EQ(AsText(GetINISettings("C:\\nowhere\\launcher.ini", "resources", "name",
                                  std::string("QUARVENlauncher"))),
            "QUARVENlauncher");
  fake.files[kPath] = {"[resources]\r\nname=Foo\r\n", /*hidden=*/true};
  EXPECT_EQ(AsText(GetINISettings(kPath, "resources", "name", std::string("D"))), "D");
}

TEST_F(IniReaderTest, Utf8ByteOrderMarkIsSkipped) {
  // With the mark the file is UTF-8; without it, the system's ANSI code page.
  EXPECT_EQ(AsText(Read("\xEF\xBB\xBF[resources]\r\nname=Caf\xC3\xA9\r\n", "resources", "name")),
            "Caf\xC3\xA9");
  EXPECT_EQ(AsText(Read("[resources]\r\nname=Caf\xE9\r\n", "resources", "name")), "Caf\xC3\xA9");
  // Without the mark, the mark's bytes are ANSI text and spoil the header.
  EXPECT_EQ(AsText(Read("\xEF\xBB[resources]\r\nname=x\r\n", "resources", "name")), "DEFAULT");
}

TEST_F(IniReaderTest, Utf16WithItsByteOrderMarkIsRead) {
  // As Notepad's "Unicode" and "Unicode big endian" save it.
  const auto utf16 = [](const std::u16string& text, bool big_endian) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t c : text) {
      const char high = static_cast<char>(c >> 8);
      const char low = static_cast<char>(c & 0xFF);
      bytes += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
  };
  const std::u16string text = u"[resources]\r\nname=Caf\u00e9 \U0001F680\r\n";
  for (const bool big_endian : {false, true})
    EXPECT_EQ(AsText(Read(utf16(text, big_endian), "resources", "name")),
              "Caf\xC3\xA9 \xF0\x9F\x9A\x80")
        << big_endian;
  // A lone surrogate and an odd last byte are replaced, never read as ASCII.
  EXPECT_EQ(AsText(Read(utf16(u"[a]\r\nk=x\xD800y", false) + "z", "a", "k")),
            "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

TEST_F(IniReaderTest, KeyAloneIsPassedOnAsFailure4646) {
  fake.files[kPath] = {"[resources]\r\nname\r\n"};
  try {
    GetINISettings(kPath, "resources", "name", std::string("D"));
    FAIL() << "expected a failure";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), 4646);
    EXPECT_EQ(failure.source(), "QUARVENlauncher GetINISettingsError");
    EXPECT_EQ(failure.description(), "Invalid procedure call or argument");
  }
  ASSERT_EQ(fake.TraceMessages().size(), 1u);
  EXPECT_EQ(fake.TraceMessages()[0],
            "QUARVENlauncher GetINISettingsError: #5 | Invalid procedure call or argument | "
            "launcher");
}

TEST_F(IniReaderTest, UnopenableFileIsPassedOn) {
  fake.files[kPath] = {"[resources]\r\nname=Foo\r\n"};
  fake.Fail(FakeService::kOpenTextFile, kErrPermissionDenied);
  try {
    GetINISettings(kPath, "resources", "name", std::string("D"));
    FAIL() << "expected a failure";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), 4646);
    EXPECT_EQ(failure.description(), "Permission denied");
  }
}

TEST_F(IniReaderTest, ChangesBetweenCallsAreSeen) {
  EXPECT_EQ(AsText(Read("[r]\r\nk=1\r\n", "r", "k")), "1");
  EXPECT_EQ(AsText(Read("[r]\r\nk=2\r\n", "r", "k")), "2");
}

}  // namespace
}  // namespace launcher
