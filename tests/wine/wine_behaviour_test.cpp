// launcher.exe under Wine, watched through the debug API by wine_driver.exe:
// its trace lines, its startup-error box (read and answered with OK), silent
// mode, and the splash on screen.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "wine_drive.h"
#include "wine_install.h"

namespace launcher::wine_testing {
namespace {

using launcher::testing::ReadNumber;
using launcher::testing::SolidBmp;
using launcher::testing::WallMs;

using namespace std::chrono_literals;

// The user's language for the Wine runs of one test.
class Language {
 public:
  explicit Language(const char* lang) { setenv("LAUNCHER_TEST_LANG", lang, 1); }
  ~Language() { unsetenv("LAUNCHER_TEST_LANG"); }
};

// When the launcher traced `message` (its own clock, UTC, as epoch ms): what
// it did is bounded from there, not from when Wine had torn it down.
std::optional<std::int64_t> TracedAtMs(const Seen& seen, const std::string& message) {
  std::istringstream lines(seen.output);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const std::size_t dash = line.find(" - ");
    std::tm at{};
    int ms = 0;
    if (line.rfind("trace ", 0) != 0 || dash == std::string::npos || dash < 17 ||
        line.substr(dash + 3) != message ||
        std::sscanf(line.c_str() + dash - 17, "%2d%2d%2d.%2d%2d%2d.%3d", &at.tm_year, &at.tm_mon,
                    &at.tm_mday, &at.tm_hour, &at.tm_min, &at.tm_sec, &ms) != 7)
      continue;
    at.tm_year += 100;
    at.tm_mon -= 1;
    return std::int64_t{timegm(&at)} * 1000 + ms;
  }
  return std::nullopt;
}

// The number the probe writes to `path`, once it has: the launcher may have
// seen the window before the probe noted it.
std::optional<std::int64_t> NumberOnceWritten(const std::string& path) {
  for (int tries = 0; tries < 100; ++tries) {
    if (const auto number = ReadNumber(path))
      return number;
    std::this_thread::sleep_for(100ms);
  }
  return std::nullopt;
}

constexpr const char* kPlain = "[resources]\r\nsplashDuration=0\r\n";
const std::string kEnglishText =
    "QUARVENlauncher was unable to start correctly.\\nPlease reinstall the "
    "application.\\n\\nDetails: ";

TEST(WineStartupError, MissingApplicationInEnglish) {
  Language english("en_US.UTF-8");
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", kPlain);
  const Seen seen = Drive(install, {});
  ASSERT_EQ(seen.exit_code, 1) << seen.output;
  ASSERT_EQ(seen.boxes.size(), 1u) << seen.output;
  EXPECT_EQ(seen.boxes[0], "QUARVENlauncher startup error|" + kEnglishText +
                               "QUARVENlauncher StartQUARVENApp: File not found (launcher)");
  EXPECT_TRUE(Traced(seen, "QUARVENlauncher StartQUARVENApp: #53 | File not found | launcher"))
      << seen.output;
  EXPECT_EQ(seen.traces.front(), "App Start...");
  EXPECT_EQ(seen.traces.back(), "App Stop...");
}

TEST(WineStartupError, MissingApplicationInFrench) {
  Language french("fr_FR.UTF-8");
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", "[resources]\r\nname=Quarven\r\nsplashDuration=0\r\n");
  const Seen seen = Drive(install, {});
  ASSERT_EQ(seen.boxes.size(), 1u) << seen.output;
  EXPECT_EQ(seen.boxes[0],
            "Erreur de d\xC3\xA9marrage de Quarven|Quarven n'a pas pu d\xC3\xA9marrer "
            "correctement.\\nVeuillez r\xC3\xA9installer l'application.\\n\\nDetails: "
            "QUARVENlauncher StartQUARVENApp: File not found (launcher)");
  EXPECT_EQ(seen.exit_code, 1);
}

TEST(WineStartupError, SilentModeShowsNothing) {
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", kPlain);
  const Seen seen = Drive(install, {"-s"});
  EXPECT_EQ(seen.exit_code, 1) << "a script waiting on the launcher learns that nothing ran\n"
                               << seen.output;
  EXPECT_TRUE(seen.boxes.empty()) << seen.output;
  EXPECT_TRUE(seen.windows.empty()) << seen.output;
  EXPECT_TRUE(Traced(seen, "QUARVENlauncher StartQUARVENApp: #53 | File not found | launcher"));
}

TEST(WineStartupError, CommandLineEndingInSwitchAndBrokenSettingsLine) {
  Language english("en_US.UTF-8");
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", kPlain);
  install.InstallProbe("bin/xulrunner/quarven.exe");
  const Seen switch_at_end = Drive(install, {"x", "-c"});
  ASSERT_EQ(switch_at_end.boxes.size(), 1u) << switch_at_end.output;
  EXPECT_EQ(switch_at_end.boxes[0].substr(0, switch_at_end.boxes[0].find('|')), " startup error");
  EXPECT_FALSE(install.ReadRecord("bin/xulrunner", 1s)) << "the application was started";
  EXPECT_EQ(switch_at_end.exit_code, 1) << switch_at_end.output;

  install.WriteFile("bin/launcher.ini", "[resources]\r\nname\r\n");
  const Seen broken = Drive(install, {});
  ASSERT_EQ(broken.boxes.size(), 1u) << broken.output;
  const std::string tail = "(QUARVENlauncher GetINISettingsError)";
  EXPECT_EQ(broken.boxes[0].substr(broken.boxes[0].size() - tail.size()), tail);
  EXPECT_EQ(broken.exit_code, 1) << broken.output;
  EXPECT_TRUE(Traced(broken,
                     "QUARVENlauncher GetINISettingsError: #5 | Invalid procedure call "
                     "or argument | launcher"));
  EXPECT_TRUE(Traced(broken,
                     "QUARVENlauncher : #4646 | Invalid procedure call or argument | "
                     "QUARVENlauncher GetINISettingsError"));
}

TEST(WineSilent, OutlivesTheApplicationAndEveryInstanceOfIt) {
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", "[resources]\r\nname=Quarven\r\n");
  install.InstallProbe("bin/xulrunner/quarven.exe");
  install.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=6000\n");
  // A second instance from the same file, started once the first runs, ends last.
  std::int64_t second_started = 0;
  std::thread second([&] {
    if (!install.ReadRecord("bin/xulrunner", 30s))
      return;
    second_started = WallMs();
    RunUnderWine(install.root() + "/bin/xulrunner/quarven.exe", {}, 60s);
  });
  const Seen seen = Drive(install, {"-s"});
  second.join();
  const auto ended = TracedAtMs(seen, "App Stop...");
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  EXPECT_TRUE(seen.windows.empty()) << seen.output;
  EXPECT_TRUE(seen.boxes.empty());
  const auto last_exit = ReadNumber(install.root() + "/bin/xulrunner/probe-exit.txt");
  ASSERT_TRUE(last_exit && ended && second_started > 0) << seen.output;
  EXPECT_GE(*last_exit - second_started, 5000) << "the second instance ends last";
  EXPECT_GE(*ended, *last_exit) << "the launcher ended before the second instance";
  // The silent wait looks once a second (plus a snapshot, and the probe's own teardown).
  EXPECT_LT(*ended - *last_exit, 2500) << seen.output;
  EXPECT_EQ(seen.traces.back(), "App Stop...");
}

TEST(WineSplash, SplashOnScreenCentredTopmostWithPictureAndFrame) {
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", "[resources]\r\nsplash=pic.bmp\r\nsplashDuration=3\r\n");
  install.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0xFF0000));
  install.InstallProbe("bin/xulrunner/quarven.exe");
  install.WriteFile("bin/xulrunner/probe-cue.txt", "window_after_ms=1000\nlifetime_ms=10000\n");
  const std::string shot = std::string(LAUNCHER_ARTEFACT_DIR) + "/splash-wine.bmp";
  const Seen seen = Drive(install, {}, {"--shot", "700", WindowsPath(shot)});
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  const auto splash = SplashOf(seen);
  ASSERT_TRUE(splash) << seen.output;
  const auto bmp = ReadBmp(shot);
  ASSERT_TRUE(bmp) << "no screenshot";
  EXPECT_EQ(splash->w, 277);
  EXPECT_EQ(splash->h, 85);
  EXPECT_NEAR(splash->x, (bmp->width - 277) / 2.0, 1.0);
  EXPECT_NEAR(splash->y, (bmp->height - 85) / 2.0, 1.0);
  EXPECT_TRUE(std::stoul(seen.shot_style, nullptr, 16) & 0x8) << "WS_EX_TOPMOST";
  EXPECT_EQ(bmp->Pixel(splash->x + 4, splash->y + 4), 0xFF0000u) << "picture at 4,4";
  EXPECT_EQ(bmp->Pixel(splash->x + 43, splash->y + 23), 0xFF0000u);
  EXPECT_EQ(bmp->Pixel(splash->x + 44, splash->y + 24), 0xFFFFFFu) << "white around it";
  EXPECT_EQ(bmp->Pixel(splash->x + 200, splash->y + 60), 0xFFFFFFu);
  const std::uint32_t frame = bmp->Pixel(splash->x, splash->y);
  EXPECT_NE(frame, 0xFFFFFFu) << "a frame, in the 3-D shadow colour";
  EXPECT_EQ(bmp->Pixel(splash->x + 276, splash->y + 84), frame);
  EXPECT_EQ(bmp->Pixel(splash->x + 138, splash->y + 84), frame);
}

TEST(WineSplash, EndsShortlyAfterTheApplicationsWindowAppears) {
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", "[resources]\r\nsplash=pic.bmp\r\nsplashDuration=1\r\n");
  install.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0x00FF00));
  install.InstallProbe("bin/xulrunner/quarven.exe");
  install.WriteFile("bin/xulrunner/probe-cue.txt", "window_after_ms=3000\nlifetime_ms=15000\n");
  const Seen seen = Drive(install, {});
  const auto ended = TracedAtMs(seen, "App Stop...");
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  const auto window = NumberOnceWritten(install.root() + "/bin/xulrunner/probe-window.txt");
  ASSERT_TRUE(window && ended) << seen.output;
  EXPECT_GE(*ended, *window);
  // The window wait's passes are a second apart; the window is seen at the next.
  EXPECT_LT(*ended - *window, 2500) << seen.output;
  EXPECT_TRUE(Traced(seen, "tmrQuit execute..."));
}

TEST(WineSplash, EndsAtOnceWhenTheApplicationExitsEarly) {
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", "[resources]\r\nsplash=pic.bmp\r\nsplashDuration=20\r\n");
  install.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0x00FF00));
  install.InstallProbe("bin/xulrunner/quarven.exe");
  install.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=2000\n");
  const std::int64_t start = WallMs();
  const Seen seen = Drive(install, {});
  const auto ended = TracedAtMs(seen, "App Stop...");
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  const auto exited = ReadNumber(install.root() + "/bin/xulrunner/probe-exit.txt");
  ASSERT_TRUE(exited && ended) << seen.output;
  // The process watch looks every 100 ms; the rest is the probe's own teardown.
  EXPECT_LT(*ended - *exited, 1500) << seen.output;
  EXPECT_LT(*ended - start, 15000) << "long before the 20 s duration";
  EXPECT_FALSE(Traced(seen, "tmrQuit execute..."));
  EXPECT_EQ(seen.traces.back(), "App Stop...");
}

TEST(WineSplash, ClickStartsTheClosingAtOnce) {
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", "[resources]\r\nsplash=pic.bmp\r\nsplashDuration=30\r\n");
  install.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0x0000FF));
  install.InstallProbe("bin/xulrunner/quarven.exe");
  install.WriteFile("bin/xulrunner/probe-cue.txt", "window_after_ms=0\nlifetime_ms=40000\n");
  const std::int64_t start = WallMs();
  const Seen seen = Drive(install, {}, {"--click", "1500"});
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  EXPECT_LT(WallMs() - start, 20000) << "the click did not cut the 30 s duration short";
  EXPECT_TRUE(Traced(seen, "tmrQuit execute..."));
}

}  // namespace
}  // namespace launcher::wine_testing
