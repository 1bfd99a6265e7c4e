// Pieces of the Linux backend that need no process or window to be checked:
// the calendar of the trace timestamps and the COMPOUND_TEXT decoder.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>

#include "platform/linux/linux_compound_text.h"
#include "platform/linux/linux_platform.h"

namespace launcher {
namespace {

TEST(CivilFromDays, AgreesWithTheCLibraryOverFourCenturies) {
  // Day counts around the turns that calendars get wrong, then a sweep.
  std::vector<std::int64_t> days = {-719468, -1, 0, 59, 10956, 10957, 11016, 11017, 47540, 47541};
  for (std::int64_t d = -200000; d < 200000; d += 97)
    days.push_back(d);
  for (const std::int64_t d : days) {
    const time_t seconds = static_cast<time_t>(d * 86400);
    tm expected{};
    ASSERT_NE(gmtime_r(&seconds, &expected), nullptr);
    int year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(d, &year, &month, &day);
    ASSERT_EQ(year, expected.tm_year + 1900) << d;
    ASSERT_EQ(month, expected.tm_mon + 1) << d;
    ASSERT_EQ(day, expected.tm_mday) << d;
  }
}

struct CompoundCase {
  const char* name;
  std::string text;
  std::optional<std::string> utf8;
};

class CompoundText : public ::testing::TestWithParam<CompoundCase> {};

TEST_P(CompoundText, DecodesToUtf8) {
  EXPECT_EQ(CompoundTextToUtf8(GetParam().text), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    CompoundText,
    ::testing::Values(
        CompoundCase{"ascii", "Plain compound", "Plain compound"},
        CompoundCase{"latin1_right_half_by_default", "Caf\xe9", "Caf\xc3\xa9"},
        CompoundCase{"latin2_designated", "\x1b-B\xb1x", "\xc4\x85x"},
        CompoundCase{"back_to_latin1", "\x1b-B\xb1\x1b-A\xe9", "\xc4\x85\xc3\xa9"},
        CompoundCase{"jis_x0208_in_gr", "\x1b$)B\xc6\xfc\xcb\xdc", "\xe6\x97\xa5\xe6\x9c\xac"},
        CompoundCase{"jis_x0208_in_gl_then_ascii", "\x1b$(BF|K\\\x1b(B!",
                     "\xe6\x97\xa5\xe6\x9c\xac!"},
        CompoundCase{"utf8_segment", "a\x1b%G\xe2\x9c\x93\x1b%@b",
                     "a\xe2\x9c\x93"
                     "b"},
        CompoundCase{"extended_segment", "\x1b%/1\x80\x8ciso8859-15\x02\xa4", "\xe2\x82\xac"},
        CompoundCase{"direction_marks_dropped",
                     "\x9b"
                     "1]ab\x9b]",
                     "ab"},
        CompoundCase{"unknown_set", "\x1b(Zab", std::nullopt},
        CompoundCase{"half_a_character", "\x1b$)B\xc6", std::nullopt},
        CompoundCase{"extended_segment_cut_short", "\x1b%/1\x80\x9ciso8859-15\x02", std::nullopt}),
    [](const ::testing::TestParamInfo<CompoundCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace launcher
