// The Linux launcher's startup-error box, seen as a user sees it: found on the
// X display, read through the accessibility service and closed with its OK
// button, after which the launcher ends.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "accessible_dialog.h"
#include "child_process.h"
#include "install_dir.h"
#include "x11_windows.h"

namespace launcher::testing {
namespace {

using namespace std::chrono_literals;

// One private accessibility bus for the whole test program.
AccessibilityBus* bus = nullptr;

class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    try {
      bus = new AccessibilityBus;
    } catch (const std::exception& e) {
      // A fatal failure here fails the program and skips every test.
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

const char kMissingApp[] = "QUARVENlauncher StartQUARVENApp: File not found (launcher)";

// Without a splash picture the default splash would report a box of its own
// before the launch is tried; these settings leave the launch's box alone.
const char kNoSplash[] = "[resources]\r\nsplashDuration=0\r\n";
const char kNamedNoSplash[] = "[resources]\r\nname=Quarven Desktop\r\nsplashDuration=0\r\n";

// GTK may show CR LF as one line break; the box's text is compared with every
// line break written as LF.
std::string NormaliseLineBreaks(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string English(const std::string& name, const std::string& details) {
  return name + " was unable to start correctly.\r\nPlease reinstall the application.\r\n\r\n" +
         "Details: " + details;
}

std::string French(const std::string& name, const std::string& details) {
  return name + " n'a pas pu démarrer correctement.\r\nVeuillez réinstaller l'application." +
         "\r\n\r\nDetails: " + details;
}

// The launcher's environment: this one, with the language set only as given.
std::vector<std::string> LauncherEnvironment(const std::vector<std::string>& language) {
  std::vector<std::string> drop = AccessibilityBus::ClientVariables();
  drop.insert(drop.end(), {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"});
  std::vector<std::string> add = bus->ClientEnvironment();
  add.insert(add.end(), language.begin(), language.end());
  return EnvironmentWith(drop, add);
}

struct BoxCase {
  const char* name;
  std::vector<std::string> args;
  std::vector<std::string> language;  // NAME=value entries
  const char* ini;                    // bin/launcher.ini
  bool app_installed;
  std::string title;
  std::string text;
  // The desktop's start-up id handed to the launcher, which the box carries
  // when the start failed: the launch feedback ends and the box may take the focus.
  std::string startup_id = {};
};

void PrintTo(const BoxCase& c, std::ostream* out) {
  *out << c.name;
}

class StartupErrorBox : public ::testing::TestWithParam<BoxCase> {};

TEST_P(StartupErrorBox, ShowsLocalizedTextAndEndsAfterOk) {
  const BoxCase& c = GetParam();
  InstallDir dir("Quarven App");
  dir.WriteFile("bin/launcher.ini", c.ini);
  if (c.app_installed)
    dir.InstallProbe("bin/xulrunner/quarven");
  X11Windows x11;

  std::vector<std::string> environment = c.language;
  if (!c.startup_id.empty())
    environment.push_back("DESKTOP_STARTUP_ID=" + c.startup_id);
  ChildProcess launcher(dir.launcher(), c.args, LauncherEnvironment(environment));
  const auto dialog = AccessibleDialog::WaitFor(launcher.pid(), 20s);
  ASSERT_TRUE(dialog) << "no dialog of the launcher within 20 s; it "
                      << (launcher.Running() ? "is still running" : "has ended") << " and said:\n"
                      << launcher.Stderr();

  // GTK gives a message dialog the accessible name of its kind, not its title;
  // the title is what the window tells the window manager.
  std::vector<std::string> titles;
  for (const ProcessWindow& window : x11.WindowsOf(launcher.pid())) {
    if (window.viewable && !window.title.empty()) {
      titles.push_back(window.title);
      EXPECT_EQ(window.startup_id, c.startup_id);
    }
  }
  EXPECT_EQ(titles, std::vector<std::string>{c.title}) << "shown, titled windows of the launcher";

  ASSERT_EQ(dialog->labels().size(), 1u) << "the box holds one text";
  EXPECT_EQ(NormaliseLineBreaks(dialog->labels()[0]), NormaliseLineBreaks(c.text));
  EXPECT_TRUE(dialog->modal());
  ASSERT_EQ(dialog->buttons().size(), 1u) << "OK is the only button";

  ASSERT_TRUE(dialog->Press(0)) << "the OK button took no click";
  const auto exit_code = launcher.WaitForExit(10s);
  ASSERT_TRUE(exit_code) << "the launcher did not end after OK; it said:\n" << launcher.Stderr();
  EXPECT_EQ(*exit_code, 1) << "a reported failure; the launcher said:\n" << launcher.Stderr();

  if (c.app_installed) {
    EXPECT_FALSE(dir.ReadRecord("bin/xulrunner", 2s)) << "the application was started";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Linux,
    StartupErrorBox,
    ::testing::Values(
        BoxCase{"missing_app_english",
                {},
                {"LANG=C"},
                kNoSplash,
                false,
                "QUARVENlauncher startup error",
                English("QUARVENlauncher", kMissingApp)},
        BoxCase{"missing_app_with_a_startup_id",
                {},
                {"LANG=C"},
                kNoSplash,
                false,
                "QUARVENlauncher startup error",
                English("QUARVENlauncher", kMissingApp),
                "launcher-test-1234_TIME5678"},
        BoxCase{"missing_app_display_name",
                {},
                {"LANG=en_US.UTF-8"},
                kNamedNoSplash,
                false,
                "Quarven Desktop startup error",
                English("Quarven Desktop", kMissingApp)},
        BoxCase{"missing_app_french",
                {},
                {"LANG=fr_FR.UTF-8"},
                kNoSplash,
                false,
                "Erreur de démarrage de QUARVENlauncher",
                French("QUARVENlauncher", kMissingApp)},
        BoxCase{"french_messages_category",
                {},
                {"LC_MESSAGES=fr_FR.UTF-8", "LANG=C"},
                kNamedNoSplash,
                false,
                "Erreur de démarrage de Quarven Desktop",
                French("Quarven Desktop", kMissingApp)},
        BoxCase{"lc_all_wins_over_french_lang",
                {},
                {"LC_ALL=C", "LANG=fr_FR.UTF-8"},
                kNoSplash,
                false,
                "QUARVENlauncher startup error",
                English("QUARVENlauncher", kMissingApp)},
        // The failure comes before the settings are read: the name is empty
        // although the settings hold one, no splash is tried (none is turned
        // off here) and nothing is started.
        BoxCase{"command_line_ends_in_c",
                {"x", "-c"},
                {"LANG=C"},
                "[resources]\r\nname=Quarven Desktop\r\n",
                true,
                " startup error",
                English("", "QUARVENlauncher : Invalid procedure call or argument (launcher)")}),
    [](const ::testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

TEST(SilentStartupError, NoWindowOnlyTraceAndEnds) {
  InstallDir dir("Quarven App");
  X11Windows x11;

  ChildProcess launcher(dir.launcher(), {"-s"}, LauncherEnvironment({"LANG=C"}));
  // Watch the whole window tree for as long as the launcher lives: a box would
  // keep it alive, and so be seen.
  std::map<unsigned long, std::string> seen;  // window id, title
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (launcher.Running() && std::chrono::steady_clock::now() < deadline) {
    for (const ProcessWindow& window : x11.WindowsOf(launcher.pid()))
      seen.emplace(window.id, window.title);
    std::this_thread::sleep_for(10ms);
  }
  std::string titles;
  for (const auto& [id, title] : seen)
    titles += " \"" + title + '"';
  EXPECT_TRUE(seen.empty()) << "the silent launcher made windows titled" << titles;
  ASSERT_FALSE(launcher.Running()) << "the silent launcher did not end on its own";
  const auto exit_code = launcher.WaitForExit(0ms);
  ASSERT_TRUE(exit_code);
  EXPECT_EQ(*exit_code, 1) << "a script waiting on the launcher learns that nothing ran";
  EXPECT_NE(
      launcher.Stderr().find("QUARVENlauncher StartQUARVENApp: #53 | File not found | launcher"),
      std::string::npos)
      << launcher.Stderr();
}

}  // namespace
}  // namespace launcher::testing
