// What happens when the X display goes away under the launcher (the server
// ends or crashes): the toolkit cannot go on, and no window can be shown any
// more. Left alone, GDK would end the program with status 1 and not a word.
#pragma once

#include <string>

namespace launcher {

// Told the cause in words; it is meant to end the program and not return.
using DisplayLostHandler = void (*)(const std::string& cause);

// The handler the entry point sets; none at first.
void SetDisplayLostHandler(DisplayLostHandler handler);

// The toolkit opened its display `name` (the X display, or a Wayland socket's
// name): from then on an X display of that name that cannot be reached is lost.
void NoteDisplayInUse(const std::string& name);
bool DisplayInUse(const std::string& name);

// Runs the handler with `cause`; returns at once when none is set (a test
// that drives the backend by itself, say).
void ReportDisplayLost(const std::string& cause);

}  // namespace launcher
