// What the real Linux launcher asks of the system while it pauses between the
// passes of a wait, counted (not timed) from the calls strace sees: the
// process list may read /proc, but no file is opened and no library mapped,
// however long the wait.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "install_dir.h"
#include "test_support.h"

namespace launcher::testing {
namespace {

using namespace std::chrono_literals;

struct WaitCase {
  const char* name;
  const char* ini;
  std::vector<std::string> args;
  int lifetime_ms;
  // The trace line after which the launcher is in its wait.
  const char* waiting_line;
};

const WaitCase kWaits[] = {
    {"silent", "[resources]\r\nname=Quarven\r\n", {"-s"}, 9000, "Waiting for end of process ID: "},
    // The application shows no window: the window wait pauses between its
    // attempts with the toolkit loaded.
    {"window_wait",
     "[resources]\r\nname=Quarven\r\nsplash=pic.bmp\r\nsplashDuration=1\r\n",
     {},
     5500,
     "Attempt 1"},
};

void PrintTo(const WaitCase& wait, std::ostream* out) {
  *out << wait.name;
}

// What the traced launcher did once in its wait.
struct AfterWaiting {
  bool reached = false;
  int sleeps = 0;
  std::vector<std::string> faults;  // the trace lines of files opened or mapped
};

// The first quoted argument of a traced call.
std::string FirstString(const std::string& call) {
  const auto open = call.find('"');
  const auto close = open == std::string::npos ? open : call.find('"', open + 1);
  return close == std::string::npos ? std::string() : call.substr(open + 1, close - open - 1);
}

// The fifth argument of a traced mmap: the descriptor it maps, -1 for memory.
std::string MappedDescriptor(const std::string& call) {
  std::size_t at = call.find('(');
  for (int comma = 0; comma < 4 && at != std::string::npos; ++comma)
    at = call.find(',', at + 1);
  if (at == std::string::npos)
    return {};
  const auto end = call.find_first_of(",)", at + 1);
  return call.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
}

// Reads `strace -f` output: the calls of the first process (the launcher, not
// its application) after it wrote `waiting_line`.
AfterWaiting ReadTrace(const std::string& path, const std::string& waiting_line) {
  AfterWaiting after;
  std::ifstream in(path);
  std::string launcher_pid;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string pid;
    fields >> pid;
    if (launcher_pid.empty())
      launcher_pid = pid;
    if (pid != launcher_pid)
      continue;
    std::string call;
    std::getline(fields >> std::ws, call);
    if (!after.reached) {
      after.reached =
          call.rfind("write(2,", 0) == 0 && call.find(waiting_line) != std::string::npos;
      continue;
    }
    if (call.rfind("clock_nanosleep(", 0) == 0)
      ++after.sleeps;
    const bool opens = call.rfind("openat(", 0) == 0 || call.rfind("open(", 0) == 0;
    const std::string file = opens ? FirstString(call) : std::string();
    if ((opens && file != "/proc" && file.rfind("/proc/", 0) != 0) ||
        (call.rfind("mmap(", 0) == 0 && MappedDescriptor(call) != "-1"))
      after.faults.push_back(line);
  }
  return after;
}

class PauseSystemCalls : public ::testing::TestWithParam<WaitCase> {};

TEST_P(PauseSystemCalls, OpenNoFileAndMapNoLibraryBetweenPasses) {
  const WaitCase& wait = GetParam();
  InstallDir dir("Quarven App");
  dir.WriteFile("bin/launcher.ini", wait.ini);
  dir.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0x00FF00));
  dir.InstallProbe("bin/xulrunner/quarven");
  dir.WriteFile("bin/xulrunner/probe-cue.txt",
                "lifetime_ms=" + std::to_string(wait.lifetime_ms) + "\n");
  const std::string trace = dir.root() + "/strace.txt";
  std::vector<std::string> args = {
      "-f", "-s",  "512",         "-e", "trace=openat,open,mmap,write,clock_nanosleep",
      "-o", trace, dir.launcher()};
  args.insert(args.end(), wait.args.begin(), wait.args.end());
  ChildProcess strace("strace", args, EnvironmentWith({}, {}));
  const auto code = strace.WaitForExit(60s);
  ASSERT_TRUE(code) << strace.Stderr();
  ASSERT_EQ(*code, 0) << strace.Stderr();

  const AfterWaiting after = ReadTrace(trace, wait.waiting_line);
  ASSERT_TRUE(after.reached) << strace.Stderr();
  // At least two passes' pauses were watched (ten sleeps each).
  EXPECT_GE(after.sleeps, 20);
  EXPECT_TRUE(after.faults.empty())
      << after.faults.size() << " files opened or mapped, first: " << after.faults.front();
}

INSTANTIATE_TEST_SUITE_P(Waits,
                         PauseSystemCalls,
                         ::testing::ValuesIn(kWaits),
                         [](const ::testing::TestParamInfo<WaitCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace launcher::testing
