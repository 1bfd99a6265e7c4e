// The exit status of whole runs in every mode: 1 once the error routine has
// reported a failure (a box, or its trace line in silent mode), else 0.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "fake_fixture.h"

namespace launcher {
namespace {

const std::string kBin = "C:\\Program Files\\Quarven\\bin\\";
constexpr const char* kPlain = "[resources]\r\nsplashDuration=0\r\n";
constexpr const char* kSplash = "[resources]\r\nsplash=splash.png\r\nsplashDuration=5\r\n";

struct StatusCase {
  const char* name;
  const char* command_line;
  const char* ini;
  std::function<void(FakePlatform&)> machine;  // failures and timings of the run
  int status;
  int boxes;
  const char* last_trace;  // how the run ended
};

void PrintTo(const StatusCase& c, std::ostream* out) {
  *out << c.name;
}

class ExitStatusTest : public FakeTest, public ::testing::WithParamInterface<StatusCase> {
 protected:
  ExitStatusTest() {
    fake.pictures[kBin + "splash.png"] = {270, 77};
    // The application shows its window 2 s after the start, unless a case says otherwise.
    fake.AddWindow(0x500, 4242, "Quarven").appear_ms = 2000;
  }
};

TEST_P(ExitStatusTest, StatusTellsWhetherAFailureWasReported) {
  const StatusCase& c = GetParam();
  fake.command_line = c.command_line;
  WriteIni(c.ini);
  if (c.machine)
    c.machine(fake);
  EXPECT_EQ(RunToExitStatus(), c.status);
  EXPECT_EQ(static_cast<int>(fake.boxes.size()), c.boxes);
  const auto messages = fake.TraceMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().rfind(c.last_trace, 0), 0u) << messages.back();
}

void FailStart(FakePlatform& fake) {
  fake.Fail(FakeService::kStartProgram, kErrFileNotFound);
}

INSTANTIATE_TEST_SUITE_P(
    Runs,
    ExitStatusTest,
    ::testing::Values(
        // Plain: no splash, the launcher ends right after the start.
        StatusCase{"plain_started", "", kPlain, nullptr, 0, 0, "App Stop..."},
        StatusCase{"plain_settings_line_broken", "", "[resources]\r\nname\r\n", nullptr, 1, 1,
                   "QUARVENlauncher : #4646"},
        StatusCase{"plain_command_line_ends_in_switch", "x -c", kPlain, nullptr, 1, 1,
                   "QUARVENlauncher : #5"},
        StatusCase{"plain_application_missing", "", kPlain, FailStart, 1, 1, "App Stop..."},
        StatusCase{"plain_application_setting_broken", "",
                   "[resources]\r\nsplashDuration=0\r\n[app]\r\nxulrunner\r\n", nullptr, 1, 1,
                   "App Stop..."},
        // Splash: the timers end the launcher, or it runs out of forms.
        StatusCase{"splash_window_appears", "", kSplash, nullptr, 0, 0, "App Stop..."},
        StatusCase{"splash_application_ends_early", "", kSplash,
                   [](FakePlatform& fake) { fake.started_app_lifetime_ms = 1000; }, 0, 0,
                   "App Stop..."},
        StatusCase{"splash_no_window_ever", "", kSplash,
                   [](FakePlatform& fake) { fake.windows.clear(); }, 0, 0, "App Stop..."},
        StatusCase{"splash_picture_missing", "",
                   "[resources]\r\nsplash=gone.png\r\nsplashDuration=5\r\n", nullptr, 1, 1,
                   "App Stop..."},
        StatusCase{"splash_duration_not_a_number", "",
                   "[resources]\r\nsplash=splash.png\r\nsplashDuration=abc\r\n", nullptr, 1, 1,
                   "App Stop..."},
        StatusCase{"splash_application_missing", "", kSplash, FailStart, 1, 1,
                   "QUARVENlauncher StartQUARVENApp: #53"},
        StatusCase{
            "splash_snapshot_fails_in_the_watch", "", kSplash,
            [](FakePlatform& fake) { fake.Fail(FakeService::kProcessImagePath, kErrOutOfMemory); },
            1, 1, "QUARVENlauncher tmrCheckQvProcess: #4646"},
        StatusCase{
            "splash_window_wait_fails", "", kSplash,
            [](FakePlatform& fake) { fake.Fail(FakeService::kEnumWindows, kErrOutOfMemory); }, 1, 1,
            "App Stop..."},
        StatusCase{"splash_box_cannot_be_shown", "", kSplash,
                   [](FakePlatform& fake) {
                     FailStart(fake);
                     fake.Fail(FakeService::kShowMessageBox, kErrOutOfMemory);
                   },
                   1, 0, "QUARVENlauncher StartQUARVENApp: #53"},
        // Silent: never a box, only the trace line.
        StatusCase{"silent_application_ends", "-s", kPlain,
                   [](FakePlatform& fake) { fake.started_app_lifetime_ms = 8000; }, 0, 0,
                   "App Stop..."},
        StatusCase{"silent_application_missing", "-s", kPlain, FailStart, 1, 0, "App Stop..."},
        StatusCase{"silent_settings_line_broken", "-s", "[resources]\r\nname\r\n", nullptr, 1, 0,
                   "QUARVENlauncher : #4646"},
        StatusCase{
            "silent_end_wait_fails", "-s", kPlain,
            [](FakePlatform& fake) { fake.Fail(FakeService::kProcessImagePath, kErrOutOfMemory); },
            1, 0, "App Stop..."}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

class FreshRunTest : public FakeTest {};

TEST_F(FreshRunTest, StatusIsNotCarriedIntoAFreshRun) {
  fake.Fail(FakeService::kStartProgram, kErrFileNotFound);
  EXPECT_EQ(RunToExitStatus(), 1);
  ResetState();
  fake.Heal(FakeService::kStartProgram);
  EXPECT_EQ(RunToExitStatus(), 0);
}

}  // namespace
}  // namespace launcher
