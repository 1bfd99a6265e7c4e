// launcher.exe under Wine with a copy of a DLL planted, under the name of
// each DLL it loads, beside it and in its current folder, every one of them
// overridden native-first (WINEDLLOVERRIDES "<name>=n,b"), so that Wine looks
// for a DLL where Windows does before it takes its own. In every mode no
// planted copy may load: its start-up code would leave a marker, and Wine's
// +loaddll channel would show it loaded from a planted folder. The same
// harness run on a small program that imports gdiplus.dll the usual way must
// see the planted copy load, so a pass is worth something.
#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "wine_drive.h"
#include "wine_install.h"

namespace launcher::wine_testing {
namespace {

namespace fs = std::filesystem;

// What launcher.exe loads once its own code runs, as +loaddll lists it in the
// modes below: each is planted.
const std::vector<std::string> kPlanted = {
    "comctl32.dll",       // the box's buttons: the common controls 6 of the manifest
    "msimg32.dll",        // delay-loaded by the common controls when they draw
    "oleaut32.dll",       // imported by the image codecs ...
    "propsys.dll",        // ...
    "shcore.dll",         // ...
    "shlwapi.dll",        // ...
    "uxtheme.dll",        // loaded by name by Wine's user32 once a window is made
    "windowscodecs.dll",  // the image codecs: the COM server of the splash picture
    "winex11.drv",        // Wine's display driver, with the first window
    "gdiplus.dll",        // imported by launcher.exe before; loaded no more
};
const std::set<std::string> kNoLongerLoaded = {"gdiplus.dll"};

// Left out: loaded while the process is being loaded, before launcher.exe's
// first instruction, so that nothing the launcher does can choose where they
// come from; the test checks that each comes before the first trace line.
// The first five are launcher.exe's own imports (tests/package checks its
// import table): known DLLs, which Windows maps from the system folder with
// whatever they import, never searching for them. Wine has no known DLLs (it
// loads a planted user32.dll from beside the program, also with a KnownDLLs
// key in the registry). The others are what Wine's own DLLs import meanwhile,
// where Windows' known DLLs import nothing of the kind or only known DLLs:
// kernelbase and ucrtbase through kernel32 and msvcrt, sechost, advapi32,
// rpcrt4 and combase through ole32, win32u, version and zlib1 through Wine's
// user32 and gdi32, and imm32, which Wine's user32 delay-loads while it sets
// itself up (a planted copy reports a dynamic load, before "App Start...").
const std::vector<std::string> kLoadedWithTheProcess = {
    "kernel32.dll",   "user32.dll",   "gdi32.dll",   "ole32.dll",    "msvcrt.dll",
    "kernelbase.dll", "ucrtbase.dll", "sechost.dll", "advapi32.dll", "rpcrt4.dll",
    "combase.dll",    "win32u.dll",   "version.dll", "zlib1.dll",    "imm32.dll",
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return Lower(text).rfind(Lower(prefix), 0) == 0;
}

std::string BaseName(const std::string& windows_path) {
  return Lower(windows_path.substr(windows_path.find_last_of('\\') + 1));
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
};

// One module load as Wine's +pid,+loaddll channels report it.
struct Load {
  std::string pid;
  std::string path;  // Windows form
  std::size_t at;    // where its line starts in the run's output
};

std::vector<Load> Loads(const std::string& output) {
  std::vector<Load> loads;
  const std::string marker = ":trace:loaddll:";
  std::size_t start = 0;
  for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = output.substr(start, end - start);
    const auto quote = line.find("Loaded L\"");
    if (line.find(marker) == std::string::npos || quote == std::string::npos)
      continue;
    std::string path;
    for (std::size_t i = quote + 9; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\')
        ++i;  // Wine prints the path C-escaped
      path += line[i];
    }
    loads.push_back({line.substr(0, line.find(':')), path, start});
  }
  return loads;
}

// What one run left: the driver's view, the program's own loads and the
// markers of planted copies, by the process that loaded them.
struct PlantedRun {
  Seen seen;
  std::vector<Load> loads;  // of the program's process only
  std::vector<std::string> program_markers;
  std::vector<std::string> other_markers;  // the application's, say
  std::size_t first_trace = std::string::npos;
};

// Runs the installation's program through the driver, started in a current
// folder of its own, with planted.dll copied as each of `names` beside it and
// (unless `beside_only`) into that current folder.
PlantedRun RunPlanted(const WineInstall& install,
                      const std::vector<std::string>& names,
                      const std::vector<std::string>& args,
                      bool beside_only = false) {
  const fs::path base = fs::path(install.root()).parent_path();
  const fs::path current = base / "current folder";
  const fs::path markers = base / "markers";
  fs::remove_all(markers);
  fs::create_directories(current);
  fs::create_directories(markers);
  std::string overrides;
  for (const std::string& name : names) {
    fs::copy_file(LAUNCHER_PLANTED_DLL, fs::path(install.root()) / name,
                  fs::copy_options::overwrite_existing);
    if (!beside_only)
      fs::copy_file(LAUNCHER_PLANTED_DLL, current / name, fs::copy_options::overwrite_existing);
    const std::string key = name.size() > 4 && name.substr(name.size() - 4) == ".dll"
                                ? name.substr(0, name.size() - 4)
                                : name;
    overrides += (overrides.empty() ? "" : ",") + key;
  }
  const ScopedEnv debug("LAUNCHER_TEST_WINEDEBUG", "+pid,+loaddll");
  const ScopedEnv native_first("LAUNCHER_TEST_DLLOVERRIDES", overrides + "=n,b");
  const ScopedEnv marker_folder("LAUNCHER_PLANT_MARKERS", WindowsPath(markers.string()));

  PlantedRun run;
  run.seen = Drive(install, args, {"--cwd", WindowsPath(current.string())});
  const std::string program = WindowsPath(install.launcher());
  std::string pid;
  for (const Load& load : Loads(run.seen.output)) {
    if (pid.empty() && strcasecmp(load.path.c_str(), program.c_str()) == 0)
      pid = load.pid;
    if (!pid.empty() && load.pid == pid)
      run.loads.push_back(load);
  }
  run.first_trace = run.seen.output.find("\ntrace ");
  for (const auto& entry : fs::directory_iterator(markers)) {
    std::ifstream in(entry.path());
    std::string dll, exe, how;
    std::getline(in, dll);
    std::getline(in, exe);
    std::getline(in, how);
    const std::string note = dll + " (" + how + ")";
    (strcasecmp(exe.c_str(), program.c_str()) == 0 ? run.program_markers : run.other_markers)
        .push_back(exe == program ? note : note + " in " + exe);
  }
  return run;
}

// The loads of `run` from the installation folder or the current folder.
std::vector<std::string> FromPlantedFolders(const WineInstall& install, const PlantedRun& run) {
  const fs::path base = fs::path(install.root()).parent_path();
  std::vector<std::string> found;
  for (const Load& load : run.loads) {
    const bool planted = StartsWith(load.path, WindowsPath(install.root()) + "\\") ||
                         StartsWith(load.path, WindowsPath((base / "current folder").string()));
    if (planted && BaseName(load.path) != Lower(fs::path(install.launcher()).filename().string()))
      found.push_back(load.path);
  }
  return found;
}

struct Mode {
  const char* name;
  std::string ini;
  std::vector<std::string> args;
  const char* lang;  // the user's language; nullptr: English
  int status;
  std::string box_start;  // empty: no box
  bool window;            // the splash is seen
};

const char kSplash[] = "[resources]\r\nname=Quarven\r\nsplash=splash.png\r\nsplashDuration=1\r\n";
const char kMissingApp[] = "[app]\r\nxulrunner=xulrunner\\missing.exe\r\n";

const Mode kModes[] = {
    {"splash", kSplash, {}, nullptr, 0, "", true},
    {"silent", kSplash, {"-s"}, nullptr, 0, "", false},
    {"no_splash", "[resources]\r\nname=Quarven\r\nsplashDuration=0\r\n", {}, nullptr, 0, "", false},
    {"error_box",
     std::string(kSplash) + kMissingApp,
     {},
     nullptr,
     1,
     "Quarven startup error|",
     true},
    {"french",
     std::string(kSplash) + kMissingApp,
     {},
     "fr_FR.UTF-8",
     1,
     "Erreur de démarrage de Quarven|",
     true},
};

TEST(WinePlanting, NoPlantedDllLoadsIntoTheLauncherInAnyMode) {
  std::set<std::string> loaded;  // by the launcher, in some mode
  for (const Mode& mode : kModes) {
    SCOPED_TRACE(mode.name);
    WineInstall install("Quarven App", "launcher.exe");
    install.WriteFile("bin/launcher.ini", mode.ini);
    fs::copy_file(LAUNCHER_SPLASH_PNG, install.root() + "/bin/splash.png");
    install.InstallProbe("bin/xulrunner/quarven.exe");
    install.WriteFile("bin/xulrunner/probe-cue.txt", "window_after_ms=200\nlifetime_ms=4000\n");
    const std::unique_ptr<ScopedEnv> lang =
        mode.lang != nullptr ? std::make_unique<ScopedEnv>("LAUNCHER_TEST_LANG", mode.lang)
                             : nullptr;
    const PlantedRun run = RunPlanted(install, kPlanted, mode.args);
    const std::string said = run.seen.output.substr(0, 6000);

    // The mode ran as it should, so its DLLs had their chance to load.
    EXPECT_EQ(run.seen.exit_code, mode.status) << said;
    if (mode.box_start.empty()) {
      EXPECT_TRUE(run.seen.boxes.empty()) << said;
    } else {
      EXPECT_EQ(run.seen.boxes.size(), 1u) << said;
      for (const std::string& box : run.seen.boxes)
        EXPECT_EQ(box.rfind(mode.box_start, 0), 0u) << box;
    }
    EXPECT_EQ(!run.seen.windows.empty(), mode.window) << said;
    ASSERT_FALSE(run.loads.empty()) << "no +loaddll line of launcher.exe:\n" << said;

    const std::vector<std::string> from_planted = FromPlantedFolders(install, run);
    EXPECT_TRUE(run.program_markers.empty()) << "planted DLLs ran inside the launcher";
    EXPECT_TRUE(from_planted.empty()) << "DLLs loaded from a planted folder";
    for (const Load& load : run.loads) {
      const std::string name = BaseName(load.path);
      if (name == "launcher.exe")
        continue;
      loaded.insert(name);
      const bool planted = std::count(kPlanted.begin(), kPlanted.end(), name) > 0;
      const bool early =
          std::count(kLoadedWithTheProcess.begin(), kLoadedWithTheProcess.end(), name) > 0;
      EXPECT_TRUE(planted || early) << name << " is loaded but neither planted nor left out";
      if (early) {
        EXPECT_LT(load.at, run.first_trace) << name << " was loaded after the launcher's code ran";
      }
    }
    std::printf(
        "[ planted  ] %s: exit %d, %zu DLLs loaded; planted copies run: %s; loaded from "
        "planted folders: %s; the application's markers: %s\n",
        mode.name, run.seen.exit_code.value_or(-1), run.loads.size() - 1,
        ::testing::PrintToString(run.program_markers).c_str(),
        ::testing::PrintToString(from_planted).c_str(),
        ::testing::PrintToString(run.other_markers).c_str());
  }
  // The list is what the launcher loads: each planted name was loaded in some
  // mode, from the system, except what the launcher no longer loads at all.
  for (const std::string& name : kPlanted)
    EXPECT_EQ(loaded.count(name), kNoLongerLoaded.count(name) ? 0u : 1u) << name;
}

// The control: a program importing gdiplus.dll as the launcher once did
// loads the copy planted beside it, and the harness sees both signs of it.
TEST(WinePlanting, ControlProgramLoadsTheGdiplusPlantedBesideIt) {
  WineInstall install("Control", "gdiplus_control.exe");
  fs::copy_file(LAUNCHER_GDIPLUS_CONTROL_EXE, install.launcher(),
                fs::copy_options::overwrite_existing);
  const PlantedRun run = RunPlanted(install, {"gdiplus.dll"}, {}, true);
  ASSERT_EQ(run.seen.exit_code, 0) << run.seen.output.substr(0, 6000);
  EXPECT_EQ(run.program_markers,
            std::vector<std::string>{WindowsPath(install.root()) + "\\gdiplus.dll (static)"});
  EXPECT_EQ(FromPlantedFolders(install, run),
            std::vector<std::string>{WindowsPath(install.root()) + "\\gdiplus.dll"});
  std::printf("[ control  ] gdiplus_control.exe loaded: %s\n",
              ::testing::PrintToString(run.program_markers).c_str());
}

}  // namespace
}  // namespace launcher::wine_testing
