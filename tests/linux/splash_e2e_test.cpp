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
#include <fstream>
#include <optional>
#include <string>
#include <thread>

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

  void Start() {
    start_ms_ = WallMs();
    launcher_ = std::make_unique<ChildProcess>(
        dir_.launcher(), std::vector<std::string>{},
        EnvironmentWith({"DISPLAY"}, {"DISPLAY=" + session_->display()}));
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
