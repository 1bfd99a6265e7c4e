#include "procmanager/proc_info.h"

#include "platform/text.h"

namespace launcher {

bool IsAppInList(const ProcList& list, std::int32_t pid, const std::string& exe_path) {
  const std::string wanted = ToLower(exe_path);
  for (const ProcInfo& entry : list) {
    if (entry.lngPID == pid || ToLower(entry.strExePath) == wanted)
      return true;
  }
  return false;
}

}  // namespace launcher
