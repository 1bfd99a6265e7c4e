// Waiting for the application by polling the process and window lists.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

// Waits `seconds` while keeping the event loop alive: sleeps in 100 ms steps
// and pumps events after each. Measured on a monotonic clock, so a change of
// the wall clock neither stretches nor cuts it. Never returns early.
void Pause(double seconds);

// Returns once no process with the application's id or executable is left:
// first 5 seconds, then a snapshot every second.
void subWaitForQUARVENAppEnd(std::int32_t pid, const std::string& exe_path);

// Returns once the application has a visible application window, or has gone,
// or `max_attempts` + 1 passes (a second apart) have found no window.
void subWaitForQUARVENAppOpen(std::int32_t pid,
                              const std::string& exe_path,
                              std::int16_t max_attempts);

}  // namespace launcher
