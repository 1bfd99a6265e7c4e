// The process snapshot of the Windows backend beside its floor, the least
// work that reads the same facts: listing the ids, and for each process
// opening it for the limited query, asking its executable's full path and
// closing it. And the check of the process watch (is this very process
// running?) beside opening it for the limited query and asking its path, the
// least that tells a running process and its file. Prints
// one JSON object; scripts/bench runs it under Wine.
//
//   process_benchmark.exe [--quick] [--children N]
//   process_benchmark.exe ... --child      (what the children run: waits, shows nothing)
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "procmanager/process_list.h"

#include <windows.h>
// The K32 names live in kernel32, as for the launcher itself.
#undef PSAPI_VERSION
#define PSAPI_VERSION 2
#include <psapi.h>

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The ids, with the snapshot's growing buffer.
std::vector<DWORD> ListIds() {
  std::vector<DWORD> ids;
  DWORD size = 8;
  DWORD returned = 96;
  while (size <= returned) {
    size *= 2;
    ids.assign(size / 4, 0);
    if (!K32EnumProcesses(ids.data(), size, &returned))
      break;
  }
  ids.resize(returned / 4);
  return ids;
}

std::size_t Floor() {
  std::size_t listed = 0;
  wchar_t path[MAX_PATH * 4];
  for (const DWORD id : ListIds()) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr)
      continue;
    DWORD size = static_cast<DWORD>(std::size(path));
    listed += QueryFullProcessImageNameW(process, 0, path, &size) != 0;
    CloseHandle(process);
  }
  return listed;
}

std::size_t Snapshot() {
  return launcher::funGetPoccessList(true).size();
}

std::string g_self_path;

std::size_t WatchFloor() {
  const DWORD self = GetCurrentProcessId();
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, self);
  wchar_t path[MAX_PATH * 4];
  DWORD size = static_cast<DWORD>(std::size(path));
  const bool found = process != nullptr && QueryFullProcessImageNameW(process, 0, path, &size);
  if (process != nullptr)
    CloseHandle(process);
  return found ? 1 : 0;
}

std::size_t Watch() {
  return launcher::funIsAppRunning(static_cast<std::int32_t>(GetCurrentProcessId()), g_self_path)
             ? 1
             : 0;
}

// Runs `work` in rounds of `batch` for about `seconds`; seconds per call.
template <typename Work>
double PerCall(Work work, double seconds, std::size_t* result) {
  LARGE_INTEGER start;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&start);
  long calls = 0;
  do {
    for (int i = 0; i < 5; ++i, ++calls)
      *result = work();
    QueryPerformanceCounter(&now);
  } while (Seconds(start, now) < seconds);
  return Seconds(start, now) / static_cast<double>(calls);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool quick = false;
  int children = 20;
  for (int i = 1; i < argc; ++i) {
    // Anywhere on the line: started by the launcher, the child gets its arguments first.
    if (std::wcscmp(argv[i], L"--child") == 0) {
      Sleep(INFINITE);
      return 0;
    }
  }
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--quick") == 0)
      quick = true;
    else if (std::wcscmp(argv[i], L"--children") == 0 && i + 1 < argc)
      children = _wtoi(argv[++i]);
  }

  // Processes of our own, so that there is something to list under Wine,
  // which lists only its own processes.
  wchar_t self[MAX_PATH * 4];
  GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
  std::vector<PROCESS_INFORMATION> started;
  for (int i = 0; i < children; ++i) {
    std::wstring command = L"\"" + std::wstring(self) + L"\" --child";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info))
      started.push_back(info);
  }

  static launcher::Win32Platform platform;
  launcher::InstallPlatform(&platform);
  g_self_path =
      launcher::funGetProcInfo(static_cast<std::int32_t>(GetCurrentProcessId())).strExePath;
  const double seconds = quick ? 0.3 : 3.0;
  std::size_t listed = 0;
  std::size_t floor_listed = 0;
  // Warm both up, then alternate so that a busy moment falls on both alike.
  Snapshot();
  Floor();
  std::vector<double> snapshot_times;
  std::vector<double> floor_times;
  for (int round = 0; round < 5; ++round) {
    snapshot_times.push_back(PerCall(Snapshot, seconds / 5, &listed));
    floor_times.push_back(PerCall(Floor, seconds / 5, &floor_listed));
  }
  std::sort(snapshot_times.begin(), snapshot_times.end());
  std::sort(floor_times.begin(), floor_times.end());
  std::size_t running = 0;
  std::size_t floor_running = 0;
  std::vector<double> watch_times;
  std::vector<double> watch_floor_times;
  for (int round = 0; round < 5; ++round) {
    watch_times.push_back(PerCall(Watch, seconds / 10, &running));
    watch_floor_times.push_back(PerCall(WatchFloor, seconds / 10, &floor_running));
  }
  std::sort(watch_times.begin(), watch_times.end());
  std::sort(watch_floor_times.begin(), watch_floor_times.end());

  std::printf(
      "{\"processes\": %u, \"listed\": %u, \"floor_listed\": %u, \"snapshot_us\": %.1f, "
      "\"floor_us\": %.1f, \"watch_us\": %.1f, \"watch_floor_us\": %.1f, \"watch_found\": %s}\n",
      static_cast<unsigned>(ListIds().size()), static_cast<unsigned>(listed),
      static_cast<unsigned>(floor_listed), snapshot_times[2] * 1e6, floor_times[2] * 1e6,
      watch_times[2] * 1e6, watch_floor_times[2] * 1e6,
      running == 1 && floor_running == 1 ? "true" : "false");
  std::fflush(stdout);
  for (const PROCESS_INFORMATION& info : started) {
    TerminateProcess(info.hProcess, 0);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  return 0;
}
