#include <algorithm>

#include <gtest/gtest.h>

#include "core/waits.h"
#include "fake_fixture.h"

namespace launcher {
namespace {

constexpr std::uint32_t kPid = 968;
const std::string kApp = "C:\\Program Files\\Quarven\\bin\\xulrunner\\quarven.exe";

class WaitsTest : public FakeTest {
 protected:
  FakeProcess& StartApp(std::int64_t lifetime_ms = kForever) {
    FakeProcess& app = fake.AddProcess(kPid, kApp);
    if (lifetime_ms != kForever)
      app.end_ms = fake.now_ms + lifetime_ms;
    return app;
  }
  std::vector<std::string> Attempts() const {
    std::vector<std::string> attempts;
    for (const std::string& m : fake.TraceMessages())
      if (m.rfind("Attempt ", 0) == 0)
        attempts.push_back(m);
    return attempts;
  }
};

TEST_F(WaitsTest, PauseNeverReturnsEarlyAndIgnoresTheWallClock) {
  for (double seconds : {0.0, 0.05, 1.0, 5.0}) {
    const std::int64_t start = fake.now_ms;
    fake.on_pump = [&] { fake.utc_ms -= 3600 * 1000; };  // the wall clock jumps back
    Pause(seconds);
    const std::int64_t took = fake.now_ms - start;
    EXPECT_GT(took, seconds * 1000) << seconds;
    EXPECT_LE(took, seconds * 1000 + 100) << seconds;
    EXPECT_EQ(fake.pumps, fake.sleeps) << "one pump after every sleep";
  }
  fake.on_pump = [&] { fake.utc_ms += 3600 * 1000; };  // and forward
  const std::int64_t start = fake.now_ms;
  Pause(1);
  EXPECT_EQ(fake.now_ms - start, 1100);
}

TEST_F(WaitsTest, FailingPauseEndsQuietly) {
  fake.Fail(FakeService::kSleep, kErrOutOfMemory);
  Pause(1);
  EXPECT_TRUE(fake.trace.empty());
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(WaitsTest, EndWaitForAnAppAlreadyGone) {
  subWaitForQUARVENAppEnd(kPid, kApp);
  EXPECT_EQ(fake.TraceMessages(), (std::vector<std::string>{"Waiting for end of process ID: 968"}));
  EXPECT_EQ(fake.now_ms, 5100 + 1100) << "5 s, then one 1 s pause and one snapshot";
  EXPECT_EQ(fake.enum_process_sizes.size(), 1u);
}

TEST_F(WaitsTest, EndWaitOutlastsEveryInstanceOfTheExecutable) {
  StartApp(3000);
  // A second instance from the same file, path in other letter case.
  fake.AddProcess(1200, "c:\\PROGRAM FILES\\quarven\\BIN\\xulrunner\\QUARVEN.EXE").end_ms = 12000;
  subWaitForQUARVENAppEnd(kPid, kApp);
  EXPECT_GE(fake.now_ms, 12000);
  EXPECT_LE(fake.now_ms, 12000 + 1100);
}

TEST_F(WaitsTest, InstanceInACyrillicFolderWrittenInAnotherCaseIsTheApplication) {
  // Installed under C:\Программы\Квартал; the second instance's path comes
  // back from the system in capitals.
  fake.exe_folder = "C:\\Программы\\Квартал";
  fake.command_line = "-s";
  fake.started_app_lifetime_ms = 3000;
  fake.AddProcess(1200, "C:\\ПРОГРАММЫ\\КВАРТАЛ\\BIN\\XULRUNNER\\QUARVEN.EXE").end_ms = 12000;
  EXPECT_TRUE(RunMain());
  EXPECT_GE(fake.now_ms, 12000) << "the launcher ended before the second instance";
  EXPECT_LE(fake.now_ms, 12000 + 1100);
  EXPECT_EQ(fake.exit_status, 0);
}

TEST_F(WaitsTest, EndWaitFailureShowsTheBoxAndReturns) {
  // The lookup of the running application fails, and then, once it has
  // gone, the listing of every process.
  for (const FakeService service : {FakeService::kProcessImagePath, FakeService::kEnumProcesses}) {
    SCOPED_TRACE(static_cast<int>(service));
    fake.processes.clear();
    fake.boxes.clear();
    StartApp(service == FakeService::kEnumProcesses ? 7000 : kForever);
    fake.Fail(service, kErrOutOfMemory);
    subWaitForQUARVENAppEnd(kPid, kApp);
    fake.Heal(service);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_NE(fake.boxes[0].text.find("Details: QUARVENlauncher subWaitForQUARVENAppEnd: Out of "
                                      "memory (modProcManager.funGetPoccessListError)"),
              std::string::npos);
  }
}

TEST_F(WaitsTest, OpenWaitRunsSixtyOnePassesWithoutAWindow) {
  StartApp();
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  const auto attempts = Attempts();
  ASSERT_EQ(attempts.size(), 61u);
  EXPECT_EQ(attempts.front(), "Attempt 0");
  EXPECT_EQ(attempts.back(), "Attempt 60");
  EXPECT_EQ(fake.TraceMessages().front(), "Waiting for window of process ID: 968");
  EXPECT_EQ(fake.now_ms, 60 * 1100) << "60 pauses";
}

TEST_F(WaitsTest, OpenWaitWithNoOrNegativeMaximumMakesOnePass) {
  StartApp();
  for (std::int16_t max : {0, -1, -32768}) {
    fake.trace.clear();
    subWaitForQUARVENAppOpen(kPid, kApp, max);
    EXPECT_EQ(Attempts(), (std::vector<std::string>{"Attempt 0"})) << max;
  }
  EXPECT_EQ(fake.now_ms, 0);
}

TEST_F(WaitsTest, OpenWaitEndsAtOnceOnAWindowAlreadyThere) {
  StartApp();
  fake.AddWindow(0x10, kPid, "Quarven");
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  EXPECT_EQ(Attempts().size(), 1u);
  EXPECT_EQ(fake.sleeps, 0);
}

TEST_F(WaitsTest, OpenWaitEndsOnTheWindowOfAnotherInstance) {
  StartApp();
  fake.AddProcess(1200, "C:\\program files\\quarven\\bin\\xulrunner\\quarven.exe");
  fake.AddWindow(0x10, 1200, "Quarven").appear_ms = 3500;
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  EXPECT_EQ(Attempts().size(), 5u);
}

TEST_F(WaitsTest, OpenWaitReturnsWithoutWindowScanWhenAppIsGone) {
  fake.AddWindow(0x10, kPid, "Quarven");
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  EXPECT_EQ(Attempts(), (std::vector<std::string>{"Attempt 0"}));
  EXPECT_EQ(fake.sleeps, 0);
}

TEST_F(WaitsTest, OpenWaitIgnoresTheSplashWindow) {
  // The splash belongs to the launcher, which runs from the application's
  // file here, so only the skip keeps it from ending the wait.
  class Splash : public SplashWindowLink {
   public:
    bool IsOpen() override { return true; }
    WindowHandle Handle() override { return 0x99; }
    void LeaveTopmost() override {}
    void Close() override {}
  } splash;
  SetSplashWindowLink(&splash);
  StartApp();
  fake.AddWindow(0x99, kPid, "Splash");
  subWaitForQUARVENAppOpen(kPid, kApp, 3);
  EXPECT_EQ(Attempts().size(), 4u);
}

TEST_F(WaitsTest, EmptyPathMatchesOnlyById) {
  fake.AddProcess(kPid, "");
  fake.AddProcess(1200, "");  // a process whose path is unknown is not the app
  fake.processes[0].end_ms = 2500;
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  // Passes at 0, 1.1, 2.2 s find it by id; the one at 3.3 s finds it gone.
  EXPECT_EQ(Attempts().size(), 4u);
}

TEST_F(WaitsTest, ProgramEndedFromAnEventDuringTheWait) {
  StartApp();
  fake.on_pump = [&] {
    if (fake.now_ms >= 2500)
      fake.EndProgram(0);
  };
  EXPECT_THROW(subWaitForQUARVENAppOpen(kPid, kApp, 60), ProgramEnded);
  EXPECT_EQ(Attempts().size(), 3u);
  EXPECT_TRUE(fake.ended);
}

TEST_F(WaitsTest, WindowListFailureIsReportedByTheWait) {
  StartApp();
  fake.Fail(FakeService::kEnumWindows, kErrOutOfMemory);
  g.gstrAppName = "Quarven";
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find("Details: QUARVENlauncher subWaitForQUARVENAppOpen: Out of "
                                    "memory (modProcManager.funGetWindowListError)"),
            std::string::npos);
}

// Where the window list cannot tell, it is not asked: a running application
// counts as shown at the first pass, the reason traced once per run; one that
// has gone ends the wait as before, before the window list is thought of.
TEST_F(WaitsTest, SessionThatCannotTellIsNeverAskedForWindows) {
  const std::string line =
      "Window list cannot be read in this session (no X display is named (DISPLAY is unset)): a "
      "running application counts as having its window";
  fake.window_list_gap = "no X display is named (DISPLAY is unset)";
  fake.Fail(FakeService::kEnumWindows, kErrOutOfMemory);
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  EXPECT_EQ(fake.window_list_gap_calls, 0) << "the application had gone";
  StartApp();
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  EXPECT_EQ(Attempts(), (std::vector<std::string>{"Attempt 0", "Attempt 0", "Attempt 0"}));
  const auto messages = fake.TraceMessages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), line), 1);
  EXPECT_EQ(fake.sleeps, 0);
  EXPECT_TRUE(fake.boxes.empty()) << "the window list was asked after all";
}

struct IncompleteCase {
  const char* name;
  std::int64_t trouble_until_ms;  // the window list is incomplete before this
  std::int64_t window_at_ms;      // -1: the application never shows one
  std::size_t attempts;
  bool given_up;
};

void PrintTo(const IncompleteCase& c, std::ostream* out) {
  *out << c.name;
}

class IncompleteList : public WaitsTest, public ::testing::WithParamInterface<IncompleteCase> {};

// A pass whose list missed some windows (a compositor failing or too slow) is
// no failure and no sight of the window; three in a row count as the window
// shown, so that a broken compositor holds the splash a few seconds, not a minute.
TEST_P(IncompleteList, IsNoFailureAndEndsTheWaitAfterThreePassesInARow) {
  const IncompleteCase& c = GetParam();
  StartApp();
  fake.window_list_trouble = "sway IPC: no answer within 2000 ms";
  fake.window_list_trouble_until_ms = c.trouble_until_ms;
  if (c.window_at_ms >= 0)
    fake.AddWindow(0x10, kPid, "Quarven").appear_ms = c.window_at_ms;
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  EXPECT_EQ(Attempts().size(), c.attempts);
  const auto messages = fake.TraceMessages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(),
                       "Window list incomplete (sway IPC: no answer within 2000 ms): this pass "
                       "cannot tell"),
            c.trouble_until_ms > 0 && c.window_at_ms != 0 ? 1 : 0);
  EXPECT_EQ(std::count(messages.begin(), messages.end(),
                       "Window list incomplete at 3 passes in a row: a running application counts "
                       "as having its window"),
            c.given_up ? 1 : 0);
  EXPECT_TRUE(fake.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    IncompleteList,
    ::testing::Values(IncompleteCase{"every_pass", kForever, -1, 3, true},
                      IncompleteCase{"window_seen_all_the_same", kForever, 0, 1, false},
                      IncompleteCase{"two_passes_then_whole", 2000, -1, 61, false},
                      IncompleteCase{"one_pass_then_the_window", 500, 3000, 4, false},
                      IncompleteCase{"never", 0, -1, 61, false}),
    [](const ::testing::TestParamInfo<IncompleteCase>& info) {
      return std::string(info.param.name);
    });

// Where the session cannot tell, an application it can tell all the same (an
// X11 client, whose windows the X server shows) has its window waited for.
TEST_F(WaitsTest, ApplicationTheSessionCanTellAllTheSameHasItsWindowWaitedFor) {
  fake.window_list_gap = "the Wayland compositor of GNOME tells no client whose window is whose";
  fake.window_list_sees = {kPid};
  StartApp();
  fake.AddWindow(0x10, kPid, "Quarven").appear_ms = 3000;
  subWaitForQUARVENAppOpen(kPid, kApp, 60);
  EXPECT_EQ(Attempts().size(), 4u);
  const auto messages = fake.TraceMessages();
  EXPECT_EQ(
      std::count(messages.begin(), messages.end(),
                 "Window list cannot be read in this session (the Wayland compositor of GNOME "
                 "tells no client whose window is whose), but the application is an X11 "
                 "client: its window is waited for"),
      1);
}

TEST_F(WaitsTest, SilentRunWaitsForTheEndWithoutAnyWindow) {
  fake.command_line = "-s";
  fake.started_app_lifetime_ms = 8000;
  EXPECT_TRUE(RunMain());
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_GE(fake.now_ms, 8000);
  EXPECT_LE(fake.now_ms, 8000 + 1100);
  const auto messages = fake.TraceMessages();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[1], "Silent Mode: True");
  EXPECT_EQ(messages[3], "Waiting for end of process ID: 4242");
  EXPECT_EQ(messages[4], "App Stop...");
}

TEST_F(WaitsTest, SilentRunWithFailedStartDoesNotWait) {
  fake.command_line = "-s";
  fake.Fail(FakeService::kStartProgram, kErrFileNotFound);
  EXPECT_TRUE(RunMain());
  EXPECT_EQ(fake.now_ms, 0);
  EXPECT_TRUE(fake.boxes.empty());
}

}  // namespace
}  // namespace launcher
