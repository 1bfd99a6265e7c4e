// The real Linux launcher against faults nobody writes by hand: settings it
// cannot read or that are huge, garbage or hold NUL bytes; splash pictures that
// are truncated, empty or 20000 x 20000 pixels; applications that cannot start,
// crash, fail or fork; the display going away; the launcher itself ended by
// SIGTERM. Each run ends in a clear box (read and answered through the
// accessibility service) or a trace line, within its bound, with the exit
// status it should have, and leaves the installation folder as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "accessible_dialog.h"
#include "child_process.h"
#include "fault_inputs.h"
#include "install_dir.h"
#include "picture_files.h"
#include "png_file.h"
#include "test_support.h"
#include "x_session.h"

namespace launcher::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

AccessibilityBus* bus = nullptr;

class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // A crashing application must not leave a core file in the installation.
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    try {
      bus = new AccessibilityBus;
    } catch (const std::exception& e) {
      FAIL() << "no accessibility bus: " << e.what();
    }
  }
  void TearDown() override {
    delete bus;
    bus = nullptr;
  }
};

[[maybe_unused]] const auto* const kBusEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

std::string Differences(const std::map<std::string, std::string>& before,
                        const std::map<std::string, std::string>& after) {
  std::string out;
  for (const auto& [path, facts] : after) {
    const auto it = before.find(path);
    if (it == before.end())
      out += "  new: " + path + "\n";
    else if (it->second != facts)
      out += "  changed: " + path + " (" + it->second + " -> " + facts + ")\n";
  }
  for (const auto& [path, facts] : before) {
    if (after.count(path) == 0)
      out += "  gone: " + path + "\n";
  }
  return out;
}

// How a scenario's run is set up and what it must end with.
struct Scenario {
  const char* name;
  std::function<void(InstallDir&)> prepare;  // settings, pictures, application
  std::vector<std::string> args;
  bool box;                         // a box is expected (and answered); else silent
  std::vector<std::string> traced;  // messages that must be traced, in order
  std::string box_details;          // the end of the box's text
  int status;
  bool app_started;
  bool as_nobody = false;
  // "App Stop..." comes last, but not after a failure in the start-up itself,
  // which ends the program once nothing is left to run.
  bool stop_traced = true;
  std::chrono::seconds limit = 60s;
};

void PrintTo(const Scenario& s, std::ostream* out) {
  *out << s.name;
}

// The messages of the trace lines, after " - ".
std::vector<std::string> Traced(const std::string& stderr_text) {
  std::vector<std::string> messages;
  std::size_t from = 0;
  while (from < stderr_text.size()) {
    std::size_t end = stderr_text.find('\n', from);
    if (end == std::string::npos)
      end = stderr_text.size();
    const std::string line = stderr_text.substr(from, end - from);
    const std::size_t dash = line.find(" - ");
    if (dash != std::string::npos)
      messages.push_back(line.substr(dash + 3));
    from = end + 1;
  }
  return messages;
}

std::vector<std::string> LauncherEnvironment(const std::vector<std::string>& add = {}) {
  std::vector<std::string> drop = AccessibilityBus::ClientVariables();
  drop.insert(drop.end(), {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"});
  std::vector<std::string> extra = bus->ClientEnvironment();
  extra.push_back("LANG=C");
  extra.insert(extra.end(), add.begin(), add.end());
  return EnvironmentWith(drop, extra);
}

// Installs the probe as the application with a cue, and settings.
std::function<void(InstallDir&)> With(const std::string& ini,
                                      const std::string& cue = "lifetime_ms=0\n") {
  return [ini, cue](InstallDir& dir) {
    dir.WriteFile("bin/launcher.ini", ini);
    dir.InstallProbe("bin/xulrunner/quarven");
    dir.WriteFile("bin/xulrunner/probe-cue.txt", cue);
  };
}

const char kSplash[] = "[resources]\r\nname=Quarven\r\nsplash=pic.png\r\nsplashDuration=5\r\n";

class Fault : public ::testing::TestWithParam<Scenario> {};

TEST_P(Fault, EndsClearlyInTimeAndLeavesTheInstallationAlone) {
  const Scenario& s = GetParam();
  InstallDir dir("Quarven App");
  s.prepare(dir);
  std::vector<std::string> args = s.args;
  std::string program = dir.launcher();
  if (s.as_nobody) {
    // Tests run as root, who may read anything: the launcher runs as nobody,
    // who can reach the installation but not read the settings.
    fs::permissions(fs::path(dir.root()).parent_path(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec);
    args.insert(args.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program});
    program = "/usr/bin/setpriv";
  }
  const auto before = Listing(dir.root());

  ChildProcess launcher(program, args, LauncherEnvironment());
  if (s.box) {
    const auto dialog = AccessibleDialog::WaitFor(launcher.pid(), 30s);
    ASSERT_TRUE(dialog) << "no box; the launcher said:\n" << launcher.Stderr();
    ASSERT_EQ(dialog->labels().size(), 1u);
    const std::string& text = dialog->labels()[0];
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), s.box_details.size())), s.box_details)
        << text;
    EXPECT_TRUE(dialog->Press(0));
  }
  const auto code = launcher.WaitForExit(s.limit);
  ASSERT_TRUE(code) << "still running after " << s.limit.count() << " s:\n" << launcher.Stderr();
  const std::string said = launcher.Stderr();
  EXPECT_EQ(*code, s.status) << said;
  // With no display to show it on, the box's text goes to standard error.
  if (!s.box && !s.box_details.empty()) {
    EXPECT_NE(said.find(s.box_details), std::string::npos) << said;
  }

  const std::vector<std::string> messages = Traced(said);
  auto next = messages.begin();
  for (const std::string& wanted : s.traced) {
    next = std::find_if(next, messages.end(),
                        [&](const std::string& m) { return m.rfind(wanted, 0) == 0; });
    EXPECT_NE(next, messages.end()) << "not traced (in order): " << wanted << "\n" << said;
  }
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back() == "App Stop...", s.stop_traced) << said;
  EXPECT_EQ(dir.ReadRecord("bin/xulrunner", s.app_started ? 10s : 1s).has_value(), s.app_started)
      << said;
  const std::string changed = Differences(before, Listing(dir.root()));
  EXPECT_TRUE(changed.empty()) << "the installation changed:\n" << changed;
  std::printf("[ outcome  ] %s: exit status %d, %zu trace lines, last failure: %s\n", s.name, *code,
              messages.size(), [&] {
                for (auto it = messages.rbegin(); it != messages.rend(); ++it)
                  if (it->find(": #") != std::string::npos)
                    return it->c_str();
                return "none";
              }());
}

INSTANTIATE_TEST_SUITE_P(
    Settings,
    Fault,
    ::testing::Values(
        Scenario{"unreadable",
                 [](InstallDir& dir) {
                   With("[resources]\r\nname=Quarven\r\n")(dir);
                   chmod((dir.root() + "/bin/launcher.ini").c_str(), 0600);
                 },
                 {"-s"},
                 false,
                 {"QUARVENlauncher GetINISettingsError: #70 | Permission denied | launcher",
                  "QUARVENlauncher : #4646 | Permission denied | QUARVENlauncher "
                  "GetINISettingsError"},
                 "",
                 1,
                 false,
                 true,
                 false},
        Scenario{"unreadable_box",
                 [](InstallDir& dir) {
                   With("[resources]\r\nname=Quarven\r\n")(dir);
                   chmod((dir.root() + "/bin/launcher.ini").c_str(), 0600);
                 },
                 {},
                 false,  // nobody may not use the display: the box goes to standard error
                 {"QUARVENlauncher : #4646 | Permission denied | QUARVENlauncher "
                  "GetINISettingsError"},
                 "Details: QUARVENlauncher : Permission denied (QUARVENlauncher "
                 "GetINISettingsError)",
                 1,
                 false,
                 true,
                 false},
        Scenario{"folder_named_launcher_ini",
                 [](InstallDir& dir) {
                   With("")(dir);
                   fs::remove(dir.root() + "/bin/launcher.ini");
                   fs::create_directories(dir.root() + "/bin/launcher.ini");
                 },
                 {"-s"},
                 false,
                 {"Silent Mode: True", "Waiting for end of process ID: "},
                 "",
                 0,
                 true},
        Scenario{"ten_megabytes",
                 With("[resources]\r\nname=Quarven\r\n" + Filler(10 << 20) +
                      "[app]\r\nlocalization=fr-FR\r\n"),
                 {"-s"},
                 false,
                 {},
                 "",
                 0,
                 true},
        Scenario{"one_megabyte_line_of_name",
                 With("[resources]\r\nname=" + std::string(1 << 20, 'x') + "\r\n"),
                 {"-s"},
                 false,
                 {},
                 "",
                 0,
                 true},
        // One argument longer than the system takes (128 KB on Linux).
        Scenario{"one_megabyte_argument",
                 With("[app]\r\ninifile=" + std::string(1 << 20, 'x') + "\r\n"),
                 {"-s"},
                 false,
                 {"QUARVENlauncher StartQUARVENApp: #5 | Invalid procedure call or argument | "
                  "launcher"},
                 "",
                 1,
                 false},
        Scenario{"binary_garbage", With(Garbage(256 << 10)), {"-s"}, false, {}, "", 0, true},
        Scenario{"nul_in_keys",
                 With("[resources]\r\nna\0me=Nul\r\n[app]\r\nxul\0runner=elsewhere\r\n"s),
                 {"-s"},
                 false,
                 {},
                 "",
                 0,
                 true},
        Scenario{"nul_in_application",
                 With("[app]\r\nxulrunner=xulrunner/quarven\0.old\r\n"s),
                 {"-s"},
                 false,
                 {"QUARVENlauncher StartQUARVENApp: #52 | Bad file name or number | launcher"},
                 "",
                 1,
                 false},
        Scenario{"nul_in_locale",
                 With("[app]\r\nlocalization=en\0-US\r\n"s),
                 {"-s"},
                 false,
                 {"QUARVENlauncher StartQUARVENApp: #52 | Bad file name or number | launcher"},
                 "",
                 1,
                 false}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Pictures,
    Fault,
    ::testing::Values(
        Scenario{"truncated",
                 [](InstallDir& dir) {
                   With(kSplash)(dir);
                   dir.WriteFile("bin/pic.png", Png(300, 100, 40));
                 },
                 {},
                 true,
                 {"QUARVENlauncher DisplaySplash: #481 | Invalid picture | launcher"},
                 "QUARVENlauncher DisplaySplash: Invalid picture (launcher)",
                 1,
                 true},
        Scenario{"empty",
                 [](InstallDir& dir) {
                   With(kSplash)(dir);
                   dir.WriteFile("bin/pic.png", "");
                 },
                 {},
                 true,
                 {"QUARVENlauncher DisplaySplash: #481 | Invalid picture | launcher"},
                 "QUARVENlauncher DisplaySplash: Invalid picture (launcher)",
                 1,
                 true},
        Scenario{"nul_in_name",
                 [](InstallDir& dir) {
                   With(
                       "[resources]\r\nname=Quarven\r\nsplash=pic.png\0.bak\r\n"
                       "splashDuration=5\r\n"s)(dir);
                   dir.WriteFile("bin/pic.png", Png(300, 100));
                 },
                 {},
                 true,
                 {"QUARVENlauncher DisplaySplash: #52 | Bad file name or number | launcher"},
                 "QUARVENlauncher DisplaySplash: Bad file name or number (launcher)",
                 1,
                 true}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Application,
    Fault,
    ::testing::Values(
        Scenario{"not_executable",
                 [](InstallDir& dir) {
                   With("[resources]\r\nname=Quarven\r\n")(dir);
                   chmod((dir.root() + "/bin/xulrunner/quarven").c_str(), 0644);
                 },
                 {"-s"},
                 false,
                 {"QUARVENlauncher StartQUARVENApp: #70 | Permission denied | launcher"},
                 "",
                 1,
                 false},
        Scenario{"crashes_at_once",
                 With("[resources]\r\nname=Quarven\r\n", "crash=1\n"),
                 {"-s"},
                 false,
                 {"Waiting for end of process ID: "},
                 "",
                 0,
                 true},
        Scenario{"fails_at_once",
                 With("[resources]\r\nname=Quarven\r\n", "exit_code=3\n"),
                 {"-s"},
                 false,
                 {"Waiting for end of process ID: "},
                 "",
                 0,
                 true},
        Scenario{"crashes_under_the_splash",
                 [](InstallDir& dir) {
                   With(kSplash, "crash=1\n")(dir);
                   dir.WriteFile("bin/pic.png", Png(300, 100));
                 },
                 {},
                 false,
                 {"tmrCheckQvProcess: "},
                 "",
                 0,
                 true}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

// Partial trace messages (a pid inside) are matched by their start.
bool TracedStart(const std::string& said, const std::string& start) {
  for (const std::string& m : Traced(said))
    if (m.rfind(start, 0) == 0)
      return true;
  return false;
}

struct RefusedRun {
  long peak_kb = -1;  // the launcher's peak resident memory, up to its box
  long long ms = -1;  // from its start to the box
};

// A run whose splash picture `file` (in bin/) is refused with a box whose
// text ends in `details`; the application starts all the same and the
// installation is left as it was.
RefusedRun RunRefusing(const std::string& file,
                       const std::string& picture,
                       const std::string& details) {
  InstallDir dir("Quarven App");
  With("[resources]\r\nname=Quarven\r\nsplash=" + file + "\r\nsplashDuration=5\r\n")(dir);
  dir.WriteFile("bin/" + file, picture);
  const auto before = Listing(dir.root());
  const auto started = std::chrono::steady_clock::now();
  ChildProcess launcher(dir.launcher(), {}, LauncherEnvironment());
  const auto dialog = AccessibleDialog::WaitFor(launcher.pid(), 30s);
  RefusedRun run;
  run.ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 started)
               .count();
  EXPECT_TRUE(dialog) << launcher.Stderr();
  if (!dialog)
    return {};
  EXPECT_EQ(dialog->labels().size(), 1u);
  const std::string& text = dialog->labels().at(0);
  EXPECT_EQ(text.substr(text.size() - std::min(text.size(), details.size())), details) << text;
  run.peak_kb = launcher.PeakRssKb();
  EXPECT_TRUE(dialog->Press(0));
  const auto code = launcher.WaitForExit(30s);
  EXPECT_TRUE(code) << launcher.Stderr();
  EXPECT_EQ(code.value_or(-1), 1);
  EXPECT_TRUE(dir.ReadRecord("bin/xulrunner", 10s)) << "the application starts all the same";
  EXPECT_EQ(Differences(before, Listing(dir.root())), "");
  return run;
}

const char kTooLarge[] =
    "DisplaySplash: Invalid picture (20000 x 20000 pixels; at most 16777216 pixels, and 32767 on "
    "a side, are taken) (launcher)";
const char kNoPicture[] = "DisplaySplash: Invalid picture (launcher)";

std::string NotTaken(const std::string& format) {
  return "DisplaySplash: Invalid picture (" + format +
         " pictures are not taken: their size is known only once decoded) (launcher)";
}

struct HugeCase {
  const char* name;
  std::string file;
  std::string picture;
  std::string details;
};

void PrintTo(const HugeCase& c, std::ostream* out) {
  *out << c.name;
}

class HugePicture : public ::testing::TestWithParam<HugeCase> {};

// Each format's picture of 20000 x 20000 pixels costs what a small picture
// that is no picture costs: refused from the size its loader tells, before
// the pixels; or, where a loader would decode first, refused for its format.
TEST_P(HugePicture, IsRefusedAtTheCostOfNoPicture) {
  const HugeCase& c = GetParam();
  // The same run with a small PNG cut short, for comparison. The first toolkit
  // program on a display probes its GL visuals (some 50 MB of LLVM) and leaves
  // the answer there for the next ones: a run before pays for it.
  static const RefusedRun small = [] {
    RunRefusing("pic.png", Png(300, 100, 40), kNoPicture);
    return RunRefusing("pic.png", Png(300, 100, 40), kNoPicture);
  }();
  const RefusedRun huge = RunRefusing(c.file, c.picture, c.details);
  std::printf(
      "[ memory   ] %s: a %zu-byte file refused; the launcher's peak resident memory %ld kB "
      "(%ld kB with a small PNG cut short), its box after %lld ms (%lld ms)\n",
      c.name, c.picture.size(), huge.peak_kb, small.peak_kb, huge.ms, small.ms);
  ASSERT_GT(huge.peak_kb, 0);
  ASSERT_GT(small.peak_kb, 0);
  // Decoded, the picture alone would take 1.2 GB (3 bytes a pixel).
  EXPECT_LT(huge.peak_kb, small.peak_kb + 32 * 1024);
}

INSTANTIATE_TEST_SUITE_P(
    Formats,
    HugePicture,
    ::testing::Values(HugeCase{"png", "pic.png", Png(20000, 20000), kTooLarge},
                      HugeCase{"jpeg", "pic.jpg", JpegFile(20000, 20000), kTooLarge},
                      // The size comes a megabyte into the file, which no look at a header finds.
                      HugeCase{"jpeg_sized_late", "pic.jpg", JpegFile(20000, 20000, 16), kTooLarge},
                      HugeCase{"gif", "pic.gif", GifFile(20000, 20000), kTooLarge},
                      HugeCase{"bmp", "pic.bmp", BmpFile(20000, 20000), kTooLarge},
                      HugeCase{"pnm", "pic.ppm", PnmFile(20000, 20000), kTooLarge},
                      // Known only once the whole drawing is read, but before it is drawn.
                      HugeCase{"svg", "pic.svg", SvgFile(20000, 20000), kTooLarge},
                      HugeCase{"tga", "pic.tga", TgaFile(20000, 20000), kTooLarge},
                      HugeCase{"tiff", "pic.tif", TiffFile(20000, 20000), kTooLarge},
                      // Icons are 256 pixels at most: a larger bitmap is a lie.
                      HugeCase{"ico", "pic.ico", IcoFile(20000, 20000), kNoPicture},
                      HugeCase{"ani", "pic.ani", AniFile(20000, 20000), kNoPicture},
                      HugeCase{"icns", "pic.icns", IcnsFile(20000, 20000), NotTaken("icns")},
                      HugeCase{"qtif", "pic.qtif", QtifFile(20000, 20000), NotTaken("qtif")},
                      HugeCase{"xbm", "pic.xbm", XbmFile(20000, 20000), NotTaken("xbm")},
                      HugeCase{"xpm", "pic.xpm", XpmFile(20000, 20000), NotTaken("xpm")}),
    [](const ::testing::TestParamInfo<HugeCase>& info) { return std::string(info.param.name); });

// Silent mode waits for the copy the application left running from its file.
TEST(FaultApplication, ForkThatExitsIsWaitedFor) {
  InstallDir dir("Quarven App");
  With("[resources]\r\nname=Quarven\r\n", "fork_child_ms=9000\n")(dir);
  const auto before = Listing(dir.root());
  ChildProcess launcher(dir.launcher(), {"-s"}, LauncherEnvironment());
  const auto code = launcher.WaitForExit(60s);
  const std::int64_t ended = WallMs();
  ASSERT_TRUE(code) << launcher.Stderr();
  EXPECT_EQ(*code, 0) << launcher.Stderr();
  const auto parent_exit = ReadNumber(dir.root() + "/bin/xulrunner/probe-exit.txt");
  const auto child_exit = ReadNumber(dir.root() + "/bin/xulrunner/probe-child-exit.txt");
  ASSERT_TRUE(parent_exit && child_exit) << launcher.Stderr();
  EXPECT_GE(*child_exit - *parent_exit, 8000) << "the parent ended at once";
  EXPECT_GE(ended, *child_exit) << "the launcher ended before the copy";
  EXPECT_EQ(Differences(before, Listing(dir.root())), "");
}

struct LossCase {
  const char* name;
  int splash_duration;
  const char* traced_before;  // the display goes once this is traced, if anything
};

void PrintTo(const LossCase& c, std::ostream* out) {
  *out << c.name;
}

class DisplayLoss : public ::testing::TestWithParam<LossCase> {};

// The display goes away under the launcher: one failure line, "App Stop...",
// status 1; no hang, and the application is left running.
TEST_P(DisplayLoss, EndsWithATraceLineAndLeavesTheApplicationAlone) {
  const LossCase& c = GetParam();
  XSession session(XSession::Options{});
  ASSERT_TRUE(session.ready()) << session.error();
  InstallDir dir("Quarven App");
  With("[resources]\r\nname=Quarven\r\nsplash=pic.png\r\nsplashDuration=" +
           std::to_string(c.splash_duration) + "\r\n",
       "lifetime_ms=60000\n")(dir);
  dir.WriteFile("bin/pic.png", Png(300, 100));
  const auto before = Listing(dir.root());
  ChildProcess launcher(dir.launcher(), {},
                        EnvironmentWith({"DISPLAY"}, {"DISPLAY=" + session.display()}));
  // Started, so the launcher watches the application under its splash.
  ASSERT_TRUE(dir.ReadRecord("bin/xulrunner", 20s)) << launcher.Stderr();
  if (c.traced_before != nullptr) {
    ASSERT_TRUE(WaitUntil([&] { return TracedStart(launcher.Stderr(), c.traced_before); }, 20s))
        << launcher.Stderr();
  }
  session.KillServer();
  const auto code = launcher.WaitForExit(20s);
  ASSERT_TRUE(code) << "the launcher hangs:\n" << launcher.Stderr();
  const std::string said = launcher.Stderr();
  EXPECT_EQ(*code, 1) << said;
  const auto messages = Traced(said);
  ASSERT_GE(messages.size(), 2u) << said;
  // GDK's connection or the window list's may be the first to notice.
  const std::string& failure = messages[messages.size() - 2];
  EXPECT_EQ(failure.rfind("QUARVENlauncher DisplayLost: #68 | Device unavailable (the connection "
                          "to the X display " +
                              session.display() + " was lost",
                          0),
            0u)
      << said;
  EXPECT_EQ(failure.substr(failure.size() - std::min<std::size_t>(failure.size(), 12)),
            ") | launcher");
  EXPECT_EQ(messages.back(), "App Stop...");
  const auto app = RunningFrom(dir.root() + "/bin/xulrunner/quarven");
  EXPECT_TRUE(app) << "the application did not survive the launcher";
  if (app)
    kill(*app, SIGKILL);
  EXPECT_EQ(Differences(before, Listing(dir.root())), "");
}

INSTANTIATE_TEST_SUITE_P(Faults,
                         DisplayLoss,
                         ::testing::Values(LossCase{"while_the_splash_shows", 30, nullptr},
                                           LossCase{"during_the_window_wait", 1, "Attempt "}),
                         [](const ::testing::TestParamInfo<LossCase>& info) {
                           return std::string(info.param.name);
                         });

struct EndCase {
  const char* name;
  bool splash;
  int signal;
};

void PrintTo(const EndCase& c, std::ostream* out) {
  *out << c.name;
}

class Termination : public ::testing::TestWithParam<EndCase> {};

// The launcher runs as a shell's job, leading a process group, and is ended
// while it waits as a user or a session ends a job: the signal goes to the
// whole group (Ctrl+C, the terminal closing, timeout, kill -- -<group>). It
// ends; the application it started runs on untouched: it gets no signal and
// keeps its standard input and output.
TEST_P(Termination, ApplicationRunsOnUntouched) {
  const EndCase& c = GetParam();
  XSession session(XSession::Options{});
  ASSERT_TRUE(session.ready()) << session.error();
  InstallDir dir("Quarven App");
  With(c.splash ? "[resources]\r\nname=Quarven\r\nsplash=pic.png\r\nsplashDuration=30\r\n"
                : "[resources]\r\nname=Quarven\r\n",
       "lifetime_ms=20000\necho_stdin=1\n")(dir);
  dir.WriteFile("bin/pic.png", Png(300, 100));
  int in[2];
  int out[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  ChildProcess launcher(dir.launcher(), c.splash ? std::vector<std::string>{} : std::vector{"-s"s},
                        EnvironmentWith({"DISPLAY"}, {"DISPLAY=" + session.display()}), out[1],
                        in[0], true);
  close(in[0]);
  close(out[1]);
  // Started: from now on the launcher watches (splash) or waits (silent).
  ASSERT_TRUE(dir.ReadRecord("bin/xulrunner", 20s)) << launcher.Stderr();
  ASSERT_TRUE(launcher.Running());
  ASSERT_EQ(kill(-launcher.pid(), c.signal), 0);
  const auto code = launcher.WaitForExit(10s);
  ASSERT_TRUE(code) << launcher.Stderr();
  EXPECT_EQ(*code, 128 + c.signal);

  // The application still reads what is written to it and answers.
  const std::string line = "still here\n";
  ASSERT_EQ(write(in[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
  std::string answer;
  WaitUntil(
      [&] {
        char chunk[64];
        const int flags = fcntl(out[0], F_GETFL);
        fcntl(out[0], F_SETFL, flags | O_NONBLOCK);
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n > 0)
          answer.append(chunk, static_cast<std::size_t>(n));
        return answer == line;
      },
      10s);
  EXPECT_EQ(answer, line) << "the application lost its standard input or output";
  std::ifstream signals(dir.root() + "/bin/xulrunner/probe-signals.txt");
  std::string noted;
  EXPECT_FALSE(std::getline(signals, noted)) << "the application got " << noted;
  EXPECT_FALSE(fs::exists(dir.root() + "/bin/xulrunner/probe-exit.txt"));
  close(in[1]);
  close(out[0]);
  if (const auto app = RunningFrom(dir.root() + "/bin/xulrunner/quarven"))
    kill(*app, SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(Faults,
                         Termination,
                         ::testing::Values(EndCase{"silent_sigterm", false, SIGTERM},
                                           EndCase{"splash_sigterm", true, SIGTERM},
                                           EndCase{"silent_ctrl_c", false, SIGINT},
                                           EndCase{"splash_terminal_closed", true, SIGHUP}),
                         [](const ::testing::TestParamInfo<EndCase>& info) {
                           return std::string(info.param.name);
                         });

// The launcher started from a terminal as its foreground job, silent, and the
// application reads that terminal (and writes it, also under "stty tostop"):
// the application is nobody's background job, so job control never stops it.
class TerminalJob : public ::testing::TestWithParam<bool> {};

TEST_P(TerminalJob, ApplicationReadingTheTerminalIsNeverStopped) {
  const bool tostop = GetParam();
  InstallDir dir("Quarven App");
  With("[resources]\r\nname=Quarven\r\n", "lifetime_ms=8000\necho_stdin=1\n")(dir);
  int master = -1;
  int slave = -1;
  termios modes{};
  cfmakeraw(&modes);
  modes.c_oflag |= OPOST | ONLCR;
  modes.c_lflag |= ISIG | ICANON | (tostop ? TOSTOP : 0);
  ASSERT_EQ(openpty(&master, &slave, nullptr, &modes, nullptr), 0);
  const std::string launcher_path = dir.launcher();
  const pid_t launcher = fork();
  ASSERT_GE(launcher, 0);
  if (launcher == 0) {
    // As a shell starts a foreground job: its own session on the terminal.
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    tcsetpgrp(slave, getpid());
    dup2(slave, 0);
    dup2(slave, 1);
    dup2(slave, 2);
    execl(launcher_path.c_str(), launcher_path.c_str(), "-s", nullptr);
    _exit(127);
  }
  close(slave);
  ASSERT_TRUE(dir.ReadRecord("bin/xulrunner", 20s));
  const std::string line = "typed\n";
  ASSERT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  std::string answer;
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  WaitUntil(
      [&] {
        char chunk[256];
        const ssize_t n = read(master, chunk, sizeof chunk);
        if (n > 0)
          answer.append(chunk, static_cast<std::size_t>(n));
        return answer.find("typed") != std::string::npos;
      },
      10s);
  EXPECT_NE(answer.find("typed"), std::string::npos) << "the application never answered:\n"
                                                     << answer;
  const auto app = RunningFrom(dir.root() + "/bin/xulrunner/quarven");
  if (app) {
    std::ifstream stat("/proc/" + std::to_string(*app) + "/stat");
    std::string fields;
    std::getline(stat, fields);
    const std::size_t paren = fields.rfind(')');
    ASSERT_NE(paren, std::string::npos);
    EXPECT_NE(fields.substr(paren + 2, 1), "T") << "the application was stopped";
  }
  // Stopped, it would never end, and the silent launcher would wait for ever.
  int status = 0;
  const bool ended =
      WaitUntil([&] { return waitpid(launcher, &status, WNOHANG) == launcher; }, 30s);
  if (!ended) {
    kill(launcher, SIGKILL);
    waitpid(launcher, &status, 0);
    if (app)
      kill(*app, SIGKILL);
  }
  EXPECT_TRUE(ended) << "the silent launcher waits for ever";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(master);
}

INSTANTIATE_TEST_SUITE_P(Faults,
                         TerminalJob,
                         ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "tostop" : "plain");
                         });

}  // namespace
}  // namespace launcher::testing
