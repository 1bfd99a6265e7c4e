// The window toolkit: GTK 3 with GDK, GdkPixbuf, cairo, GLib and GObject, and
// Xlib under GDK's X11 backend. Loaded at run time (linux_library.h) on the
// first form, picture, screen query or message box, so that a run that shows
// no window never loads it: loading it is most of what a start would cost.
#pragma once

// The toolkit's headers give the types; casts stay plain, so that no type
// check calls into a library that may not be loaded.
#ifndef G_DISABLE_CAST_CHECKS
#define G_DISABLE_CAST_CHECKS
#endif
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <string>

#include "platform/linux/linux_glib.h"
#include "platform/linux/linux_library.h"

namespace launcher {

#define LAUNCHER_GTK_FUNCTIONS(X)     \
  X(gtk_init_check)                   \
  X(gtk_true)                         \
  X(gtk_events_pending)               \
  X(gtk_main_iteration)               \
  X(gtk_window_new)                   \
  X(gtk_window_set_decorated)         \
  X(gtk_window_set_resizable)         \
  X(gtk_window_set_type_hint)         \
  X(gtk_window_set_skip_taskbar_hint) \
  X(gtk_window_set_skip_pager_hint)   \
  X(gtk_window_set_title)             \
  X(gtk_window_set_startup_id)        \
  X(gtk_window_set_keep_above)        \
  X(gtk_window_set_position)          \
  X(gtk_window_resize)                \
  X(gtk_window_move)                  \
  X(gtk_window_present)               \
  X(gtk_drawing_area_new)             \
  X(gtk_container_add)                \
  X(gtk_widget_add_events)            \
  X(gtk_widget_realize)               \
  X(gtk_widget_get_window)            \
  X(gtk_widget_get_accessible)        \
  X(gtk_widget_set_size_request)      \
  X(gtk_widget_queue_draw)            \
  X(gtk_widget_show_all)              \
  X(gtk_widget_destroy)               \
  X(gtk_message_dialog_new)           \
  X(gtk_dialog_run)

struct GtkLibrary {
  static constexpr char kSoname[] = "libgtk-3.so.0";
  LAUNCHER_GTK_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_GTK_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

#define LAUNCHER_GDK_FUNCTIONS(X)           \
  X(gdk_set_allowed_backends)               \
  X(gdk_x11_window_get_type)                \
  X(gdk_x11_window_get_xid)                 \
  X(gdk_x11_screen_get_type)                \
  X(gdk_x11_screen_get_window_manager_name) \
  X(gdk_display_get_default)                \
  X(gdk_display_get_name)                   \
  X(gdk_display_get_primary_monitor)        \
  X(gdk_display_get_monitor)                \
  X(gdk_monitor_get_geometry)               \
  X(gdk_monitor_get_scale_factor)           \
  X(gdk_screen_get_default)                 \
  X(gdk_screen_get_resolution)              \
  X(gdk_cairo_set_source_pixbuf)            \
  X(gdk_cairo_surface_create_from_pixbuf)

struct GdkLibrary {
  static constexpr char kSoname[] = "libgdk-3.so.0";
  LAUNCHER_GDK_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_GDK_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

#define LAUNCHER_PIXBUF_FUNCTIONS(X)  \
  X(gdk_pixbuf_get_formats)           \
  X(gdk_pixbuf_format_get_name)       \
  X(gdk_pixbuf_format_get_mime_types) \
  X(gdk_pixbuf_format_is_disabled)    \
  X(gdk_pixbuf_loader_new_with_type)  \
  X(gdk_pixbuf_loader_set_size)       \
  X(gdk_pixbuf_loader_write)          \
  X(gdk_pixbuf_loader_close)          \
  X(gdk_pixbuf_loader_get_pixbuf)     \
  X(gdk_pixbuf_get_width)             \
  X(gdk_pixbuf_get_height)

struct PixbufLibrary {
  static constexpr char kSoname[] = "libgdk_pixbuf-2.0.so.0";
  LAUNCHER_PIXBUF_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_PIXBUF_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

#define LAUNCHER_CAIRO_FUNCTIONS(X) \
  X(cairo_set_source_rgb)           \
  X(cairo_set_source_surface)       \
  X(cairo_get_source)               \
  X(cairo_pattern_set_filter)       \
  X(cairo_surface_destroy)          \
  X(cairo_set_line_width)           \
  X(cairo_rectangle)                \
  X(cairo_stroke)                   \
  X(cairo_paint)

struct CairoLibrary {
  static constexpr char kSoname[] = "libcairo.so.2";
  LAUNCHER_CAIRO_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_CAIRO_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

#define LAUNCHER_XLIB_FUNCTIONS(X) \
  X(XSetIOErrorHandler)            \
  X(XDisplayString)

struct XlibLibrary {
  static constexpr char kSoname[] = "libX11.so.6";
  LAUNCHER_XLIB_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_XLIB_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

// The toolkit's libraries, each bound from its own list.
struct Toolkit {
  const GtkLibrary& gtk;
  const GdkLibrary& gdk;
  const PixbufLibrary& pixbuf;
  const CairoLibrary& cairo;
  const GlibLibrary& glib;
  const GobjectLibrary& gobject;
  const XlibLibrary& xlib;
};

// The toolkit, loaded on the first call; nullptr when it cannot be loaded
// (a library is missing or broken, or lacks a function we use). Later calls
// give the same answer without trying again.
const Toolkit* TryLoadToolkit();

// The toolkit where an earlier call loaded it; nullptr otherwise. Never
// loads it and makes no system call, so a pump may ask ten times a second.
const Toolkit* LoadedToolkit();

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

}  // namespace launcher
