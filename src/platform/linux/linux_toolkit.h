// The window toolkit (GTK 3 with GLib, GDK, GdkPixbuf and cairo), loaded at
// run time on the first form, picture, screen query or message box, so that a
// run that shows no window never loads it: loading it is most of what a
// launcher start would cost otherwise.
#pragma once

// The toolkit's headers give the types; casts stay plain, so that no type
// check calls into a library that may not be loaded.
#ifndef G_DISABLE_CAST_CHECKS
#define G_DISABLE_CAST_CHECKS
#endif
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <string>

namespace launcher {

// The library the toolkit is loaded from.
inline constexpr const char kToolkitLibrary[] = "libgtk-3.so.0";

// The toolkit's functions by their own names, each typed as declared.
struct Toolkit {
// NOLINTNEXTLINE(bugprone-macro-parentheses): a name, not an expression
#define TOOLKIT_FUNCTION(name) decltype(&::name) name = nullptr;
#include "platform/linux/linux_toolkit_functions.h"
#undef TOOLKIT_FUNCTION
};

// The toolkit, loaded on the first call; nullptr when it cannot be loaded
// (the library is missing or broken, or lacks a function we use). Later
// calls give the same answer without trying again.
const Toolkit* TryLoadToolkit();

// The toolkit, or raises "Error in loading DLL" (48) naming the cause.
const Toolkit& LoadToolkit();

// Opens the toolkit on its display (gtk_init_check) and, the first time it
// succeeds, puts our handler of a lost X connection in the place of GDK's: it
// reports the loss (linux_display_lost.h), and where nothing ends the program
// then, tells the cause on standard error and ends with status 1. False when
// no display can be opened.
bool OpenToolkitDisplay(const Toolkit& toolkit);

// Why the toolkit could not be loaded; empty while it loads or was not tried.
const std::string& ToolkitLoadError();

// The pump of GLib's default main context, the launcher's event loop.
struct MainContext {
  decltype(&::g_main_context_pending) pending = nullptr;
  decltype(&::g_main_context_iteration) iteration = nullptr;
};

// The event loop's pump where GLib is in the process (the toolkit brought
// it, or the program the backend runs in links it); nullptr where it is not,
// and then nothing can be pending. Never loads GLib itself, and costs no
// system call: a silent wait asks ten times a second.
const MainContext* LoadedMainContext();

}  // namespace launcher
