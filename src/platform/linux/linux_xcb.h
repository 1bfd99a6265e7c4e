// XCB and its resource extension, loaded at run time (linux_library.h) on the
// first look at X11 windows, so that a run that never looks at windows
// (silent mode, no splash) never loads them.
#pragma once

#include <xcb/res.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include "platform/linux/linux_library.h"

namespace launcher {

// Replies are polled for (xcb_poll_for_reply) with a deadline, never waited
// for; only the setup of a new connection, made on a thread of its own, waits.
#define LAUNCHER_XCB_FUNCTIONS(X)   \
  X(xcb_connect)                    \
  X(xcb_connection_has_error)       \
  X(xcb_disconnect)                 \
  X(xcb_flush)                      \
  X(xcb_get_file_descriptor)        \
  X(xcb_poll_for_reply)             \
  X(xcb_discard_reply)              \
  X(xcb_get_setup)                  \
  X(xcb_setup_roots_iterator)       \
  X(xcb_screen_next)                \
  X(xcb_prefetch_extension_data)    \
  X(xcb_get_extension_data)         \
  X(xcb_intern_atom)                \
  X(xcb_intern_atom_reply)          \
  X(xcb_query_tree)                 \
  X(xcb_query_tree_children)        \
  X(xcb_query_tree_children_length) \
  X(xcb_get_window_attributes)      \
  X(xcb_get_property)               \
  X(xcb_get_property_value)         \
  X(xcb_get_property_value_length)

struct XcbLibrary {
  static constexpr char kSoname[] = "libxcb.so.1";
  LAUNCHER_XCB_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_XCB_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

// The resource extension tells each client's pid. Without its library, pids
// come from the windows' own property, as with a server that lacks it.
#define LAUNCHER_XCB_RES_FUNCTIONS(X)      \
  X(xcb_res_id)                            \
  X(xcb_res_query_version)                 \
  X(xcb_res_query_version_reply)           \
  X(xcb_res_query_client_ids)              \
  X(xcb_res_query_client_ids_ids_iterator) \
  X(xcb_res_client_id_value_next)          \
  X(xcb_res_client_id_value_value)

struct XcbResLibrary {
  static constexpr char kSoname[] = "libxcb-res.so.0";
  LAUNCHER_XCB_RES_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_XCB_RES_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

}  // namespace launcher
