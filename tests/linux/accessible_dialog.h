// Reading and answering another process's GTK dialog through AT-SPI, the
// desktop's accessibility service, on a private accessibility bus.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace launcher::testing {

class ChildProcess;

// A D-Bus daemon of our own, configured as an accessibility bus, with this
// process connected to it as an AT-SPI client. Only one may exist at a time:
// the AT-SPI client library connects once per process.
class AccessibilityBus {
 public:
  AccessibilityBus();
  ~AccessibilityBus();
  AccessibilityBus(const AccessibilityBus&) = delete;
  AccessibilityBus& operator=(const AccessibilityBus&) = delete;

  // NAME=value entries that make a GTK program publish its widgets on this bus
  // and on nothing else.
  std::vector<std::string> ClientEnvironment() const;
  // Variables to drop from a GTK program's environment before adding ours.
  static std::vector<std::string> ClientVariables();

 private:
  void StartDaemon();

  std::string folder_;
  std::string address_;
  std::unique_ptr<ChildProcess> daemon_;
};

// The name that the accessibility service gives the first showing top-level
// window of process `pid`, once there is one within `limit`; nothing if none
// came.
std::optional<std::string> AccessibleWindowName(pid_t pid, std::chrono::milliseconds limit);

// A dialog shown by another process, as the accessibility service presents it.
class AccessibleDialog {
 public:
  // Waits up to `limit` for a showing dialog (or alert) window of process `pid`
  // that has at least one push button; nothing when none came.
  static std::unique_ptr<AccessibleDialog> WaitFor(pid_t pid, std::chrono::milliseconds limit);
  ~AccessibleDialog();
  AccessibleDialog(const AccessibleDialog&) = delete;
  AccessibleDialog& operator=(const AccessibleDialog&) = delete;

  bool modal() const { return modal_; }
  // The text of every showing, non-empty label outside the buttons, in tree order.
  const std::vector<std::string>& labels() const { return labels_; }
  // The name of every push button, in tree order.
  const std::vector<std::string>& buttons() const { return button_names_; }
  // Runs the "click" action of button `index`; false when the service refused.
  bool Press(std::size_t index);

 private:
  AccessibleDialog() = default;

  bool modal_ = false;
  std::vector<std::string> labels_;
  std::vector<std::string> button_names_;
  std::vector<void*> buttons_;  // AtspiAccessible*, one reference each
};

}  // namespace launcher::testing
