// One run of launcher.exe under wine_driver.exe, which watches it through the
// debug API: its trace lines, its boxes (answered with OK), its windows and
// its exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wine_install.h"

namespace launcher::wine_testing {

// What the driver saw of one run of the launcher.
struct Seen {
  std::vector<std::string> traces;  // messages only, after " - "
  std::vector<std::string> boxes;   // "title|text"
  std::vector<std::string> windows;
  std::string shot_style;
  std::vector<std::string> names;  // "HRESULT|accessible name|window text"
  std::string dpi_changed;         // "sent|left,top,width,height" after --dpi-changed
  std::optional<int> exit_code;
  std::string output;
};

// Runs the installation's launcher with `launcher_args`; `options` go to the
// driver (--shot, --click, --name, --cwd, --dpi-changed), `env` to Wine (see RunUnderWine).
Seen Drive(const WineInstall& install,
           const std::vector<std::string>& launcher_args,
           const std::vector<std::string>& options = {},
           const std::vector<std::string>& env = {});

bool Traced(const Seen& seen, const std::string& message);

// A 24-bit bottom-up BMP as the driver writes it.
struct Bmp {
  int width = 0, height = 0;
  std::string bytes;
  std::uint32_t Pixel(int x, int y) const;  // 0xRRGGBB; (0, 0) is the top-left
};

std::optional<Bmp> ReadBmp(const std::string& path);

// A window the driver saw, in the screen's own pixels.
struct Box {
  int x = 0, y = 0, w = 0, h = 0;
  unsigned long style = 0;
};

// The splash: the launcher's window without a title.
std::optional<Box> SplashOf(const Seen& seen);

}  // namespace launcher::wine_testing
