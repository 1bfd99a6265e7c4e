// The windows that a given process has on the X display, seen from outside.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace launcher::testing {

struct ProcessWindow {
  unsigned long id = 0;
  bool viewable = false;   // mapped, and all its ancestors too
  std::string title;       // _NET_WM_NAME, empty when it has none
  std::string startup_id;  // _NET_STARTUP_ID, the start it ends the desktop's feedback of
};

class X11Windows {
 public:
  // Connects to $DISPLAY; throws when there is none.
  X11Windows();
  ~X11Windows();
  X11Windows(const X11Windows&) = delete;
  X11Windows& operator=(const X11Windows&) = delete;

  // Every window in the tree that belongs to process `pid`: its _NET_WM_PID
  // names it, or the server's resource extension says the client that created
  // it runs as `pid` (that catches windows that carry no _NET_WM_PID).
  std::vector<ProcessWindow> WindowsOf(pid_t pid);

 private:
  void* display_ = nullptr;  // Display*
  bool client_pids_ = false;
};

}  // namespace launcher::testing
