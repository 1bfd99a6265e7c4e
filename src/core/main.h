// The launcher's start-up: command line, folders, display name, splash, launch.
#pragma once

namespace launcher {

// Runs the launcher's start-up. Returns only when the splash is up and its
// timers are to end the process; otherwise the program ends inside it (or,
// after a reported failure, it returns with nothing left to run).
void Main();

}  // namespace launcher
