#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/command_line.h"

namespace launcher {
namespace {

using Args = std::vector<std::string>;

TEST(CommandLineTest, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(QuoteArgument("plain"), "plain");
  EXPECT_EQ(QuoteArgument("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(QuoteArgument(""), "\"\"");
  EXPECT_EQ(QuoteArgument("a b"), "\"a b\"");
  EXPECT_EQ(QuoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
  EXPECT_EQ(QuoteArgument("dir\\ x\\"), "\"dir\\ x\\\\\"");
  EXPECT_EQ(QuoteArgument("a\\\"b"), "\"a\\\\\\\"b\"");
}

TEST(CommandLineTest, SplitsByTheRuntimeRules) {
  EXPECT_EQ(SplitCommandLine("\"C:\\a b\\q.exe\" bin\\ -x"),
            (Args{"C:\\a b\\q.exe", "bin\\", "-x"}));
  EXPECT_EQ(SplitCommandLine("prog  a\tb "), (Args{"prog", "a", "b"}));
  EXPECT_EQ(SplitCommandLine("prog \"a b\" c"), (Args{"prog", "a b", "c"}));
  EXPECT_EQ(SplitCommandLine("prog a\\\\\"b c\""), (Args{"prog", "a\\b c"}));
  EXPECT_EQ(SplitCommandLine("prog a\\\\\\\"b"), (Args{"prog", "a\\\"b"}));
  EXPECT_EQ(SplitCommandLine("prog a\\\\b"), (Args{"prog", "a\\\\b"}));
  EXPECT_EQ(SplitCommandLine("prog \"\""), (Args{"prog", ""}));
  EXPECT_EQ(SplitCommandLine("prog \"a\"\"b\""), (Args{"prog", "a\"b"}));
  EXPECT_EQ(SplitCommandLine("prog ab\"c d\"e"), (Args{"prog", "abc de"}));
  // The program name takes quotes literally and ignores backslash escapes.
  EXPECT_EQ(SplitCommandLine("\"C:\\dir\\\" x"), (Args{"C:\\dir\\", "x"}));
  EXPECT_EQ(SplitCommandLine("\"unterminated name"), (Args{"unterminated name"}));
}

TEST(CommandLineTest, JoinedArgumentsSplitBackToThemselves) {
  const std::vector<Args> lists = {
      {"-s"},
      {"-c", "a b", "c"},
      {"", "x", ""},
      {"quote\"inside", "back\\slash", "trailing\\", "both \\\" mixed\\\\"},
      {"tab\there", "caf\xC3\xA9"},
  };
  for (const Args& args : lists) {
    Args with_program = {"prog"};
    with_program.insert(with_program.end(), args.begin(), args.end());
    EXPECT_EQ(SplitCommandLine("prog " + JoinArguments(args)), with_program);
  }
}

TEST(CommandLineTest, SkipsProgramNameAndBlanks) {
  EXPECT_EQ(SkipProgramName("\"C:\\a b\\launcher.exe\"  -s -c x"), "-s -c x");
  EXPECT_EQ(SkipProgramName("launcher.exe\t-s"), "-s");
  EXPECT_EQ(SkipProgramName("launcher.exe"), "");
  EXPECT_EQ(SkipProgramName("\"launcher.exe\"-s"), "-s");
}

}  // namespace
}  // namespace launcher
