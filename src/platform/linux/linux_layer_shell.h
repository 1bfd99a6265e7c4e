// The splash as a layer surface, where the Wayland compositor offers the
// layer-shell protocol (sway, KWin, other wlroots compositors): centred and
// above every window without an X11 connection, so that an Xwayland started
// on demand stays asleep. Elsewhere (GNOME Shell, weston) the launcher's
// windows stay on the X display, where they get the place and stacking they
// ask for. gtk-layer-shell is loaded at run time like the toolkit.
#pragma once

#include <cstdint>
#include <string>

// GTK's own name for its window; its headers stay out of the entry point.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name is GTK's
using GtkWindow = struct _GtkWindow;

namespace launcher {

// How long the compositor has to list its globals before the launcher's
// windows take today's route; a stuck compositor must not hold the start.
constexpr std::int64_t kLayerShellProbeMs = 1000;

struct LayerShellProbe {
  bool offered = false;
  std::string trouble;  // why the compositor could not be asked; empty when it answered
};

// Asks the compositor at the Wayland socket `path` for its globals, within
// `limit_ms` in all (connecting included): whether zwlr_layer_shell_v1 is one
// and takes a layer surface (configures rather than closes or refuses it).
LayerShellProbe ProbeLayerShell(const std::string& path, std::int64_t limit_ms);

// Decided once, before the toolkit opens its display: whether the session's
// compositor offers layer shell and gtk-layer-shell could be loaded, so that
// the toolkit should open the Wayland display first. Traces why not where a
// compositor was there to ask.
bool PreferWaylandForLayerShell();

// Makes the not yet realized `window` a layer surface on the overlay layer,
// centred, taking no keyboard focus. False (traced once) where it cannot be:
// the window then stays a plain toplevel.
bool MakeLayerSurface(GtkWindow* window);

// Where this backend's notes go: the entry point sets the trace channel.
using BackendTrace = void (*)(const std::string& message);
void SetBackendTrace(BackendTrace trace);
// A trace line through that channel (none before it is set).
void BackendTraceLine(const std::string& message);

}  // namespace launcher
