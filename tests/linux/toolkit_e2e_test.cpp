// The real Linux launcher loads its window toolkit only when it shows a
// window, and a toolkit that cannot be loaded ends in a clear error, not a crash.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "install_dir.h"
#include "test_support.h"

namespace launcher::testing {
namespace {

using namespace std::chrono_literals;

// The libraries of the toolkit stack, as they appear in a process's maps.
const char* const kToolkitLibraries[] = {"libgtk-3.so", "libgdk-3.so", "libgdk_pixbuf-2.0.so",
                                         "libcairo.so", "libpango-1.0.so"};

// The toolkit libraries `pid` has mapped now.
std::vector<std::string> ToolkitMapped(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::vector<std::string> found;
  for (std::string line; std::getline(maps, line);) {
    for (const char* library : kToolkitLibraries) {
      if (line.find(library) != std::string::npos &&
          std::find(found.begin(), found.end(), library) == found.end())
        found.emplace_back(library);
    }
  }
  return found;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names)
    out += name + " ";
  return out;
}

class LinuxToolkit : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.InstallProbe("bin/xulrunner/quarven");
    dir_.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0x00FF00));
  }
  InstallDir dir_{"Quarven App"};
};

TEST_F(LinuxToolkit, SilentRunNeverLoadsIt) {
  dir_.WriteFile("bin/launcher.ini", "[resources]\r\nname=Quarven\r\n");
  dir_.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=7000\n");
  ChildProcess launcher(dir_.launcher(), {"-s"}, EnvironmentWith({}, {}));
  // Looked at for the whole run, its waits and looks at the processes too.
  std::vector<std::string> mapped;
  while (launcher.Running() && mapped.empty()) {
    mapped = ToolkitMapped(launcher.pid());
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(mapped.empty()) << "mapped: " << Joined(mapped);
  const auto code = launcher.WaitForExit(20s);
  ASSERT_TRUE(code) << "launcher did not end";
  EXPECT_EQ(*code, 0);
  EXPECT_NE(launcher.Stderr().find("Waiting for end of process ID: "), std::string::npos)
      << "the run never reached its wait: " << launcher.Stderr();
}

TEST_F(LinuxToolkit, SplashRunLoadsIt) {
  dir_.WriteFile("bin/launcher.ini", "[resources]\r\nsplash=pic.bmp\r\nsplashDuration=30\r\n");
  dir_.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=4000\n");
  ChildProcess launcher(dir_.launcher(), {}, EnvironmentWith({}, {}));
  std::vector<std::string> mapped;
  for (int i = 0; i < 100 && mapped.size() < std::size(kToolkitLibraries); ++i) {
    std::this_thread::sleep_for(30ms);
    mapped = ToolkitMapped(launcher.pid());
  }
  EXPECT_EQ(mapped.size(), std::size(kToolkitLibraries)) << "mapped: " << Joined(mapped);
  // It ends with the application, as ever.
  const auto code = launcher.WaitForExit(20s);
  ASSERT_TRUE(code) << "launcher did not end";
  EXPECT_EQ(*code, 0);
}

TEST_F(LinuxToolkit, BrokenToolkitIsAClearErrorAndTheApplicationStillStarts) {
  dir_.WriteFile("bin/launcher.ini",
                 "[resources]\r\nname=Quarven\r\nsplash=pic.bmp\r\nsplashDuration=5\r\n");
  dir_.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=500\n");
  // A file by the toolkit's name that is no library at all.
  dir_.WriteFile("broken/libgtk-3.so.0", "not a shared library\n");
  const RunResult run =
      RunBounded(dir_.launcher(), {}, {"LD_LIBRARY_PATH=" + dir_.root() + "/broken"}, 20s);
  ASSERT_TRUE(run.ended) << "launcher still running:\n" << run.stderr_text;
  // A reported failure, although the application was started.
  EXPECT_EQ(run.exit_code, 1) << run.stderr_text;

  // The failure is traced where the splash failed, with its cause...
  EXPECT_NE(run.stderr_text.find("QUARVENlauncher DisplaySplash: #48 | Error in loading DLL ("),
            std::string::npos)
      << run.stderr_text;
  EXPECT_NE(run.stderr_text.find("libgtk-3.so.0"), std::string::npos) << run.stderr_text;
  // ...the box that cannot be shown is told on standard error...
  EXPECT_NE(run.stderr_text.find("No message box: "), std::string::npos) << run.stderr_text;
  EXPECT_NE(run.stderr_text.find("Quarven startup error\n"), std::string::npos) << run.stderr_text;
  // ...and the application was started all the same.
  EXPECT_TRUE(dir_.ReadRecord("bin/xulrunner", 10s)) << run.stderr_text;
  EXPECT_NE(run.stderr_text.find("App Stop..."), std::string::npos) << run.stderr_text;
}

}  // namespace
}  // namespace launcher::testing
