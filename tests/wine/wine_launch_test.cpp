// launcher.exe under Wine, started from a folder laid out like an installation,
// starts the probe with exactly the command line and working directory expected.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "wine_install.h"

namespace launcher::wine_testing {
namespace {

using namespace std::chrono_literals;

// No splash: the launcher ends right after the start.
constexpr const char* kPlain = "[resources]\r\nsplashDuration=0\r\n";

struct WineCase {
  const char* name;
  const char* folder;         // the installation folder
  const char* launcher_name;  // the launcher's file name in it
  const char* ini;            // bin/launcher.ini as bytes, after the no-splash line
  const char* app;            // where the probe goes, under bin/
  std::vector<std::string> launcher_args;
  const char* expected_tail;               // the command line after the quoted executable
  std::vector<std::string> expected_args;  // the probe's arguments after its own path
};

// What the probe records when started as `exe` (Windows form, quoted on the
// command line) followed by `tail`, in `cwd`, with `args` after its own path.
std::string ExpectedRecord(const std::string& exe,
                           const std::string& tail,
                           const std::string& cwd,
                           const std::vector<std::string>& args) {
  std::string record = "cmdline=\"" + exe + "\"" + tail + "\n";
  record += "cwd=" + cwd + "\n";
  record += "argc=" + std::to_string(args.size() + 1) + "\n";
  record += "arg0=" + exe + "\n";
  for (std::size_t i = 0; i < args.size(); ++i)
    record += "arg" + std::to_string(i + 1) + "=" + args[i] + "\n";
  return record;
}

void PrintTo(const WineCase& c, std::ostream* os) {
  *os << c.name;
}

class WineLaunch : public ::testing::TestWithParam<WineCase> {};

TEST_P(WineLaunch, ProbeReceivesCommandLineAndFolder) {
  const WineCase& c = GetParam();
  WineInstall install(c.folder, c.launcher_name);
  install.WriteFile("bin/launcher.ini", std::string(kPlain) + c.ini);
  const std::string app = std::string("bin/") + c.app;
  install.InstallProbe(app);

  const WineRun run = RunUnderWine(install.launcher(), c.launcher_args, 60s);
  ASSERT_TRUE(run.ended) << "launcher still running after 60 s; Wine said:\n" << run.output;
  // A start that worked ends with 0; anything else is a failure, reported or not.
  ASSERT_EQ(run.exit_code, 0) << "Wine said:\n" << run.output;

  const std::string app_folder = app.substr(0, app.rfind('/'));
  const auto record = install.ReadRecord(app_folder, 30s);
  ASSERT_TRUE(record) << "the probe never ran in " << install.root() << "; Wine said:\n"
                      << run.output;

  const std::string exe = WindowsPath(install.root() + "/" + app);
  EXPECT_EQ(*record,
            ExpectedRecord(exe, c.expected_tail, WindowsPath(install.root()), c.expected_args));
}

const std::vector<std::string> kDefaultArgs = {"bin\\", "-contentLocale", "en-US", "-UILocale",
                                               "en-US"};

std::vector<std::string> DefaultArgsAnd(std::vector<std::string> extra) {
  std::vector<std::string> args = kDefaultArgs;
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Installation,
    WineLaunch,
    ::testing::Values(WineCase{"defaults",
                               "Quarven App",
                               "launcher.exe",
                               "",
                               "xulrunner/quarven.exe",
                               {},
                               " bin\\ -contentLocale en-US -UILocale en-US",
                               kDefaultArgs},
                      WineCase{"app ini file and locale",
                               "Quarven App",
                               "launcher.exe",
                               "name=Quarven\r\n[app]\r\ninifile=app.ini\r\nlocalization=fr-FR\r\n",
                               "xulrunner/quarven.exe",
                               {},
                               " bin\\app.ini -contentLocale fr-FR -UILocale fr-FR",
                               {"bin\\app.ini", "-contentLocale", "fr-FR", "-UILocale", "fr-FR"}},
                      WineCase{"extra arguments keep their quotes",
                               "Quarven App",
                               "launcher.exe",
                               "[app]\r\n",
                               "xulrunner/quarven.exe",
                               {"-c", "x", "a b"},
                               " bin\\ -contentLocale en-US -UILocale en-US x \"a b\"",
                               DefaultArgsAnd({"x", "a b"})},
                      WineCase{"executable named by the settings",
                               "Quarven App",
                               "launcher.exe",
                               "[app]\r\nxulrunner=my app\\run probe.exe\r\n",
                               "my app/run probe.exe",
                               {},
                               " bin\\ -contentLocale en-US -UILocale en-US",
                               kDefaultArgs},
                      // The wide API end to end: folder, launcher name and arguments beyond ASCII.
                      WineCase{"renamed launcher in a non-ASCII folder",
                               "Quarv\u00e9n App",
                               "Quarv\u00e9n Start.exe",
                               "",
                               "xulrunner/quarven.exe",
                               {"-c", "Gr\u00fc\u00dfe", "caf\u00e9 au lait"},
                               " bin\\ -contentLocale en-US -UILocale en-US Gr\u00fc\u00dfe "
                               "\"caf\u00e9 au lait\"",
                               DefaultArgsAnd({"Gr\u00fc\u00dfe", "caf\u00e9 au lait"})},
                      // launcher.ini is read in the ANSI code page (1252 for an English user).
                      WineCase{"settings in the ANSI code page",
                               "Quarven App",
                               "launcher.exe",
                               "[app]\r\nxulrunner=xulrunner\\quarv\xe9n.exe\r\n",
                               "xulrunner/quarv\u00e9n.exe",
                               {},
                               " bin\\ -contentLocale en-US -UILocale en-US",
                               kDefaultArgs}),
    [](const ::testing::TestParamInfo<WineCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch)))
          ch = '_';
      return name;
    });

// At a drive root the launcher folder keeps its backslash ("Q:\"), so the
// settings folder is "Q:\\bin\"; Windows reads the doubled backslash as one.
TEST(WineLaunchAtDriveRoot, ProbeStartsFromTheRoot) {
  WineInstall install("Quarven Root", "launcher.exe");
  install.WriteFile("bin/launcher.ini", kPlain);
  install.InstallProbe("bin/xulrunner/quarven.exe");
  const MappedDrive drive('q', install.root());

  const WineRun run = RunUnderWine(install.launcher(), {}, 60s, "Q:\\launcher.exe");
  ASSERT_TRUE(run.ended) << "launcher still running after 60 s; Wine said:\n" << run.output;
  ASSERT_EQ(run.exit_code, 0) << "Wine said:\n" << run.output;
  const auto record = install.ReadRecord("bin/xulrunner", 30s);
  ASSERT_TRUE(record) << "the probe never ran; Wine said:\n" << run.output;

  EXPECT_EQ(*record,
            ExpectedRecord("Q:\\\\bin\\xulrunner\\quarven.exe",
                           " bin\\ -contentLocale en-US -UILocale en-US", "Q:\\", kDefaultArgs));
}

// The exit status of launcher.exe itself, as a script that starts it under
// Wine sees it: 1 when the silent start failed, 0 when the application ran.
TEST(WineExitStatus, SilentRunEndsWithTheStatusOfItsStart) {
  WineInstall install("Quarven App", "launcher.exe");
  install.WriteFile("bin/launcher.ini", kPlain);
  const WineRun missing = RunUnderWine(install.launcher(), {"-s"}, 60s);
  ASSERT_TRUE(missing.ended) << "Wine said:\n" << missing.output;
  EXPECT_EQ(missing.exit_code, 1) << "Wine said:\n" << missing.output;

  install.InstallProbe("bin/xulrunner/quarven.exe");
  const WineRun ran = RunUnderWine(install.launcher(), {"-s"}, 60s);
  ASSERT_TRUE(ran.ended) << "Wine said:\n" << ran.output;
  EXPECT_EQ(ran.exit_code, 0) << "Wine said:\n" << ran.output;
  EXPECT_TRUE(install.ReadRecord("bin/xulrunner", 10s)) << "the probe never ran";
}

}  // namespace
}  // namespace launcher::wine_testing
