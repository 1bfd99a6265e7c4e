// A temporary installation of launcher.exe run under Wine: the launcher,
// bin/launcher.ini and the probe as the application, and a bounded run.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace launcher::wine_testing {

// The Windows path Wine gives a Unix path outside the prefix: drive Z: is the
// Unix root.
std::string WindowsPath(const std::string& unix_path);

class WineInstall {
 public:
  // `folder` is the installation folder's name; it may hold blanks and
  // non-ASCII letters. `launcher_name` is the file name of the launcher.
  WineInstall(const std::string& folder, const std::string& launcher_name);
  // Removes the folder, unless the test has failed: then it is left for a look.
  ~WineInstall();
  WineInstall(const WineInstall&) = delete;
  WineInstall& operator=(const WineInstall&) = delete;

  // The installation folder (Unix form).
  const std::string& root() const { return root_; }
  const std::string& launcher() const { return launcher_; }

  // Writes raw bytes to `relative` ('/'-separated, under the installation).
  void WriteFile(const std::string& relative, const std::string& bytes) const;
  // Copies probe.exe to `relative`.
  void InstallProbe(const std::string& relative) const;
  // The whole of the probe record in `relative_folder` once it has appeared,
  // or nothing when it has not within `wait`.
  std::optional<std::string> ReadRecord(const std::string& relative_folder,
                                        std::chrono::milliseconds wait) const;

 private:
  std::string base_;
  std::string root_;
  std::string launcher_;
};

struct WineRun {
  bool ended = false;  // false: still running at the time limit, then killed
  int exit_code = -1;
  // What Wine printed on stdout and stderr; after a hang, also the processes
  // and windows it left.
  std::string output;
};

// Runs `exe` under the Wine loader fit for its machine type, in the tests'
// own prefix, and waits at most `limit`. Wine is handed `start_as` instead of
// `exe` when it is given (a path on a mapped drive, say). `env` entries
// ("NAME=value") are added, or replace the tests' own (WINEDEBUG=-all, say).
WineRun RunUnderWine(const std::string& exe,
                     const std::vector<std::string>& args,
                     std::chrono::milliseconds limit,
                     const std::string& start_as = {},
                     const std::vector<std::string>& env = {});

// A drive letter of the tests' prefix mapped to a Unix folder while it lives.
class MappedDrive {
 public:
  MappedDrive(char letter, const std::string& folder);
  ~MappedDrive();
  MappedDrive(const MappedDrive&) = delete;
  MappedDrive& operator=(const MappedDrive&) = delete;

 private:
  std::string link_;
};

}  // namespace launcher::wine_testing
