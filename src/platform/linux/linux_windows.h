// Top-level windows on Linux, read from the X server with Xlib on a connection
// of our own, opened on first use and kept.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

struct _XDisplay;

namespace launcher {

class X11Windows {
 public:
  X11Windows() = default;
  ~X11Windows();
  X11Windows(const X11Windows&) = delete;
  X11Windows& operator=(const X11Windows&) = delete;

  // The window manager's client list when a manager runs, else the root
  // window's children. Empty with no display or once the connection is lost.
  std::vector<WindowHandle> TopLevel();
  bool IsVisible(WindowHandle window);
  // WM_TRANSIENT_FOR, 0 when unset or set to the root.
  WindowHandle Owner(WindowHandle window);
  std::uint32_t ExStyle(WindowHandle window);
  std::string Title(WindowHandle window);
  std::uint32_t ProcessId(WindowHandle window);

  // Whether a display is open and usable (opens it if not tried yet).
  bool connected() { return Connection() != nullptr; }

  // X errors our requests met (windows that vanished, say), all ignored.
  unsigned error_count() const { return errors_; }

  // Called by Xlib's handlers while one of our requests runs.
  void OnError() { ++errors_; }
  void OnConnectionLost() { lost_ = true; }
  _XDisplay* display() const { return display_; }

 private:
  enum AtomId : std::size_t {
    kSupportingWmCheck,
    kClientList,
    kWmName,
    kUtf8String,
    kCompoundText,
    kWmState,
    kNetWmState,
    kStateSkipTaskbar,
    kNetWmPid,
    kWindowType,
    kTypeNormal,
    kTypeDialog,
    kTypeUtility,
    kTypeToolbar,
    kTypeMenu,
    kTypeDropdownMenu,
    kTypePopupMenu,
    kTypeTooltip,
    kTypeNotification,
    kTypeCombo,
    kTypeDnd,
    kTypeDock,
    kTypeDesktop,
    kTypeSplash,
    kAtomCount,
  };
  _XDisplay* Connection();
  // Format-32 items (windows, atoms, cardinals) of a property of `type`.
  std::vector<unsigned long> ReadItems(unsigned long window,
                                       unsigned long property,
                                       unsigned long type);
  // The bytes of a format-8 property and its type; nothing when it is unset.
  std::optional<std::string> ReadText(unsigned long window,
                                      unsigned long property,
                                      unsigned long* type);
  bool ManagerRunning(unsigned long root);
  std::uint32_t PidProperty(unsigned long window);

  _XDisplay* display_ = nullptr;
  bool tried_ = false;
  bool lost_ = false;
  bool has_xres_ = false;
  unsigned errors_ = 0;
  std::array<unsigned long, kAtomCount> atoms_{};
  std::string host_;
};

}  // namespace launcher
