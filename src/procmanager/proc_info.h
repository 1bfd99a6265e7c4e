// One process, or one window together with the process that created it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace launcher {

struct ProcInfo {
  // The id looked up; 0 when the process could not be opened, -1 when its
  // executable's path could not be had. Lists keep only records above 0.
  std::int32_t lngPID = 0;
  std::string strExeName;      // strExePath after its last separator
  std::string strExePath;      // the executable's full path
  std::string strWindowTitle;  // window records only
  WindowHandle lngHWnd = 0;    // window records only
};

using ProcList = std::vector<ProcInfo>;

// Whether the application is in `list`: an entry with its id, or else one that
// runs from `exe_path` (compared without regard to case, by the system's rules
// for file names). Scans from index 0 and stops at the first match.
bool IsAppInList(const ProcList& list, std::int32_t pid, const std::string& exe_path);

}  // namespace launcher
