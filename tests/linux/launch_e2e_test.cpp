// The Linux launcher, started from a folder laid out like an installation,
// starts the probe with exactly the arguments and working directory expected.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "install_dir.h"

namespace launcher::testing {
namespace {

using namespace std::chrono_literals;

// No splash: the launcher ends right after the start.
constexpr const char* kPlain = "[resources]\r\nsplashDuration=0\r\n";

struct LaunchCase {
  const char* name;
  std::vector<std::string> launcher_args;
  const char* ini;
  std::vector<std::string> expected_args;  // after the executable
};

class LinuxLaunch : public ::testing::TestWithParam<LaunchCase> {};

TEST_P(LinuxLaunch, ProbeReceivesArgumentsAndFolder) {
  const LaunchCase& c = GetParam();
  InstallDir dir("Quarven App");
  dir.WriteFile("bin/launcher.ini", c.ini);
  dir.InstallProbe("bin/xulrunner/quarven");

  const RunResult run = RunBounded(dir.launcher(), c.launcher_args, {}, 20s);
  ASSERT_TRUE(run.ended) << "launcher still running";
  EXPECT_EQ(run.exit_code, 0);

  const auto record = dir.ReadRecord("bin/xulrunner", 10s);
  ASSERT_TRUE(record) << "probe never ran; launcher said:\n" << run.stderr_text;
  const std::string exe = dir.root() + "/bin/xulrunner/quarven";
  EXPECT_EQ(record->at("cwd"), dir.root());
  std::vector<std::string> expected = {exe};
  expected.insert(expected.end(), c.expected_args.begin(), c.expected_args.end());
  ASSERT_EQ(record->at("argc"), std::to_string(expected.size()));
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(record->at("arg" + std::to_string(i)), expected[i]) << "argument " << i;

  // The launcher traced the command line it used, with the executable quoted.
  EXPECT_NE(run.stderr_text.find(" - \"" + exe + "\" bin/"), std::string::npos) << run.stderr_text;
}

INSTANTIATE_TEST_SUITE_P(
    Installation,
    LinuxLaunch,
    ::testing::Values(LaunchCase{"defaults",
                                 {},
                                 kPlain,
                                 {"bin/", "-contentLocale", "en-US", "-UILocale", "en-US"}},
                      LaunchCase{
                          "settings with Windows paths",
                          {},
                          "[resources]\r\nsplashDuration=0\r\n[app]\r\ninifile=conf\\app.ini\r\n"
                          "localization=fr-FR\r\n",
                          {"bin/conf/app.ini", "-contentLocale", "fr-FR", "-UILocale", "fr-FR"}},
                      LaunchCase{"extra arguments keep their quoting",
                                 {"-c", "x", "a b", "say \"hi\""},
                                 "[resources]\nsplashDuration=0\n[app]\nlocalization=de-DE\n",
                                 {"bin/", "-contentLocale", "de-DE", "-UILocale", "de-DE", "x",
                                  "a b", "say \"hi\""}},
                      LaunchCase{"silent switch is not passed on",
                                 {"-s"},
                                 kPlain,
                                 {"bin/", "-contentLocale", "en-US", "-UILocale", "en-US"}}),
    [](const ::testing::TestParamInfo<LaunchCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch)))
          ch = '_';
      return name;
    });

TEST(LinuxLaunchSettings, ExecutableNamedBySettings) {
  InstallDir dir("Quarven App");
  dir.WriteFile("bin/launcher.ini",
                std::string(kPlain) + "[app]\r\nxulrunner=runtime\\my probe\r\n");
  dir.InstallProbe("bin/runtime/my probe");
  const RunResult run = RunBounded(dir.launcher(), {}, {}, 20s);
  ASSERT_TRUE(run.ended);
  const auto record = dir.ReadRecord("bin/runtime", 10s);
  ASSERT_TRUE(record) << run.stderr_text;
  EXPECT_EQ(record->at("arg0"), dir.root() + "/bin/runtime/my probe");
}

// A script that waits on a silent launcher learns from the exit status whether
// the start failed; the trace line says why.
struct StatusCase {
  const char* name;
  const char* ini;
  bool app_installed;
  int status;
  const char* trace;
};

void PrintTo(const StatusCase& c, std::ostream* out) {
  *out << c.name;
}

class LinuxExitStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(LinuxExitStatus, SilentRunEndsWithTheStatusOfItsStart) {
  const StatusCase& c = GetParam();
  InstallDir dir("Quarven App");
  dir.WriteFile("bin/launcher.ini", c.ini);
  if (c.app_installed)
    dir.InstallProbe("bin/xulrunner/quarven");
  const RunResult run = RunBounded(dir.launcher(), {"-s"}, {}, 30s);
  ASSERT_TRUE(run.ended) << "launcher still running";
  EXPECT_EQ(run.exit_code, c.status) << run.stderr_text;
  EXPECT_NE(run.stderr_text.find(c.trace), std::string::npos) << run.stderr_text;
}

INSTANTIATE_TEST_SUITE_P(
    Silent,
    LinuxExitStatus,
    ::testing::Values(
        StatusCase{"application_ran", kPlain, true, 0, "Waiting for end of process ID: "},
        StatusCase{"application_missing", kPlain, false, 1,
                   "QUARVENlauncher StartQUARVENApp: #53 | File not found | launcher"},
        StatusCase{"settings_line_broken", "[resources]\r\nname\r\n", true, 1,
                   "QUARVENlauncher : #4646 | Invalid procedure call or argument"}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace launcher::testing
