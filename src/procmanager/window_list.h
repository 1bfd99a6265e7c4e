// Snapshots of the visible top-level application windows and their processes.
#pragma once

#include <cstdint>

#include "procmanager/proc_info.h"

namespace launcher {

// A copy of the window snapshot, taken anew when `refresh` is true; the window
// `skip` (the splash) is never listed. After a refresh it holds at least one
// record: a placeholder (id 0) when no window qualified. Failures are traced
// and passed on as failure 4646.
ProcList funGetWindowList(WindowHandle skip, bool refresh);

// Rebuilds the module's window snapshot.
void subPopulateWindowList(WindowHandle skip);

// Looks at one top-level window and appends it to the snapshot when it is a
// visible, titled application window of a process that can be inspected.
// Returns -1 (True) so that the enumeration goes on.
std::int32_t funEnumWindowsCallBack(WindowHandle window, WindowHandle skip);

}  // namespace launcher
