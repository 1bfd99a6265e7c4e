// The splash form of the Linux backend: a GTK 3 window on X11 showing a
// picture of linux_picture.h, GLib timers, and the event loop of the default
// main context. The toolkit is loaded by the first of these that needs it
// (linux_toolkit.h); when it cannot be, they raise 48 (Error in loading DLL).
#pragma once

#include <memory>

#include "platform/form.h"

namespace launcher {

// An undecorated GTK window with the splash-screen hint, hidden at first.
// Raises error 68 when no display can be opened.
std::unique_ptr<Form> CreateGtkForm(FormEvents& events);

// The primary monitor's size, and twips per pixel from the screen's resolution.
ScreenMetrics QueryGdkScreen();

// Runs the default main context until no GTK form is open any more.
void RunGtkEventLoop();

}  // namespace launcher
