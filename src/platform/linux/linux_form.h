// The splash form of the Linux backend: a GTK 3 window (on X11, or a layer
// surface where the Wayland compositor offers one: linux_layer_shell.h)
// showing a picture of linux_picture.h, GLib timers, and the event loop of the
// default main context. The toolkit is loaded by the first of these that needs it
// (linux_toolkit.h); when it cannot be, they raise 48 (Error in loading DLL).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/form.h"

namespace launcher {

// An undecorated GTK window with the splash-screen hint, hidden at first.
// Raises error 68 when no display can be opened.
std::unique_ptr<Form> CreateGtkForm(FormEvents& events);

// The primary monitor's size and scale, and twips per pixel from the
// screen's resolution; all in GDK's pixels, which the scale makes of the
// screen's own.
ScreenMetrics QueryGdkScreen();

// Notes GDK_SCALE before the toolkit reads it. GDK takes a negative one as
// it is, and then makes windows of negative sizes: such a one is taken out
// of our environment, and its "NAME=value" entry returned for the
// application, whose own business it stays.
std::optional<std::string> TakeUnusableGdkScale();

// Runs the default main context until no GTK form is open any more.
void RunGtkEventLoop();

// While one lives (a window-list look waiting for another program), the
// forms' handlers are held: a timer tick or a click that comes meanwhile is
// delivered once the look is over, outside it, as no event may run inside a
// snapshot. The toolkit itself may go on drawing (KeepFormsDrawn).
class HeldFormEvents {
 public:
  HeldFormEvents();
  ~HeldFormEvents();
  HeldFormEvents(const HeldFormEvents&) = delete;
  HeldFormEvents& operator=(const HeldFormEvents&) = delete;
};

// Under a HeldFormEvents: runs what the toolkit has pending (drawing, the
// window system's own events), so that the splash stays drawn while a look
// waits. Nothing where no form is open.
void KeepFormsDrawn();

}  // namespace launcher
