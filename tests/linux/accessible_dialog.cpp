#include "accessible_dialog.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atspi/atspi.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "child_process.h"

namespace launcher::testing {

namespace {

// The bus configuration that the accessibility service ships; it also names
// the folder from which the bus starts the registry daemon on demand.
constexpr char kBusConfig[] = "/usr/share/defaults/at-spi2/accessibility.conf";

struct Unref {
  void operator()(gpointer object) const {
    if (object != nullptr)
      g_object_unref(object);
  }
};
template <class T>
using Ref = std::unique_ptr<T, Unref>;

// Errors of single queries are dropped throughout: a window being built or torn
// down answers some of them with errors, and the next poll asks again.
void Drop(GError* error) {
  if (error != nullptr)
    g_error_free(error);
}

std::string Take(gchar* text) {
  std::string result = text != nullptr ? text : "";
  g_free(text);
  return result;
}

AtspiRole RoleOf(AtspiAccessible* object) {
  GError* error = nullptr;
  const AtspiRole role = atspi_accessible_get_role(object, &error);
  const bool failed = error != nullptr;
  Drop(error);
  return failed ? ATSPI_ROLE_INVALID : role;
}

bool HasState(AtspiAccessible* object, AtspiStateType state) {
  Ref<AtspiStateSet> states(atspi_accessible_get_state_set(object));
  return states && atspi_state_set_contains(states.get(), state);
}

std::vector<Ref<AtspiAccessible>> ChildrenOf(AtspiAccessible* object) {
  std::vector<Ref<AtspiAccessible>> children;
  GError* error = nullptr;
  const gint count = atspi_accessible_get_child_count(object, &error);
  Drop(error);
  for (gint i = 0; i < count; ++i) {
    error = nullptr;
    Ref<AtspiAccessible> child(atspi_accessible_get_child_at_index(object, i, &error));
    Drop(error);
    if (child)
      children.push_back(std::move(child));
  }
  return children;
}

std::string NameOf(AtspiAccessible* object) {
  GError* error = nullptr;
  std::string name = Take(atspi_accessible_get_name(object, &error));
  Drop(error);
  return name;
}

std::string TextOf(AtspiAccessible* object) {
  Ref<AtspiText> text(atspi_accessible_get_text_iface(object));
  if (!text)
    return "";
  GError* error = nullptr;
  const gint count = atspi_text_get_character_count(text.get(), &error);
  Drop(error);
  if (count <= 0)
    return "";
  error = nullptr;
  std::string content = Take(atspi_text_get_text(text.get(), 0, count, &error));
  Drop(error);
  return content;
}

Ref<AtspiAccessible> ApplicationOf(pid_t pid) {
  Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
  if (!desktop)
    return nullptr;
  // Forget what was cached from earlier polls, so newly registered programs and
  // newly built windows show up.
  atspi_accessible_clear_cache(desktop.get());
  for (Ref<AtspiAccessible>& app : ChildrenOf(desktop.get())) {
    GError* error = nullptr;
    const guint app_pid = atspi_accessible_get_process_id(app.get(), &error);
    const bool failed = error != nullptr;
    Drop(error);
    if (!failed && static_cast<pid_t>(app_pid) == pid)
      return std::move(app);
  }
  return nullptr;
}

Ref<AtspiAccessible> ShowingDialogIn(AtspiAccessible* object) {
  for (Ref<AtspiAccessible>& child : ChildrenOf(object)) {
    const AtspiRole role = RoleOf(child.get());
    if ((role == ATSPI_ROLE_DIALOG || role == ATSPI_ROLE_ALERT) &&
        HasState(child.get(), ATSPI_STATE_SHOWING))
      return std::move(child);
    if (Ref<AtspiAccessible> found = ShowingDialogIn(child.get()))
      return found;
  }
  return nullptr;
}

// Labels and buttons of the dialog; a button's own label is its name, so the
// search does not go into buttons.
void Collect(AtspiAccessible* object,
             std::vector<std::string>& labels,
             std::vector<Ref<AtspiAccessible>>& buttons) {
  for (Ref<AtspiAccessible>& child : ChildrenOf(object)) {
    const AtspiRole role = RoleOf(child.get());
    if (role == ATSPI_ROLE_PUSH_BUTTON) {
      buttons.push_back(std::move(child));
      continue;
    }
    if (role == ATSPI_ROLE_LABEL && HasState(child.get(), ATSPI_STATE_SHOWING)) {
      std::string text = TextOf(child.get());
      if (!text.empty())
        labels.push_back(std::move(text));
    }
    Collect(child.get(), labels, buttons);
  }
}

void PumpClientEvents() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

}  // namespace

AccessibilityBus::AccessibilityBus() {
  std::string pattern = "/tmp/launcher-a11y-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  address_ = "unix:path=" + folder_ + "/bus";
  try {
    StartDaemon();
  } catch (...) {
    daemon_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    throw;
  }
  for (const std::string& entry : ClientEnvironment()) {
    const std::size_t eq = entry.find('=');
    setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
  }
  if (atspi_init() != 0)
    throw std::runtime_error("AT-SPI client already connected");
}

void AccessibilityBus::StartDaemon() {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  try {
    // The daemon passes its environment to the registry daemon it starts,
    // which must find this same bus.
    daemon_ = std::make_unique<ChildProcess>(
        "dbus-daemon",
        std::vector<std::string>{std::string("--config-file=") + kBusConfig,
                                 "--address=" + address_, "--nofork", "--print-address"},
        EnvironmentWith(ClientVariables(), ClientEnvironment()), ready[1]);
  } catch (...) {
    close(ready[0]);
    close(ready[1]);
    throw;
  }
  close(ready[1]);
  // The daemon prints its address once it listens.
  pollfd wait_for{ready[0], POLLIN, 0};
  char printed[512];
  const bool listening =
      poll(&wait_for, 1, 10000) == 1 && read(ready[0], printed, sizeof printed) > 0;
  close(ready[0]);
  if (!listening)
    throw std::runtime_error("dbus-daemon did not start: " + daemon_->Stderr());
}

AccessibilityBus::~AccessibilityBus() {
  atspi_exit();
  // The registry daemon ends by itself when its bus goes away.
  daemon_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::vector<std::string> AccessibilityBus::ClientEnvironment() const {
  // The accessibility bus doubles as the session bus, so that nothing of a
  // developer's desktop session is reached and nothing else is started.
  return {"AT_SPI_BUS_ADDRESS=" + address_, "DBUS_SESSION_BUS_ADDRESS=" + address_};
}

std::vector<std::string> AccessibilityBus::ClientVariables() {
  return {"AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS", "NO_AT_BRIDGE", "GTK_A11Y"};
}

std::optional<std::string> AccessibleWindowName(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    PumpClientEvents();
    if (Ref<AtspiAccessible> app = ApplicationOf(pid)) {
      for (Ref<AtspiAccessible>& window : ChildrenOf(app.get())) {
        if (HasState(window.get(), ATSPI_STATE_SHOWING))
          return NameOf(window.get());
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

std::unique_ptr<AccessibleDialog> AccessibleDialog::WaitFor(pid_t pid,
                                                            std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    PumpClientEvents();
    if (Ref<AtspiAccessible> app = ApplicationOf(pid)) {
      if (Ref<AtspiAccessible> window = ShowingDialogIn(app.get())) {
        std::unique_ptr<AccessibleDialog> dialog(new AccessibleDialog);
        std::vector<Ref<AtspiAccessible>> buttons;
        Collect(window.get(), dialog->labels_, buttons);
        if (!buttons.empty()) {
          dialog->modal_ = HasState(window.get(), ATSPI_STATE_MODAL);
          for (Ref<AtspiAccessible>& button : buttons) {
            dialog->button_names_.push_back(NameOf(button.get()));
            dialog->buttons_.push_back(button.release());
          }
          return dialog;
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < deadline);
  return nullptr;
}

AccessibleDialog::~AccessibleDialog() {
  for (void* button : buttons_)
    g_object_unref(button);
}

bool AccessibleDialog::Press(std::size_t index) {
  if (index >= buttons_.size())
    return false;
  Ref<AtspiAction> action(
      atspi_accessible_get_action_iface(static_cast<AtspiAccessible*>(buttons_[index])));
  if (!action)
    return false;
  GError* error = nullptr;
  const gint count = atspi_action_get_n_actions(action.get(), &error);
  Drop(error);
  for (gint i = 0; i < count; ++i) {
    error = nullptr;
    const std::string name = Take(atspi_action_get_action_name(action.get(), i, &error));
    Drop(error);
    if (name == "click") {
      error = nullptr;
      const gboolean done = atspi_action_do_action(action.get(), i, &error);
      const bool failed = error != nullptr;
      Drop(error);
      return done && !failed;
    }
  }
  return false;
}

}  // namespace launcher::testing
