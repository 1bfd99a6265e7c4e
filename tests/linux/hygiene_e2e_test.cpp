// What the real Linux launcher leaves to its application and behind itself:
// the application inherits standard input, output and error and nothing else,
// and an application that has ended is collected, never left a zombie for
// longer than one watch tick.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "child_process.h"
#include "install_dir.h"
#include "test_support.h"

namespace launcher::testing {
namespace {

using namespace std::chrono_literals;

class Inheritance : public ::testing::TestWithParam<bool> {};

// In splash mode the toolkit's display connection is open when the
// application starts; a descriptor the launcher itself was handed (not
// close-on-exec) must not reach the application either.
TEST_P(Inheritance, ApplicationGetsOnlyStandardDescriptors) {
  const bool splash = GetParam();
  InstallDir dir("Quarven App");
  dir.WriteFile("bin/launcher.ini",
                splash ? "[resources]\r\nname=Quarven\r\nsplash=pic.bmp\r\nsplashDuration=1\r\n"
                       : "[resources]\r\nname=Quarven\r\n");
  dir.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0x00FF00));
  dir.InstallProbe("bin/xulrunner/quarven");
  dir.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=1500\n");
  const int handed = open("/dev/null", O_RDONLY);  // inherited by the launcher
  ASSERT_GE(handed, 3);
  ChildProcess launcher(dir.launcher(),
                        splash ? std::vector<std::string>{} : std::vector{std::string("-s")},
                        EnvironmentWith({}, {}));
  close(handed);
  const auto record = dir.ReadRecord("bin/xulrunner", 20s);
  ASSERT_TRUE(record) << launcher.Stderr();
  EXPECT_EQ(record->at("fds"), "0,1,2") << "descriptors the application started with";
  const auto code = launcher.WaitForExit(30s);
  ASSERT_TRUE(code) << launcher.Stderr();
  EXPECT_EQ(*code, 0) << launcher.Stderr();
}

INSTANTIATE_TEST_SUITE_P(Modes,
                         Inheritance,
                         ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "splash" : "silent");
                         });

// The children of `parent` that are zombies now.
std::vector<pid_t> Zombies(pid_t parent) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    std::getline(in, stat);
    // pid (comm) state ppid ...: the name may hold blanks and parentheses.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
      continue;
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent && state == 'Z')
      found.push_back(static_cast<pid_t>(std::stoi(name)));
  }
  return found;
}

// Silent mode with a second instance from the same file: the application
// ends first and the launcher waits on. Its ended child is collected within
// a watch tick (100 ms): the children's states are sampled all along.
TEST(Zombies, EndedApplicationIsCollectedWithinAWatchTick) {
  InstallDir dir("Quarven App");
  dir.WriteFile("bin/launcher.ini", "[resources]\r\nname=Quarven\r\n");
  dir.InstallProbe("bin/xulrunner/quarven");
  dir.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=1000\n");
  ChildProcess launcher(dir.launcher(), {"-s"}, EnvironmentWith({}, {}));
  ASSERT_TRUE(dir.ReadRecord("bin/xulrunner", 20s)) << launcher.Stderr();
  // Started by someone else, later, from the same file: it keeps the launcher waiting.
  dir.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=8000\n");
  ChildProcess second(dir.root() + "/bin/xulrunner/quarven", {}, EnvironmentWith({}, {}));

  std::map<pid_t, std::chrono::steady_clock::time_point> first_seen;
  std::chrono::milliseconds longest{0};
  int samples = 0;
  while (launcher.Running()) {
    const auto now = std::chrono::steady_clock::now();
    for (const pid_t zombie : Zombies(launcher.pid())) {
      const auto since = first_seen.emplace(zombie, now).first->second;
      longest =
          std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(now - since));
    }
    ++samples;
    std::this_thread::sleep_for(2ms);
  }
  const auto code = launcher.WaitForExit(0ms);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 0) << launcher.Stderr();
  std::printf(
      "[ zombies  ] %d samples of the launcher's children; %zu zombie(s) seen, the longest "
      "for %lld ms\n",
      samples, first_seen.size(), static_cast<long long>(longest.count()));
  EXPECT_GT(samples, 1000) << "the launcher lived on for seconds after the application";
  // One tick, and the time a loaded machine may keep the launcher from running.
  EXPECT_LE(longest.count(), 100 + 400);
}

}  // namespace
}  // namespace launcher::testing
