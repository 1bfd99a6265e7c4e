#include "platform/linux/linux_windows.h"

#include <cstring>

#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

namespace launcher {

namespace {

// In AtomId order.
constexpr const char* kAtomNames[] = {
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "COMPOUND_TEXT",
    "WM_STATE",
    "_NET_WM_STATE",
    "_NET_WM_STATE_SKIP_TASKBAR",
    "_NET_WM_PID",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_SPLASH",
};

// The connection whose requests are running, for the process-wide handlers.
X11Windows* g_trapping = nullptr;
XErrorHandler g_previous_error = nullptr;
XIOErrorHandler g_previous_io = nullptr;

// Windows can vanish while we look at them: their errors are counted, never fatal.
int OnXError(Display* display, XErrorEvent* event) {
  if (g_trapping != nullptr && display == g_trapping->display()) {
    g_trapping->OnError();
    return 0;
  }
  return g_previous_error != nullptr ? g_previous_error(display, event) : 0;
}

// Returning lets Xlib go on to the connection's exit handler below.
int OnXIOError(Display* display) {
  if (g_trapping != nullptr && display == g_trapping->display())
    return 0;
  return g_previous_io != nullptr ? g_previous_io(display) : 0;
}

// Instead of exiting: the connection is dead and every later query finds nothing.
void OnXIOErrorExit(Display* /*display*/, void* owner) {
  static_cast<X11Windows*>(owner)->OnConnectionLost();
}

std::string ShortHostName(std::string name) {
  name.resize(std::strlen(name.c_str()));
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos)
    name.resize(dot);
  return name;
}

std::string Latin1ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xc0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3f));
    }
  }
  return out;
}

// Text properties may hold several NUL-separated strings; a title is the first.
void CutAtNul(std::string& text) {
  text.resize(std::strlen(text.c_str()));
}

}  // namespace

// Installs the handlers above while a batch of our requests runs, and puts
// back whatever was there (GTK installs its own for its connection). Our
// queries all wait for their replies, so their errors arrive inside the trap.
class ErrorTrap {
 public:
  explicit ErrorTrap(X11Windows& owner) : outer_(g_trapping) {
    if (outer_ == nullptr) {
      g_previous_error = XSetErrorHandler(OnXError);
      g_previous_io = XSetIOErrorHandler(OnXIOError);
    }
    g_trapping = &owner;
  }
  ~ErrorTrap() {
    g_trapping = outer_;
    if (outer_ == nullptr) {
      XSetErrorHandler(g_previous_error);
      XSetIOErrorHandler(g_previous_io);
    }
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

 private:
  X11Windows* outer_;
};

X11Windows::~X11Windows() {
  if (display_ != nullptr) {
    ErrorTrap trap(*this);
    XCloseDisplay(display_);
  }
}

Display* X11Windows::Connection() {
  if (!tried_) {
    tried_ = true;
    // No display (DISPLAY unset, or no server there) is no failure: the window
    // list is then empty and the launcher goes by processes alone.
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr)
      return nullptr;
    XSetIOErrorExitHandler(display_, OnXIOErrorExit, this);
    ErrorTrap trap(*this);
    static_assert(std::size(kAtomNames) == kAtomCount);
    Atom atoms[kAtomCount];
    if (XInternAtoms(display_, const_cast<char**>(kAtomNames), kAtomCount, False, atoms))
      std::copy(std::begin(atoms), std::end(atoms), atoms_.begin());
    int event_base = 0;
    int error_base = 0;
    int major = 0;
    int minor = 0;
    // Client ids with pids came with version 1.2 of the extension.
    has_xres_ = XResQueryExtension(display_, &event_base, &error_base) &&
                XResQueryVersion(display_, &major, &minor) &&
                (major > 1 || (major == 1 && minor >= 2));
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
      host_ = ShortHostName(host);
  }
  return lost_ ? nullptr : display_;
}

std::vector<unsigned long> X11Windows::ReadItems(unsigned long window,
                                                 unsigned long property,
                                                 unsigned long type) {
  long length = 1024;
  for (;;) {
    Atom actual_type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display_, window, property, 0, length, False, type,
                                          &actual_type, &format, &count, &after, &data);
    if (status != Success)
      return {};
    std::vector<unsigned long> items;
    const bool usable = actual_type == type && format == 32 && data != nullptr;
    if (usable && after == 0) {
      // Xlib hands format-32 items out as longs, whatever the size of a long.
      const auto* values = reinterpret_cast<const unsigned long*>(data);
      items.assign(values, values + count);
    }
    if (data != nullptr)
      XFree(data);
    if (usable && after > 0) {
      length += static_cast<long>((after + 3) / 4);
      continue;
    }
    return items;
  }
}

std::optional<std::string> X11Windows::ReadText(unsigned long window,
                                                unsigned long property,
                                                unsigned long* type) {
  long length = 1024;
  for (;;) {
    Atom actual_type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status =
        XGetWindowProperty(display_, window, property, 0, length, False, AnyPropertyType,
                           &actual_type, &format, &count, &after, &data);
    if (status != Success)
      return std::nullopt;
    std::optional<std::string> text;
    if (actual_type != None && format == 8 && after == 0) {
      text.emplace(data != nullptr ? reinterpret_cast<const char*>(data) : "", count);
      *type = actual_type;
    }
    if (data != nullptr)
      XFree(data);
    if (actual_type != None && format == 8 && after > 0) {
      length += static_cast<long>((after + 3) / 4);
      continue;
    }
    return text;
  }
}

bool X11Windows::ManagerRunning(unsigned long root) {
  // The check window names itself; a stale one left by a manager that has
  // gone is missing or names nothing.
  const auto check = ReadItems(root, atoms_[kSupportingWmCheck], XA_WINDOW);
  if (check.size() != 1)
    return false;
  const auto self = ReadItems(check[0], atoms_[kSupportingWmCheck], XA_WINDOW);
  return self.size() == 1 && self[0] == check[0];
}

std::vector<WindowHandle> X11Windows::TopLevel() {
  std::vector<WindowHandle> windows;
  Display* display = Connection();
  if (display == nullptr)
    return windows;
  ErrorTrap trap(*this);
  for (int screen = 0; screen < ScreenCount(display); ++screen) {
    const Window root = RootWindow(display, screen);
    if (ManagerRunning(root)) {
      // A manager reparents clients into frames of its own; its list names the clients.
      for (const unsigned long window : ReadItems(root, atoms_[kClientList], XA_WINDOW))
        windows.push_back(static_cast<WindowHandle>(window));
      continue;
    }
    Window root_return = None;
    Window parent_return = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, root, &root_return, &parent_return, &children, &count) != 0) {
      for (unsigned int i = 0; i < count; ++i)
        windows.push_back(static_cast<WindowHandle>(children[i]));
    }
    if (children != nullptr)
      XFree(children);
  }
  return windows;
}

bool X11Windows::IsVisible(WindowHandle window) {
  if (Connection() == nullptr)
    return false;
  ErrorTrap trap(*this);
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display_, window, &attributes) == 0)
    return false;
  if (attributes.map_state == IsViewable)
    return true;
  // A window that its manager keeps iconified, or on another desktop, is
  // unmapped but still shown as far as its application is concerned, as a
  // minimized window is visible on Windows.
  const auto state = ReadItems(window, atoms_[kWmState], atoms_[kWmState]);
  return !state.empty() && (state[0] == NormalState || state[0] == IconicState);
}

WindowHandle X11Windows::Owner(WindowHandle window) {
  if (Connection() == nullptr)
    return 0;
  ErrorTrap trap(*this);
  Window owner = None;
  if (XGetTransientForHint(display_, window, &owner) == 0 || owner == None)
    return 0;
  // Transient for the root means "for the whole group": no owner window.
  for (int screen = 0; screen < ScreenCount(display_); ++screen) {
    if (owner == RootWindow(display_, screen))
      return 0;
  }
  return static_cast<WindowHandle>(owner);
}

// The window's kind as Windows' extended style would tell it:
// - WS_EX_TOOLWINDOW for windows that no taskbar would show: override-redirect
//   windows (menus and tooltips that bypass the manager), the types UTILITY,
//   TOOLBAR, MENU, DROPDOWN_MENU, POPUP_MENU, TOOLTIP, NOTIFICATION, COMBO, DND,
//   DOCK, DESKTOP and SPLASH, and any window in state SKIP_TASKBAR;
// - WS_EX_APPWINDOW for a transient window of type NORMAL or DIALOG (no type
//   counts as DIALOG for a transient) that is no tool window by the above:
//   a dialog of the application that stands for it on screen.
// The first type in the list that we know decides, as the manager would take it.
std::uint32_t X11Windows::ExStyle(WindowHandle window) {
  if (Connection() == nullptr)
    return 0;
  ErrorTrap trap(*this);
  std::uint32_t style = 0;
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display_, window, &attributes) != 0 && attributes.override_redirect)
    style |= kExToolWindow;

  Atom type = None;
  for (const unsigned long candidate : ReadItems(window, atoms_[kWindowType], XA_ATOM)) {
    for (std::size_t id = kTypeNormal; id <= kTypeSplash; ++id) {
      if (candidate == atoms_[id])
        type = candidate;
    }
    if (type != None)
      break;
  }
  if (type != None && type != atoms_[kTypeNormal] && type != atoms_[kTypeDialog])
    style |= kExToolWindow;
  for (const unsigned long state : ReadItems(window, atoms_[kNetWmState], XA_ATOM)) {
    if (state == atoms_[kStateSkipTaskbar])
      style |= kExToolWindow;
  }
  if ((style & kExToolWindow) == 0 && Owner(window) != 0)
    style |= kExAppWindow;
  return style;
}

std::string X11Windows::Title(WindowHandle window) {
  if (Connection() == nullptr)
    return {};
  ErrorTrap trap(*this);
  unsigned long type = None;
  if (auto name = ReadText(window, atoms_[kWmName], &type); name && type == atoms_[kUtf8String]) {
    CutAtNul(*name);
    if (!name->empty())
      return *name;
  }
  std::optional<std::string> legacy = ReadText(window, XA_WM_NAME, &type);
  if (!legacy)
    return {};
  if (type == XA_STRING) {
    CutAtNul(*legacy);
    return Latin1ToUtf8(*legacy);
  }
  if (type != atoms_[kUtf8String]) {
    // COMPOUND_TEXT and the like: let Xlib convert; keep the bytes if it cannot.
    XTextProperty property{};
    property.value = reinterpret_cast<unsigned char*>(legacy->data());
    property.encoding = type;
    property.format = 8;
    property.nitems = legacy->size();
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display_, &property, &list, &count) >= Success &&
        list != nullptr) {
      std::string converted = count > 0 && list[0] != nullptr ? list[0] : "";
      XFreeStringList(list);
      return converted;
    }
  }
  CutAtNul(*legacy);
  return *legacy;
}

std::uint32_t X11Windows::PidProperty(unsigned long window) {
  const auto pid = ReadItems(window, atoms_[kNetWmPid], XA_CARDINAL);
  if (pid.empty() || pid[0] == 0 || pid[0] > 0xffffffffu)
    return 0;
  // A pid set by a client on another machine names no process of ours.
  unsigned long type = None;
  if (auto machine = ReadText(window, XA_WM_CLIENT_MACHINE, &type); machine) {
    const std::string host = ShortHostName(*machine);
    if (!host.empty() && host != host_)
      return 0;
  }
  return static_cast<std::uint32_t>(pid[0]);
}

// The server knows the pid of each local client; _NET_WM_PID, which the
// client sets itself, serves where it does not (an old server, or none for
// this client).
std::uint32_t X11Windows::ProcessId(WindowHandle window) {
  if (Connection() == nullptr)
    return 0;
  ErrorTrap trap(*this);
  if (has_xres_) {
    XResClientIdSpec spec{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* ids = nullptr;
    if (XResQueryClientIds(display_, 1, &spec, &count, &ids) == Success) {
      pid_t pid = -1;
      for (long i = 0; i < count && pid <= 0; ++i)
        pid = XResGetClientPid(&ids[i]);
      XResClientIdsDestroy(count, ids);
      if (pid > 0)
        return static_cast<std::uint32_t>(pid);
    }
  }
  return PidProperty(window);
}

}  // namespace launcher
