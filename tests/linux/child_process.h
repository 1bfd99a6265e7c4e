// A program started by a test with an exact environment, waited for with a
// time limit and killed if the test leaves it running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace launcher::testing {

class ChildProcess {
 public:
  // `program` is looked up in PATH when it holds no slash. Standard error goes
  // to a file that Stderr() reads; standard output to `stdout_fd` and
  // standard input from `stdin_fd`, or each is inherited when it is -1. With
  // `own_group` it leads a process group of its own, as a shell's job does.
  ChildProcess(const std::string& program,
               const std::vector<std::string>& args,
               const std::vector<std::string>& environment,
               int stdout_fd = -1,
               int stdin_fd = -1,
               bool own_group = false);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // The exit code (128 + signal when killed by one), or nothing when it is
  // still running after `limit`.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit);
  void Kill();
  std::string Stderr() const;
  // The most memory it has held at once so far (its VmHWM), while it runs; -1
  // once it has ended. (What wait4 reports would also count the memory of
  // this process, which the child shared until it started its program.)
  long PeakRssKb() const;

 private:
  bool Reap(int options);

  pid_t pid_ = -1;
  std::optional<int> exit_code_;
  std::string stderr_path_;
};

// Waits on `pid` with waitpid `options`, retrying on EINTR; once it has ended,
// sets `exit_code` (128 + signal when killed by one) and answers true.
bool ReapChild(pid_t pid, int options, std::optional<int>& exit_code);

// This process's environment without the variables named in `drop`, followed
// by the NAME=value entries of `add`.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& drop,
                                         const std::vector<std::string>& add);

}  // namespace launcher::testing
