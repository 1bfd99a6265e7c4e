#include "procmanager/process_list.h"

#include <vector>

#include "diagnostics/error_handler.h"

namespace launcher {

namespace {

// The snapshot between refreshes; empty until the first one.
ProcList g_process_list;

// The id buffer, kept for its capacity; zero-filled before every call all the same.
std::vector<std::uint32_t> g_ids;

// Closes the process handle however the lookup ends.
class ProcessCloser {
 public:
  explicit ProcessCloser(ProcessHandle handle) : handle_(handle) {}
  ~ProcessCloser() {
    try {
      Sys().CloseProcess(handle_);
    } catch (const RuntimeError&) {
      // A handle that will not close must not turn a lookup into a failure.
    }
  }
  ProcessCloser(const ProcessCloser&) = delete;
  ProcessCloser& operator=(const ProcessCloser&) = delete;

 private:
  ProcessHandle handle_;
};

// Lists the running processes' ids into g_ids, growing the buffer while a
// call fills it exactly, and returns how many there are. The start value of
// `returned` makes the first pass run; if every call fails it stays there.
std::uint32_t ListProcessIds() {
  std::uint32_t size = 8;
  std::uint32_t returned = 96;
  while (size <= returned) {
    size *= 2;
    g_ids.assign(size / 4, 0);
    Sys().EnumProcesses(g_ids.data(), size, &returned);
  }
  return returned / 4;
}

// The search of funIsAppRunning. Its failures are traced under the name of
// the full snapshot's middle step, so that a failure reads the same in the
// trace and in the box whichever way the application was looked for.
bool FindApp(std::int32_t pid, const std::string& exe_path) {
  try {
    // While the started process runs it answers alone: a fresh snapshot would
    // hold it, and so match. Listing every process ten times a second cost
    // more than everything else the watch does.
    if (pid > 0 && funGetProcInfo(pid).lngPID > 0)
      return true;

    const std::uint32_t count = ListProcessIds();
    // One record at a time goes through the one matching rule.
    ProcList candidate(1);
    bool any_kept = false;
    for (std::uint32_t i = 0; i < count; ++i) {
      // The started process was looked up just now, and did not qualify.
      if (pid > 0 && g_ids[i] == static_cast<std::uint32_t>(pid))
        continue;
      ProcInfo record = funGetProcInfo(static_cast<std::int32_t>(g_ids[i]));
      if (record.lngPID <= 0)
        continue;
      any_kept = true;
      candidate[0] = std::move(record);
      if (IsAppInList(candidate, pid, exe_path))
        return true;
    }
    // No process qualified: the snapshot would be its placeholder alone.
    return !any_kept && IsAppInList(ProcList(1), pid, exe_path);
  } catch (const RuntimeError& failure) {
    HandleError(failure, "modProcManager.subPopulatePoccessListError", false, false);
    return false;
  }
}

}  // namespace

ProcList funGetPoccessList(bool refresh) {
  try {
    if (refresh)
      subPopulatePoccessList();
    return g_process_list;
  } catch (const RuntimeError& failure) {
    HandleError(failure, "modProcManager.funGetPoccessListError", false, false);
    return {};
  }
}

bool funIsAppRunning(std::int32_t pid, const std::string& exe_path) {
  try {
    return FindApp(pid, exe_path);
  } catch (const RuntimeError& failure) {
    HandleError(failure, "modProcManager.funGetPoccessListError", false, false);
    return false;
  }
}

void subPopulatePoccessList() {
  try {
    g_process_list.assign(1, ProcInfo{});
    std::size_t kept = 0;
    const std::uint32_t count = ListProcessIds();
    g_process_list.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      ProcInfo record = funGetProcInfo(static_cast<std::int32_t>(g_ids[i]));
      if (record.lngPID > 0) {
        g_process_list.resize(kept + 1);
        g_process_list[kept++] = std::move(record);
      }
    }
  } catch (const RuntimeError& failure) {
    HandleError(failure, "modProcManager.subPopulatePoccessListError", false, false);
  }
}

ProcInfo funGetProcInfo(std::int32_t pid) {
  try {
    ProcInfo record;
    const ProcessHandle handle =
        Sys().OpenProcess(kProcessQueryLimitedInformation, static_cast<std::uint32_t>(pid));
    if (handle == 0)
      return record;
    const ProcessCloser closer(handle);

    // No path, no process: an ended process whose object lingers answers so.
    if (!Sys().ProcessImagePath(handle, record.strExePath)) {
      record.strExePath.clear();
      record.lngPID = -1;
      return record;
    }
    const std::string& path = record.strExePath;
    const std::size_t separator = path.find_last_of(Sys().PathSeparator());
    record.lngPID = pid;
    record.strExeName = separator == std::string::npos ? path : path.substr(separator + 1);
    return record;
  } catch (const RuntimeError& failure) {
    HandleError(failure, "modProcManager.funGetProcInfoError", false, false);
    return {};
  }
}

}  // namespace launcher
