#include "platform/command_line.h"

#include <cstddef>

namespace launcher {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Length of the program-name token at the start of `text`: up to the closing
// quote when it starts with one, else up to the first blank.
std::size_t ProgramNameLength(std::string_view text) {
  if (!text.empty() && text[0] == '"') {
    const std::size_t close = text.find('"', 1);
    return close == std::string_view::npos ? text.size() : close + 1;
  }
  std::size_t i = 0;
  while (i < text.size() && !IsBlank(text[i]))
    ++i;
  return i;
}

}  // namespace

std::string QuoteArgument(std::string_view arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string_view::npos)
    return std::string(arg);
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

std::string JoinArguments(const std::vector<std::string>& args) {
  std::string out;
  for (std::size_t k = 0; k < args.size(); ++k) {
    if (k > 0)
      out += ' ';
    out += QuoteArgument(args[k]);
  }
  return out;
}

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> args;
  const std::size_t name_length = ProgramNameLength(text);
  std::string_view name = text.substr(0, name_length);
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
    name = name.substr(1, name.size() - 2);
  else if (!name.empty() && name.front() == '"')
    name = name.substr(1);
  args.emplace_back(name);

  std::size_t i = name_length;
  for (;;) {
    while (i < text.size() && IsBlank(text[i]))
      ++i;
    if (i >= text.size())
      break;
    std::string arg;
    bool quoted = false;
    while (i < text.size() && (quoted || !IsBlank(text[i]))) {
      std::size_t backslashes = 0;
      while (i < text.size() && text[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < text.size() && text[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          arg += '"';
        } else if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
          arg += '"';  // "" inside quotes is one literal quote
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(backslashes, '\\');
        if (i < text.size() && (quoted || !IsBlank(text[i])))
          arg += text[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string_view SkipProgramName(std::string_view command_line) {
  std::size_t i = ProgramNameLength(command_line);
  while (i < command_line.size() && IsBlank(command_line[i]))
    ++i;
  return command_line.substr(i);
}

}  // namespace launcher
