// The Linux entry point: the real backend, then the launcher's start-up.
#include "core/launcher_state.h"
#include "core/main.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
  launcher::LinuxPlatform platform(argc, argv);
  launcher::InstallPlatform(&platform);
  launcher::Main();
  // Splash mode: the splash's timers end the process from here.
  platform.RunEventLoop();
  // No form is left: after a reported failure, or a splash that was never
  // shown. A script waiting on us must still learn whether the start failed.
  return launcher::ExitStatus();
}
