// DLLs that the launcher loads by name come from the system folder alone.
#pragma once

#include "platform/win32/win32_windows.h"

namespace launcher {

// `name` (no folder) loaded from the system folder, or nullptr. Where the
// search flags are unknown (Windows 7 without KB2533623), by its full path.
HMODULE LoadSystemDll(const wchar_t* name);

// Where the process-wide search could not be limited to the system folder:
// loads by full path, before any window exists, the DLLs that Windows itself
// loads by name for a themed window and the message box, so that a copy
// beside the launcher is never chosen for them.
void PreloadSystemDllsByPath();

}  // namespace launcher
