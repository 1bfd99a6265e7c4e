// The Linux entry point: the real backend, then the launcher's start-up.
#include <string>

#include "core/launcher_state.h"
#include "core/main.h"
#include "diagnostics/error_handler.h"
#include "diagnostics/trace.h"
#include "platform/linux/linux_display_lost.h"
#include "platform/linux/linux_layer_shell.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
  launcher::LinuxPlatform platform(argc, argv);
  launcher::InstallPlatform(&platform);
  launcher::SetBackendTrace(&launcher::WriteTrace);
  // The display gone: a trace line and the end, where GDK would end the
  // program without a word.
  launcher::SetDisplayLostHandler([](const std::string& cause) {
    launcher::EndOnFatalFailure(
        launcher::RuntimeError(
            launcher::kErrDeviceUnavailable,
            launcher::DescribeError(launcher::kErrDeviceUnavailable) + " (" + cause + ")",
            launcher::kProjectSource),
        "QUARVENlauncher DisplayLost");
  });
  launcher::Main();
  // Splash mode: the splash's timers end the process from here.
  platform.RunEventLoop();
  // No form is left: after a reported failure, or a splash that was never
  // shown. A script waiting on us must still learn whether the start failed.
  return launcher::ExitStatus();
}
