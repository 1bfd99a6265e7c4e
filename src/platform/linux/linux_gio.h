// GIO, loaded at run time (linux_library.h): its D-Bus where a compositor is
// asked over the session bus (linux_dbus.h), its content types where a picture's
// format is told.
#pragma once

// As in linux_toolkit.h: no cast check may call into a library not loaded.
#ifndef G_DISABLE_CAST_CHECKS
#define G_DISABLE_CAST_CHECKS
#endif
#include <gio/gio.h>

#include "platform/linux/linux_library.h"

namespace launcher {

#define LAUNCHER_GIO_FUNCTIONS(X)               \
  X(g_dbus_connection_new_for_address)          \
  X(g_dbus_connection_new_for_address_finish)   \
  X(g_dbus_connection_get_unique_name)          \
  X(g_dbus_connection_register_object)          \
  X(g_dbus_connection_call)                     \
  X(g_dbus_connection_call_finish)              \
  X(g_dbus_connection_call_sync)                \
  X(g_dbus_connection_is_closed)                \
  X(g_dbus_connection_signal_subscribe)         \
  X(g_dbus_connection_signal_unsubscribe)       \
  X(g_dbus_error_get_remote_error)              \
  X(g_io_error_quark)                           \
  X(g_dbus_node_info_new_for_xml)               \
  X(g_dbus_node_info_unref)                     \
  X(g_dbus_method_invocation_return_value)      \
  X(g_dbus_method_invocation_return_dbus_error) \
  X(g_cancellable_new)                          \
  X(g_cancellable_cancel)                       \
  X(g_dbus_connection_unregister_object)        \
  X(g_dbus_address_escape_value)                \
  X(g_content_type_guess)                       \
  X(g_content_type_equals)

struct GioLibrary {
  static constexpr char kSoname[] = "libgio-2.0.so.0";
  LAUNCHER_GIO_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_GIO_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

}  // namespace launcher
