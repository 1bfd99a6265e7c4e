#include "platform/linux/linux_display_lost.h"

namespace launcher {

namespace {
DisplayLostHandler g_handler = nullptr;
std::string g_in_use;
}  // namespace

void NoteDisplayInUse(const std::string& name) {
  g_in_use = name;
}

bool DisplayInUse(const std::string& name) {
  return !name.empty() && name == g_in_use;
}

void SetDisplayLostHandler(DisplayLostHandler handler) {
  g_handler = handler;
}

void ReportDisplayLost(const std::string& cause) {
  if (g_handler != nullptr)
    g_handler(cause);
}

}  // namespace launcher
