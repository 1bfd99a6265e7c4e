#include "core/waits.h"

#include <algorithm>
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
// An application whose windows the list can tell all the same (an X11 client
// under a compositor that tells nothing) has its window waited for.
bool WindowListCanTell(std::int32_t pid) {
  const std::string gap = Sys().WindowListGap();
  if (gap.empty())
    return true;
  const bool sees = pid > 0 && Sys().WindowListSeesProcess(static_cast<std::uint32_t>(pid));
  if (!State().gblnWindowGapTraced) {
    State().gblnWindowGapTraced = true;
    WriteTrace("Window list cannot be read in this session (" + gap + ")" +
               (sees ? ", but the application is an X11 client: its window is waited for"
                     : ": a running application counts as having its window"));
  }
  return sees;
}

// Passes in a row whose window list was incomplete before a running
// application counts as having its window: one slow answer from a busy
// compositor must not close the splash over an application that has not drawn
// yet, but a source that fails every time must not hold it for a minute.
constexpr int kIncompletePassesToGiveUp = 3;

// At most this many reasons for an incomplete list are traced in one run.
constexpr std::size_t kTroubleReasonsTraced = 16;

// Whether the window list just taken may have missed the application's window
// (WindowListTrouble); each reason is traced once per run.
bool ListWasIncomplete() {
  const std::string trouble = Sys().WindowListTrouble();
  if (trouble.empty())
    return false;
  std::vector<std::string>& traced = State().gastrWindowTroubleTraced;
  if (traced.size() < kTroubleReasonsTraced &&
      std::find(traced.begin(), traced.end(), trouble) == traced.end()) {
    traced.push_back(trouble);
    WriteTrace("Window list incomplete (" + trouble + "): this pass cannot tell");
  }
  return true;
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
    int incomplete = 0;
    for (;;) {
      WriteTrace("Attempt " + std::to_string(attempt));
      if (!funIsAppRunning(pid, exe_path))
        return;
      bool window_found = !WindowListCanTell(pid) ||
                          IsAppInList(funGetWindowList(SplashWindow(), true), pid, exe_path);
      if (window_found || !ListWasIncomplete()) {
        incomplete = 0;
      } else if (++incomplete == kIncompletePassesToGiveUp) {
        WriteTrace("Window list incomplete at " + std::to_string(incomplete) +
                   " passes in a row: a running application counts as having its window");
        window_found = true;
      }
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
