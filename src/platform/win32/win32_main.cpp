// The Windows entry point: installs the Windows backend and runs the start-up.
#include "core/launcher_state.h"
#include "core/main.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_system_dll.h"
#include "platform/win32/win32_windows.h"

namespace {

// A launcher is often started from a downloads folder, where any DLL may lie
// beside it. Its static imports are all known DLLs, which Windows maps from
// the system folder alone; every DLL loaded later, by the launcher or by the
// system on its behalf (COM servers, themes, the display driver, and their
// imports), is looked for in the system folder only: not beside the
// executable, in the current folder or on PATH.
void LimitDllSearchToSystemFolder() {
  // Windows 8 and later, and Windows 7 with KB2533623: looked up, so that the
  // launcher still starts where it is missing.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  const auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (set_default != nullptr && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32))
    return;
  // Where it is missing, at least the current folder leaves the search. Not
  // otherwise: this setting is inherited by the processes the launcher
  // starts, and the application's own search is none of its business. The
  // launcher's folder stays in the search: what Windows loads by name for a
  // window is loaded from the system folder now, before any window exists.
  SetDllDirectoryW(L"");
  launcher::PreloadSystemDllsByPath();
}

}  // namespace

// The C runtime's own entry (crt2u.o), which runs its start-up and wWinMain.
extern "C" int WinMainCRTStartup();

// The image's entry point (see CMakeLists.txt): the search is limited before
// the C runtime or any constructor runs, so no code of the launcher's can
// load a DLL from elsewhere.
extern "C" int LauncherEntry() {
  LimitDllSearchToSystemFolder();
  return WinMainCRTStartup();
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  static launcher::Win32Platform platform;
  launcher::InstallPlatform(&platform);
  launcher::Main();
  // Splash mode: the splash's timers end the process from here.
  platform.RunEventLoop();
  // No form is left: after a reported failure, or a splash that was never
  // shown. A script waiting on us must still learn whether the start failed.
  return launcher::ExitStatus();
}
