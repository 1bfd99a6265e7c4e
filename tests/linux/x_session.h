// What the Linux snapshot tests run against: child processes they start, and
// an Xvfb server of their own, optionally with openbox managing it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace launcher::testing {

// Polls `done` every 20 ms until it holds or `limit` has passed.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Starts `argv` (argv[0] a path) with its output discarded and, when given,
// extra "NAME=value" entries in its environment. Returns the pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {});

// Ends a child we started and collects it. A child someone else has collected
// (the backend reaps what it started itself) is fine.
void Stop(pid_t pid);

// The target of /proc/<pid>/exe, empty when it cannot be read.
std::string ExeLink(pid_t pid);
// A path with every link resolved.
std::string RealPath(const std::string& path);

// A child that is stopped when the guard goes.
class ChildGuard {
 public:
  explicit ChildGuard(pid_t pid) : pid_(pid) {}
  ~ChildGuard() { Stop(pid_); }
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_;
};

// Xvfb on a free display number, and optionally openbox on it; both stopped
// by the destructor.
class XSession {
 public:
  struct Options {
    bool window_manager = false;
    bool resource_extension = true;  // X-Resource, which tells the pid of each client
  };
  explicit XSession(Options options);
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  // Whether everything asked for is up; `error()` says what is not.
  bool ready() const { return ready_; }
  const std::string& error() const { return error_; }
  // ":N", for DISPLAY.
  const std::string& display() const { return display_; }
  pid_t server_pid() const { return server_; }
  // Kills the server now, as a crash would.
  void KillServer();

 private:
  bool StartServer(bool resource_extension);
  bool StartWindowManager();

  pid_t server_ = -1;
  pid_t manager_ = -1;
  std::string display_;
  bool ready_ = false;
  std::string error_;
};

}  // namespace launcher::testing
