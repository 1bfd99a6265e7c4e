#include "install_dir.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace launcher::testing {

namespace fs = std::filesystem;

InstallDir::InstallDir(const std::string& name) {
  std::string pattern = (fs::temp_directory_path() / "launcher-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  base_ = pattern;
  root_ = base_ + "/" + name;
  fs::create_directories(root_ + "/bin");
  fs::copy_file(LAUNCHER_BINARY, launcher());
}

InstallDir::~InstallDir() {
  std::error_code ignored;
  fs::remove_all(base_, ignored);
}

void InstallDir::WriteFile(const std::string& relative, const std::string& bytes) const {
  const fs::path path = fs::path(root_) / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

void InstallDir::InstallProbe(const std::string& relative) const {
  const fs::path path = fs::path(root_) / relative;
  fs::create_directories(path.parent_path());
  fs::copy_file(PROBE_BINARY, path, fs::copy_options::overwrite_existing);
}

bool InstallDir::Exists(const std::string& relative) const {
  return fs::exists(fs::path(root_) / relative);
}

std::optional<std::map<std::string, std::string>> InstallDir::ReadRecord(
    const std::string& probe_folder,
    std::chrono::milliseconds wait) const {
  const fs::path path = fs::path(root_) / probe_folder / "probe-record.txt";
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() > deadline)
      return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::map<std::string, std::string> record;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos)
      record[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return record;
}

std::optional<pid_t> RunningFrom(const std::string& path) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::error_code error;
    if (fs::read_symlink(entry.path() / "exe", error) == path)
      return static_cast<pid_t>(std::stoi(name));
  }
  return std::nullopt;
}

RunResult RunBounded(const std::string& program,
                     const std::vector<std::string>& args,
                     const std::vector<std::string>& environment,
                     std::chrono::milliseconds limit) {
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e)
    env_text.emplace_back(*e);
  env_text.insert(env_text.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& e : env_text)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  char err_path[] = "/tmp/launcher-stderr-XXXXXX";
  const int err_fd = mkstemp(err_path);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(err_fd);
  if (error != 0) {
    unlink(err_path);
    throw std::runtime_error("cannot start " + program);
  }

  RunResult result;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      result.ended = true;
      result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream in(err_path);
  std::stringstream text;
  text << in.rdbuf();
  result.stderr_text = text.str();
  unlink(err_path);
  return result;
}

}  // namespace launcher::testing
