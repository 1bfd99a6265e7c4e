// No DLL planted beside launcher.exe or in its current folder is loaded, in
// any mode. Wine is told to search as Windows does, native copies first
// ("<name>=n,b"), for every DLL of kPlanted; a copy of each is planted in
// both folders, and its DllMain would leave a marker. The same run of a
// control program that imports gdiplus.dll the usual way must load its
// planted copy, or the test could not fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fault_inputs.h"
#include "test_support.h"
#include "wine_drive.h"
#include "wine_install.h"

namespace launcher::wine_testing {
namespace {

namespace fs = std::filesystem;

// Every DLL launcher.exe loads under Wine, from WINEDEBUG=+loaddll of each
// mode below, in the 64-bit build. Loaded at run time by name, or as the
// imports of such a DLL: planted, and must not load from the planted folders.
const std::set<std::string> kPlanted = {
    "gdiplus.dll",        // imported by launcher.exe until it decoded with WIC alone
    "windowscodecs.dll",  // the splash's decoder, a COM server found by its registered path
    "oleaut32.dll",       // the imports of Wine's windowscodecs.dll
    "propsys.dll",       "shcore.dll", "shlwapi.dll",
    "uxtheme.dll",   // loaded by name once a window is made
    "winex11.drv",   // Wine's display driver, loaded by name with the first window
    "comctl32.dll",  // the message box's controls, through the manifest
    "msimg32.dll",   // imported by Wine's comctl32.dll
    "oleacc.dll",    // loaded by name when a screen reader asks for the splash's name
};

// Left out: loaded while the process is being loaded, before the launcher's
// entry point runs, so that nothing the launcher does can matter. With a
// native-first override Wine maps a planted copy of each from the program's
// folder then (evidence, one name at a time: kernel32, kernelbase, ucrtbase,
// win32u and msvcrt stop the process with 0x80000100 or 0xC000007A before
// "App Start..."; the others run their planted DllMain before the entry).
// On Windows they never come from there:
// - the static imports of launcher.exe, all known DLLs, mapped from the system
//   folder (the import table test keeps them to these five);
// - their imports, which Windows takes from the system folder with the known
//   DLL (kernelbase, win32u, rpcrt4, combase, sechost, advapi32), and imm32,
//   a known DLL that Wine's user32.dll loads when it is attached;
// - DLLs that Wine's own system DLLs import where Windows' import nothing of
//   the kind: ucrtbase (Wine's msvcrt.dll), version and zlib1 (Wine's
//   user32.dll and its kernelbase.dll).
const std::set<std::string> kLeftOut = {
    "kernel32.dll",   "user32.dll", "gdi32.dll",    "ole32.dll",   "msvcrt.dll",
    "kernelbase.dll", "win32u.dll", "rpcrt4.dll",   "combase.dll", "sechost.dll",
    "advapi32.dll",   "imm32.dll",  "ucrtbase.dll", "version.dll", "zlib1.dll",
};

struct Mode {
  const char* name;
  std::string ini;
  bool app;             // the probe in place as the application
  std::string picture;  // the splash picture's bytes
  std::vector<std::string> args;
  const char* lang;
  int status;
  std::size_t boxes;
  bool control = false;  // the control program in the launcher's place
};

void PrintTo(const Mode& m, std::ostream* out) {
  *out << m.name;
}

std::string Ini(int duration) {
  return "[resources]\r\nname=Quarven\r\nsplash=pic.bmp\r\nsplashDuration=" +
         std::to_string(duration) + "\r\n";
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A DLL that +loaddll saw loaded: the Wine process id and the Windows path.
struct Load {
  std::string pid;
  std::string path;  // lower case, single backslashes
};

// The "Loaded L"<path>" at ...: builtin|native" lines of `output`.
std::vector<Load> Loads(const std::string& output) {
  std::vector<Load> loads;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto mark = line.find(":trace:loaddll:");
    const auto start = line.find("Loaded L\"");
    if (mark == std::string::npos || start == std::string::npos)
      continue;
    const auto end = line.find('"', start + 9);
    std::string path = line.substr(start + 9, end - start - 9);
    for (std::size_t at = 0; (at = path.find("\\\\", at)) != std::string::npos; ++at)
      path.erase(at, 1);
    loads.push_back({line.substr(0, line.find(':')), Lower(path)});
  }
  return loads;
}

std::string FileName(const std::string& windows_path) {
  return windows_path.substr(windows_path.rfind('\\') + 1);
}

class WineDllSafety : public ::testing::TestWithParam<Mode> {};

TEST_P(WineDllSafety, LoadsNoDllFromItsFolderOrTheCurrentOne) {
  const Mode& m = GetParam();
  WineInstall install("Downloads", "launcher.exe");
  const fs::path base = fs::path(install.root()).parent_path();
  const fs::path current = base / "current";
  const fs::path markers = base / "markers";
  fs::create_directories(current);
  fs::create_directories(markers);
  if (m.control)
    fs::copy_file(LAUNCHER_CONTROL_EXE, install.launcher(), fs::copy_options::overwrite_existing);
  install.WriteFile("bin/launcher.ini", m.ini);
  install.WriteFile("bin/pic.bmp", m.picture);
  if (m.app) {
    install.InstallProbe("bin/xulrunner/quarven.exe");
    install.WriteFile("bin/xulrunner/probe-cue.txt", "window_after_ms=300\nlifetime_ms=1500\n");
  }
  std::string overrides = "mscoree,mshtml=";
  for (const std::string& dll : kPlanted) {
    fs::copy_file(LAUNCHER_PLANTED_DLL, fs::path(install.root()) / dll);
    fs::copy_file(LAUNCHER_PLANTED_DLL, current / dll);
    overrides += ";" + dll.substr(0, dll.rfind('.')) + "=n,b";
  }
  const auto before = launcher::testing::Listing(install.root());

  const Seen seen = Drive(
      // The splash's name is read as a screen reader would.
      install, m.args, {"--cwd", WindowsPath(current.string()), "--name", "300"},
      {"WINEDEBUG=+pid,+loaddll", "WINEDLLOVERRIDES=" + overrides,
       "LAUNCHER_PLANTED_MARKERS=" + WindowsPath(markers.string()), std::string("LANG=") + m.lang});
  const std::string said = seen.output.substr(0, 6000);
  ASSERT_TRUE(seen.exit_code) << said;
  EXPECT_EQ(*seen.exit_code, m.status) << said;
  EXPECT_EQ(seen.boxes.size(), m.boxes) << said;

  const std::string exe = Lower(WindowsPath(install.launcher()));
  const std::string planted_here = Lower(WindowsPath(install.root())) + "\\";
  const std::string planted_current = Lower(WindowsPath(current.string())) + "\\";
  const std::vector<Load> loads = Loads(seen.output);
  const auto own =
      std::find_if(loads.begin(), loads.end(), [&](const Load& l) { return l.path == exe; });
  ASSERT_NE(own, loads.end()) << "+loaddll did not show the program:\n" << said;
  std::vector<std::string> planted_loads;
  for (const Load& load : loads) {
    const bool from_planted =
        load.path.rfind(planted_current, 0) == 0 ||
        (load.path.rfind(planted_here, 0) == 0 &&
         load.path.find('\\', planted_here.size()) == std::string::npos && load.path != exe);
    if (from_planted)
      planted_loads.push_back(load.path);
    if (load.pid != own->pid || load.path == exe || m.control)
      continue;
    // The launcher's own loads: from the system's folders, and all in the lists.
    EXPECT_EQ(load.path.rfind("c:\\windows\\", 0), 0u) << load.path;
    const std::string name = FileName(load.path);
    EXPECT_TRUE(kPlanted.count(name) != 0 || kLeftOut.count(name) != 0)
        << "launcher.exe loads " << name
        << ", which neither list holds: plant it, or leave it out with the evidence";
  }
  std::vector<std::string> marked;
  for (const auto& entry : fs::directory_iterator(markers))
    marked.push_back(entry.path().filename().string());

  if (m.control) {
    EXPECT_EQ(planted_loads, std::vector<std::string>{planted_here + "gdiplus.dll"}) << said;
    ASSERT_EQ(marked.size(), 1u) << "the planted gdiplus.dll's DllMain did not run";
    EXPECT_TRUE(Lower(marked[0]).ends_with("downloads_gdiplus.dll")) << marked[0];
  } else {
    if (std::string(m.name) == "splash") {
      // The name was read, with the system's oleacc.dll in the launcher.
      EXPECT_EQ(seen.names, std::vector<std::string>{"0|Quarven|"}) << said;
      EXPECT_TRUE(std::any_of(loads.begin(), loads.end(), [&](const Load& l) {
        return l.pid == own->pid && FileName(l.path) == "oleacc.dll";
      })) << said;
    }
    EXPECT_EQ(planted_loads, std::vector<std::string>{}) << "planted copies were loaded";
    EXPECT_EQ(marked, std::vector<std::string>{}) << "planted copies ran their DllMain";
    ASSERT_FALSE(seen.traces.empty()) << said;
    EXPECT_EQ(seen.traces.front(), "App Start...") << "the launcher did not run";
  }
  EXPECT_EQ(launcher::testing::Listing(install.root()), before) << "the installation changed";
  std::printf("[ loaded   ] %s: %zu DLLs in the program's process, %zu planted ones\n", m.name,
              static_cast<std::size_t>(std::count_if(
                  loads.begin(), loads.end(), [&](const Load& l) { return l.pid == own->pid; })),
              planted_loads.size());
}

const std::string kBmp = launcher::testing::SolidBmp(60, 20, 0x2060c0);

INSTANTIATE_TEST_SUITE_P(
    Modes,
    WineDllSafety,
    ::testing::Values(
        Mode{"splash", Ini(2), true, kBmp, {}, "C.UTF-8", 0, 0},
        Mode{"silent", Ini(2), true, kBmp, {"-s"}, "C.UTF-8", 0, 0},
        Mode{"no_splash", Ini(0), true, kBmp, {}, "C.UTF-8", 0, 0},
        // The splash is up when the start fails: closed, then the box.
        Mode{"error_box", Ini(2), false, kBmp, {}, "C.UTF-8", 1, 1},
        // A picture that is none: the box in French, then the start.
        Mode{"french_box", Ini(2), true, "no picture", {}, "fr_FR.UTF-8", 1, 1},
        Mode{"control_imports_gdiplus", Ini(0), false, kBmp, {}, "C.UTF-8", 1, 0, true}),
    [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace launcher::wine_testing
