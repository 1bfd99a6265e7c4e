// The real Linux launcher in splash mode, on an X server of the test's own with
// a window manager: where the splash is, what it shows, and when it ends.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "accessible_dialog.h"
#include "child_process.h"
#include "install_dir.h"
#include "test_support.h"
#include "x_session.h"

namespace launcher::testing {
namespace {

using namespace std::chrono_literals;

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
  return out << "rgb(" << c.r << "," << c.g << "," << c.b << ")";
}

class LinuxSplash : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = std::make_unique<XSession>(XSession::Options{.window_manager = true});
    ASSERT_TRUE(session_->ready()) << session_->error();
    display_ = XOpenDisplay(session_->display().c_str());
    ASSERT_NE(display_, nullptr);
    dir_.WriteFile("bin/pic.bmp", SolidBmp(40, 20, 0xFF0000));
    dir_.InstallProbe("bin/xulrunner/quarven");
  }
  void TearDown() override {
    launcher_.reset();
    if (display_ != nullptr)
      XCloseDisplay(display_);
  }

  void Configure(int duration, const std::string& cue) {
    dir_.WriteFile("bin/launcher.ini", "[resources]\r\nsplash=pic.bmp\r\nsplashDuration=" +
                                           std::to_string(duration) + "\r\n");
    dir_.WriteFile("bin/xulrunner/probe-cue.txt", cue);
  }

  // With `drop` left out of the environment and `add` put in.
  void Start(std::vector<std::string> drop = {}, std::vector<std::string> add = {}) {
    start_ms_ = WallMs();
    drop.emplace_back("DISPLAY");
    add.push_back("DISPLAY=" + session_->display());
    launcher_ = std::make_unique<ChildProcess>(dir_.launcher(), std::vector<std::string>{},
                                               EnvironmentWith(drop, add));
  }

  // The launcher's splash once it is on screen: the client window whose
  // process is the launcher's and which is viewable.
  Window WaitForSplash() {
    const Atom pid_atom = XInternAtom(display_, "_NET_WM_PID", False);
    Window found = 0;
    WaitUntil(
        [&] {
          found = FindByPid(DefaultRootWindow(display_), pid_atom, launcher_->pid());
          return found != 0;
        },
        10s);
    return found;
  }

  Window FindByPid(Window parent, Atom pid_atom, pid_t pid) {
    Window root = 0, up = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display_, parent, &root, &up, &children, &count))
      return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
      Atom type = 0;
      int format = 0;
      unsigned long items = 0, after = 0;
      unsigned char* data = nullptr;
      XWindowAttributes attributes{};
      if (XGetWindowProperty(display_, children[i], pid_atom, 0, 1, False, XA_CARDINAL, &type,
                             &format, &items, &after, &data) == Success &&
          data != nullptr && items == 1 && *reinterpret_cast<long*>(data) == pid &&
          XGetWindowAttributes(display_, children[i], &attributes) &&
          attributes.map_state == IsViewable)
        found = children[i];
      if (data != nullptr)
        XFree(data);
      if (found == 0)
        found = FindByPid(children[i], pid_atom, pid);
    }
    if (children != nullptr)
      XFree(children);
    return found;
  }

  struct Box {
    int x, y, width, height;
  };
  Box Geometry(Window window) {
    XWindowAttributes a{};
    XGetWindowAttributes(display_, window, &a);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return {x, y, a.width, a.height};
  }

  Rgb Pixel(XImage* image, int x, int y) {
    const unsigned long p = XGetPixel(image, x, y);
    return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
            static_cast<int>(p & 0xFF)};
  }

  // The whole screen as a PPM file under the build folder.
  void SaveScreenshot(XImage* image, const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << image->width << " " << image->height << "\n255\n";
    for (int y = 0; y < image->height; ++y) {
      for (int x = 0; x < image->width; ++x) {
        const Rgb c = Pixel(image, x, y);
        out << static_cast<char>(c.r) << static_cast<char>(c.g) << static_cast<char>(c.b);
      }
    }
  }

  bool HasState(Window window, const char* state) {
    // The manager may keep the state on the client window.
    const Atom wm_state = XInternAtom(display_, "_NET_WM_STATE", False);
    const Atom wanted = XInternAtom(display_, state, False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(display_, window, wm_state, 0, 64, False, XA_ATOM, &type, &format,
                           &items, &after, &data) == Success &&
        data != nullptr) {
      for (unsigned long i = 0; i < items; ++i)
        found = found || reinterpret_cast<Atom*>(data)[i] == wanted;
    }
    if (data != nullptr)
      XFree(data);
    return found;
  }

  static constexpr Rgb kRed{255, 0, 0};
  InstallDir dir_{"Quarven App"};
  std::unique_ptr<XSession> session_;
  Display* display_ = nullptr;
  std::unique_ptr<ChildProcess> launcher_;
  std::int64_t start_ms_ = 0;
};

TEST_F(LinuxSplash, SplashIsCentredFramedTopmostAndShowsThePicture) {
  Configure(30, "lifetime_ms=20000\n");
  Start();
  const Window splash = WaitForSplash();
  ASSERT_NE(splash, 0u) << "no splash window; launcher said:\n" << launcher_->Stderr();
  ASSERT_TRUE(WaitUntil([&] { return HasState(splash, "_NET_WM_STATE_ABOVE"); }, 5s))
      << "the splash is not kept above";
  std::this_thread::sleep_for(500ms);  // painted

  const Box box = Geometry(splash);
  const int screen_w = DisplayWidth(display_, DefaultScreen(display_));
  const int screen_h = DisplayHeight(display_, DefaultScreen(display_));
  EXPECT_EQ(box.width, 277);
  EXPECT_EQ(box.height, 85);
  EXPECT_NEAR(box.x, (screen_w - 277) / 2.0, 1.0);
  EXPECT_NEAR(box.y, (screen_h - 85) / 2.0, 1.0);

  XImage* shot = XGetImage(display_, DefaultRootWindow(display_), 0, 0, screen_w, screen_h,
                           AllPlanes, ZPixmap);
  ASSERT_NE(shot, nullptr);
  SaveScreenshot(shot, std::string(ARTEFACT_DIR) + "/splash-linux.ppm");
  EXPECT_EQ(Pixel(shot, box.x + 4, box.y + 4), kRed) << "picture's first pixel at 4,4";
  EXPECT_EQ(Pixel(shot, box.x + 43, box.y + 23), kRed) << "picture's last pixel";
  EXPECT_EQ(Pixel(shot, box.x + 3, box.y + 4), (Rgb{255, 255, 255})) << "white left of it";
  EXPECT_EQ(Pixel(shot, box.x + 44, box.y + 24), (Rgb{255, 255, 255})) << "white around it";
  EXPECT_EQ(Pixel(shot, box.x + 200, box.y + 60), (Rgb{255, 255, 255}));
  const Rgb frame{160, 160, 160};
  EXPECT_EQ(Pixel(shot, box.x, box.y), frame) << "frame at the top-left corner";
  EXPECT_EQ(Pixel(shot, box.x + 276, box.y + 84), frame) << "frame at the bottom-right corner";
  EXPECT_EQ(Pixel(shot, box.x + 138, box.y), frame);
  XDestroyImage(shot);
}

// One row per scale the toolkit may be asked for, and the splash it must
// show in the screen's own pixels.
struct ScaleCase {
  const char* name;
  const char* gdk_scale;
  int scale;   // what the toolkit makes of it
  bool sharp;  // a double-size picture beside the configured one
};

class LinuxSplashScales : public LinuxSplash, public ::testing::WithParamInterface<ScaleCase> {
 protected:
  static constexpr Rgb kBlue{0, 0, 255};
  // Each pixel unlike its four neighbours, so that any scaling or shift shows.
  static std::uint32_t Sharp(int x, int y) {
    return static_cast<std::uint32_t>((x * 3) << 16 | (y * 6) << 8 | ((x + y) % 2 != 0 ? 0xFF : 0));
  }
  static bool Near(const Rgb& a, const Rgb& b) {
    return std::abs(a.r - b.r) <= 2 && std::abs(a.g - b.g) <= 2 && std::abs(a.b - b.b) <= 2;
  }
};

TEST_P(LinuxSplashScales, SizeCentreAndPictureInTheScreensPixels) {
  const ScaleCase& c = GetParam();
  const int s = c.scale;
  // Red on the left, blue on the right: its edges show its size, its
  // middle whether it was scaled smoothly.
  dir_.WriteFile("bin/pic.bmp",
                 Bmp(40, 20, [](int x, int) { return x < 20 ? 0xFF0000 : 0x0000FF; }));
  if (c.sharp)
    dir_.WriteFile("bin/pic@2x.bmp", Bmp(80, 40, &Sharp));
  Configure(30, "lifetime_ms=20000\n");
  Start({"GDK_SCALE", "GDK_DPI_SCALE"}, {std::string("GDK_SCALE=") + c.gdk_scale});
  const Window splash = WaitForSplash();
  ASSERT_NE(splash, 0u) << "no splash window; launcher said:\n" << launcher_->Stderr();
  std::this_thread::sleep_for(500ms);  // painted

  const Box box = Geometry(splash);
  const int screen_w = DisplayWidth(display_, DefaultScreen(display_));
  const int screen_h = DisplayHeight(display_, DefaultScreen(display_));
  EXPECT_EQ(box.width, 277 * s);
  EXPECT_EQ(box.height, 85 * s);
  EXPECT_NEAR(box.x + box.width / 2.0, screen_w / 2.0, 2.0);
  EXPECT_NEAR(box.y + box.height / 2.0, screen_h / 2.0, 2.0);

  XImage* shot = XGetImage(display_, DefaultRootWindow(display_), 0, 0, screen_w, screen_h,
                           AllPlanes, ZPixmap);
  ASSERT_NE(shot, nullptr);
  SaveScreenshot(shot, std::string(ARTEFACT_DIR) + "/splash-linux-scale-" + c.name + ".ppm");
  // In logical pixels from the splash's corner.
  auto at = [&](int x, int y) { return Pixel(shot, box.x + x * s, box.y + y * s); };
  EXPECT_EQ(at(0, 0), (Rgb{160, 160, 160})) << "frame";
  EXPECT_EQ(at(276, 84), (Rgb{160, 160, 160})) << "frame";
  if (c.sharp && s == 2) {
    int wrong = 0;
    for (int i = 0; i < 80 * 40; ++i) {
      const std::uint32_t want = Sharp(i % 80, i / 80);
      const Rgb drawn = Pixel(shot, box.x + 8 + i % 80, box.y + 8 + i / 80);
      wrong += drawn != Rgb{static_cast<int>(want >> 16), static_cast<int>(want >> 8 & 0xFF),
                            static_cast<int>(want & 0xFF)};
    }
    EXPECT_EQ(wrong, 0) << "pixels of the double-size picture not drawn one to one";
  } else {
    // The configured picture spans 40 x 20 of the splash's pixels at any
    // scale: red and blue 3 pixels inside its edges, white 3 beyond.
    EXPECT_PRED2(Near, at(7, 14), kRed);
    EXPECT_PRED2(Near, at(41, 14), kBlue);
    EXPECT_PRED2(Near, at(30, 21), kBlue);
    EXPECT_EQ(at(47, 14), (Rgb{255, 255, 255}));
    EXPECT_EQ(at(30, 27), (Rgb{255, 255, 255}));
    bool blended = s == 1;
    for (int x = (24 - 1) * s; x < (24 + 1) * s; ++x) {
      const Rgb p = Pixel(shot, box.x + x, box.y + 14 * s);
      blended = blended || (p != kRed && p != kBlue);
    }
    EXPECT_TRUE(blended) << "red meets blue without a blend: not scaled smoothly";
  }
  XDestroyImage(shot);
  const std::string traced = std::string("GDK_SCALE=") + c.gdk_scale +
                             " asked for, the toolkit draws the splash at scale " +
                             std::to_string(s);
  EXPECT_EQ(launcher_->Stderr().find(traced) != std::string::npos, std::to_string(s) != c.gdk_scale)
      << launcher_->Stderr();
  // The application gets GDK_SCALE as it was given, whatever the splash made of it.
  ASSERT_TRUE(dir_.ReadRecord("bin/xulrunner", 10s)) << "the application never started";
  std::ifstream env(dir_.root() + "/bin/xulrunner/probe-env.txt");
  const std::string handed{std::istreambuf_iterator<char>(env), {}};
  EXPECT_NE(handed.find(std::string("env_GDK_SCALE=") + c.gdk_scale + "\n"), std::string::npos)
      << handed;
}

INSTANTIATE_TEST_SUITE_P(GdkScale,
                         LinuxSplashScales,
                         ::testing::Values(ScaleCase{"1", "1", 1, false},
                                           ScaleCase{"2", "2", 2, false},
                                           ScaleCase{"3", "3", 3, false},
                                           ScaleCase{"2_sharp", "2", 2, true},
                                           ScaleCase{"1_5", "1.5", 1, false},
                                           ScaleCase{"abc", "abc", 1, false},
                                           ScaleCase{"minus_1", "-1", 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LinuxSplash, AccessibleNameIsTheApplicationsWhileTheCaptionStaysEmpty) {
  AccessibilityBus bus;
  dir_.WriteFile("bin/launcher.ini",
                 "[resources]\r\nsplash=pic.bmp\r\nsplashDuration=30\r\nname=Quarven Desktop\r\n");
  dir_.WriteFile("bin/xulrunner/probe-cue.txt", "lifetime_ms=20000\n");
  Start(AccessibilityBus::ClientVariables(), bus.ClientEnvironment());
  const Window splash = WaitForSplash();
  ASSERT_NE(splash, 0u) << launcher_->Stderr();
  const std::optional<std::string> name = AccessibleWindowName(launcher_->pid(), 10s);
  ASSERT_TRUE(name) << "the splash is not on the accessibility bus";
  EXPECT_EQ(*name, "Quarven Desktop");
  char* title = nullptr;
  EXPECT_TRUE(XFetchName(display_, splash, &title) == 0 || title == nullptr || *title == '\0')
      << title;
  if (title != nullptr)
    XFree(title);
}

TEST_F(LinuxSplash, EndsShortlyAfterTheApplicationsWindowAppears) {
  Configure(1, "window_after_ms=3000\nlifetime_ms=20000\n");
  Start();
  const auto code = launcher_->WaitForExit(30s);
  ASSERT_TRUE(code) << "still running";
  const std::int64_t ended = WallMs();
  EXPECT_EQ(*code, 0);
  const auto window = ReadNumber(dir_.root() + "/bin/xulrunner/probe-window.txt");
  ASSERT_TRUE(window) << "the probe never showed its window";
  EXPECT_GE(ended, *window);
  EXPECT_LT(ended - *window, 3000) << "a window wait polls once a second";
  EXPECT_NE(launcher_->Stderr().find("tmrQuit execute..."), std::string::npos);
}

TEST_F(LinuxSplash, EndsAtOnceWhenTheApplicationExitsEarly) {
  Configure(10, "lifetime_ms=1500\n");
  Start();
  const auto code = launcher_->WaitForExit(30s);
  ASSERT_TRUE(code) << "still running";
  const std::int64_t ended = WallMs();
  const auto exited = ReadNumber(dir_.root() + "/bin/xulrunner/probe-exit.txt");
  ASSERT_TRUE(exited);
  EXPECT_EQ(*code, 0) << "the application's own end is no failure";
  EXPECT_LT(ended - *exited, 1000) << "the process watch looks every 100 ms";
  EXPECT_LT(ended - start_ms_, 8000) << "long before the 10 s duration";
  EXPECT_NE(launcher_->Stderr().find(" no longer running, exiting..."), std::string::npos)
      << launcher_->Stderr();
}

TEST_F(LinuxSplash, ClickStartsTheClosingAtOnce) {
  Configure(30, "window_after_ms=0\nlifetime_ms=20000\n");
  Start();
  const Window splash = WaitForSplash();
  ASSERT_NE(splash, 0u) << launcher_->Stderr();
  std::this_thread::sleep_for(300ms);
  const Box box = Geometry(splash);
  const std::int64_t clicked = WallMs();
  ChildProcess click(
      "xdotool",
      {"mousemove", std::to_string(box.x + 150), std::to_string(box.y + 60), "click", "1"},
      EnvironmentWith({"DISPLAY"}, {"DISPLAY=" + session_->display()}));
  ASSERT_TRUE(click.WaitForExit(10s));
  const auto code = launcher_->WaitForExit(15s);
  ASSERT_TRUE(code) << "the click did not end the splash";
  EXPECT_LT(WallMs() - clicked, 5000);
  EXPECT_EQ(*code, 0);
  EXPECT_NE(launcher_->Stderr().find("tmrQuit execute..."), std::string::npos);
}

}  // namespace
}  // namespace launcher::testing
