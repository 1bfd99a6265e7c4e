// The Windows entry point: installs the Windows backend and runs the start-up.
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
  return 0;
}
