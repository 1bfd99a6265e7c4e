#include "platform/linux/linux_display_lost.h"

namespace launcher {

namespace {
DisplayLostHandler g_handler = nullptr;
}  // namespace

void SetDisplayLostHandler(DisplayLostHandler handler) {
  g_handler = handler;
}

void ReportDisplayLost(const std::string& cause) {
  if (g_handler != nullptr)
    g_handler(cause);
}

}  // namespace launcher
