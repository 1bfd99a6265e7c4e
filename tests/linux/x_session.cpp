#include "x_session.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace launcher::testing {

namespace {

using namespace std::chrono_literals;

// The descriptor on which Xvfb writes its display number once it accepts clients.
constexpr int kDisplayFd = 63;

// Whether an EWMH manager has announced itself on the display's root.
bool ManagerAnnounced(const std::string& display_name) {
  Display* display = XOpenDisplay(display_name.c_str());
  if (display == nullptr)
    return false;
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  const Atom client_list = XInternAtom(display, "_NET_CLIENT_LIST", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  bool announced = false;
  if (XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                         &format, &count, &after, &data) == Success &&
      count == 1) {
    announced = true;
  }
  if (data != nullptr)
    XFree(data);
  data = nullptr;
  // The client list comes last in openbox's start-up; wait for it as well.
  if (announced) {
    announced = XGetWindowProperty(display, DefaultRootWindow(display), client_list, 0, 1, False,
                                   XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
                type == XA_WINDOW;
    if (data != nullptr)
      XFree(data);
  }
  XCloseDisplay(display);
  return announced;
}

// Starts `argv` with its output discarded, `environment` added to ours, and
// `fd` (when not -1) as descriptor `as` of the child. The child is killed if
// we die first, so that a crashed test leaves no server behind.
pid_t SpawnWith(const std::vector<std::string>& argv,
                const std::vector<std::string>& environment,
                int fd,
                int as) {
  std::vector<std::string> env_strings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string current = *entry;
    const std::string name = current.substr(0, current.find('=') + 1);
    const bool replaced = std::any_of(environment.begin(), environment.end(), [&](const auto& e) {
      return e.substr(0, e.find('=') + 1) == name;
    });
    if (!replaced)
      env_strings.push_back(current);
  }
  env_strings.insert(env_strings.end(), environment.begin(), environment.end());
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (std::string& entry : env_strings)
    env.push_back(entry.data());
  env.push_back(nullptr);

  // Closes on exec: the parent reads nothing once the child runs its program,
  // or the child's errno when it could not.
  int status[2];
  if (pipe2(status, O_CLOEXEC) != 0)
    return -1;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid > 0) {
    close(status[1]);
    int error = 0;
    ssize_t n = 0;
    do {
      n = read(status[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    close(status[0]);
    if (n == 0)
      return pid;
    waitpid(pid, nullptr, 0);
    return -1;
  }
  if (pid < 0) {
    close(status[0]);
    close(status[1]);
    return -1;
  }
  // The child: only async-signal-safe calls from here on.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent)
    _exit(127);
  const int null_in = open("/dev/null", O_RDONLY);
  const int null_out = open("/dev/null", O_WRONLY);
  if (fd >= 0 && fd != as)
    dup2(fd, as);  // clears close-on-exec on `as`
  else if (fd >= 0)
    fcntl(as, F_SETFD, 0);
  dup2(null_in, 0);
  dup2(null_out, 1);
  dup2(null_out, 2);
  execve(args[0], args.data(), env.data());
  const int error = errno;
  [[maybe_unused]] const ssize_t ignored = write(status[1], &error, sizeof error);
  _exit(127);
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done())
      return true;
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(20ms);
  }
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
  return SpawnWith(argv, environment, -1, -1);
}

void Stop(pid_t pid) {
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  const bool ended = WaitUntil(
      [pid] {
        const pid_t r = waitpid(pid, nullptr, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
      },
      5s);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

std::string ExeLink(pid_t pid) {
  char buffer[PATH_MAX];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  std::string out = resolved != nullptr ? resolved : "";
  free(resolved);
  return out;
}

XSession::XSession(Options options) {
  ready_ =
      StartServer(options.resource_extension) && (!options.window_manager || StartWindowManager());
}

XSession::~XSession() {
  Stop(manager_);
  Stop(server_);
}

bool XSession::StartServer(bool resource_extension) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error_ = "pipe";
    return false;
  }
  std::vector<std::string> argv = {"/usr/bin/Xvfb", "-displayfd", std::to_string(kDisplayFd),
                                   "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                   // A bare server would reset whenever its last client
                                   // left, refusing the next one for a while.
                                   "-noreset"};
  if (!resource_extension) {
    argv.push_back("-extension");
    argv.push_back("X-Resource");
  }
  server_ = SpawnWith(argv, {}, fds[1], kDisplayFd);
  close(fds[1]);
  if (server_ < 0) {
    close(fds[0]);
    error_ = "cannot start Xvfb";
    return false;
  }

  std::string number;
  pollfd reader{fds[0], POLLIN, 0};
  while (number.find('\n') == std::string::npos && poll(&reader, 1, 20000) > 0) {
    char chunk[16];
    const ssize_t n = read(fds[0], chunk, sizeof chunk);
    if (n <= 0)
      break;
    number.append(chunk, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    error_ = "Xvfb told no display number";
    return false;
  }
  number.resize(number.find('\n'));
  display_ = ":" + number;
  return true;
}

bool XSession::StartWindowManager() {
  manager_ = Spawn({"/usr/bin/openbox", "--sm-disable"}, {"DISPLAY=" + display_});
  if (manager_ < 0) {
    error_ = "cannot start openbox";
    return false;
  }
  if (!WaitUntil([this] { return ManagerAnnounced(display_); }, 20s)) {
    error_ = "openbox did not come up";
    return false;
  }
  return true;
}

void XSession::KillServer() {
  if (server_ > 0) {
    kill(server_, SIGKILL);
    waitpid(server_, nullptr, 0);
    server_ = -1;
  }
}

}  // namespace launcher::testing
