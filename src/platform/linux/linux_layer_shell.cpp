#include "platform/linux/linux_layer_shell.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <gtk-layer-shell/gtk-layer-shell.h>
#include <wayland-client-core.h>
#include <wayland-client-protocol.h>

#include "platform/linux/linux_posix.h"
#include "platform/linux/linux_toolkit.h"

namespace launcher {

#define LAUNCHER_WAYLAND_FUNCTIONS(X) \
  X(wl_display_connect_to_fd)         \
  X(wl_display_disconnect)            \
  X(wl_display_get_fd)                \
  X(wl_display_get_error)             \
  X(wl_display_flush)                 \
  X(wl_display_prepare_read)          \
  X(wl_display_cancel_read)           \
  X(wl_display_read_events)           \
  X(wl_display_dispatch_pending)      \
  X(wl_proxy_marshal_flags)           \
  X(wl_proxy_add_listener)            \
  X(wl_proxy_get_version)             \
  X(wl_proxy_destroy)                 \
  X(wl_registry_interface)            \
  X(wl_callback_interface)            \
  X(wl_compositor_interface)          \
  X(wl_surface_interface)

struct WaylandClientLibrary {
  static constexpr char kSoname[] = "libwayland-client.so.0";
  LAUNCHER_WAYLAND_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_WAYLAND_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

#define LAUNCHER_LAYER_SHELL_FUNCTIONS(X) \
  X(gtk_layer_is_supported)               \
  X(gtk_layer_init_for_window)            \
  X(gtk_layer_set_layer)                  \
  X(gtk_layer_set_keyboard_mode)          \
  X(gtk_layer_set_namespace)

struct LayerShellLibrary {
  static constexpr char kSoname[] = "libgtk-layer-shell.so.0";
  LAUNCHER_LAYER_SHELL_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
  template <typename B>
  void Bind(B& bind) {
    LAUNCHER_LAYER_SHELL_FUNCTIONS(LAUNCHER_LIBRARY_BIND)
  }
};

namespace {

BackendTrace g_trace = nullptr;

void Note(const std::string& message) {
  if (g_trace != nullptr)
    g_trace(message);
}

struct Globals {
  std::uint32_t layer_shell = 0;  // the global's name; 0 when not offered
  std::uint32_t compositor = 0;
  bool done = false;
};

// How the compositor took the trial surface: configured it, or closed it.
struct Trial {
  bool closed = false;
  bool answered = false;
};

void OnGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t) {
  auto& globals = *static_cast<Globals*>(data);
  if (interface == nullptr)
    return;
  if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0 && globals.layer_shell == 0)
    globals.layer_shell = name;
  if (std::strcmp(interface, "wl_compositor") == 0 && globals.compositor == 0)
    globals.compositor = name;
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
void OnDone(void* data, wl_callback*, std::uint32_t) {
  static_cast<Globals*>(data)->done = true;
}

const wl_registry_listener kRegistryListener{&OnGlobal, &OnGlobalRemove};
const wl_callback_listener kSyncListener{&OnDone};

// zwlr_layer_surface_v1's events, as libwayland calls them.
struct LayerSurfaceListener {
  void (*configure)(void*, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t);
  void (*closed)(void*, wl_proxy*);
};
const LayerSurfaceListener kTrialListener{
    [](void* data, wl_proxy*, std::uint32_t, std::uint32_t, std::uint32_t) {
      static_cast<Trial*>(data)->answered = true;
    },
    [](void* data, wl_proxy*) {
      static_cast<Trial*>(data)->closed = static_cast<Trial*>(data)->answered = true;
    }};

// The two layer-shell interfaces at version 1, written out as the protocol's
// scanner would; the trial needs no header of a protocol Debian does not ship.
struct LayerShellInterfaces {
  const wl_interface* none[4] = {};
  const wl_interface* get_layer_surface_types[5] = {};
  wl_message shell_requests[1] = {{"get_layer_surface", "no?ous", get_layer_surface_types}};
  wl_message surface_requests[8] = {{"set_size", "uu", none},
                                    {"set_anchor", "u", none},
                                    {"set_exclusive_zone", "i", none},
                                    {"set_margin", "iiii", none},
                                    {"set_keyboard_interactivity", "u", none},
                                    {"get_popup", "o", none},
                                    {"ack_configure", "u", none},
                                    {"destroy", "", none}};
  wl_message surface_events[2] = {{"configure", "uuu", none}, {"closed", "", none}};
  wl_interface surface{"zwlr_layer_surface_v1", 1, 8, surface_requests, 2, surface_events};
  wl_interface shell{"zwlr_layer_shell_v1", 1, 1, shell_requests, 0, nullptr};
  LayerShellInterfaces() { get_layer_surface_types[0] = &surface; }
};
const LayerShellInterfaces kLayerShell;

constexpr std::uint32_t kOverlayLayer = 3;

// A non-blocking connection by the deadline: a compositor whose listen queue
// is full refuses at once, and is asked again until then.
UniqueFd Connect(const std::string& path, std::int64_t deadline, std::string& trouble) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    trouble = "the path is too long";
    return UniqueFd();
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  for (int delay_ms = 5;; delay_ms = std::min(delay_ms * 2, 100)) {
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) {
      trouble = std::strerror(errno);
      return fd;
    }
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      return fd;
    if (errno != EAGAIN) {
      trouble = std::string("cannot connect: ") + std::strerror(errno);
      return UniqueFd();
    }
    const std::int64_t left = deadline - MonotonicNowMs();
    if (left <= 0) {
      trouble = "its listen queue stayed full";
      return UniqueFd();
    }
    poll(nullptr, 0, static_cast<int>(std::min<std::int64_t>(delay_ms, left)));
  }
}

// Reads and dispatches until a listener sets `answered`, every wait bounded
// by the deadline; the compositor's events are parsed by libwayland.
std::string Await(const WaylandClientLibrary& wl,
                  wl_display* display,
                  const bool& answered,
                  std::int64_t deadline,
                  std::int64_t limit_ms) {
  const int fd = wl.wl_display_get_fd(display);
  const auto failed = [&] {
    const int error = wl.wl_display_get_error(display);
    return std::string("the connection failed: ") + std::strerror(error != 0 ? error : errno);
  };
  while (!answered) {
    if (wl.wl_display_prepare_read(display) != 0) {
      if (wl.wl_display_dispatch_pending(display) < 0)
        return failed();
      continue;
    }
    const std::int64_t left = deadline - MonotonicNowMs();
    if ((wl.wl_display_flush(display) < 0 && errno != EAGAIN) || left <= 0) {
      wl.wl_display_cancel_read(display);
      return left <= 0 ? "no answer within " + std::to_string(limit_ms) + " ms" : failed();
    }
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(left));
    if (n <= 0) {
      wl.wl_display_cancel_read(display);
      if (n < 0 && errno != EINTR)
        return failed();
      continue;
    }
    if (wl.wl_display_read_events(display) < 0 || wl.wl_display_dispatch_pending(display) < 0)
      return failed();
  }
  return {};
}

}  // namespace

namespace {

// Casts a listener table to the type libwayland takes: tables of C callbacks.
template <typename Listener>
void (**Callbacks(const Listener& listener))() {
  return reinterpret_cast<void (**)()>(const_cast<Listener*>(&listener));
}

// Binds version 1 of the global `name`, which the compositor listed as `interface`.
wl_proxy* Bind(const WaylandClientLibrary& wl,
               wl_proxy* registry,
               std::uint32_t name,
               const wl_interface* interface) {
  return wl.wl_proxy_marshal_flags(registry, WL_REGISTRY_BIND, interface, 1, 0, name,
                                   interface->name, 1u, nullptr);
}

// A layer surface made and committed on the probe's own connection, never
// shown (it has no buffer): a compositor that lists layer shell and then
// closes or refuses such a surface would otherwise leave the toolkit's
// splash closed at once, or end the toolkit on its protocol error.
std::string TryLayerSurface(const WaylandClientLibrary& wl,
                            wl_display* display,
                            wl_proxy* registry,
                            const Globals& globals,
                            std::int64_t deadline,
                            std::int64_t limit_ms) {
  if (globals.compositor == 0)
    return "it offers layer shell but no wl_compositor";
  wl_proxy* compositor = Bind(wl, registry, globals.compositor, wl.wl_compositor_interface);
  wl_proxy* shell = Bind(wl, registry, globals.layer_shell, &kLayerShell.shell);
  wl_proxy* surface = compositor == nullptr
                          ? nullptr
                          : wl.wl_proxy_marshal_flags(compositor, WL_COMPOSITOR_CREATE_SURFACE,
                                                      wl.wl_surface_interface, 1, 0, nullptr);
  wl_proxy* layer =
      shell == nullptr || surface == nullptr
          ? nullptr
          : wl.wl_proxy_marshal_flags(shell, 0, &kLayerShell.surface, 1, 0, nullptr, surface,
                                      nullptr, kOverlayLayer, "launcher-splash");
  Trial trial;
  std::string trouble = "cannot make a trial layer surface";
  if (layer != nullptr) {
    wl.wl_proxy_add_listener(layer, Callbacks(kTrialListener), &trial);
    // A size of its own: without anchors, a zero size is a protocol error.
    wl.wl_proxy_marshal_flags(layer, 0, nullptr, 1, 0, 1u, 1u);
    wl.wl_proxy_marshal_flags(surface, WL_SURFACE_COMMIT, nullptr, 1, 0);
    trouble = Await(wl, display, trial.answered, deadline, limit_ms);
    if (!trouble.empty())
      trouble = "with a trial layer surface, " + trouble;
    else if (trial.closed)
      trouble = "it closed a trial layer surface at once";
  }
  for (wl_proxy* proxy : {layer, surface, shell, compositor}) {
    if (proxy != nullptr)
      wl.wl_proxy_destroy(proxy);
  }
  return trouble;
}

}  // namespace

LayerShellProbe ProbeLayerShell(const std::string& path, std::int64_t limit_ms) {
  LayerShellProbe result;
  const std::int64_t deadline = MonotonicNowMs() + limit_ms;
  const WaylandClientLibrary* wl = LoadLibrary<WaylandClientLibrary>();
  if (wl == nullptr) {
    result.trouble = LibraryError<WaylandClientLibrary>();
    return result;
  }
  UniqueFd fd = Connect(path, deadline, result.trouble);
  if (!fd.valid())
    return result;
  wl_display* display = wl->wl_display_connect_to_fd(fd.get());
  if (display == nullptr) {
    result.trouble = std::string("cannot connect: ") + std::strerror(errno);
    return result;
  }
  fd.Release();  // the display's now
  auto* as_proxy = reinterpret_cast<wl_proxy*>(display);
  const std::uint32_t version = wl->wl_proxy_get_version(as_proxy);
  Globals globals;
  auto* registry = wl->wl_proxy_marshal_flags(as_proxy, WL_DISPLAY_GET_REGISTRY,
                                              wl->wl_registry_interface, version, 0, nullptr);
  auto* sync = wl->wl_proxy_marshal_flags(as_proxy, WL_DISPLAY_SYNC, wl->wl_callback_interface,
                                          version, 0, nullptr);
  if (registry == nullptr || sync == nullptr) {
    result.trouble = "cannot ask for its globals";
  } else {
    wl->wl_proxy_add_listener(registry, Callbacks(kRegistryListener), &globals);
    wl->wl_proxy_add_listener(sync, Callbacks(kSyncListener), &globals);
    result.trouble = Await(*wl, display, globals.done, deadline, limit_ms);
    if (result.trouble.empty() && globals.layer_shell != 0) {
      result.trouble = TryLayerSurface(*wl, display, registry, globals, deadline, limit_ms);
      result.offered = result.trouble.empty();
    }
  }
  if (sync != nullptr)
    wl->wl_proxy_destroy(sync);
  if (registry != nullptr)
    wl->wl_proxy_destroy(registry);
  wl->wl_display_disconnect(display);
  return result;
}

bool PreferWaylandForLayerShell() {
  static const bool prefer = [] {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    // A socket handed down (WAYLAND_SOCKET) is the toolkit's to take.
    if (name == nullptr || *name == '\0' || std::getenv("WAYLAND_SOCKET") != nullptr)
      return false;
    std::string path = name;
    if (path.front() != '/') {
      if (runtime == nullptr || *runtime == '\0')
        return false;
      path = std::string(runtime) + "/" + path;
    }
    const char* x_display = std::getenv("DISPLAY");
    const std::string instead = x_display != nullptr && *x_display != '\0'
                                    ? "the launcher's windows go to the X display"
                                    : "the splash is a plain window";
    const LayerShellProbe probe = ProbeLayerShell(path, kLayerShellProbeMs);
    if (!probe.trouble.empty()) {
      Note("Layer shell not used (Wayland compositor at " + path + ": " + probe.trouble +
           "): " + instead);
      return false;
    }
    if (!probe.offered)
      return false;
    if (LoadLibrary<LayerShellLibrary>() == nullptr) {
      Note("Layer shell not used (" + LibraryError<LayerShellLibrary>() + "): " + instead);
      return false;
    }
    return true;
  }();
  return prefer;
}

bool MakeLayerSurface(GtkWindow* window) {
  if (!PreferWaylandForLayerShell())
    return false;
  const LayerShellLibrary& shell = *LoadLibrary<LayerShellLibrary>();
  if (shell.gtk_layer_is_supported() == FALSE) {
    static const bool noted = [] {
      Note(
          "Layer shell not used (the toolkit's display does not offer it): the splash is a "
          "plain window");
      return true;
    }();
    return !noted;
  }
  shell.gtk_layer_init_for_window(window);
  shell.gtk_layer_set_namespace(window, "launcher-splash");
  // No anchors: the compositor centres it. Above every window, fullscreen ones too.
  shell.gtk_layer_set_layer(window, GTK_LAYER_SHELL_LAYER_OVERLAY);
  shell.gtk_layer_set_keyboard_mode(window, GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
  return true;
}

void BackendTraceLine(const std::string& message) {
  Note(message);
}

void SetBackendTrace(BackendTrace trace) {
  g_trace = trace;
}

}  // namespace launcher
