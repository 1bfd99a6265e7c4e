// A temporary installation of the Linux launcher: the launcher, bin/launcher.ini
// and a probe as the application; and a bounded run of it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace launcher::testing {

class InstallDir {
 public:
  // `name` becomes the installation folder's name; it may hold blanks.
  explicit InstallDir(const std::string& name);
  ~InstallDir();
  InstallDir(const InstallDir&) = delete;
  InstallDir& operator=(const InstallDir&) = delete;

  const std::string& root() const { return root_; }
  std::string launcher() const { return root_ + "/launcher"; }

  void WriteFile(const std::string& relative, const std::string& bytes) const;
  // Copies the probe to `relative` (under the installation), executable.
  void InstallProbe(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

  // The probe's record beside it, once written, as key=value pairs; nothing
  // when it has not appeared within `wait`.
  std::optional<std::map<std::string, std::string>> ReadRecord(
      const std::string& probe_folder,
      std::chrono::milliseconds wait) const;

 private:
  std::string base_;
  std::string root_;
};

// A process running from the executable file `path`, if any.
std::optional<pid_t> RunningFrom(const std::string& path);

struct RunResult {
  bool ended = false;  // false: still running after the time limit, then killed
  int exit_code = -1;
  std::string stderr_text;
};

// Runs `program` with `args` and extra environment, and waits at most `limit`.
RunResult RunBounded(const std::string& program,
                     const std::vector<std::string>& args,
                     const std::vector<std::string>& environment,
                     std::chrono::milliseconds limit);

}  // namespace launcher::testing
