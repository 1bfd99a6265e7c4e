#include "core/waits.h"

#include <limits>

#include "core/launcher_state.h"
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

// Whether the window list can tell the application's window in this session.
// Where it cannot (a Wayland compositor that tells no client whose window is
// whose, or no display to ask), a running application counts as having its
// window, so the splash closes after its duration instead of standing over the
// application for a minute; the reason is traced once.
bool WindowListCanTell() {
  const std::string gap = Sys().WindowListGap();
  if (gap.empty())
    return true;
  if (!State().gblnWindowGapTraced) {
    State().gblnWindowGapTraced = true;
    WriteTrace("Window list cannot be read in this session (" + gap +
               "): a running application counts as having its window");
  }
  return false;
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
      const bool window_found = !WindowListCanTell() ||
                                IsAppInList(funGetWindowList(SplashWindow(), true), pid, exe_path);
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
