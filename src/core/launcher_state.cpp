#include "core/launcher_state.h"

namespace launcher {

namespace {
LauncherState g_state;
}  // namespace

LauncherState& State() {
  return g_state;
}

int ExitStatus() {
  return g_state.gblnFailureReported ? 1 : 0;
}

void ResetState() {
  g_state = LauncherState{};
}

}  // namespace launcher
