// One run of launcher.exe under wine_driver.exe, which watches it through the
// debug API: its trace lines, its boxes (answered with OK), its windows and
// its exit code.
#pragma once

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
  std::optional<int> exit_code;
  std::string output;
};

// Runs the installation's launcher with `launcher_args`; `options` go to the
// driver (--shot, --click, --cwd), `env` to Wine (see RunUnderWine).
Seen Drive(const WineInstall& install,
           const std::vector<std::string>& launcher_args,
           const std::vector<std::string>& options = {},
           const std::vector<std::string>& env = {});

bool Traced(const Seen& seen, const std::string& message);

}  // namespace launcher::wine_testing
