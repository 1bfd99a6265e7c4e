#include "procmanager/process_list.h"

#include <algorithm>
#include <vector>

#include "diagnostics/error_handler.h"

namespace launcher {

namespace {

// The snapshot between refreshes; empty until the first one.
ProcList g_process_list;

// Room for the module handles of one lookup; only the first one is used.
constexpr std::uint32_t kModuleSlots = 1024;

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

void subPopulatePoccessList() {
  try {
    g_process_list.assign(1, ProcInfo{});
    std::size_t kept = 0;

    // Grow the id buffer while a call fills it exactly. The start value of
    // `returned` makes the first pass run; if every call fails it stays there.
    std::uint32_t size = 8;
    std::uint32_t returned = 96;
    std::vector<std::uint32_t> ids;
    while (size <= returned) {
      size *= 2;
      ids.assign(size / 4, 0);
      Sys().EnumProcesses(ids.data(), size, &returned);
    }

    const std::uint32_t count = returned / 4;
    for (std::uint32_t i = 0; i < count; ++i) {
      ProcInfo record = funGetProcInfo(static_cast<std::int32_t>(ids[i]));
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
    const ProcessHandle handle = Sys().OpenProcess(kProcessQueryInformation | kProcessVmRead,
                                                   static_cast<std::uint32_t>(pid));
    if (handle == 0)
      return record;
    const ProcessCloser closer(handle);

    std::vector<ModuleHandle> modules(kModuleSlots, 0);
    const std::uint32_t capacity = kModuleSlots * sizeof(ModuleHandle);
    std::uint32_t needed = 0;
    Sys().EnumProcessModules(handle, modules.data(), capacity, &needed);
    // A process with more modules than the buffer holds still has its main
    // module first; never hand the listing more room than there is.
    if (!Sys().EnumProcessModules(handle, modules.data(), std::min(needed, capacity), &needed)) {
      record.lngPID = -1;
      return record;
    }

    const std::string path = Sys().ModuleFileName(handle, modules[0]);
    const std::size_t separator = path.find_last_of(Sys().PathSeparator());
    record.lngPID = pid;
    record.strExeName = separator == std::string::npos ? path : path.substr(separator + 1);
    record.strExePath = path;
    return record;
  } catch (const RuntimeError& failure) {
    HandleError(failure, "modProcManager.funGetProcInfoError", false, false);
    return {};
  }
}

}  // namespace launcher
