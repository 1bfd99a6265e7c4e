// The Windows entry point: installs the Windows backend and runs the start-up.
#include "core/launcher_state.h"
#include "core/main.h"
#include "platform/platform.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_windows.h"

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
