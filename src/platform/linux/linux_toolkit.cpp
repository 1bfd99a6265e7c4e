#include "platform/linux/linux_toolkit.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "platform/linux/linux_display_lost.h"
#include "platform/linux/linux_layer_shell.h"
#include "platform/runtime_error.h"

namespace launcher {

namespace {

struct Loaded {
  std::optional<Toolkit> toolkit;
  std::string error;
};

// GTK first: loading it brings the others, whose loads then only bind.
Loaded LoadAll() {
  Loaded loaded;
  const auto* gtk = LoadLibrary<GtkLibrary>();
  const auto* gdk = gtk != nullptr ? LoadLibrary<GdkLibrary>() : nullptr;
  const auto* pixbuf = gdk != nullptr ? LoadLibrary<PixbufLibrary>() : nullptr;
  const auto* cairo = pixbuf != nullptr ? LoadLibrary<CairoLibrary>() : nullptr;
  const auto* glib = cairo != nullptr ? LoadLibrary<GlibLibrary>() : nullptr;
  const auto* gobject = glib != nullptr ? LoadLibrary<GobjectLibrary>() : nullptr;
  const auto* xlib = gobject != nullptr ? LoadLibrary<XlibLibrary>() : nullptr;
  if (xlib != nullptr) {
    loaded.toolkit.emplace(Toolkit{*gtk, *gdk, *pixbuf, *cairo, *glib, *gobject, *xlib});
    return loaded;
  }
  for (const std::string* error :
       {&LibraryError<GtkLibrary>(), &LibraryError<GdkLibrary>(), &LibraryError<PixbufLibrary>(),
        &LibraryError<CairoLibrary>(), &LibraryError<GlibLibrary>(),
        &LibraryError<GobjectLibrary>(), &LibraryError<XlibLibrary>()}) {
    if (!error->empty()) {
      loaded.error = *error;
      break;
    }
  }
  return loaded;
}

// The load's answer once it was asked for; nullptr before.
const Loaded*& Asked() {
  static const Loaded* asked = nullptr;
  return asked;
}

const Loaded& State() {
  static const Loaded loaded = LoadAll();
  Asked() = &loaded;
  return loaded;
}

}  // namespace

const Toolkit* TryLoadToolkit() {
  const Loaded& loaded = State();
  return loaded.toolkit ? &*loaded.toolkit : nullptr;
}

const Toolkit* LoadedToolkit() {
  const Loaded* asked = Asked();
  return asked != nullptr && asked->toolkit ? &*asked->toolkit : nullptr;
}

const Toolkit& LoadToolkit() {
  if (const Toolkit* toolkit = TryLoadToolkit())
    return *toolkit;
  throw RuntimeError(kErrDllLoad, DescribeError(kErrDllLoad) + " (" + State().error + ")",
                     kProjectSource);
}

namespace {

// Xlib calls this when the connection breaks, and ends the program itself if
// it returns; nothing here may send a request on the broken connection.
int OnLostConnection(Display* display) {
  const Toolkit* tk = TryLoadToolkit();
  const char* name =
      tk != nullptr && display != nullptr ? tk->xlib.XDisplayString(display) : nullptr;
  // errno says little here (EAGAIN when the server just went away).
  const std::string cause =
      std::string("the connection to the X display ") + (name != nullptr ? name : "") + " was lost";
  ReportDisplayLost(cause);
  std::fprintf(stderr, "%s\n", cause.c_str());
  std::fflush(stderr);
  _exit(1);
}

}  // namespace

bool OpenToolkitDisplay(const Toolkit& toolkit) {
  // Wayland first where the compositor offers layer shell: the splash is
  // placed and kept above there, and an Xwayland that starts on demand stays
  // asleep. Elsewhere X11 first wherever there is an X display, Xwayland's
  // too: there the splash gets the place and the stacking it asks for (a
  // Wayland window may not place itself).
  static const bool chosen = [&toolkit] {
    const char* display = std::getenv("DISPLAY");
    if (PreferWaylandForLayerShell())
      toolkit.gdk.gdk_set_allowed_backends("wayland,x11");
    else if (display != nullptr && *display != '\0')
      toolkit.gdk.gdk_set_allowed_backends("x11,wayland");
    return true;
  }();
  if (!chosen || !toolkit.gtk.gtk_init_check(nullptr, nullptr))
    return false;
  static const bool installed = [&toolkit] {
    toolkit.xlib.XSetIOErrorHandler(&OnLostConnection);
    if (GdkDisplay* display = toolkit.gdk.gdk_display_get_default()) {
      const char* name = toolkit.gdk.gdk_display_get_name(display);
      NoteDisplayInUse(name != nullptr ? name : "");
    }
    return true;
  }();
  return installed;
}

const std::string& ToolkitLoadError() {
  return State().error;
}

}  // namespace launcher
