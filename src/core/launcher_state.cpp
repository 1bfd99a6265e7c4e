#include "core/launcher_state.h"

namespace launcher {

namespace {
LauncherState g_state;
}  // namespace

LauncherState& State() {
  return g_state;
}

void ResetState() {
  g_state = LauncherState{};
}

}  // namespace launcher
