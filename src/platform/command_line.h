// Windows command-line rules, so that one command-line text means the same
// argument list on every backend.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// Quotes one argument when it is empty or holds blanks or quotes, escaping
// backslashes and quotes the way the C runtime's parser undoes them.
std::string QuoteArgument(std::string_view arg);

// Arguments joined by single spaces, each quoted as needed.
std::string JoinArguments(const std::vector<std::string>& args);

// Splits a whole command line: the program name (first token, quotes taken
// literally) and then the arguments by the C runtime's rules.
std::vector<std::string> SplitCommandLine(std::string_view text);

// The text after the program name and the blanks that follow it, as the
// runtime hands a program its own command line.
std::string_view SkipProgramName(std::string_view command_line);

}  // namespace launcher
