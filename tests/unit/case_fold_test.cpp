// Paths compared without regard to case on Linux (and in the fake): Unicode
// simple case folding from GLib, one character for one.
#include <gtest/gtest.h>

#include <glib.h>

#include <string>

#include "platform/linux/linux_case_fold.h"

namespace launcher {
namespace {

struct PathCase {
  const char* what;
  std::string a;
  std::string b;
  bool same;
};

TEST(CaseFoldTest, PathsCompareByUnicodeSimpleCaseFolding) {
  const PathCase cases[] = {
      {"ASCII", "/opt/Quarven/BIN/Q", "/OPT/quarven/bin/q", true},
      {"ASCII, other letter", "/opt/quarven/a", "/opt/quarven/b", false},
      {"ASCII, longer", "/opt/q", "/opt/qq", false},
      {"empty", "", "", true},
      {"empty and not", "", "/", false},
      {"ASCII punctuation is no letter", "/opt/[q]", "/opt/{q}", false},
      {"Latin-1", "C:\\Été\\ÀÇÑÖØÞ", "c:\\été\\àçñöøþ", true},
      {"Latin-1, accent differs", "/été", "/ete", false},
      {"y with diaeresis, capital outside Latin-1", "/Ÿ", "/ÿ", true},
      {"Cyrillic", "/opt/Программы/Квартал/quarven", "/OPT/ПРОГРАММЫ/квартал/QUARVEN", true},
      {"Cyrillic io is not ie", "/ёлка", "/елка", false},
      {"Cyrillic io in both cases", "/Ёлка", "/ёЛКА", true},
      {"Greek final sigma", "/ΟΔΥΣΣΕΥΣ", "/οδυσσευς", true},
      {"Greek sigma and final sigma", "σ", "ς", true},
      {"Greek with tonos", "/Άλφα", "/άΛΦΑ", true},
      {"sharp s is not ss", "/straße", "/STRASSE", false},
      {"sharp s and its capital", "/straße", "/STRAẞE", true},
      {"long s", "/ſtadt", "/Stadt", true},
      {"Kelvin sign", "/\u212Aelvin", "/kelvin", true},
      {"Cherokee", "/\u13A0", "/\uAB70", true},
      {"Armenian", "/Երևան", "/ԵՐևԱՆ", true},
      {"Armenian ligature is not two letters", "/և", "/ԵՎ", false},
      {"CJK has no case", "/程序", "/程序", true},
      {"CJK differs", "/程序", "/程式", false},
      {"invalid byte equals itself",
       "/a\xFF"
       "b",
       "/A\xFF"
       "B",
       true},
      {"invalid bytes differ", "/\xFF", "/\xFE", false},
      {"Latin-1 byte is not UTF-8", "/\xE9t\xE9", "/été", false},
      {"truncated sequence", "/\xC3", "/\xC3", true},
      {"truncated and whole", "/\xC3", "/\xC3\xA9", false},
      {"stray continuation", "/\x80q", "/\x80Q", true},
      {"overlong slash", "/\xC0\xAF", "//", false},
      {"encoded surrogate", "/\xED\xA0\x80", "/\xED\xA0\x80", true},
      {"NUL inside", std::string("/a\0b", 4), std::string("/A\0B", 4), true},
      {"NUL and end", std::string("/a\0", 3), "/a", false},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(SamePathIgnoringCase(c.a, c.b), c.same) << c.what;
    EXPECT_EQ(SamePathIgnoringCase(c.b, c.a), c.same) << c.what << ", swapped";
  }
}

// The rule written out with GLib's full case fold, one character at a time.
gunichar ReferenceFold(gunichar c) {
  char utf8[8];
  const gint size = g_unichar_to_utf8(c, utf8);
  gchar* folded = g_utf8_casefold(utf8, size);
  const gunichar single =
      g_utf8_strlen(folded, -1) == 1 ? g_utf8_get_char(folded) : g_unichar_tolower(c);
  g_free(folded);
  return g_unichar_tolower(single);
}

TEST(CaseFoldTest, EveryCharacterFoldsByTheRuleAndStaysFolded) {
  int mismatches = 0;
  for (gunichar c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF)
      continue;
    const std::uint32_t folded = SimpleCaseFold(c);
    if (folded != ReferenceFold(c) || SimpleCaseFold(folded) != folded) {
      if (++mismatches <= 10)
        ADD_FAILURE() << "U+" << std::hex << c << " folds to U+" << folded;
      continue;
    }
    char a[8];
    char b[8];
    const std::string one(a, static_cast<std::size_t>(g_unichar_to_utf8(c, a)));
    const std::string other(b, static_cast<std::size_t>(g_unichar_to_utf8(folded, b)));
    if (!SamePathIgnoringCase(one, other) && ++mismatches <= 10)
      ADD_FAILURE() << "U+" << std::hex << c << " differs from its own fold";
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace launcher
