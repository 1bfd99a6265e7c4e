// The splash at the screen's scale under Wine, which takes the DPI from
// LogPixels (HKCU\Control Panel\Desktop) as each program starts: its size and
// place in the screen's own pixels, its picture at that scale, a double-size
// picture drawn one to one, its accessible name with an empty caption, and
// a change of scale while it shows.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"
#include "wine_drive.h"
#include "wine_install.h"

namespace launcher::wine_testing {
namespace {

using launcher::testing::Bmp;
using launcher::testing::SolidBmp;
using namespace std::chrono_literals;

const std::string kPrefix = LAUNCHER_WINE_DPI_PREFIX;

// The screen's DPI for every program started in the tests' DPI prefix from now on.
void SetScreenDpi(int dpi) {
  const WineRun run = RunUnderWine(kPrefix + "/drive_c/windows/system32/reg.exe",
                                   {"add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                                    "REG_DWORD", "/d", std::to_string(dpi), "/f"},
                                   60s, {}, {"WINEPREFIX=" + kPrefix});
  ASSERT_TRUE(run.ended && run.exit_code == 0) << run.output;
}

Seen DriveAt(int dpi, const WineInstall& install, const std::string& shot) {
  SetScreenDpi(dpi);
  return Drive(install, {}, {"--shot", "700", WindowsPath(shot), "--name", "300"},
               {"WINEPREFIX=" + kPrefix});
}

void Install(const WineInstall& install) {
  install.WriteFile(
      "bin/launcher.ini",
      "[resources]\r\nname=Quarven Desktop\r\nsplash=pic.bmp\r\nsplashDuration=2\r\n");
  install.InstallProbe("bin/xulrunner/quarven.exe");
  install.WriteFile("bin/xulrunner/probe-cue.txt", "window_after_ms=0\nlifetime_ms=8000\n");
}

struct Scale {
  int dpi;
  int width, height;  // the splash in the screen's pixels
};

void PrintTo(const Scale& s, std::ostream* out) {
  *out << s.dpi << " dpi";
}

class WineScale : public ::testing::TestWithParam<Scale> {};

// 277 x 85 pixels of the form's design, times DPI / 96, rounded.
INSTANTIATE_TEST_SUITE_P(LogPixels,
                         WineScale,
                         ::testing::Values(Scale{96, 277, 85},
                                           Scale{144, 416, 128},
                                           Scale{192, 554, 170},
                                           Scale{288, 831, 255}));

// The splash on the screenshot at the scale of `s`: its size, its centre, its
// frame as thick as scaled and the 40 x 20 red picture at 4,4 of the design.
void ExpectSplashAt(const Scale& s, const Box& splash, const wine_testing::Bmp& bmp) {
  const auto device = [&](int pixels) {
    return static_cast<int>(std::lround(pixels * s.dpi / 96.0));
  };
  EXPECT_EQ(splash.w, s.width);
  EXPECT_EQ(splash.h, s.height);
  EXPECT_NEAR(splash.x + splash.w / 2.0, bmp.width / 2.0, 2.0) << "centred";
  EXPECT_NEAR(splash.y + splash.h / 2.0, bmp.height / 2.0, 2.0);

  const int x = splash.x;
  const int y = splash.y;
  const std::uint32_t frame = bmp.Pixel(x, y);
  EXPECT_NE(frame, 0xFFFFFFu) << "a frame, in the 3-D shadow colour";
  EXPECT_EQ(bmp.Pixel(x + s.width - 1, y + s.height - 1), frame);
  EXPECT_EQ(bmp.Pixel(x + device(1) - 1, y + s.height / 2), frame) << "as thick as scaled";
  const int left = x + device(4);
  const int top = y + device(4);
  EXPECT_EQ(bmp.Pixel(left + 1, top + 1), 0xFF0000u) << "picture at 4,4";
  EXPECT_EQ(bmp.Pixel(left + device(40) - 2, top + device(20) - 2), 0xFF0000u);
  EXPECT_EQ(bmp.Pixel(left + device(40) + 1, top + 1), 0xFFFFFFu) << "white beside it";
  EXPECT_EQ(bmp.Pixel(left + 1, top + device(20) + 1), 0xFFFFFFu) << "white below it";
}

TEST_P(WineScale, SplashSizePlacePictureAndName) {
  const Scale s = GetParam();
  WineInstall install("Quarven App", "launcher.exe");
  Install(install);
  install.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0xFF0000));
  const std::string shot =
      std::string(LAUNCHER_ARTEFACT_DIR) + "/splash-wine-" + std::to_string(s.dpi) + ".bmp";
  const Seen seen = DriveAt(s.dpi, install, shot);
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  const auto splash = SplashOf(seen);
  ASSERT_TRUE(splash) << seen.output;
  const auto bmp = ReadBmp(shot);
  ASSERT_TRUE(bmp) << "no screenshot";
  ExpectSplashAt(s, *splash, *bmp);
  ASSERT_EQ(seen.names.size(), 1u) << seen.output;
  EXPECT_EQ(seen.names[0], "0|Quarven Desktop|") << "accessible name, empty caption";
}

// WM_DPICHANGED while the splash shows at 96 DPI, as Windows sends it when the
// monitor's scale changes. Wine 8 sends none when LogPixels changes, so the
// driver sends it; the suggested rectangle keeps the old top-left.
struct DpiChange {
  const char* name;
  int dpi_x, dpi_y;
  bool suggested_rect;
  Scale after;
};

void PrintTo(const DpiChange& c, std::ostream* out) {
  *out << c.name;
}

class WineDpiChange : public ::testing::TestWithParam<DpiChange> {};

INSTANTIATE_TEST_SUITE_P(
    Message,
    WineDpiChange,
    ::testing::Values(DpiChange{"To192", 192, 192, true, {192, 554, 170}},
                      DpiChange{"ZeroDpiIgnored", 0, 0, true, {96, 277, 85}},
                      DpiChange{"NoRectIgnored", 192, 192, false, {96, 277, 85}},
                      DpiChange{"AbsurdDpiIgnored", 2000, 2000, true, {96, 277, 85}},
                      DpiChange{"UnequalWordsIgnored", 192, 96, true, {96, 277, 85}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(WineDpiChange, SplashRescaledAndRecentredOrLeftAsItWas) {
  const DpiChange c = GetParam();
  WineInstall install("Quarven App", "launcher.exe");
  Install(install);
  install.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0xFF0000));
  SetScreenDpi(96);
  const std::string shot =
      std::string(LAUNCHER_ARTEFACT_DIR) + "/splash-wine-dpi-" + c.name + ".bmp";
  const Seen seen = Drive(install, {},
                          {"--dpi-changed", "300", std::to_string(c.dpi_x | c.dpi_y << 16),
                           c.suggested_rect ? "1" : "0", "--shot", "900", WindowsPath(shot)},
                          {"WINEPREFIX=" + kPrefix});
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  Box after;
  ASSERT_EQ(std::sscanf(seen.dpi_changed.c_str(), "1|%d,%d,%d,%d", &after.x, &after.y, &after.w,
                        &after.h),
            4)
      << seen.output;
  const auto bmp = ReadBmp(shot);
  ASSERT_TRUE(bmp) << "no screenshot";
  ExpectSplashAt(c.after, after, *bmp);
}

// One-pixel checks, which no scaled picture gives.
std::uint32_t Checks(int px, int py) {
  return (px + py) % 2 == 0 ? 0x0000FFu : 0xFFFF00u;
}

struct DoubleSize {
  int dpi;
  std::uint32_t (*picture)(int px, int py);  // the 80 x 40 double-size picture
  int at, width, height;                     // where it is drawn in the splash
  std::uint32_t (*drawn)(int px, int py);    // each of its pixels as drawn
};

void PrintTo(const DoubleSize& d, std::ostream* out) {
  *out << d.dpi << " dpi";
}

class WineDoubleSize : public ::testing::TestWithParam<DoubleSize> {};

// Beside a red picture: at 200 % drawn one to one, at 300 % it (not the
// configured one) is scaled by 1.5, to the configured picture's size there.
TEST_P(WineDoubleSize, DrawnInThePicturesPlace) {
  const DoubleSize& d = GetParam();
  WineInstall install("Quarven App", "launcher.exe");
  Install(install);
  install.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0xFF0000));
  install.WriteFile("bin/pic@2x.bmp", Bmp(80, 40, d.picture));
  const std::string shot =
      std::string(LAUNCHER_ARTEFACT_DIR) + "/splash-wine-" + std::to_string(d.dpi) + "-2x.bmp";
  const Seen seen = DriveAt(d.dpi, install, shot);
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  const auto splash = SplashOf(seen);
  ASSERT_TRUE(splash) << seen.output;
  const auto bmp = ReadBmp(shot);
  ASSERT_TRUE(bmp) << "no screenshot";
  const int left = splash->x + d.at, top = splash->y + d.at;
  int differing = 0;
  for (int py = 0; py < d.height; ++py)
    for (int px = 0; px < d.width; ++px)
      differing += bmp->Pixel(left + px, top + py) != d.drawn(px, py) ? 1 : 0;
  EXPECT_EQ(differing, 0) << "of the " << d.width << " x " << d.height << " pixels at " << d.at;
  EXPECT_EQ(bmp->Pixel(left + d.width + 1, top + 1), 0xFFFFFFu);
  EXPECT_EQ(bmp->Pixel(left + 1, top + d.height + 1), 0xFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(LogPixels,
                         WineDoubleSize,
                         ::testing::Values(DoubleSize{192, &Checks, 8, 80, 40, &Checks},
                                           DoubleSize{288, [](int, int) { return 0x0000FFu; }, 12,
                                                      120, 60,
                                                      [](int, int) { return 0x0000FFu; }}));

}  // namespace
}  // namespace launcher::wine_testing
