// One process snapshot and one window snapshot through the launcher's own
// lists on the real Linux backend, against the floor that any snapshot of
// process paths pays: walking /proc and reading each executable link.
//
// The argument of the process benchmarks is a number of extra processes
// (sleeping children) started for the run, so that a desktop's few hundred
// processes can be had on a quiet machine. The window benchmark needs a
// display (DISPLAY) and shows 20 application windows of its own there.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "procmanager/process_list.h"
#include "procmanager/window_list.h"

extern char** environ;

namespace {

launcher::LinuxPlatform& Backend() {
  static char name[] = "snapshot_benchmark";
  static char* argv[] = {name, nullptr};
  static launcher::LinuxPlatform platform(1, argv);
  launcher::InstallPlatform(&platform);
  return platform;
}

std::size_t CountProcesses() {
  std::size_t count = 0;
  if (DIR* dir = opendir("/proc")) {
    while (const dirent* entry = readdir(dir))
      count += entry->d_name[0] >= '0' && entry->d_name[0] <= '9';
    closedir(dir);
  }
  return count;
}

// Sleeping processes for the length of one benchmark. Like a desktop's, they
// are not the launcher's children: a shell of their own starts them.
class ExtraProcesses {
 public:
  explicit ExtraProcesses(std::int64_t count) {
    if (count <= 0)
      return;
    // Orphans come to us once their shell is gone, so that we can collect them.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    const std::size_t before = CountProcesses();
    std::string script = "i=0; while [ $i -lt " + std::to_string(count) +
                         " ]; do /bin/sleep 3600 & i=$((i+1)); done; wait";
    char shell[] = "/bin/sh";
    char dash_c[] = "-c";
    char* args[] = {shell, dash_c, script.data(), nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    if (posix_spawn(&shell_, shell, nullptr, &attr, args, environ) != 0)
      shell_ = -1;
    posix_spawnattr_destroy(&attr);
    // Bounded: a machine that cannot start them all measures what it has.
    for (int i = 0; i < 500 && CountProcesses() < before + static_cast<std::size_t>(count); ++i)
      usleep(10'000);
  }
  ~ExtraProcesses() {
    if (shell_ <= 0)
      return;
    kill(-shell_, SIGKILL);
    waitpid(shell_, nullptr, 0);
    // The sleeps, orphaned, are ours now.
    while (waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
  }
  ExtraProcesses(const ExtraProcesses&) = delete;
  ExtraProcesses& operator=(const ExtraProcesses&) = delete;

 private:
  pid_t shell_ = -1;
};

void BM_ProcFloor(benchmark::State& state) {
  const ExtraProcesses extra(state.range(0));
  for (auto _ : state) {
    char link[sizeof "/proc//exe" + sizeof(dirent::d_name)];
    char target[4096];
    DIR* dir = opendir("/proc");
    if (dir == nullptr) {
      state.SkipWithError("/proc cannot be read");
      return;
    }
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
        continue;
      std::snprintf(link, sizeof link, "/proc/%s/exe", entry->d_name);
      const ssize_t n = readlink(link, target, sizeof target);
      benchmark::DoNotOptimize(n);
    }
    closedir(dir);
  }
  state.counters["processes"] = static_cast<double>(CountProcesses());
}
BENCHMARK(BM_ProcFloor)->Arg(0)->Arg(300);

void BM_ProcessSnapshot(benchmark::State& state) {
  Backend();
  const ExtraProcesses extra(state.range(0));
  std::size_t listed = 0;
  for (auto _ : state) {
    const launcher::ProcList list = launcher::funGetPoccessList(true);
    listed = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["processes"] = static_cast<double>(CountProcesses());
  state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_ProcessSnapshot)->Arg(0)->Arg(300);

void BM_WindowSnapshot(benchmark::State& state) {
  launcher::LinuxPlatform& platform = Backend();
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr || !platform.x11().connected()) {
    if (display != nullptr)
      XCloseDisplay(display);
    state.SkipWithError("no X display (set DISPLAY)");
    return;
  }
  const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  std::vector<Window> windows;
  for (int i = 0; i < 20; ++i) {
    const Window window =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 10 * i, 10 * i, 200, 100, 0, 0, 0);
    const std::string title = "Application window " + std::to_string(i);
    XChangeProperty(display, window, net_wm_name, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    XMapWindow(display, window);
    windows.push_back(window);
  }
  XSync(display, False);

  std::size_t listed = 0;
  for (auto _ : state) {
    const launcher::ProcList list = launcher::funGetWindowList(0, true);
    listed = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["listed"] = static_cast<double>(listed);
  XCloseDisplay(display);  // takes its windows with it
}
BENCHMARK(BM_WindowSnapshot);

}  // namespace

BENCHMARK_MAIN();
