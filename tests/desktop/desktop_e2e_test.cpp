// The real Linux launcher in Wayland sessions: headless sway, KWin, GNOME Shell
// and weston, each with Xwayland, with a native Wayland probe and an X11 probe
// as the application. What the compositor itself shows is the judge: when the
// launcher saw the window, where its splash was, what lay above what, and who
// had the keyboard focus at the end. Each run's figures go to standard output
// and to desktop/report.txt under the build folder.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "desktop_session.h"
#include "install_dir.h"
#include "png_file.h"
#include "test_support.h"

namespace launcher::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kArtefacts = std::string(ARTEFACT_DIR) + "/desktop";
constexpr auto kLauncherBound = 20s;
constexpr char kBoxTitle[] = "QUARVENlauncher startup error";
constexpr char kFallback[] = "Window list cannot be read in this session (";
constexpr int kScreenW = 1280;
constexpr int kScreenH = 1024;

// One compositor per kind for the whole program (ctest runs one program per
// kind); one that cannot start fails every case that needs it.
std::map<Compositor, std::unique_ptr<DesktopSession>>& Sessions() {
  static std::map<Compositor, std::unique_ptr<DesktopSession>> sessions;
  return sessions;
}

DesktopSession& SessionFor(Compositor kind) {
  auto& slot = Sessions()[kind];
  if (!slot)
    slot = std::make_unique<DesktopSession>(kind, kArtefacts);
  return *slot;
}

class StopSessions : public ::testing::Environment {
 public:
  void TearDown() override { Sessions().clear(); }
};
[[maybe_unused]] const auto* const kStopSessions =
    ::testing::AddGlobalTestEnvironment(new StopSessions);

// Whether an ordinary client can learn who owns a window there.
bool TellsOwners(Compositor kind) {
  return kind == Compositor::kSway || kind == Compositor::kKwin;
}

enum class App { kWayland, kX11 };

struct Trace {
  std::int64_t ms;
  std::string message;
};

// "<name> YYMMDD.HHMMSS.mmm - <message>", in universal time; every line of
// the launcher's output must be one.
bool ParseTrace(const std::string& line, Trace& trace) {
  static const std::regex form(R"(^\S+ (\d\d)(\d\d)(\d\d)\.(\d\d)(\d\d)(\d\d)\.(\d{3}) - (.*)$)");
  std::smatch m;
  if (!std::regex_match(line, m, form))
    return false;
  tm t{};
  t.tm_year = 100 + std::stoi(m[1]);
  t.tm_mon = std::stoi(m[2]) - 1;
  t.tm_mday = std::stoi(m[3]);
  t.tm_hour = std::stoi(m[4]);
  t.tm_min = std::stoi(m[5]);
  t.tm_sec = std::stoi(m[6]);
  trace.ms = static_cast<std::int64_t>(timegm(&t)) * 1000 + std::stoi(m[7]);
  trace.message = m[8];
  return true;
}

struct Sample {
  std::int64_t ms;
  std::vector<Toplevel> windows;
};

const Toplevel* Find(const Sample& s, const std::function<bool(const Toplevel&)>& match) {
  for (const Toplevel& t : s.windows)
    if (match(t))
      return &t;
  return nullptr;
}

std::string Describe(const Box& b) {
  return std::to_string(b.width) + "x" + std::to_string(b.height) + "+" + std::to_string(b.x) +
         "+" + std::to_string(b.y);
}

[[maybe_unused]] void PrintTo(const Box& b, std::ostream* out) {
  *out << Describe(b);
}

// Every view of a run, for a person to look at.
void SaveViews(const std::string& path, const std::vector<Sample>& samples) {
  std::ofstream out(path);
  for (const Sample& s : samples) {
    out << s.ms << "\n";
    for (const Toplevel& t : s.windows)
      out << "  \"" << t.title << "\" pid " << t.pid << (t.x11 ? " x11" : " wayland") << " outer "
          << Describe(t.outer) << " content " << Describe(t.content) << " stack " << t.stack
          << (t.keep_above ? " above" : "") << (t.focused ? " focused" : "") << " " << t.type
          << "\n";
  }
}

std::map<std::string, std::string> ReadPairs(const std::string& path) {
  std::map<std::string, std::string> pairs;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (const auto eq = line.find('='); eq != std::string::npos)
      pairs[line.substr(0, eq)] = line.substr(eq + 1);
  return pairs;
}

void Report(const std::string& line) {
  std::cout << "[desktop] " << line << std::endl;
  fs::create_directories(kArtefacts);
  std::ofstream(kArtefacts + "/report.txt", std::ios::app) << line << "\n";
}

// An installation of the real launcher, handed to the session's user, with
// a probe of the given kind as its application.
class Installation {
 public:
  Installation(App app, const std::string& ini, const std::string& cue) {
    dir_.WriteFile("bin/launcher.ini", ini);
    dir_.WriteFile("bin/splash.png", Png(40, 20));
    dir_.WriteFile("bin/xulrunner/probe-cue.txt", cue);
    if (app == App::kX11)
      dir_.InstallProbe("bin/xulrunner/quarven");
    else
      fs::copy_file(WAYLAND_PROBE_BINARY, probe_folder() + "quarven");
    GiveTo(fs::path(dir_.root()).parent_path().string(), SessionAccount());
  }
  std::string launcher() const { return dir_.launcher(); }
  std::string probe_folder() const { return dir_.root() + "/bin/xulrunner/"; }

 private:
  InstallDir dir_{"Quarven App"};
};

// Where the compositor offers layer shell, the splash is no toplevel it
// lists: the screen itself shows it.
bool SplashOnLayer(Compositor kind) {
  return kind == Compositor::kSway;
}

// The splash's outline in a capture: its top and bottom edges are runs of
// the frame's grey far longer than any text's.
std::optional<Box> FindSplashFrame(const DesktopSession::Pixels& p) {
  const auto grey = [&](int x, int y) {
    const auto* c =
        reinterpret_cast<const unsigned char*>(&p.rgb[(std::size_t{1} * y * p.width + x) * 3]);
    return c[0] == 160 && c[1] == 160 && c[2] == 160;
  };
  std::optional<Box> box;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0, run = 0; x <= p.width; ++x) {
      if (x < p.width && grey(x, y)) {
        ++run;
        continue;
      }
      if (run >= 100) {
        if (!box)
          box = Box{x - run, y, run, 1};
        else if (box->x == x - run && box->width == run)
          box->height = y - box->y + 1;
      }
      run = 0;
    }
  }
  return box;
}

// A capture of the splash while the application's window lay under it.
struct SplashShot {
  Box frame;
  Box app;  // the application's window, in the capture's pixels
  pid_t app_pid = 0;
};

// Captures the screen once the application's window covers the middle of it
// and the splash is there; what was found, saved for a person to look at.
std::optional<SplashShot> ShootSplash(const DesktopSession& session,
                                      const std::function<bool(const Toplevel&)>& is_app,
                                      int scale,
                                      const std::string& path) {
  const auto windows = session.Windows();
  const Toplevel* app = nullptr;
  for (const Toplevel& t : windows.value_or(std::vector<Toplevel>{}))
    if (is_app(t) && t.content.width > 0 && t.content.height > 0)
      app = &t;
  if (app == nullptr)
    return std::nullopt;
  const Box under{app->content.x * scale, app->content.y * scale, app->content.width * scale,
                  app->content.height * scale};
  const DesktopSession::Pixels pixels = session.Capture();
  const auto frame = FindSplashFrame(pixels);
  if (!frame)
    return std::nullopt;
  std::ofstream(path, std::ios::binary) << "P6\n"
                                        << pixels.width << " " << pixels.height << "\n255\n"
                                        << pixels.rgb;
  return SplashShot{*frame, under, app->pid};
}

// Whole, the outline over part of a window shows the splash above it there.
bool Overlap(const Box& a, const Box& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

struct Case {
  const char* name;
  Compositor compositor;
  App app;
  bool tokens = false;  // the launcher is given a start-up id and an activation token
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

class DesktopLaunch : public ::testing::TestWithParam<Case> {};

TEST_P(DesktopLaunch, WindowSplashFocusAndTrace) {
  const Case& c = GetParam();
  DesktopSession& session = SessionFor(c.compositor);
  ASSERT_TRUE(session.ready()) << NameOf(c.compositor) << " did not start: " << session.error();

  // Where the window cannot be watched, the splash closes after its duration;
  // a window long before that shows whether the splash lies above it, even
  // when a loaded machine is slow to list windows.
  const bool tells = TellsOwners(c.compositor);
  // Where it can, the launcher sees the window at its first pass after the
  // splash's 2 s, which leaves the compositor's views more than a second
  // with both windows up, even on a loaded machine.
  const int window_after = tells ? 800 : 300;
  const std::string title = std::string("Quarven probe ") + c.name;
  Installation install(c.app,
                       std::string("[resources]\r\nsplash=splash.png\r\nsplashDuration=") +
                           (tells ? "2" : "3") + "\r\n",
                       "window_after_ms=" + std::to_string(window_after) +
                           "\nlifetime_ms=15000\ntitle=" + title + "\n");
  const std::string startup_id = "launcher-test-startup-id_TIME" + std::to_string(WallMs());
  const std::string token = "launcher-test-activation-token-" + std::to_string(WallMs());
  std::vector<std::string> extra;
  if (c.tokens)
    extra = {"DESKTOP_STARTUP_ID=" + startup_id, "XDG_ACTIVATION_TOKEN=" + token};

  const std::string shots = kArtefacts + "/" + c.name;
  auto launcher = session.Start({install.launcher()}, extra, std::string(c.name) + ".log");
  const pid_t launcher_pid = launcher->pid();
  const auto is_splash = [&](const Toplevel& t) {
    return t.pid == launcher_pid && t.title != kBoxTitle;
  };
  const auto is_app = [&](const Toplevel& t) { return t.title == title; };

  // The compositor's view, over and over, while the launcher runs.
  std::vector<Sample> samples;
  const auto started = std::chrono::steady_clock::now();
  bool shot_taken = false;
  std::optional<SplashShot> layer_shot;
  while (launcher->Running() && std::chrono::steady_clock::now() - started < kLauncherBound) {
    const std::int64_t at = WallMs();
    if (auto windows = session.Windows()) {
      samples.push_back({at, std::move(*windows)});
      if (SplashOnLayer(c.compositor) && !layer_shot && Find(samples.back(), is_app))
        layer_shot = ShootSplash(session, is_app, 1, shots + "-splash.ppm");
      if (!shot_taken && Find(samples.back(), is_splash) && Find(samples.back(), is_app))
        shot_taken = session.Screenshot(shots + "-splash.png");
    } else {
      if (!shot_taken && fs::exists(install.probe_folder() + "probe-window.txt"))
        shot_taken = session.Screenshot(shots + "-splash.png");
      std::this_thread::sleep_for(100ms);
    }
  }
  const auto code = launcher->WaitForExit(0ms);
  const std::int64_t ended = WallMs();
  const bool app_gone_first = fs::exists(install.probe_folder() + "probe-exit.txt");

  // Who has the focus once the launcher is gone (the compositor may take a
  // moment to hand it on).
  std::optional<Sample> last;
  if (code && c.compositor != Compositor::kWeston) {
    for (const auto until = std::chrono::steady_clock::now() + 3s;
         std::chrono::steady_clock::now() < until;) {
      if (auto windows = session.Windows()) {
        last = Sample{WallMs(), std::move(*windows)};
        const Toplevel* app = Find(*last, is_app);
        if (app != nullptr && app->focused)
          break;
      }
      std::this_thread::sleep_for(100ms);
    }
  }
  session.Screenshot(shots + "-end.png");
  if (last)
    samples.push_back(*last);
  SaveViews(shots + "-views.txt", samples);
  const std::string output = launcher->Output();
  launcher->StopGroup();
  // The application has a process group of its own: its window would share
  // the screen with the next case's.
  for (const Sample& s : samples)
    if (const Toplevel* app = Find(s, is_app); app != nullptr && app->pid > 0) {
      kill(app->pid, SIGTERM);
      break;
    }

  // The figures, for the report.
  std::vector<Trace> traces;
  std::vector<std::string> strays;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    Trace t;
    if (ParseTrace(line, t))
      traces.push_back(t);
    else
      strays.push_back(line);
  }
  const auto window_ms = ReadNumber(install.probe_folder() + "probe-window.txt");
  std::optional<Box> splash_content, splash_outer;
  int overlaps = 0, splash_above = 0;
  bool below_after_first = false;  // the splash under the application past its first view
  for (const Sample& s : samples) {
    const Toplevel* splash = Find(s, is_splash);
    const Toplevel* app = Find(s, is_app);
    // Where it settled: the last view that holds it.
    if (splash != nullptr) {
      splash_content = splash->content;
      splash_outer = splash->outer;
    }
    // A window the compositor lists before it has its first frame (0 x 0)
    // is on no screen yet, above nothing.
    if (splash != nullptr && app != nullptr && app->outer.width > 0 && app->outer.height > 0) {
      ++overlaps;
      const bool above = splash->stack > app->stack;
      splash_above += above ? 1 : 0;
      below_after_first = below_after_first || (!above && overlaps > 1);
    }
  }
  std::string focus_owner = "unknown";
  if (last) {
    focus_owner = "nobody";
    for (const Toplevel& t : last->windows)
      if (t.focused)
        focus_owner = t.pid == launcher_pid ? "the launcher"
                      : is_app(t)           ? "the application"
                                            : t.title;
  }
  const auto focus_record = [&] {
    std::ifstream in(install.probe_folder() + "probe-focus.txt");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (char& ch : text)
      ch = ch == '\n' ? ';' : ch;
    return text.empty() ? std::string("none") : text;
  }();
  std::ostringstream figures;
  figures << c.name << ": exit=" << (code ? std::to_string(*code) : "killed after 20 s")
          << " window->exit="
          << (window_ms ? std::to_string(ended - *window_ms) + " ms" : std::string("no window"));
  if (layer_shot)
    splash_content = splash_outer = layer_shot->frame;
  if (splash_content) {
    figures << " splash content " << Describe(*splash_content) << " outer "
            << Describe(*splash_outer) << " centre offset ("
            << splash_content->x + splash_content->width / 2.0 - kScreenW / 2.0 << ","
            << splash_content->y + splash_content->height / 2.0 - kScreenH / 2.0 << ")";
  } else {
    figures << " splash not seen";
  }
  figures << " above in " << splash_above << "/" << overlaps << " views with both"
          << " focus at end: " << focus_owner << " (probe's own record: " << focus_record << ")"
          << " stray output lines: " << strays.size();
  Report(figures.str());
  if (!strays.empty())
    Report(std::string(c.name) + " output:\n" + output);

  // The launcher ends by itself, cleanly, and says nothing but trace lines.
  ASSERT_TRUE(code) << "the launcher still ran after 20 s; it said:\n" << output;
  EXPECT_EQ(*code, 0) << output;
  EXPECT_TRUE(strays.empty()) << "output other than trace lines:\n" << output;
  ASSERT_TRUE(window_ms) << "the probe never showed its window";
  EXPECT_FALSE(app_gone_first) << "the application ended before the launcher";

  std::vector<Trace> attempts;
  for (const Trace& t : traces)
    if (t.message.rfind("Attempt ", 0) == 0)
      attempts.push_back(t);
  ASSERT_FALSE(attempts.empty()) << output;
  const std::size_t fallback_lines =
      std::count_if(traces.begin(), traces.end(),
                    [](const Trace& t) { return t.message.rfind(kFallback, 0) == 0; });
  if (TellsOwners(c.compositor)) {
    // Seen by the first pass after it appeared, or the next one: the
    // compositor may take a moment to map it.
    int pass_after = 0;
    for (const Trace& t : attempts)
      pass_after += t.ms > *window_ms ? 1 : 0;
    EXPECT_GE(pass_after, 1) << "the wait ended before the window was there:\n" << output;
    EXPECT_LE(pass_after, 2) << "the window was on screen at " << *window_ms
                             << " but the wait went on:\n"
                             << output;
    EXPECT_EQ(fallback_lines, 0u) << output;
  } else {
    EXPECT_EQ(fallback_lines, 1u) << "one line telling that windows cannot be read:\n" << output;
    // An X11 client is told by the kernel, and its window waited for on Xwayland.
    const bool x11_client = std::any_of(traces.begin(), traces.end(), [](const Trace& t) {
      return t.message.find("but the application is an X11 client") != std::string::npos;
    });
    EXPECT_EQ(x11_client, c.app == App::kX11) << output;
    EXPECT_EQ(attempts.back().message, "Attempt 0") << "the wait ends at its first pass:\n"
                                                    << output;
  }

  // The probe got the launcher's start-up id and token unchanged, and none
  // that the launcher made up.
  auto handed = ReadPairs(install.probe_folder() + "probe-env.txt");
  EXPECT_EQ(handed["env_DESKTOP_STARTUP_ID"], c.tokens ? startup_id : "<unset>");
  EXPECT_EQ(handed["env_XDG_ACTIVATION_TOKEN"], c.tokens ? token : "<unset>");

  if (c.compositor == Compositor::kWeston) {
    // Weston tells a client nothing of other windows (and its desktop shell
    // has no keep-above): only the screenshots under the build folder show
    // where the splash went and what lay above what.
    return;
  }
  ASSERT_TRUE(splash_content) << (SplashOnLayer(c.compositor)
                                      ? "no capture showed the splash while the application's "
                                        "window was there"
                                      : "the compositor never listed the splash");
  EXPECT_EQ(splash_content->width, 277);
  EXPECT_EQ(splash_content->height, 85);
  EXPECT_NEAR(splash_content->x + splash_content->width / 2.0, kScreenW / 2.0, 2.0);
  EXPECT_NEAR(splash_content->y + splash_content->height / 2.0, kScreenH / 2.0, 2.0);
  if (layer_shot) {
    // Its whole outline showed where the application's window lay.
    EXPECT_TRUE(Overlap(layer_shot->frame, layer_shot->app))
        << Describe(layer_shot->frame) << " is not over " << Describe(layer_shot->app);
  } else {
    EXPECT_EQ(*splash_outer, *splash_content) << "a title bar or border around the splash";
    EXPECT_GT(overlaps, 0) << "no view held the splash and the application's window together";
    // A compositor may list a new window on top for the one frame before it
    // restacks (GNOME Shell did, once, on a loaded machine): only the
    // application's first view may have it above the splash.
    EXPECT_FALSE(below_after_first) << "the application's window came above the splash";
    EXPECT_GT(splash_above, 0) << "the splash was above the application in no view";
  }
  // A made-up token may be refused by the compositor, which then need not
  // hand the focus on.
  if (!c.tokens) {
    ASSERT_TRUE(last) << "no view after the launcher ended";
    EXPECT_EQ(focus_owner, "the application");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sessions,
    DesktopLaunch,
    ::testing::Values(Case{"sway_wayland", Compositor::kSway, App::kWayland},
                      Case{"sway_x11", Compositor::kSway, App::kX11},
                      Case{"sway_x11_tokens", Compositor::kSway, App::kX11, true},
                      Case{"kwin_wayland", Compositor::kKwin, App::kWayland},
                      Case{"kwin_x11", Compositor::kKwin, App::kX11},
                      Case{"kwin_wayland_tokens", Compositor::kKwin, App::kWayland, true},
                      Case{"gnome_wayland", Compositor::kGnome, App::kWayland},
                      Case{"gnome_x11", Compositor::kGnome, App::kX11},
                      Case{"weston_wayland", Compositor::kWeston, App::kWayland},
                      Case{"weston_x11", Compositor::kWeston, App::kX11}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Sway as a user's session has it: Xwayland asleep until an X11 client
// comes; one per output scale.
DesktopSession& LazySway(int scale) {
  static std::map<int, std::unique_ptr<DesktopSession>> sessions;
  auto& slot = sessions[scale];
  if (!slot)
    slot = std::make_unique<DesktopSession>(
        Compositor::kSway, kArtefacts,
        SessionOptions{false, scale, "_lazy_scale" + std::to_string(scale)});
  return *slot;
}

// What stands in the launcher's way to the layer shell.
enum class Hurdle {
  kNone,
  kLibraryBroken,   // gtk-layer-shell found but no library
  kMuteCompositor,  // the Wayland socket accepts and never answers
};

struct LayerCase {
  const char* name;
  int scale;
  Hurdle hurdle;
  App app;
  const char* trace;   // the line that says why the layer shell was not used
  bool click = false;  // the splash clicked as soon as it shows, long before its end
};

void PrintTo(const LayerCase& c, std::ostream* out) {
  *out << c.name;
}

class DesktopLayer : public ::testing::TestWithParam<LayerCase> {};

// The splash as a layer surface: centred, above the application's window, at
// the output's scale, and no Xwayland woken; where the layer shell cannot be
// had, the splash on today's route and a line that says why.
TEST_P(DesktopLayer, SplashCentredAboveAndXwaylandAsleep) {
  const LayerCase& c = GetParam();
  DesktopSession& session = LazySway(c.scale);
  ASSERT_TRUE(session.ready()) << "sway did not start: " << session.error();
  if (c.hurdle == Hurdle::kNone) {
    ASSERT_FALSE(session.XwaylandResidentKb()) << "Xwayland ran before the launcher";
  }

  std::vector<std::string> extra;
  int mute = -1;
  if (c.hurdle == Hurdle::kLibraryBroken) {
    const std::string libs = session.folder() + "/broken-libs";
    fs::create_directories(libs);
    std::ofstream(libs + "/libgtk-layer-shell.so.0") << "no library\n";
    fs::permissions(libs, fs::perms::all);
    extra.push_back("LD_LIBRARY_PATH=" + libs);
  } else if (c.hurdle == Hurdle::kMuteCompositor) {
    const std::string path = session.folder() + "/mute-wayland";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    mute = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(mute, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(mute, 8), 0);
    fs::permissions(path, fs::perms::all);
    extra.push_back("WAYLAND_DISPLAY=" + path);
  }
  const std::string title = std::string("Quarven probe ") + c.name;
  Installation install(c.app,
                       std::string("[resources]\r\nsplash=splash.png\r\nsplashDuration=") +
                           (c.click ? "60" : "2") + "\r\n",
                       "window_after_ms=300\nlifetime_ms=15000\ntitle=" + title + "\n");
  auto launcher = session.Start({install.launcher()}, extra, std::string(c.name) + ".log");
  const auto is_app = [&](const Toplevel& t) { return t.title == title; };
  std::optional<SplashShot> shot;
  for (const auto until = std::chrono::steady_clock::now() + kLauncherBound;
       !shot && launcher->Running() && std::chrono::steady_clock::now() < until;)
    shot = ShootSplash(session, is_app, c.scale, kArtefacts + "/" + c.name + "-splash.ppm");
  std::optional<Captured> click;
  if (shot && c.click) {
    const Box& f = shot->frame;
    click = session.Run({VIRTUAL_CLICK_BINARY, std::to_string((f.x + f.width / 2) / c.scale),
                         std::to_string((f.y + f.height / 2) / c.scale), std::to_string(kScreenW),
                         std::to_string(kScreenH)});
  }
  const auto code = launcher->WaitForExit(kLauncherBound);
  const std::string output = launcher->Output();
  launcher->StopGroup();
  // The application has a process group of its own; its window would share
  // the screen with the next case's.
  if (shot)
    kill(shot->app_pid, SIGTERM);
  if (mute >= 0)
    close(mute);
  const auto xwayland_kb = session.XwaylandResidentKb();
  Report(std::string(c.name) + ": splash " + (shot ? Describe(shot->frame) : "not seen") +
         "; Xwayland after the launcher: " +
         (xwayland_kb ? std::to_string(*xwayland_kb) + " KiB resident" : "none"));

  if (c.click) {
    ASSERT_TRUE(shot) << output;
    ASSERT_TRUE(click);
    EXPECT_EQ(click->exit_code, 0) << click->output;
    // Closed by the click, not by the application's end a few seconds on.
    EXPECT_NE(output.find("tmrQuit execute..."), std::string::npos) << output;
    EXPECT_EQ(output.find("no longer running"), std::string::npos) << output;
  }
  ASSERT_TRUE(code) << "the launcher still ran; it said:\n" << output;
  EXPECT_EQ(*code, 0) << output;
  ASSERT_TRUE(shot) << "no capture showed the splash over the application's window:\n" << output;
  EXPECT_EQ(shot->frame.width, 277 * c.scale);
  EXPECT_EQ(shot->frame.height, 85 * c.scale);
  EXPECT_NEAR(shot->frame.x + shot->frame.width / 2.0, kScreenW / 2.0, 2.0 * c.scale);
  EXPECT_NEAR(shot->frame.y + shot->frame.height / 2.0, kScreenH / 2.0, 2.0 * c.scale);
  EXPECT_TRUE(Overlap(shot->frame, shot->app))
      << Describe(shot->frame) << " is not over " << Describe(shot->app);
  if (c.hurdle == Hurdle::kNone) {
    EXPECT_EQ(output.find("Layer shell not used"), std::string::npos) << output;
    EXPECT_FALSE(xwayland_kb) << "the launcher woke Xwayland:\n" << output;
  } else {
    EXPECT_NE(output.find(c.trace), std::string::npos) << output;
  }
}

// The hurdles come last: going round them wakes the session's Xwayland.
INSTANTIATE_TEST_SUITE_P(
    Sessions,
    DesktopLayer,
    ::testing::Values(LayerCase{"sway_layer", 1, Hurdle::kNone, App::kWayland, ""},
                      LayerCase{"sway_layer_scale2", 2, Hurdle::kNone, App::kWayland, ""},
                      // A 60 s splash ends within the bound only through the click.
                      LayerCase{"sway_layer_clicked", 1, Hurdle::kNone, App::kWayland, "", true},
                      LayerCase{"sway_layer_library_broken", 1, Hurdle::kLibraryBroken,
                                App::kWayland, "Layer shell not used ("},
                      // The application too would wait for the mute socket: an X11 one.
                      LayerCase{
                          "sway_layer_mute_compositor", 1, Hurdle::kMuteCompositor, App::kX11,
                          "no answer within 1000 ms): the launcher's windows go to the X display"}),
    [](const ::testing::TestParamInfo<LayerCase>& info) { return std::string(info.param.name); });

// The scripts KWin holds, by their D-Bus objects: /<id> (KWin 5.27) or
// /Scripting/Script<id> (later).
int KwinScripts(const DesktopSession& session) {
  int count = 0;
  static const std::regex kObject(R"(node /?(Script)?[0-9]+ )");
  for (const char* path : {"/", "/Scripting"}) {
    const std::string out = session
                                .Run({"gdbus", "introspect", "--session", "--dest", "org.kde.KWin",
                                      "--object-path", path})
                                .output;
    count += static_cast<int>(std::distance(std::sregex_iterator(out.begin(), out.end(), kObject),
                                            std::sregex_iterator()));
  }
  return count;
}

bool Within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
  for (const auto until = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(100ms))
    if (done())
      return true;
  return done();
}

// The launcher's script stays in KWin no longer than the launcher: it is
// unloaded as the launcher ends, and once the launcher was killed the script
// unloads itself at the next change of KWin's windows.
class DesktopScript : public ::testing::TestWithParam<Compositor> {};

TEST_P(DesktopScript, GoesWithTheLauncher) {
  DesktopSession& session = SessionFor(GetParam());
  ASSERT_TRUE(session.ready()) << "KWin did not start: " << session.error();
  const int before = KwinScripts(session);
  for (const bool killed : {false, true}) {
    Installation install(
        App::kWayland, "[resources]\r\nsplash=splash.png\r\nsplashDuration=1\r\n",
        std::string("lifetime_ms=30000\nwindow_after_ms=") + (killed ? "25000" : "1500") + "\n");
    auto launcher = session.Start({install.launcher()}, {}, "kwin_script.log");
    EXPECT_TRUE(Within(10s, [&] { return KwinScripts(session) == before + 1; }))
        << "no script of the launcher's in KWin";
    if (killed) {
      kill(launcher->pid(), SIGKILL);
      Installation other(App::kWayland, "", "window_after_ms=0\nlifetime_ms=5000\n");
      auto window = session.Start({other.probe_folder() + "quarven"}, {}, "kwin_other.log");
      EXPECT_TRUE(Within(10s, [&] { return KwinScripts(session) == before; }))
          << "the script of a killed launcher stayed in KWin";
    } else {
      EXPECT_TRUE(launcher->WaitForExit(kLauncherBound)) << launcher->Output();
      EXPECT_EQ(KwinScripts(session), before) << "the script stayed after the launcher ended";
    }
    launcher->StopGroup();
  }
}

INSTANTIATE_TEST_SUITE_P(Sessions,
                         DesktopScript,
                         ::testing::Values(Compositor::kKwin),
                         [](const ::testing::TestParamInfo<Compositor>& info) {
                           return std::string(NameOf(info.param));
                         });

// The start-up error box: a splash picture that is missing.
class DesktopErrorBox : public ::testing::TestWithParam<Compositor> {};

TEST_P(DesktopErrorBox, ComesUpReadableAndIsDismissed) {
  const Compositor kind = GetParam();
  DesktopSession& session = SessionFor(kind);
  ASSERT_TRUE(session.ready()) << NameOf(kind) << " did not start: " << session.error();
  Installation install(App::kX11, "[resources]\r\nsplash=missing.png\r\nsplashDuration=1\r\n",
                       "lifetime_ms=3000\n");
  const std::string name = std::string(NameOf(kind)) + "_error_box";
  auto launcher = session.Start({install.launcher()}, {}, name + ".log");

  std::optional<Toplevel> box;
  if (kind != Compositor::kWeston) {
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (!box && launcher->Running() && std::chrono::steady_clock::now() < until) {
      if (auto windows = session.Windows())
        for (const Toplevel& t : *windows)
          if (t.pid == launcher->pid() && t.title == kBoxTitle)
            box = t;
      if (!box)
        std::this_thread::sleep_for(100ms);
    }
    // The box takes the focus, the compositor may take a moment to give it.
    for (const auto until = std::chrono::steady_clock::now() + 3s;
         box && !box->focused && std::chrono::steady_clock::now() < until;) {
      std::this_thread::sleep_for(100ms);
      for (const Toplevel& t : session.Windows().value_or(std::vector<Toplevel>{}))
        if (t.pid == launcher->pid() && t.title == kBoxTitle)
          box = t;
    }
    session.Screenshot(kArtefacts + "/" + name + ".png");
    ASSERT_TRUE(box) << "no window titled \"" << kBoxTitle << "\" of the launcher; it said:\n"
                     << launcher->Output();
    EXPECT_TRUE(box->focused) << "the box did not take the focus";
  }
  // Its text through the accessibility service, then its OK button.
  const Captured read =
      session.Run({DIALOG_READER_BINARY, std::to_string(launcher->pid()), "20000", "--press"}, 30s);
  Report(name + ": " +
         (box ? "box " + Describe(box->outer) + (box->x11 ? " x11" : " wayland") +
                    (box->focused ? " focused" : " not focused")
              : std::string("box not listed")) +
         "; AT-SPI: " + read.output);
  EXPECT_EQ(read.exit_code, 0) << "AT-SPI found no dialog of the launcher: " << read.output;
  EXPECT_NE(read.output.find("label=QUARVENlauncher was unable to start correctly."),
            std::string::npos)
      << read.output;
  EXPECT_NE(read.output.find("File not found"), std::string::npos) << read.output;
  EXPECT_NE(read.output.find("pressed=1"), std::string::npos) << read.output;
  const auto code = launcher->WaitForExit(10s);
  ASSERT_TRUE(code) << "the launcher did not end after OK; it said:\n" << launcher->Output();
  EXPECT_EQ(*code, 1) << launcher->Output();
}

INSTANTIATE_TEST_SUITE_P(Sessions,
                         DesktopErrorBox,
                         ::testing::Values(Compositor::kSway,
                                           Compositor::kKwin,
                                           Compositor::kGnome,
                                           Compositor::kWeston),
                         [](const ::testing::TestParamInfo<Compositor>& info) {
                           return std::string(NameOf(info.param));
                         });

}  // namespace
}  // namespace launcher::testing
