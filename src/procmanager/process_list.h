// Snapshots of the running processes with the paths of their executables.
#pragma once

#include <cstdint>

#include "procmanager/proc_info.h"

namespace launcher {

// A copy of the process snapshot, taken anew when `refresh` is true. After a
// refresh it holds at least one record: a placeholder (id 0) when no process
// qualified. Failures are traced and passed on as failure 4646.
ProcList funGetPoccessList(bool refresh);

// Rebuilds the module's process snapshot.
void subPopulatePoccessList();

// Whether the application runs: exactly what IsAppInList answers on a fresh
// snapshot (a process with id `pid`, or any process from `exe_path`), found
// with less work. The process `pid` is looked up first; only when it does not
// qualify are the ids listed as for a snapshot and the others looked up, in
// listed order, until one runs from `exe_path`. The module's snapshot is left
// as it was. Failures climb and are traced as those of funGetPoccessList.
bool funIsAppRunning(std::int32_t pid, const std::string& exe_path);

// The id and executable of one process; id 0 when it cannot be opened, -1 when
// its executable's path cannot be had.
ProcInfo funGetProcInfo(std::int32_t pid);

}  // namespace launcher
