#include <gtest/gtest.h>

#include <functional>

#include "fake_fixture.h"

namespace launcher {
namespace {

const std::string kBin = "C:\\Program Files\\Quarven\\bin\\";
const std::string kApp = kBin + "xulrunner\\quarven.exe";
constexpr std::uint32_t kPid = 4242;

class SplashTest : public FakeTest {
 protected:
  SplashTest() {
    fake.pictures[kBin + "splash.png"] = {270, 77};
    Settings("5");
  }

  void Settings(const std::string& duration, const std::string& picture = "splash.png") {
    WriteIni("[resources]\r\nname=Quarven\r\nsplash=" + picture + "\r\nsplashDuration=" + duration +
             "\r\n");
  }

  std::vector<std::string> Messages() const { return fake.TraceMessages(); }
  int Count(const std::string& message) const {
    const auto messages = Messages();
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
  }
  std::int64_t AppWindowAt(std::int64_t ms) {
    fake.AddWindow(0x500, kPid, "Quarven").appear_ms = ms;
    return ms;
  }
};

TEST_F(SplashTest, SplashIsSizedCentredTopmostWithThePicture) {
  RunMain();
  ASSERT_TRUE(g.gblnSplash);
  FakeForm* form = fake.OpenForm();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->visible);
  EXPECT_TRUE(form->topmost);
  EXPECT_EQ(form->activations, 1);
  EXPECT_FLOAT_EQ(form->width, 4155);
  EXPECT_FLOAT_EQ(form->height, 1275);
  EXPECT_FLOAT_EQ(form->left, (1280 * 15 - 4155) / 2.0f);
  EXPECT_FLOAT_EQ(form->top, (1024 * 15 - 1275) / 2.0f);
  EXPECT_EQ(form->frame_left, 0);
  EXPECT_EQ(form->frame_top, 0);
  EXPECT_EQ(form->frame_width, 277);
  EXPECT_EQ(form->frame_height, 85);
  EXPECT_EQ(form->picture_left, 4);
  EXPECT_EQ(form->picture_top, 4);
  EXPECT_EQ(form->picture_width, 270);
  EXPECT_EQ(form->timers[FrmSplash::kTmrQuit].interval_ms, 5000u);
  EXPECT_TRUE(form->timers[FrmSplash::kTmrQuit].enabled);
  EXPECT_EQ(form->timers[FrmSplash::kTmrCheckQvProcess].interval_ms, 100u);
  EXPECT_TRUE(form->timers[FrmSplash::kTmrCheckQvProcess].enabled);
  EXPECT_GE(fake.pumps, 1) << "painted before the start";
}

TEST_F(SplashTest, GeometryFollowsTheScreensResolution) {
  fake.screen = {2560, 1440, 7.5f, 7.5f};  // 192 DPI
  RunMain();
  FakeForm* form = fake.OpenForm();
  ASSERT_NE(form, nullptr);
  EXPECT_FLOAT_EQ(form->width, 277 * 7.5f);
  EXPECT_FLOAT_EQ(form->left, (2560 * 7.5f - 277 * 7.5f) / 2);
}

struct WindowTimingCase {
  const char* name;
  std::int64_t window_at;
  std::int64_t ends_at;
  int attempts;
  // The session's window list cannot tell whose windows are.
  bool cannot_tell = false;
};

class WindowTiming : public SplashTest, public ::testing::WithParamInterface<WindowTimingCase> {};

TEST_P(WindowTiming, LauncherEndsOnceTheWindowIsThere) {
  const WindowTimingCase& c = GetParam();
  if (c.window_at >= 0)
    AppWindowAt(c.window_at);
  if (c.cannot_tell)
    fake.window_list_gap = "the Wayland compositor tells no client whose window is whose";
  EXPECT_TRUE(RunLauncher());
  EXPECT_EQ(fake.now_ms, c.ends_at) << c.name;
  EXPECT_EQ(Count("tmrQuit execute..."), 1);
  int attempts = 0;
  for (const std::string& m : Messages())
    attempts += m.rfind("Attempt ", 0) == 0;
  EXPECT_EQ(attempts, c.attempts) << c.name;
  EXPECT_EQ(Count("Window list cannot be read in this session (the Wayland compositor tells no "
                  "client whose window is whose): a running application counts as having its "
                  "window"),
            c.cannot_tell ? 1 : 0);
  EXPECT_EQ(Messages().back(), "App Stop...");
  EXPECT_FALSE(fake.OpenForm()) << "splash closed";
  EXPECT_TRUE(fake.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases,
                         WindowTiming,
                         ::testing::Values(WindowTimingCase{"before", 2000, 5000, 1},
                                           WindowTimingCase{"at", 5000, 5000, 1},
                                           WindowTimingCase{"after", 8000, 8300, 4},
                                           WindowTimingCase{"never", -1, 5000 + 60 * 1100, 61},
                                           // No minute-long splash where nothing can tell.
                                           WindowTimingCase{"untold", -1, 5000, 1, true},
                                           WindowTimingCase{"untold_after", 8000, 5000, 1, true}));

TEST_F(SplashTest, ApplicationEndingEarlyEndsTheLauncherWithin100ms) {
  fake.started_app_lifetime_ms = 2050;
  EXPECT_TRUE(RunLauncher());
  EXPECT_GE(fake.now_ms, 2050);
  EXPECT_LE(fake.now_ms, 2150);
  const auto messages = Messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2], "tmrCheckQvProcess: 4242 no longer running, exiting...");
  EXPECT_EQ(messages.back(), "App Stop...");
  EXPECT_EQ(Count("tmrQuit execute..."), 0);
}

TEST_F(SplashTest, ApplicationEndingDuringTheWaitEndsItToo) {
  fake.started_app_lifetime_ms = 9000;
  EXPECT_TRUE(RunLauncher());
  EXPECT_GE(fake.now_ms, 9000);
  EXPECT_LE(fake.now_ms, 9100);
  EXPECT_EQ(Messages().back(), "App Stop...");
}

TEST_F(SplashTest, ClickDuringTheDurationStartsClosingAtOnce) {
  AppWindowAt(0);
  fake.clicks = {2000};
  EXPECT_TRUE(RunLauncher());
  EXPECT_EQ(fake.now_ms, 2000);
  EXPECT_EQ(Count("tmrQuit execute..."), 1);
}

TEST_F(SplashTest, ClickBeforeTheLaunchReturnedOnlyRearms) {
  // A click already queued when the splash is first painted runs before the start.
  AppWindowAt(0);
  fake.clicks = {0};
  EXPECT_TRUE(RunLauncher());
  EXPECT_EQ(Count("tmrQuit execute..."), 2);
  EXPECT_EQ(fake.now_ms, 500) << "re-armed to 500 ms, then the closing run";
  const auto messages = Messages();
  EXPECT_EQ(messages[2], "tmrQuit execute...");
  EXPECT_EQ(messages[3], "\"" + kApp + "\" bin\\ -contentLocale en-US -UILocale en-US")
      << "the click ran before the start";
}

TEST_F(SplashTest, RepeatedClicksDuringTheWaitCannotPostponeTheEnd) {
  for (std::int64_t at = 6000; at < 200000; at += 700)
    fake.clicks.push_back(at);
  EXPECT_TRUE(RunLauncher());
  EXPECT_EQ(fake.now_ms, 5000 + 60 * 1100) << "one full wait after the first closing run";
  EXPECT_GT(Count("tmrQuit execute..."), 50);
  EXPECT_EQ(Count("Waiting for window of process ID: 4242"), 1);
}

TEST_F(SplashTest, ClickDuringTheWaitAfterClickStartsNoSecondWait) {
  fake.clicks = {1000, 1500};
  AppWindowAt(4000);
  EXPECT_TRUE(RunLauncher());
  EXPECT_EQ(fake.now_ms, 1000 + 3 * 1100);
  EXPECT_EQ(Count("Waiting for window of process ID: 4242"), 1);
  EXPECT_EQ(Count("tmrQuit execute..."), 2);
}

TEST_F(SplashTest, SnapshotFailureInTheWatchShowsBoxWithoutAppStop) {
  // The process services fail from the moment Main has returned. While the
  // application runs the watch looks it up alone, so the path query is
  // what it meets.
  RunMain();
  fake.Fail(FakeService::kProcessImagePath, kErrOutOfMemory);
  EXPECT_NO_THROW(fake.RunEventLoop());
  EXPECT_FALSE(fake.ended) << "ends by running out of forms, not at once";
  EXPECT_EQ(fake.now_ms, 100);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find("Details: QUARVENlauncher tmrCheckQvProcess: Out of memory "
                                    "(modProcManager.funGetPoccessListError)"),
            std::string::npos);
  EXPECT_EQ(Count("App Stop..."), 0);
  EXPECT_FALSE(fake.OpenForm());
}

TEST_F(SplashTest, FailingListingIsMetOnceTheApplicationHasGone) {
  // Listing every process is only needed when the started one has gone.
  fake.started_app_lifetime_ms = 1000;
  RunMain();
  fake.Fail(FakeService::kEnumProcesses, kErrOutOfMemory);
  EXPECT_NO_THROW(fake.RunEventLoop());
  EXPECT_EQ(fake.now_ms, 1000);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find("Details: QUARVENlauncher tmrCheckQvProcess: Out of memory "
                                    "(modProcManager.funGetPoccessListError)"),
            std::string::npos);
  EXPECT_EQ(Count("App Stop..."), 0);
}

struct DurationCase {
  const char* value;
  bool splash;
  std::uint32_t interval_ms;
  const char* failure;  // nullptr: no box
};

class Durations : public SplashTest, public ::testing::WithParamInterface<DurationCase> {};

TEST_P(Durations, DurationDecidesTheSplash) {
  const DurationCase& c = GetParam();
  Settings(c.value);
  const bool ended_in_main = RunMain();
  EXPECT_EQ(g.gblnSplash, c.splash) << c.value;
  EXPECT_EQ(fake.starts.size(), 1u) << "the application is started in every case";
  if (c.splash) {
    EXPECT_FALSE(ended_in_main);
    EXPECT_EQ(fake.OpenForm()->timers[FrmSplash::kTmrQuit].interval_ms, c.interval_ms);
  } else {
    EXPECT_TRUE(ended_in_main) << "no splash: the launcher ends right after the start";
    EXPECT_EQ(fake.OpenForm(), nullptr);
  }
  if (c.failure == nullptr) {
    EXPECT_TRUE(fake.boxes.empty()) << c.value;
  } else {
    ASSERT_EQ(fake.boxes.size(), 1u) << c.value;
    EXPECT_NE(fake.boxes[0].text.find(std::string("Details: QUARVENlauncher DisplaySplash: ") +
                                      c.failure + " (launcher)"),
              std::string::npos)
        << fake.boxes[0].text;
  }
}

INSTANTIATE_TEST_SUITE_P(Values,
                         Durations,
                         ::testing::Values(DurationCase{"0", false, 0, nullptr},
                                           DurationCase{"-3", false, 0, nullptr},
                                           DurationCase{" 7 ", true, 7000, nullptr},
                                           DurationCase{"2.5", true, 2000, nullptr},
                                           DurationCase{"3.5", true, 4000, nullptr},
                                           DurationCase{"abc", false, 0, "Type mismatch"},
                                           DurationCase{"", true, 5000, nullptr},
                                           DurationCase{"40000", false, 0, "Overflow"},
                                           DurationCase{"-40000", false, 0, "Overflow"},
                                           DurationCase{"32767", true, 32767000, nullptr},
                                           DurationCase{"32767.5", false, 0, "Overflow"},
                                           DurationCase{"-32768.5", false, 0, nullptr},
                                           DurationCase{"-0.5", false, 0, nullptr},
                                           DurationCase{"0.51", true, 1000, nullptr},
                                           DurationCase{"1e400", false, 0, "Overflow"},
                                           DurationCase{"0x10", false, 0, "Type mismatch"},
                                           DurationCase{"inf", false, 0, "Type mismatch"}));

struct PictureCase {
  const char* setting;
  const char* failure;
};

class Pictures : public SplashTest, public ::testing::WithParamInterface<PictureCase> {};

TEST_P(Pictures, UnloadablePictureShowsBoxNoSplashAndStillStarts) {
  const PictureCase& c = GetParam();
  fake.files[kBin + "notapicture.png"] = {"plain text"};
  Settings("5", c.setting);
  EXPECT_TRUE(RunMain());
  EXPECT_FALSE(g.gblnSplash);
  EXPECT_EQ(fake.starts.size(), 1u);
  EXPECT_EQ(fake.OpenForm(), nullptr) << "the half-made splash is gone";
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find(std::string("DisplaySplash: ") + c.failure), std::string::npos);
  EXPECT_EQ(Messages().back(), "App Stop...");
}

INSTANTIATE_TEST_SUITE_P(Files,
                         Pictures,
                         ::testing::Values(PictureCase{"missing.png", "File not found"},
                                           PictureCase{"notapicture.png", "Invalid picture"},
                                           PictureCase{"", "File not found"}));

TEST_F(SplashTest, SplashKeyIsNotTakenFromTheDurationLine) {
  WriteIni("[resources]\r\nsplashDuration=3\r\nsplash=splash.png\r\n");
  RunMain();
  EXPECT_TRUE(g.gblnSplash);
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(SplashTest, StartFailureClosesTheSplashAndTheLauncherEnds) {
  fake.Fail(FakeService::kStartProgram, kErrFileNotFound);
  EXPECT_FALSE(RunLauncher());
  EXPECT_FALSE(fake.event_loop_stalled);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.OpenForm(), nullptr);
  EXPECT_TRUE(g.gblnSplash) << "kept: Main returns and the process ends with no form left";
}

TEST_F(SplashTest, TopmostFailureWhileAFailureIsHandledStillClosesTheSplashAndShowsOneBox) {
  fake.Fail(FakeService::kSetTopmost, kErrOutOfMemory);
  fake.Fail(FakeService::kStartProgram, kErrFileNotFound);
  EXPECT_NO_THROW(RunLauncher());
  EXPECT_EQ(fake.OpenForm(), nullptr) << "the splash is gone";
  ASSERT_EQ(fake.boxes.size(), 1u) << "reported once, by the launch";
  EXPECT_NE(fake.boxes[0].text.find("Details: QUARVENlauncher StartQUARVENApp: File not found "
                                    "(launcher)"),
            std::string::npos);
  EXPECT_EQ(Count("QUARVENlauncher StartQUARVENApp: #53 | File not found | launcher"), 1);
  EXPECT_FALSE(fake.event_loop_stalled);
}

TEST_F(SplashTest, TopmostFailureIsIgnored) {
  fake.Fail(FakeService::kSetTopmost, kErrOutOfMemory);
  AppWindowAt(0);
  EXPECT_TRUE(RunLauncher());
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(fake.now_ms, 5000);
}

struct DensityCase {
  const char* name;
  float scale;
  // The size of splash@2x.png when it loads; {0, 0} when the file holds no
  // picture, {-1, -1} when there is no such file.
  std::pair<int, int> sharp;
  bool sharp_shown;
  const char* trace;  // the end of the trace line; empty for none
};

class Densities : public SplashTest, public ::testing::WithParamInterface<DensityCase> {};

TEST_P(Densities, DoubleDensityPictureStandsInOnlyWhereItFits) {
  const DensityCase& c = GetParam();
  fake.screen.scale = c.scale;
  const std::string sharp = kBin + "splash@2x.png";
  if (c.sharp.first >= 0)
    fake.files[sharp] = FakeFile{};
  if (c.sharp.first > 0)
    fake.pictures[sharp] = c.sharp;
  RunMain();
  FakeForm* form = fake.OpenForm();
  ASSERT_NE(form, nullptr) << "a splash is shown whatever the sharper picture is";
  EXPECT_EQ(form->picture_density, c.sharp_shown ? 2 : 1);
  EXPECT_EQ(form->picture_width, c.sharp_shown ? 540 : 270);
  EXPECT_EQ(form->picture_left, 4);
  EXPECT_FLOAT_EQ(form->width, 4155) << "the form's size is the same at every scale";
  const std::string prefix = "DisplaySplash: " + sharp + " not used, the picture is scaled: ";
  int traced = 0;
  for (const std::string& message : Messages())
    traced += message.rfind(prefix, 0) == 0 ? 1 : 0;
  if (*c.trace == '\0') {
    EXPECT_EQ(traced, 0);
  } else {
    EXPECT_EQ(Count(prefix + c.trace), 1);
  }
  EXPECT_TRUE(fake.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    SplashTest,
    Densities,
    ::testing::Values(
        DensityCase{"Scale1", 1, {540, 154}, false, ""},
        DensityCase{"Scale150", 1.5F, {540, 154}, false, ""},
        DensityCase{"Scale175", 1.75F, {540, 154}, true, ""},
        DensityCase{"Scale2", 2, {540, 154}, true, ""},
        DensityCase{"Scale3", 3, {540, 154}, true, ""},
        DensityCase{"Missing", 2, {-1, -1}, false, "no such file"},
        DensityCase{"NoPicture", 2, {0, 0}, false, "Invalid picture"},
        DensityCase{"SameSize", 2, {270, 77}, false, "270 x 77 pixels, not twice 270 x 77"},
        DensityCase{"OneOff", 2, {541, 154}, false, "541 x 154 pixels, not twice 270 x 77"},
        // Within four times the pixels of a picture, beyond those of one.
        DensityCase{"LargeButTaken",
                    2,
                    {8192, 8192},
                    false,
                    "8192 x 8192 pixels, not twice 270 x 77"},
        DensityCase{"Huge",
                    2,
                    {20000, 20000},
                    false,
                    "Invalid picture (20000 x 20000 pixels; at most 67108864 pixels, and 32767 on "
                    "a side, are taken)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SplashTest, DoubleDensityPictureIsNotLookedForAtOneHundredPercent) {
  RunMain();
  EXPECT_EQ(fake.loaded_pictures, std::vector<std::string>{kBin + "splash.png"});
}

TEST_F(SplashTest, SplashIsNamedForAssistiveTechnology) {
  RunMain();
  FakeForm* form = fake.OpenForm();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->accessible_name, "Quarven");
}

struct FocusCase {
  const char* name;
  std::string args;
  std::function<void(FakePlatform&)> prepare;
  std::vector<std::string> log;
};

class Focus : public SplashTest, public ::testing::WithParamInterface<FocusCase> {};

// The application may come to the front once started; a box after the
// splash is granted the foreground while the splash is still the active
// window, before it closes.
TEST_P(Focus, IsHandedOnInItsOrder) {
  const FocusCase& c = GetParam();
  fake.command_line = c.args;
  c.prepare(fake);
  fake.started_app_lifetime_ms = 20000;
  AppWindowAt(500);
  RunLauncher();
  EXPECT_EQ(fake.focus_log, c.log);
}

INSTANTIATE_TEST_SUITE_P(
    SplashTest,
    Focus,
    ::testing::Values(FocusCase{"Splash", "", [](FakePlatform&) {}, {"allow 4242", "close form"}},
                      FocusCase{"Silent", "-s", [](FakePlatform&) {}, {"allow 4242"}},
                      FocusCase{"StartFails",
                                "",
                                [](FakePlatform& f) {
                                  f.Fail(FakeService::kStartProgram, kErrFileNotFound);
                                },
                                {"allow 0", "close form", "box"}},
                      FocusCase{"PictureFailsThenStarts",
                                "",
                                [](FakePlatform& f) { f.pictures.clear(); },
                                {"allow 0", "close form", "box", "allow 4242"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace launcher
