#include "diagnostics/trace.h"

#include <cstdio>

#include "platform/platform.h"

namespace launcher {

namespace {

// The runtime's "0#" and "00#" masks: at least `digits` digits, zero-padded.
std::string Padded(unsigned value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*u", digits, value);
  return buffer;
}

}  // namespace

std::string GetTimeStamp() {
  std::string stamp;
  try {
    const SystemTime t = Sys().UtcNow();
    const std::string year = std::to_string(t.year);
    stamp = year.substr(year.size() > 2 ? year.size() - 2 : 0);
    stamp += Padded(t.month, 2) + Padded(t.day, 2) + "." + Padded(t.hour, 2) + Padded(t.minute, 2) +
             Padded(t.second, 2) + "." + Padded(t.milliseconds, 3);
  } catch (...) {
    // A trace must never fail; an unreadable clock leaves the stamp short.
  }
  return stamp;
}

void WriteTrace(const std::string& message) {
  try {
    Sys().EmitTrace(Sys().ExeName() + " " + GetTimeStamp() + " - " + message);
  } catch (...) {
    // Tracing is best effort by design: nothing may leave it.
  }
}

}  // namespace launcher
