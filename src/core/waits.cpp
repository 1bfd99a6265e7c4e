#include "core/waits.h"

#include <limits>

#include "diagnostics/error_handler.h"
#include "diagnostics/trace.h"
#include "platform/platform.h"
#include "procmanager/process_list.h"
#include "procmanager/window_list.h"

namespace launcher {

namespace {

// The splash's own window, which must never count as the application's.
WindowHandle SplashWindow() {
  SplashWindowLink* splash = GetSplashWindowLink();
  return splash != nullptr && splash->IsOpen() ? splash->Handle() : 0;
}

}  // namespace

void Pause(double seconds) {
  try {
    const double deadline = static_cast<double>(Sys().MonotonicMs()) + seconds * 1000.0;
    while (!(static_cast<double>(Sys().MonotonicMs()) > deadline)) {
      Sys().Sleep(100);
      Sys().PumpEvents();
    }
  } catch (const RuntimeError&) {
    // A failing pause only ends early; the wait around it goes on.
  }
}

void subWaitForQUARVENAppEnd(std::int32_t pid, const std::string& exe_path) {
  try {
    Pause(5);
    WriteTrace("Waiting for end of process ID: " + std::to_string(pid));
    do {
      Pause(1);
    } while (funIsAppRunning(pid, exe_path));
  } catch (const RuntimeError& failure) {
    HandleError(failure, "QUARVENlauncher subWaitForQUARVENAppEnd", true, false);
  }
}

void subWaitForQUARVENAppOpen(std::int32_t pid,
                              const std::string& exe_path,
                              std::int16_t max_attempts) {
  try {
    WriteTrace("Waiting for window of process ID: " + std::to_string(pid));
    std::int16_t attempt = 0;
    for (;;) {
      WriteTrace("Attempt " + std::to_string(attempt));
      if (!funIsAppRunning(pid, exe_path))
        return;
      const bool window_found = IsAppInList(funGetWindowList(SplashWindow(), true), pid, exe_path);
      if (attempt == std::numeric_limits<std::int16_t>::max())
        Raise(kErrOverflow);
      ++attempt;
      if (attempt > max_attempts || window_found)
        return;
      Pause(1);
    }
  } catch (const RuntimeError& failure) {
    HandleError(failure, "QUARVENlauncher subWaitForQUARVENAppOpen", true, false);
  }
}

}  // namespace launcher
