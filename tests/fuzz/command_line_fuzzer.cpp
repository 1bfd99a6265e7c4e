// Windows command-line quoting and splitting: a quoted argument list splits
// back into itself, and whatever a split gives, quoted again, splits the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "platform/command_line.h"

namespace {

using Args = std::vector<std::string>;

// The input as an argument list: NUL bytes separate the arguments.
Args AsArguments(std::string_view bytes) {
  Args args(1);
  for (const char c : bytes) {
    if (c == '\0')
      args.emplace_back();
    else
      args.back() += c;
  }
  return args;
}

// A program name as the system's parser reads it back: literal, so quoted
// only when it is empty or holds a blank (a split name never holds both a
// blank and a quote).
std::string ProgramName(const std::string& name) {
  return name.empty() || name.find_first_of(" \t") != std::string::npos ? "\"" + name + "\"" : name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace launcher;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Quoting: every list of arguments comes back from a split as it was.
  const Args args = AsArguments(bytes);
  const std::string joined = JoinArguments(args);
  Args expected = {"prog"};
  expected.insert(expected.end(), args.begin(), args.end());
  FUZZ_CHECK(SplitCommandLine("prog " + joined) == expected);
  for (const std::string& arg : args) {
    // An argument that needs no quotes is passed as it is.
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
      FUZZ_CHECK(QuoteArgument(arg) == arg);
  }
  // What the launcher is handed after its program name is the joined list.
  FUZZ_CHECK(SkipProgramName("\"C:\\a b\\launcher.exe\" " + joined) == joined);

  // Splitting: any text, split, quoted again and split, gives the same list.
  const Args split = SplitCommandLine(bytes);
  FUZZ_CHECK(!split.empty());
  if (split[0].find('"') == std::string::npos ||
      split[0].find_first_of(" \t") == std::string::npos) {
    const Args rest(split.begin() + 1, split.end());
    const std::string again =
        ProgramName(split[0]) + (rest.empty() ? "" : " " + JoinArguments(rest));
    FUZZ_CHECK(SplitCommandLine(again) == split);
  }
  // The arguments after the program name do not depend on how it was written.
  Args tail = SplitCommandLine("p " + std::string(SkipProgramName(bytes)));
  tail.erase(tail.begin());
  FUZZ_CHECK(Args(split.begin() + 1, split.end()) == tail);
  return 0;
}
