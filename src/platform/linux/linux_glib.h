// GLib and GObject, loaded at run time (linux_library.h): by the toolkit, which
// brings them along, or alone for the case tables of path comparison.
#pragma once

#include <glib-object.h>
#include <glib.h>

#include "platform/linux/linux_library.h"

namespace launcher {

#define LAUNCHER_GLIB_FUNCTIONS(X)      \
  X(g_free)                             \
  X(g_strfreev)                         \
  X(g_slist_free)                       \
  X(g_unichar_tolower)                  \
  X(g_utf8_casefold)                    \
  X(g_main_context_iteration)           \
  X(g_timeout_add_full)                 \
  X(g_source_remove)                    \
  X(g_clear_error)                      \
  X(g_main_context_new)                 \
  X(g_main_context_unref)               \
  X(g_main_context_push_thread_default) \
  X(g_main_context_pop_thread_default)  \
  X(g_timeout_source_new)               \
  X(g_source_set_callback)              \
  X(g_source_attach)                    \
  X(g_source_destroy)                   \
  X(g_source_unref)                     \
  X(g_variant_new)                      \
  X(g_variant_get)                      \
  X(g_variant_is_of_type)               \
  X(g_variant_unref)

struct GlibLibrary {
  static constexpr char kSoname[] = "libglib-2.0.so.0";
  LAUNCHER_GLIB_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_GLIB_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

#define LAUNCHER_GOBJECT_FUNCTIONS(X) \
  X(g_signal_connect_data)            \
  X(g_object_ref)                     \
  X(g_object_unref)                   \
  X(g_object_set)                     \
  X(g_type_check_instance_is_a)

struct GobjectLibrary {
  static constexpr char kSoname[] = "libgobject-2.0.so.0";
  LAUNCHER_GOBJECT_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_GOBJECT_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

}  // namespace launcher
