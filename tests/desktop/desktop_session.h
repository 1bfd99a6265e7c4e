// A headless Wayland compositor with Xwayland, started for the tests as an
// unprivileged user with a runtime folder and session bus of its own; the
// programs the tests run inside it; and the compositor's own view of its
// windows, which is the test's eyes (never something the launcher may use).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace launcher::testing {

enum class Compositor { kSway, kKwin, kGnome, kWeston };

const char* NameOf(Compositor kind);

// The user that sessions run as: this one, or when we are root (compositors
// refuse to run as root) a system user made for the tests.
struct Account {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  bool switch_user = false;  // whether programs must drop to it
};
// The account, created when missing; throws when it cannot be.
const Account& SessionAccount();

// Hands `path` and everything under it to `account`; nothing when no user
// switch is needed.
void GiveTo(const std::string& path, const Account& account);

// A program run as the session's user in a process group of its own, whose
// whole group is ended with it.
class SessionProgram {
 public:
  // Standard output and error go to `log_path`; standard input is /dev/null.
  // `environment` is the whole environment ("NAME=value").
  SessionProgram(const std::vector<std::string>& argv,
                 const std::vector<std::string>& environment,
                 const std::string& log_path,
                 const std::string& folder = "/");
  ~SessionProgram();
  SessionProgram(const SessionProgram&) = delete;
  SessionProgram& operator=(const SessionProgram&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // The exit code (128 + signal), or nothing while it still runs after `limit`.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit);
  // Ends the whole process group: SIGTERM, then SIGKILL after a grace time.
  void StopGroup(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
  std::string Output() const;

 private:
  bool Reap(int options);

  pid_t pid_ = -1;
  std::optional<int> exit_code_;
  std::string log_path_;
};

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Box&) const = default;
};

// One toplevel window as the compositor sees it.
struct Toplevel {
  std::string title;
  pid_t pid = 0;
  bool x11 = false;  // an Xwayland window, else a native Wayland one
  Box outer;         // with any border and title bar the compositor adds
  Box content;       // the client's own area
  int stack = -1;    // stacking position, higher is nearer the top
  bool keep_above = false;
  bool focused = false;
  std::string type;  // the compositor's word for the window's kind
};

struct Captured {
  bool ended = false;
  int exit_code = -1;
  std::string output;  // standard output and error
};

// How a session differs from the usual one (sway only).
struct SessionOptions {
  // Whether the start asks the X display, which starts an Xwayland that
  // starts on demand; otherwise Xwayland sleeps until a client wakes it.
  bool wake_x11 = true;
  int scale = 1;      // device pixels per logical pixel of the output
  std::string label;  // added to the names of its artefacts
};

class DesktopSession {
 public:
  // Starts the compositor; `artefacts` is where its log and screenshots go.
  DesktopSession(Compositor kind, const std::string& artefacts, SessionOptions options = {});
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  Compositor kind() const { return kind_; }
  // Whether the compositor came up with Wayland and X11 answering; `error()`
  // says what did not, with the compositor's log.
  bool ready() const { return ready_; }
  const std::string& error() const { return error_; }

  // What a client of this session gets, and nothing of the test's own display.
  std::vector<std::string> ClientEnvironment() const;
  // A folder the session's user owns, for files its programs write.
  const std::string& folder() const { return folder_; }

  // Starts `argv` in the session with `extra` ("NAME=value") added.
  std::unique_ptr<SessionProgram> Start(const std::vector<std::string>& argv,
                                        const std::vector<std::string>& extra = {},
                                        const std::string& log_name = "program.log") const;
  // Runs `argv` in the session to its end, at most `limit`.
  Captured Run(const std::vector<std::string>& argv,
               std::chrono::milliseconds limit = std::chrono::seconds(10),
               const std::vector<std::string>& extra = {}) const;

  // The compositor's toplevel windows; nothing where it tells nothing (weston).
  std::optional<std::vector<Toplevel>> Windows() const;
  // Saves the screen as PNG at `path`; false where no way works.
  bool Screenshot(const std::string& path) const;
  // The screen in device pixels, 8-bit RGB rows (sway only); empty when it failed.
  struct Pixels {
    int width = 0, height = 0;
    std::string rgb;
  };
  Pixels Capture() const;
  // The resident memory of this session's Xwayland in KiB; none while it sleeps.
  std::optional<long> XwaylandResidentKb() const;
  std::string Log() const;

 private:
  bool StartBus();
  bool StartCompositor();
  bool WaitForClients();
  std::vector<std::string> BaseEnvironment() const;
  std::optional<std::vector<Toplevel>> SwayWindows() const;
  std::optional<std::vector<Toplevel>> KwinWindows() const;
  std::optional<std::vector<Toplevel>> GnomeWindows() const;
  std::optional<Box> XWindowBox(long id) const;

  Compositor kind_;
  SessionOptions options_;
  std::string artefacts_;
  std::string folder_;   // the session's own folder (home, runtime, logs)
  std::string runtime_;  // XDG_RUNTIME_DIR
  std::string log_path_;
  std::unique_ptr<SessionProgram> bus_;
  std::unique_ptr<SessionProgram> compositor_;
  std::string wayland_display_;
  std::string x_display_;
  std::string xauthority_;
  std::string swaysock_;
  bool ready_ = false;
  std::string error_;
  mutable int queries_ = 0;
};

}  // namespace launcher::testing
