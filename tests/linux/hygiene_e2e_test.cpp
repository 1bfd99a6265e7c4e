// What the real Linux launcher leaves to its application and behind itself:
// the application inherits standard input, output and error and nothing else,
// and an application that has ended is collected while the launcher waits on.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>

#include "child_process.h"
#include "install_dir.h"
#include "test_support.h"
#include "x_session.h"

namespace launcher::testing {
namespace {

namespace fs = std::filesystem;
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

// Silent mode with an application that leaves a copy of itself running from
// its file and ends at once: the launcher waits on for the copy, and
// collects the application it started meanwhile, instead of leaving it a
// zombie for as long as it waits.
TEST(Zombies, EndedApplicationIsCollectedWhileTheLauncherWaits) {
  InstallDir dir("Quarven App");
  dir.WriteFile("bin/launcher.ini", "[resources]\r\nname=Quarven\r\n");
  dir.InstallProbe("bin/xulrunner/quarven");
  dir.WriteFile("bin/xulrunner/probe-cue.txt", "fork_child_ms=60000\n");
  ChildProcess launcher(dir.launcher(), {"-s"}, EnvironmentWith({}, {}));
  const auto record = dir.ReadRecord("bin/xulrunner", 20s);
  ASSERT_TRUE(record) << launcher.Stderr();
  // A zombie stays in /proc until its parent collects it.
  const std::string application = "/proc/" + record->at("pid");
  const bool gone = WaitUntil([&] { return !fs::exists(application) || !launcher.Running(); }, 30s);
  const bool waiting = launcher.Running();
  if (const auto copy = RunningFrom(dir.root() + "/bin/xulrunner/quarven"))
    kill(*copy, SIGKILL);
  EXPECT_TRUE(gone) << "the ended application was left a zombie";
  EXPECT_TRUE(waiting) << "the launcher did not wait for the copy:\n" << launcher.Stderr();
  const auto code = launcher.WaitForExit(30s);
  ASSERT_TRUE(code) << launcher.Stderr();
  EXPECT_EQ(*code, 0) << launcher.Stderr();
}

}  // namespace
}  // namespace launcher::testing
