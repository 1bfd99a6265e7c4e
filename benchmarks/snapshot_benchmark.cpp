// The launcher's snapshots on the real Linux backend, each beside its floor,
// the least work that reads the same facts:
// - a process snapshot, beside walking /proc and reading each executable link;
// - the check of the process watch and the waits (is the application
//   running?), beside reading the running application's executable link;
// - a window snapshot, beside the same X requests sent all at once through
//   XCB (the client list or the root's children, then for each window its
//   attributes, state, type, owner, titles and creator) and reading each
//   creator's executable link.
//
// The argument of the process benchmarks is a number of extra processes
// (sleeping children) started for the run, so that a desktop's few hundred
// processes can be had on a quiet machine. The window benchmarks need a
// display (DISPLAY) and show 20 application windows of their own there.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

std::string OwnExe() {
  char target[4096];
  const ssize_t n = readlink("/proc/self/exe", target, sizeof target);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// What one check of a running application must read: its executable link,
// which tells that it runs and from which file.
void BM_WatchFloor(benchmark::State& state) {
  const ExtraProcesses extra(state.range(0));
  char link[64];
  std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(getpid()));
  for (auto _ : state) {
    char target[4096];
    const ssize_t n = readlink(link, target, sizeof target);
    benchmark::DoNotOptimize(n);
  }
  state.counters["processes"] = static_cast<double>(CountProcesses());
}
BENCHMARK(BM_WatchFloor)->Arg(0)->Arg(300);

// The check that the splash's watch makes ten times a second, and the waits
// once a second: this very process stands for the running application.
void BM_Watch(benchmark::State& state) {
  Backend();
  const ExtraProcesses extra(state.range(0));
  const std::string self = OwnExe();
  bool running = false;
  for (auto _ : state) {
    running = launcher::funIsAppRunning(static_cast<std::int32_t>(getpid()), self);
    benchmark::DoNotOptimize(running);
  }
  if (!running)
    state.SkipWithError("the running process was not found");
  state.counters["processes"] = static_cast<double>(CountProcesses());
}
BENCHMARK(BM_Watch)->Arg(0)->Arg(300);

// Twenty titled application windows of this process on the display, for the
// length of one benchmark.
class TwentyWindows {
 public:
  // `title_bytes`: the first window's title has that many bytes instead.
  explicit TwentyWindows(std::size_t title_bytes = 0) : display_(XOpenDisplay(nullptr)) {
    if (display_ == nullptr)
      return;
    const Atom net_wm_name = XInternAtom(display_, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    for (int i = 0; i < 20; ++i) {
      const Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10 * i,
                                                10 * i, 200, 100, 0, 0, 0);
      const std::string title = "Application window " + std::to_string(i);
      XChangeProperty(display_, window, net_wm_name, utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(title.data()),
                      static_cast<int>(title.size()));
      // In pieces of 1 MiB: one request may not carry more.
      const std::string piece(std::size_t{1} << 20, 't');
      for (std::size_t done = title.size(); i == 0 && done < title_bytes; done += piece.size())
        XChangeProperty(display_, window, net_wm_name, utf8, 8, PropModeAppend,
                        reinterpret_cast<const unsigned char*>(piece.data()),
                        static_cast<int>(std::min(piece.size(), title_bytes - done)));
      XMapWindow(display_, window);
    }
    XSync(display_, False);
  }
  ~TwentyWindows() {
    if (display_ != nullptr)
      XCloseDisplay(display_);  // takes its windows with it
  }
  TwentyWindows(const TwentyWindows&) = delete;
  TwentyWindows& operator=(const TwentyWindows&) = delete;

  bool shown() const { return display_ != nullptr; }

 private:
  Display* display_;
};

void BM_WindowSnapshot(benchmark::State& state) {
  launcher::LinuxPlatform& platform = Backend();
  const TwentyWindows windows;
  if (!windows.shown() || !platform.x11().connected()) {
    state.SkipWithError("no X display (set DISPLAY)");
    return;
  }
  std::size_t listed = 0;
  for (auto _ : state) {
    const launcher::ProcList list = launcher::funGetWindowList(0, true);
    listed = list.size();
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_WindowSnapshot);

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The same twenty windows, the first with a title of 50 MB, which the
// snapshot reads only up to its bound: time and memory stay near the plain
// snapshot's. The growth of this process's peak memory over the benchmark
// is its counter (the plain one runs first, so only what this one needs more
// shows).
void BM_WindowSnapshotHugeTitle(benchmark::State& state) {
  launcher::LinuxPlatform& platform = Backend();
  const long before = PeakRssKb();
  const TwentyWindows windows(std::size_t{50} * 1000 * 1000);
  if (!windows.shown() || !platform.x11().connected()) {
    state.SkipWithError("no X display (set DISPLAY)");
    return;
  }
  std::size_t title = 0;
  for (auto _ : state) {
    const launcher::ProcList list = launcher::funGetWindowList(0, true);
    for (const launcher::ProcInfo& entry : list)
      title = std::max(title, entry.strWindowTitle.size());
    benchmark::DoNotOptimize(list.data());
  }
  state.counters["longest_title"] = static_cast<double>(title);
  state.counters["peak_growth_kb"] = static_cast<double>(PeakRssKb() - before);
}
BENCHMARK(BM_WindowSnapshotHugeTitle);

template <typename T>
struct Freed {
  T* reply;
  explicit Freed(T* r) : reply(r) {}
  ~Freed() { std::free(reply); }
  Freed(const Freed&) = delete;
  Freed& operator=(const Freed&) = delete;
  T* operator->() const { return reply; }
  explicit operator bool() const { return reply != nullptr; }
};

// The requests any window snapshot needs, on a connection of its own, each
// round sent whole before its replies are read; the replies are only looked
// at as far as the next round and the link reads need.
void BM_WindowFloor(benchmark::State& state) {
  const TwentyWindows windows;
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (!windows.shown() || xcb_connection_has_error(c) != 0) {
    xcb_disconnect(c);
    state.SkipWithError("no X display (set DISPLAY)");
    return;
  }
  const char* names[] = {
      "_NET_SUPPORTING_WM_CHECK", "_NET_CLIENT_LIST", "_NET_WM_NAME", "WM_STATE", "_NET_WM_STATE",
      "_NET_WM_WINDOW_TYPE"};
  std::array<xcb_atom_t, 6> atoms{};
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    Freed reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(names[i])), names[i]),
        nullptr));
    atoms[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  }
  const auto [check_atom, client_list, net_wm_name, wm_state, net_wm_state, window_type] = atoms;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

  struct Cookies {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_property_cookie_t properties[6];
    xcb_res_query_client_ids_cookie_t client;
  };
  std::vector<xcb_window_t> listed;
  std::vector<Cookies> cookies;
  for (auto _ : state) {
    // The manager check, its client list and the root's children.
    auto check = xcb_get_property(c, 0, root, check_atom, XCB_ATOM_WINDOW, 0, 1);
    auto clients = xcb_get_property(c, 0, root, client_list, XCB_ATOM_WINDOW, 0, 1 << 16);
    auto tree = xcb_query_tree(c, root);
    Freed check_reply(xcb_get_property_reply(c, check, nullptr));
    bool managed = false;
    if (check_reply && xcb_get_property_value_length(check_reply.reply) == 4) {
      const xcb_window_t wm =
          *static_cast<xcb_window_t*>(xcb_get_property_value(check_reply.reply));
      Freed self(xcb_get_property_reply(
          c, xcb_get_property(c, 0, wm, check_atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
      managed = self && xcb_get_property_value_length(self.reply) == 4;
    }
    Freed clients_reply(xcb_get_property_reply(c, clients, nullptr));
    Freed tree_reply(xcb_query_tree_reply(c, tree, nullptr));
    listed.clear();
    if (managed && clients_reply) {
      const auto* ids = static_cast<xcb_window_t*>(xcb_get_property_value(clients_reply.reply));
      listed.assign(ids, ids + xcb_get_property_value_length(clients_reply.reply) / 4);
    } else if (tree_reply) {
      const xcb_window_t* ids = xcb_query_tree_children(tree_reply.reply);
      listed.assign(ids, ids + xcb_query_tree_children_length(tree_reply.reply));
    }

    // Every question about every window at once.
    cookies.resize(listed.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
      const xcb_window_t w = listed[i];
      Cookies& k = cookies[i];
      k.attributes = xcb_get_window_attributes(c, w);
      k.properties[0] = xcb_get_property(c, 0, w, wm_state, wm_state, 0, 1);
      k.properties[1] = xcb_get_property(c, 0, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1);
      k.properties[2] = xcb_get_property(c, 0, w, window_type, XCB_ATOM_ATOM, 0, 1024);
      k.properties[3] = xcb_get_property(c, 0, w, net_wm_state, XCB_ATOM_ATOM, 0, 1024);
      k.properties[4] =
          xcb_get_property(c, 0, w, net_wm_name, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 14);
      k.properties[5] =
          xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 14);
      const xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
      k.client = xcb_res_query_client_ids(c, 1, &spec);
    }
    std::size_t with_title = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) {
      Cookies& k = cookies[i];
      Freed attributes(xcb_get_window_attributes_reply(c, k.attributes, nullptr));
      for (std::size_t p = 0; p < 6; ++p) {
        Freed property(xcb_get_property_reply(c, k.properties[p], nullptr));
        with_title += p == 4 && property && xcb_get_property_value_length(property.reply) > 0;
      }
      Freed ids(xcb_res_query_client_ids_reply(c, k.client, nullptr));
      if (!ids)
        continue;
      const auto it = xcb_res_query_client_ids_ids_iterator(ids.reply);
      if (it.rem > 0 && it.data->length >= 4) {
        char link[64];
        char target[4096];
        std::snprintf(link, sizeof link, "/proc/%u/exe", *xcb_res_client_id_value_value(it.data));
        const ssize_t n = readlink(link, target, sizeof target);
        benchmark::DoNotOptimize(n);
      }
    }
    benchmark::DoNotOptimize(with_title);
  }
  state.counters["windows"] = static_cast<double>(listed.size());
  xcb_disconnect(c);
}
BENCHMARK(BM_WindowFloor);

}  // namespace

BENCHMARK_MAIN();
