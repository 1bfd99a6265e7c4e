// The stand-in application of the end-to-end timing, linked statically so
// that its own start costs next to nothing. Started by the launcher (or
// directly, for comparison), it writes the moment its main function began,
// in nanoseconds of CLOCK_MONOTONIC, to the file descriptor named by
// LAUNCHER_BENCH_FD, then stays LAUNCHER_BENCH_LIFETIME_MS milliseconds
// (default: none) and ends.
//
// More modes give floors, the least work that does the same:
//   start_marker --spawn PROGRAM ARGS...
//                                    starts PROGRAM and ends: the least any
//                                    launcher adds to a start
// and the launcher's waits, reading the same facts at the same rate:
//   start_marker --wait-floor PID    wakes every 100 ms; once a second reads
//                                    PID's executable link
//   start_marker --watch-floor PID   every 100 ms reads the link
#include <spawn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern char** environ;

namespace {

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void SleepMs(long ms) {
  timespec left{ms / 1000, (ms % 1000) * 1'000'000};
  while (nanosleep(&left, &left) != 0) {
  }
}

// What one check of a running application needs: that it runs, and from
// which file.
bool LookOnce(const char* pid) {
  char link[64];
  char target[4096];
  std::snprintf(link, sizeof link, "/proc/%s/exe", pid);
  return readlink(link, target, sizeof target) > 0;
}

// Runs until the process PID is gone, looking every `every` ticks of 100 ms.
int Floor(const char* pid, int every) {
  for (int tick = 1;; ++tick) {
    SleepMs(100);
    if (tick % every == 0 && !LookOnce(pid))
      return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t started = MonotonicNs();
  if (argc >= 3 && std::strcmp(argv[1], "--spawn") == 0) {
    pid_t pid = 0;
    return posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ) == 0 ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "--wait-floor") == 0)
    return Floor(argv[2], 10);
  if (argc == 3 && std::strcmp(argv[1], "--watch-floor") == 0)
    return Floor(argv[2], 1);
  if (const char* fd = std::getenv("LAUNCHER_BENCH_FD")) {
    [[maybe_unused]] const ssize_t n = write(std::atoi(fd), &started, sizeof started);
  }
  if (const char* lifetime = std::getenv("LAUNCHER_BENCH_LIFETIME_MS"))
    SleepMs(std::atol(lifetime));
  return 0;
}
