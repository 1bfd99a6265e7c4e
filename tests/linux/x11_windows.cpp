#include "x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>

namespace launcher::testing {

namespace {

// Windows come and go while the tree is walked; a window that has gone just
// drops out of the result.
int IgnoreErrors(Display*, XErrorEvent*) {
  return 0;
}

Display* AsDisplay(void* display) {
  return static_cast<Display*>(display);
}

long NetWmPid(Display* display, Window window) {
  static const Atom net_wm_pid = XInternAtom(display, "_NET_WM_PID", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(display, window, net_wm_pid, 0, 1, False, XA_CARDINAL, &type, &format,
                         &count, &after, &data) == Success &&
      data != nullptr && format == 32 && count == 1)
    pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
  if (data != nullptr)
    XFree(data);
  return pid;
}

long CreatorPid(Display* display, Window window) {
  XResClientIdSpec spec{window, XRES_CLIENT_ID_PID_MASK};
  long count = 0;
  XResClientIdValue* ids = nullptr;
  if (XResQueryClientIds(display, 1, &spec, &count, &ids) != Success)
    return -1;
  long pid = -1;
  for (long i = 0; i < count; ++i)
    if (XResGetClientPid(&ids[i]) >= 0)
      pid = XResGetClientPid(&ids[i]);
  XResClientIdsDestroy(count, ids);
  return pid;
}

// A UTF8_STRING property of the window; empty when it has none.
std::string Utf8Property(Display* display, Window window, const char* name) {
  const Atom net_wm_name = XInternAtom(display, name, False);
  static const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, net_wm_name, 0, 4096, False, utf8, &type, &format, &count,
                         &after, &data) == Success &&
      data != nullptr && format == 8)
    title.assign(reinterpret_cast<char*>(data), count);
  if (data != nullptr)
    XFree(data);
  return title;
}

}  // namespace

X11Windows::X11Windows() {
  // A busy server has been seen to refuse a connection now and then; a few
  // tries keep that from failing a test about something else.
  Display* display = nullptr;
  for (int attempt = 0; attempt < 10 && display == nullptr; ++attempt) {
    if (attempt > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    display = XOpenDisplay(nullptr);
  }
  if (display == nullptr) {
    const char* name = std::getenv("DISPLAY");
    throw std::runtime_error(std::string("cannot open X display \"") + (name ? name : "") +
                             "\": " + std::strerror(errno));
  }
  display_ = display;
  XSetErrorHandler(IgnoreErrors);
  int event_base = 0;
  int error_base = 0;
  int major = 0;
  int minor = 0;
  client_pids_ = XResQueryExtension(display, &event_base, &error_base) &&
                 XResQueryVersion(display, &major, &minor) &&
                 (major > 1 || (major == 1 && minor >= 2));
}

X11Windows::~X11Windows() {
  XCloseDisplay(AsDisplay(display_));
}

std::vector<ProcessWindow> X11Windows::WindowsOf(pid_t pid) {
  Display* display = AsDisplay(display_);
  std::vector<ProcessWindow> found;
  const std::function<void(Window)> walk = [&](Window parent) {
    Window root = None;
    Window up = None;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, parent, &root, &up, &children, &count) == 0)
      return;
    for (unsigned int i = 0; i < count; ++i) {
      const Window window = children[i];
      if (NetWmPid(display, window) == pid ||
          (client_pids_ && CreatorPid(display, window) == pid)) {
        XWindowAttributes attributes{};
        ProcessWindow entry;
        entry.id = window;
        entry.viewable = XGetWindowAttributes(display, window, &attributes) != 0 &&
                         attributes.map_state == IsViewable;
        entry.title = Utf8Property(display, window, "_NET_WM_NAME");
        entry.startup_id = Utf8Property(display, window, "_NET_STARTUP_ID");
        found.push_back(entry);
      }
      walk(window);
    }
    if (children != nullptr)
      XFree(children);
  };
  walk(DefaultRootWindow(display));
  return found;
}

}  // namespace launcher::testing
