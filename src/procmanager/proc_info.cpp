#include "procmanager/proc_info.h"

namespace launcher {

bool IsAppInList(const ProcList& list, std::int32_t pid, const std::string& exe_path) {
  Platform& sys = Sys();
  for (const ProcInfo& entry : list) {
    if (entry.lngPID == pid || sys.SamePath(entry.strExePath, exe_path))
      return true;
  }
  return false;
}

}  // namespace launcher
