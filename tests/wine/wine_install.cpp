#include "wine_install.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace launcher::wine_testing {

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The machine field of a PE image's COFF header (0x14c i386, 0x8664 x64).
std::uint16_t PeMachine(const std::string& exe) {
  const std::string bytes = ReadAll(exe);
  if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0)
    throw std::runtime_error(exe + " is not a Windows executable");
  auto at = [&](std::size_t pos, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
      value = value << 8 | static_cast<unsigned char>(bytes.at(pos + i));
    return value;
  };
  const std::size_t pe = at(0x3c, 4);
  if (bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
    throw std::runtime_error(exe + " has no PE header");
  return static_cast<std::uint16_t>(at(pe + 4, 2));
}

// A 64-bit image needs the 64-bit loader: the `wine` script starts the
// 32-bit one first, which some hosts cannot run at all.
std::string LoaderFor(const std::string& exe) {
  const std::string wine64 = LAUNCHER_WINE64;
  if (PeMachine(exe) == 0x8664 && !wine64.empty())
    return wine64;
  return LAUNCHER_WINE;
}

// What a hung run left behind: its processes and the windows on the display
// (a message box shows up there with its title).
std::string HangReport() {
  std::string report;
  const std::string commands[] = {
      "ps -e -o pid,pgid,stat,etimes,wchan:24,args | grep -E 'PID|wine|\\.exe'",
      "xwininfo -root -tree 2>&1 | grep '\"'",
  };
  for (const std::string& command : commands) {
    report += "\n--- " + command + "\n";
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        report.append(buffer, n);
      pclose(pipe);
    }
  }
  return report;
}

}  // namespace

std::string WindowsPath(const std::string& unix_path) {
  std::string path = "Z:" + unix_path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

WineInstall::WineInstall(const std::string& folder, const std::string& launcher_name) {
  for (const char* built : {LAUNCHER_EXE, LAUNCHER_PROBE_EXE}) {
    if (!fs::exists(built))
      throw std::runtime_error(std::string(built) + " is missing: build the Windows preset first");
  }
  // Under the build folder, not in the prefix's drive_c: the path maps to Z:.
  fs::create_directories(LAUNCHER_CASES_DIR);
  std::string pattern = fs::canonical(LAUNCHER_CASES_DIR).string() + "/case-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  base_ = pattern;
  root_ = base_ + "/" + folder;
  launcher_ = root_ + "/" + launcher_name;
  fs::create_directories(root_ + "/bin");
  fs::copy_file(LAUNCHER_EXE, launcher_);
}

WineInstall::~WineInstall() {
  if (::testing::Test::HasFailure())
    return;
  std::error_code ignored;
  fs::remove_all(base_, ignored);
}

void WineInstall::WriteFile(const std::string& relative, const std::string& bytes) const {
  const fs::path path = fs::path(root_) / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

void WineInstall::InstallProbe(const std::string& relative) const {
  const fs::path path = fs::path(root_) / relative;
  fs::create_directories(path.parent_path());
  fs::copy_file(LAUNCHER_PROBE_EXE, path, fs::copy_options::overwrite_existing);
}

std::optional<std::string> WineInstall::ReadRecord(const std::string& relative_folder,
                                                   std::chrono::milliseconds wait) const {
  const fs::path path = fs::path(root_) / relative_folder / "probe-record.txt";
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline)
      return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // The probe renames a finished file into place, so what exists is complete.
  return ReadAll(path);
}

WineRun RunUnderWine(const std::string& exe,
                     const std::vector<std::string>& args,
                     std::chrono::milliseconds limit,
                     const std::string& start_as,
                     const std::vector<std::string>& env) {
  const std::string loader = LoaderFor(exe);
  std::vector<std::string> argv_text = {loader, start_as.empty() ? exe : start_as};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  // Wine takes the ANSI code page and the encoding of Unix file names from the
  // locale; a fixed UTF-8 one with English conventions keeps the cases stable.
  constexpr std::string_view kReplaced[] = {
      "WINEPREFIX=", "WINEDEBUG=", "WINEDLLOVERRIDES=", "LANG=", "LANGUAGE=", "LC_"};
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const bool replaced =
        std::any_of(std::begin(kReplaced), std::end(kReplaced),
                    [&](std::string_view name) { return entry.rfind(name, 0) == 0; });
    if (!replaced)
      env_text.emplace_back(entry);
  }
  env_text.push_back(std::string("WINEPREFIX=") + LAUNCHER_WINE_PREFIX);
  env_text.push_back("WINEDEBUG=-all");
  // Should Wine update the prefix on this run, no Mono or Gecko prompt may wait for a click.
  env_text.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
  // A test may choose the user's language; UTF-8 keeps file names intact.
  const char* lang = std::getenv("LAUNCHER_TEST_LANG");
  env_text.push_back(std::string("LANG=") + (lang != nullptr && *lang != '\0' ? lang : "C.UTF-8"));
  for (const std::string& entry : env) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(env_text, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    env_text.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& e : env_text)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  char out_path[] = "/tmp/launcher-wine-XXXXXX";
  const int out_fd = mkstemp(out_path);
  if (out_fd < 0)
    throw std::runtime_error("mkstemp failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group, so that a hung run is killed with all it started.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = 0;
  const int error =
      posix_spawn(&pid, loader.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(out_fd);
  if (error != 0) {
    unlink(out_path);
    throw std::runtime_error("cannot start " + loader);
  }

  WineRun run;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      run.ended = true;
      run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      run.output += HangReport();
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  run.output = ReadAll(out_path) + run.output;
  unlink(out_path);
  return run;
}

MappedDrive::MappedDrive(char letter, const std::string& folder)
    : link_(std::string(LAUNCHER_WINE_PREFIX) + "/dosdevices/" + letter + ":") {
  std::error_code ignored;
  fs::remove(link_, ignored);  // left over from an interrupted run
  fs::create_directory_symlink(folder, link_);
}

MappedDrive::~MappedDrive() {
  std::error_code ignored;
  fs::remove(link_, ignored);
}

}  // namespace launcher::wine_testing
