#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace launcher::testing {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program,
                           const std::vector<std::string>& args,
                           const std::vector<std::string>& environment,
                           int stdout_fd,
                           int stdin_fd,
                           bool own_group) {
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<std::string> env_text = environment;
  std::vector<char*> argv = Pointers(argv_text);
  std::vector<char*> envp = Pointers(env_text);

  char err_path[] = "/tmp/launcher-child-stderr-XXXXXX";
  const int err_fd = mkstemp(err_path);
  if (err_fd < 0)
    throw std::runtime_error("mkstemp failed");
  stderr_path_ = err_path;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
  if (stdout_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  if (stdin_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, stdin_fd, STDIN_FILENO);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (own_group) {
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  }
  const int error = posix_spawnp(&pid_, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(err_fd);
  if (error != 0) {
    unlink(stderr_path_.c_str());
    throw std::runtime_error("cannot start " + program);
  }
}

ChildProcess::~ChildProcess() {
  Kill();
  unlink(stderr_path_.c_str());
}

bool ChildProcess::Reap(int options) {
  return exit_code_ || ReapChild(pid_, options, exit_code_);
}

bool ChildProcess::Running() {
  return !Reap(WNOHANG);
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!Reap(WNOHANG)) {
    if (std::chrono::steady_clock::now() > deadline)
      return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exit_code_;
}

void ChildProcess::Kill() {
  if (pid_ <= 0 || Reap(WNOHANG))
    return;
  kill(pid_, SIGKILL);
  Reap(0);
}

long ChildProcess::PeakRssKb() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0)
      return std::stol(line.substr(6));
  }
  return -1;
}

std::string ChildProcess::Stderr() const {
  std::ifstream in(stderr_path_, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool ReapChild(pid_t pid, int options, std::optional<int>& exit_code) {
  int status = 0;
  pid_t done;
  do {
    done = waitpid(pid, &status, options);
  } while (done < 0 && errno == EINTR);
  if (done != pid)
    return false;
  exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& drop,
                                         const std::vector<std::string>& add) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    const bool replaced = std::any_of(add.begin(), add.end(), [&](const std::string& a) {
      return a.compare(0, name.size() + 1, name + "=") == 0;
    });
    if (!replaced && std::find(drop.begin(), drop.end(), name) == drop.end())
      result.push_back(text);
  }
  result.insert(result.end(), add.begin(), add.end());
  return result;
}

}  // namespace launcher::testing
