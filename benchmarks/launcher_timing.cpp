// End-to-end timing of the real Linux launcher, each figure beside its direct
// counterpart or floor measured in the same run:
//
//   start     launcher start to the application's first instruction, no
//             splash, beside starting the application directly
//   splash    launcher start to its splash window mapped, beside a plain GTK
//             program that shows the same picture
//   gone      the application's window on screen to the launcher gone, split
//             into the wait for the next once-a-second pass and the pass itself
//   silent    processor time and peak memory during the silent-mode wait,
//             beside a program that reads the same facts at the same rate
//   watch     the same while the splash shows and its watch runs
//
// It prints one JSON object. The launcher runs from a temporary installation
// with start_marker (or the probe) as its application. Needs DISPLAY for the
// splash, gone and watch figures.
//
//   launcher_timing --launcher L --marker M --probe P --gtk-window G [--quick]
//                   [--only start|splash|gone|silent_wait|watch]
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

extern char** environ;

namespace {

using launcher::testing::ReadNumber;
using launcher::testing::SolidBmp;
using launcher::testing::WallMs;

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void SleepMs(std::int64_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
  while (nanosleep(&left, &left) != 0) {
  }
}

double Median(std::vector<double> values) {
  if (values.empty())
    return -1;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "launcher_timing: %s\n", what.c_str());
  std::exit(1);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteAll(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  chmod(path.c_str(), mode);
}

// Processor time a process has used so far, in nanoseconds.
std::int64_t CpuNs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  long long ns = -1;
  in >> ns;
  return ns;
}

// Peak resident memory of a process, in KiB.
long PeakKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0)
      return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Starts `program`; `add_env` entries are added to ours, and standard error
// goes to `stderr_path`, or nowhere.
pid_t Spawn(const std::string& program,
            const std::vector<std::string>& args,
            const std::vector<std::string>& add_env,
            const std::string& stderr_path = {},
            int stdout_fd = -1) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    env.emplace_back(*e);
  env.insert(env.end(), add_env.begin(), add_env.end());
  std::vector<char*> envp;
  for (std::string& e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // Trace lines are kept only where a figure is read from them.
  posix_spawn_file_actions_addopen(&actions, 2,
                                   stderr_path.empty() ? "/dev/null" : stderr_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (stdout_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
    Fail("cannot start " + program);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Our children and, as subreaper, the orphans that came to us: ended, collected.
void EndAll() {
  const std::string self = std::to_string(getpid());
  for (int round = 0; round < 3; ++round) {
    if (DIR* dir = opendir("/proc")) {
      while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
          continue;
        const std::string stat = ReadAll(std::string("/proc/") + entry->d_name + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
          continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state;
        std::string ppid;
        rest >> state >> ppid;
        if (ppid == self)
          kill(std::atoi(entry->d_name), SIGKILL);
      }
      closedir(dir);
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    SleepMs(20);
  }
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

std::optional<int> WaitExit(pid_t pid, std::int64_t limit_ms) {
  const std::int64_t until = WallMs() + limit_ms;
  while (WallMs() < until) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    SleepMs(2);
  }
  return std::nullopt;
}

// A temporary installation: the launcher, bin/launcher.ini, bin/splash.bmp and
// the application at bin/xulrunner/quarven.
class Install {
 public:
  Install(const std::string& launcher, const std::string& app, const std::string& ini) {
    char pattern[] = "/tmp/launcher-timing-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
      Fail("no temporary folder");
    root_ = pattern;
    mkdir((root_ + "/bin").c_str(), 0755);
    mkdir((root_ + "/bin/xulrunner").c_str(), 0755);
    WriteAll(root_ + "/launcher", ReadAll(launcher), 0755);
    WriteAll(app_path(), ReadAll(app), 0755);
    WriteAll(root_ + "/bin/launcher.ini", ini);
    WriteAll(picture(), SolidBmp(269, 77, 0x3366cc));
  }
  ~Install() {
    nftw(
        root_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path); },
        16, FTW_DEPTH | FTW_PHYS);
  }
  Install(const Install&) = delete;
  Install& operator=(const Install&) = delete;

  std::string launcher() const { return root_ + "/launcher"; }
  std::string app_path() const { return root_ + "/bin/xulrunner/quarven"; }
  std::string picture() const { return root_ + "/bin/splash.bmp"; }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

const std::vector<std::string> kAppArgs = {"bin/", "-contentLocale", "en-US", "-UILocale", "en-US"};
const char kPlainIni[] = "[resources]\r\nname=Timing\r\nsplashDuration=0\r\n";

// Milliseconds from the start of `program` until its descendant's marker
// reports its first instruction.
double StartToFirstInstruction(const std::string& program, const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0)
    Fail("no pipe");
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  const std::int64_t t0 = MonotonicNs();
  // Standard output carries the report: the launcher hands its application
  // no other descriptor.
  const pid_t pid = Spawn(program, args, {"LAUNCHER_BENCH_FD=1"}, {}, fds[1]);
  close(fds[1]);
  pollfd wait{fds[0], POLLIN, 0};
  std::int64_t marked = 0;
  if (poll(&wait, 1, 10000) != 1 || read(fds[0], &marked, sizeof marked) != sizeof marked)
    Fail("the application never reported its start");
  close(fds[0]);
  WaitExit(pid, 10000);
  EndAll();
  return static_cast<double>(marked - t0) / 1e6;
}

std::string Samples(const std::vector<double>& values) {
  std::string out = "[";
  char number[32];
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::snprintf(number, sizeof number, "%s%.3f", i == 0 ? "" : ", ", values[i]);
    out += number;
  }
  return out + "]";
}

std::string MeasureStart(const std::string& launcher, const std::string& marker, int runs) {
  const Install install(launcher, marker, kPlainIni);
  std::vector<std::string> floor_args = {"--spawn", install.app_path()};
  floor_args.insert(floor_args.end(), kAppArgs.begin(), kAppArgs.end());
  // Through the launcher; directly; and through the least a launcher can be,
  // a static program that only starts the application.
  const std::function<double()> ways[] = {
      [&] { return StartToFirstInstruction(install.launcher(), {}); },
      [&] { return StartToFirstInstruction(install.app_path(), kAppArgs); },
      [&] { return StartToFirstInstruction(marker, floor_args); },
  };
  std::vector<double> samples[3];
  // One of each first, unmeasured, so that all start from warm caches.
  for (const auto& way : ways)
    way();
  for (int i = 0; i < runs; ++i) {
    // In turn, each starting the round once, so that a busy moment of the
    // machine falls on all of them alike.
    for (int k = 0; k < 3; ++k) {
      const int which = (i + k) % 3;
      samples[which].push_back(ways[which]());
    }
  }
  char out[512];
  std::snprintf(out, sizeof out,
                R"({"runs": %d, "launcher_ms": %.3f, "direct_ms": %.3f, "floor_ms": %.3f)", runs,
                Median(samples[0]), Median(samples[1]), Median(samples[2]));
  return out + std::string(R"(, "launcher_samples": )") + Samples(samples[0]) +
         R"(, "direct_samples": )" + Samples(samples[1]) + R"(, "floor_samples": )" +
         Samples(samples[2]) + "}";
}

// Watches the screen for top-level windows being mapped.
class MapWatch {
 public:
  MapWatch() {
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_) != 0)
      Fail("no X display (set DISPLAY)");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
  }
  ~MapWatch() { xcb_disconnect(connection_); }
  MapWatch(const MapWatch&) = delete;
  MapWatch& operator=(const MapWatch&) = delete;

  void Drain() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_))
      std::free(event);
  }

  // The moment the next managed top-level window is mapped; 0 when none is
  // within `limit_ms`.
  std::int64_t NextMap(std::int64_t limit_ms) {
    const std::int64_t until = MonotonicNs() + limit_ms * 1'000'000;
    for (;;) {
      while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                            !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
        std::free(event);
        if (mapped)
          return MonotonicNs();
      }
      const std::int64_t left = (until - MonotonicNs()) / 1'000'000;
      if (left <= 0)
        return 0;
      pollfd wait{xcb_get_file_descriptor(connection_), POLLIN, 0};
      poll(&wait, 1, static_cast<int>(left));
    }
  }

 private:
  xcb_connection_t* connection_;
};

double TimeToMap(MapWatch& watch,
                 const std::string& program,
                 const std::vector<std::string>& args,
                 const std::vector<std::string>& env) {
  watch.Drain();
  const std::int64_t t0 = MonotonicNs();
  Spawn(program, args, env);
  const std::int64_t mapped = watch.NextMap(10000);
  EndAll();
  SleepMs(100);  // the server takes the windows down
  if (mapped == 0)
    Fail(program + " showed no window");
  return static_cast<double>(mapped - t0) / 1e6;
}

const char kSplashIni[] =
    "[resources]\r\nname=Timing\r\nsplash=splash.bmp\r\nsplashDuration=600\r\n";

std::string MeasureSplash(const std::string& launcher,
                          const std::string& marker,
                          const std::string& gtk_window,
                          int runs) {
  const Install install(launcher, marker, kSplashIni);
  MapWatch watch;
  const std::vector<std::string> app_env = {"LAUNCHER_BENCH_LIFETIME_MS=60000"};
  std::vector<double> splash, plain;
  TimeToMap(watch, install.launcher(), {}, app_env);
  TimeToMap(watch, gtk_window, {install.picture()}, {});
  for (int i = 0; i < runs; ++i) {
    splash.push_back(TimeToMap(watch, install.launcher(), {}, app_env));
    plain.push_back(TimeToMap(watch, gtk_window, {install.picture()}, {}));
  }
  char out[512];
  std::snprintf(out, sizeof out, R"({"runs": %d, "launcher_ms": %.3f, "gtk_ms": %.3f)", runs,
                Median(splash), Median(plain));
  return out + std::string(R"(, "launcher_samples": )") + Samples(splash) + R"(, "gtk_samples": )" +
         Samples(plain) + "}";
}

// Epoch milliseconds of the launcher's last trace line starting with
// `message`: "<name> YYMMDD.HHMMSS.mmm - <message>", in universal time.
std::optional<std::int64_t> LastTraceMs(const std::string& trace, const std::string& message) {
  std::optional<std::int64_t> last;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t dash = line.find(" - ");
    if (dash == std::string::npos || line.compare(dash + 3, message.size(), message) != 0 ||
        dash < 17)
      continue;
    const std::string stamp = line.substr(dash - 17, 17);
    tm parts{};
    parts.tm_year = 100 + std::stoi(stamp.substr(0, 2));
    parts.tm_mon = std::stoi(stamp.substr(2, 2)) - 1;
    parts.tm_mday = std::stoi(stamp.substr(4, 2));
    parts.tm_hour = std::stoi(stamp.substr(7, 2));
    parts.tm_min = std::stoi(stamp.substr(9, 2));
    parts.tm_sec = std::stoi(stamp.substr(11, 2));
    last = std::int64_t{timegm(&parts)} * 1000 + std::stoi(stamp.substr(14, 3));
  }
  return last;
}

std::string MeasureGone(const std::string& launcher, const std::string& probe, int runs) {
  std::vector<double> total, schedule, pass;
  for (int i = 0; i < runs; ++i) {
    const Install install(
        launcher, probe, "[resources]\r\nname=Timing\r\nsplash=splash.bmp\r\nsplashDuration=1\r\n");
    // Spread over the second between two passes, so that the median wait is typical.
    const int window_after = 1300 + (i * 400) % 1000;
    WriteAll(install.root() + "/bin/xulrunner/probe-cue.txt",
             "window_after_ms=" + std::to_string(window_after) + "\nlifetime_ms=30000\n");
    const std::string trace = install.root() + "/trace.txt";
    const pid_t pid = Spawn(install.launcher(), {}, {}, trace);
    const auto code = WaitExit(pid, 20000);
    const std::int64_t gone = WallMs();
    const auto shown = ReadNumber(install.root() + "/bin/xulrunner/probe-window.txt");
    const auto last_pass = LastTraceMs(ReadAll(trace), "Attempt ");
    EndAll();
    if (!code || !shown || !last_pass)
      Fail("the launcher did not end on the application's window");
    total.push_back(static_cast<double>(gone - *shown));
    schedule.push_back(static_cast<double>(*last_pass - *shown));
    pass.push_back(static_cast<double>(gone - *last_pass));
  }
  char out[256];
  std::snprintf(out, sizeof out,
                R"({"runs": %d, "total_ms": %.1f, "until_pass_ms": %.1f, "pass_and_exit_ms": %.1f)",
                runs, Median(total), Median(schedule), Median(pass));
  return out + std::string(R"(, "pass_samples": )") + Samples(pass) + "}";
}

struct Usage {
  double cpu_percent = 0;
  long peak_kb = 0;
};

// Processor share and peak memory of each of `pids` over the next `seconds`.
void Over(const std::vector<pid_t>& pids, int seconds, std::vector<Usage>& out) {
  std::vector<std::int64_t> before;
  for (const pid_t pid : pids)
    before.push_back(CpuNs(pid));
  const std::int64_t t0 = MonotonicNs();
  SleepMs(seconds * 1000LL);
  const double wall = static_cast<double>(MonotonicNs() - t0);
  out.clear();
  for (std::size_t i = 0; i < pids.size(); ++i) {
    Usage usage;
    usage.cpu_percent = 100.0 * static_cast<double>(CpuNs(pids[i]) - before[i]) / wall;
    usage.peak_kb = PeakKb(pids[i]);
    out.push_back(usage);
  }
}

std::string UsageJson(const char* name, const Usage& usage) {
  char out[160];
  std::snprintf(out, sizeof out, R"("%s_cpu_percent": %.4f, "%s_peak_kb": %ld)", name,
                usage.cpu_percent, name, usage.peak_kb);
  return out;
}

std::string MeasureSilentWait(const std::string& launcher, const std::string& marker, int seconds) {
  const Install install(launcher, marker, kPlainIni);
  // Past the start and the first 5 s pause: the once-a-second looks.
  const int settle = 6;
  const pid_t pid =
      Spawn(install.launcher(), {"-s"},
            {"LAUNCHER_BENCH_LIFETIME_MS=" + std::to_string((settle + seconds + 5) * 1000)});
  const pid_t floor = Spawn(marker, {"--wait-floor", std::to_string(pid)}, {});
  SleepMs(settle * 1000);
  std::vector<Usage> usage;
  Over({pid, floor}, seconds, usage);
  EndAll();
  return "{\"seconds\": " + std::to_string(seconds) + ", " + UsageJson("launcher", usage[0]) +
         ", " + UsageJson("floor", usage[1]) + "}";
}

std::string MeasureSplashWait(const std::string& launcher,
                              const std::string& marker,
                              const std::string& gtk_window,
                              int seconds) {
  const Install install(launcher, marker, kSplashIni);
  const pid_t pid = Spawn(install.launcher(), {}, {"LAUNCHER_BENCH_LIFETIME_MS=600000"});
  const pid_t floor = Spawn(marker, {"--watch-floor", std::to_string(pid)}, {});
  const pid_t plain = Spawn(gtk_window, {install.picture()}, {});
  SleepMs(2000);
  std::vector<Usage> usage;
  Over({pid, floor, plain}, seconds, usage);
  EndAll();
  return "{\"seconds\": " + std::to_string(seconds) + ", " + UsageJson("launcher", usage[0]) +
         ", " + UsageJson("floor", usage[1]) + ", " + UsageJson("gtk", usage[2]) + "}";
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> paths;
  bool quick = false;
  paths["only"] = "";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick")
      quick = true;
    else if (arg.rfind("--", 0) == 0 && i + 1 < argc)
      paths[arg.substr(2)] = argv[++i];
    else
      Fail("unknown argument " + arg);
  }
  for (const char* needed : {"launcher", "marker", "probe", "gtk-window"}) {
    if (paths[needed].empty())
      Fail(std::string("--") + needed + " is needed");
  }
  // Orphaned applications come to us, so that every run ends with nothing left.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  // No accessibility bridge: without a session bus it would only add a wait.
  setenv("NO_AT_BRIDGE", "1", 1);

  const std::string& launcher = paths["launcher"];
  const std::string& marker = paths["marker"];
  const std::string& gtk_window = paths["gtk-window"];
  const std::string& only = paths["only"];
  const std::pair<const char*, std::function<std::string()>> figures[] = {
      {"start", [&] { return MeasureStart(launcher, marker, quick ? 6 : 40); }},
      {"splash", [&] { return MeasureSplash(launcher, marker, gtk_window, quick ? 2 : 15); }},
      {"gone", [&] { return MeasureGone(launcher, paths["probe"], quick ? 1 : 5); }},
      {"silent_wait", [&] { return MeasureSilentWait(launcher, marker, quick ? 3 : 30); }},
      {"watch", [&] { return MeasureSplashWait(launcher, marker, gtk_window, quick ? 3 : 30); }},
  };
  const char* separator = "{\n";
  for (const auto& [name, measure] : figures) {
    if (!only.empty() && only != name)
      continue;
    std::printf("%s  \"%s\": %s", separator, name, measure().c_str());
    std::fflush(stdout);
    separator = ",\n";
  }
  std::printf("\n}\n");
  return 0;
}
