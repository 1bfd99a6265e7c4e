#include "platform/platform.h"

#include <cstdlib>

namespace launcher {

namespace {
Platform* g_platform = nullptr;
}  // namespace

Platform& Sys() {
  if (g_platform == nullptr)
    std::abort();  // an entry point or test forgot to install a backend
  return *g_platform;
}

void InstallPlatform(Platform* platform) {
  g_platform = platform;
}

}  // namespace launcher
