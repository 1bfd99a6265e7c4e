// The Linux entry point: the real backend, then the launcher's start-up.
#include "core/main.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
  launcher::LinuxPlatform platform(argc, argv);
  launcher::InstallPlatform(&platform);
  launcher::Main();
  // Splash mode: the splash's timers end the process from here.
  platform.RunEventLoop();
  return 0;
}
