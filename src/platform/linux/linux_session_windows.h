// The window list of the Linux backend: every source the session offers,
// chosen when the list is first needed. X11 through the X server (also
// Xwayland's) always; in a Wayland session also the compositor, where it tells
// a window's process: sway's IPC (and compositors that share it), KWin's
// scripting. Where none can tell whose the native windows are (GNOME Shell,
// weston, or no display at all), Gap() says why.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/linux_window_source.h"
#include "platform/linux/linux_x11_windows.h"

namespace launcher {

class SessionWindows {
 public:
  SessionWindows();
  ~SessionWindows();
  SessionWindows(const SessionWindows&) = delete;
  SessionWindows& operator=(const SessionWindows&) = delete;

  // Why this session's window list cannot tell the application's window:
  // empty when it can. Chooses the sources on its first call.
  const std::string& Gap();

  // Visits every source's top-level windows, X11 first, until `visit` says
  // stop. A compositor that fails, answers garbage or too late is left out of
  // this look, which Trouble() then names; only the X11 list's own failures
  // (out of memory) fail the enumeration.
  void Enumerate(const std::function<bool(WindowHandle)>& visit);
  // Where Gap() says the session cannot tell: whether the windows of process
  // `pid` can still be told, because it is an X11 client (told by the kernel,
  // without waking an Xwayland that starts on demand). From then on the X
  // server is asked.
  bool SeesProcess(std::uint32_t pid);
  // Why the last enumeration did not see every window: empty when it did.
  // The X server's own, for a look it did not answer in time, included.
  std::string Trouble() const;
  // The facts of a window of any source, valid until the next question.
  const WindowFacts& Facts(WindowHandle window);

  // Leaves nothing of the launcher's in the compositor (see WindowSource::Close).
  void Close();

  X11Windows& x11() { return x11_; }

 private:
  void Choose();
  void NoteTrouble(const std::string& description);

  X11Windows x11_;
  // Compositor sources by their number in handles.
  std::vector<std::unique_ptr<WindowSource>> compositors_;
  bool chosen_ = false;
  std::string gap_;
  std::string trouble_;
  bool asked_x11_ = false;  // the last enumeration asked the X server
  // A Wayland session whose compositor tells nothing: the X server is asked
  // only once one of the X11 clients it serves is known, so that it runs.
  bool wayland_gap_ = false;
  bool x11_allowed_ = false;
};

}  // namespace launcher
