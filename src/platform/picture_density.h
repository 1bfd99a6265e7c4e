// The picture a team may give for screens of twice the density: named like
// the configured one with "@2x" before its extension (splash@2x.png beside
// splash.png), twice its size on each side.
#pragma once

#include <string>

namespace launcher {

// Above this scale the double-size picture is drawn in place of the
// configured one; at or below it the configured one is scaled.
inline constexpr float kDoubleDensityFromScale = 1.5F;

// `path` with "@2x" before the extension of its last component (or at its
// end when that has none). `separator` ends the folders.
std::string DoubleDensityPath(const std::string& path, char separator);

}  // namespace launcher
