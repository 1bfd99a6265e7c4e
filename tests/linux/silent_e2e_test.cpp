// The real Linux launcher in silent mode: no window at all, and it stays until
// every process running from the application's file has ended.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "child_process.h"
#include "install_dir.h"
#include "test_support.h"
#include "x11_windows.h"

namespace launcher::testing {
namespace {

using namespace std::chrono_literals;

class LinuxSilent : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteFile("bin/launcher.ini", "[resources]\r\nname=Quarven\r\n");
    dir_.InstallProbe("bin/xulrunner/quarven");
    dir_.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=3000\n");
  }

  // Runs the launcher with -s and watches the display until it ends; returns
  // its exit code and the titles of any windows it showed.
  std::optional<int> RunSilent(std::vector<std::string>* windows_seen,
                               const std::function<void()>& meanwhile = {}) {
    start_ = WallMs();
    ChildProcess launcher(dir_.launcher(), {"-s"}, EnvironmentWith({}, {}));
    X11Windows x;
    std::optional<int> code;
    bool acted = false;
    while (!(code = launcher.WaitForExit(10ms))) {
      for (const ProcessWindow& w : x.WindowsOf(launcher.pid()))
        windows_seen->push_back(w.title.empty() ? "(untitled)" : w.title);
      if (!acted && meanwhile && WallMs() - start_ > 2000) {
        meanwhile();
        acted = true;
      }
      if (WallMs() - start_ > 60000) {
        launcher.Kill();
        break;
      }
    }
    ended_ = WallMs();
    stderr_ = launcher.Stderr();
    return code;
  }

  InstallDir dir_{"Quarven App"};
  std::int64_t start_ = 0;
  std::int64_t ended_ = 0;
  std::string stderr_;
};

TEST_F(LinuxSilent, OutlivesTheApplicationWithoutAnyWindow) {
  std::vector<std::string> windows;
  const auto code = RunSilent(&windows);
  ASSERT_TRUE(code) << "launcher did not end";
  EXPECT_EQ(*code, 0);
  EXPECT_TRUE(windows.empty()) << "a window appeared: " << windows.front();
  const auto exited = ReadNumber(dir_.root() + "/bin/xulrunner/probe-exit.txt");
  ASSERT_TRUE(exited) << stderr_;
  EXPECT_GE(ended_, *exited) << "ended before the application";
  EXPECT_GE(ended_ - start_, 5000) << "the first look comes after 5 s";
  EXPECT_LT(ended_ - *exited, 3500) << "a look every second after that";
  EXPECT_NE(stderr_.find("Waiting for end of process ID: "), std::string::npos) << stderr_;
  EXPECT_NE(stderr_.find("App Stop..."), std::string::npos);
}

TEST_F(LinuxSilent, SecondInstanceFromTheSameFileKeepsItWaiting) {
  std::vector<std::string> windows;
  std::unique_ptr<ChildProcess> second;
  dir_.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=6500\n");
  const auto code = RunSilent(&windows, [&] {
    // Started by someone else, from the same file, later: it ends last.
    second = std::make_unique<ChildProcess>(dir_.root() + "/bin/xulrunner/quarven",
                                            std::vector<std::string>{}, EnvironmentWith({}, {}));
  });
  ASSERT_TRUE(code);
  ASSERT_TRUE(second);
  const auto last_exit = ReadNumber(dir_.root() + "/bin/xulrunner/probe-exit.txt");
  ASSERT_TRUE(last_exit);
  EXPECT_GE(last_exit.value() - start_, 8000) << "the second instance ended last";
  EXPECT_GE(ended_, *last_exit) << "the launcher did not wait for the second instance";
  EXPECT_LT(ended_ - *last_exit, 3500);
  EXPECT_TRUE(windows.empty());
}

}  // namespace
}  // namespace launcher::testing
