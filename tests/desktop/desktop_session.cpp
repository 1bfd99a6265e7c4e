#include "desktop_session.h"

#include "child_process.h"
#include "desktop_support.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace launcher::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

constexpr char kUserName[] = "launcher-desktop";
constexpr char kExtension[] = "launcher-test@localhost";

}  // namespace

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done())
      return true;
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(50ms);
  }
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void GiveTo(const std::string& path, const Account& account) {
  if (!account.switch_user)
    return;
  if (lchown(path.c_str(), account.uid, account.gid) != 0)
    throw std::runtime_error("cannot hand " + path + " to " + account.name);
  if (fs::is_directory(fs::symlink_status(path)))
    for (const auto& entry : fs::recursive_directory_iterator(path))
      if (lchown(entry.path().c_str(), account.uid, account.gid) != 0)
        throw std::runtime_error("cannot hand " + entry.path().string() + " to " + account.name);
}

namespace {

// A bus of our own: the session's user and root (the test) may connect.
std::string BusConfig(const std::string& type, const std::string& socket) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
         "  <type>" +
         type + "</type>\n  <listen>unix:path=" + socket + "</listen>\n" +
         (type == "session" ? "  <standard_session_servicedirs/>\n" : "") +
         "  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n"
         "    <allow user=\"*\"/>\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

// What the shell's Eval answered: "(true, '<JSON of the value>')", the value
// here a percent-encoded string, so that gdbus's quoting cannot touch it.
std::optional<std::string> EvalValue(const std::string& output) {
  const std::string head = "(true, '\"";
  const auto from = output.find(head);
  const auto to = output.rfind("\"')");
  if (from == std::string::npos || to == std::string::npos || to < from + head.size())
    return std::nullopt;
  return PercentDecode(output.substr(from + head.size(), to - from - head.size()));
}

namespace {

// The GNOME Shell extension that makes the shell usable for a test: its
// debugging interface (Eval, screenshots) open, and the overview it starts
// in closed.
constexpr char kExtensionJs[] = R"(const Main = imports.ui.main;
function init() {}
function enable() {
  global.context.unsafe_mode = true;
  if (Main.layoutManager._startingUp)
    Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
  else
    Main.overview.hide();
}
function disable() {}
)";

}  // namespace

const char* NameOf(Compositor kind) {
  switch (kind) {
    case Compositor::kSway:
      return "sway";
    case Compositor::kKwin:
      return "kwin";
    case Compositor::kGnome:
      return "gnome";
    case Compositor::kWeston:
      return "weston";
  }
  return "?";
}

const Account& SessionAccount() {
  static const Account account = [] {
    Account a;
    if (geteuid() != 0) {
      a.uid = geteuid();
      a.gid = getegid();
      const passwd* self = getpwuid(a.uid);
      a.name = self != nullptr ? self->pw_name : std::to_string(a.uid);
      return a;
    }
    if (getpwnam(kUserName) == nullptr) {
      const std::string command = std::string("useradd --system --user-group --no-create-home ") +
                                  "--home-dir /nonexistent --shell /usr/sbin/nologin " + kUserName;
      if (std::system(command.c_str()) != 0 && getpwnam(kUserName) == nullptr)
        throw std::runtime_error(std::string("cannot create the user ") + kUserName);
    }
    const passwd* user = getpwnam(kUserName);
    if (user == nullptr)
      throw std::runtime_error(std::string("no user ") + kUserName);
    a.uid = user->pw_uid;
    a.gid = user->pw_gid;
    a.name = kUserName;
    a.switch_user = true;
    return a;
  }();
  return account;
}

SessionProgram::SessionProgram(const std::vector<std::string>& argv,
                               const std::vector<std::string>& environment,
                               const std::string& log_path,
                               const std::string& folder)
    : log_path_(log_path) {
  const Account& account = SessionAccount();
  std::vector<std::string> args = argv;
  std::vector<std::string> env = environment;
  std::vector<char*> arg_pointers;
  arg_pointers.reserve(args.size() + 1);
  for (std::string& a : args)
    arg_pointers.push_back(a.data());
  arg_pointers.push_back(nullptr);
  std::vector<char*> env_pointers;
  env_pointers.reserve(env.size() + 1);
  for (std::string& e : env)
    env_pointers.push_back(e.data());
  env_pointers.push_back(nullptr);

  int status[2];
  if (pipe2(status, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  const int out = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0)
    throw std::runtime_error("cannot open " + log_path);
  if (account.switch_user && fchown(out, account.uid, account.gid) != 0) {
    close(out);
    throw std::runtime_error("cannot hand " + log_path + " over");
  }
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // The child: async-signal-safe calls only.
    setsid();
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    bool ok = true;
    if (account.switch_user)
      ok = setgroups(0, nullptr) == 0 && setgid(account.gid) == 0 && setuid(account.uid) == 0;
    // After the change of user, which clears it: nothing outlives a crashed test.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
      _exit(127);
    int error = EPERM;
    if (ok && chdir(folder.c_str()) == 0) {
      execvpe(arg_pointers[0], arg_pointers.data(), env_pointers.data());
      error = errno;
    }
    [[maybe_unused]] const ssize_t ignored = write(status[1], &error, sizeof error);
    _exit(127);
  }
  close(out);
  close(status[1]);
  if (pid_ < 0) {
    close(status[0]);
    throw std::runtime_error("fork failed");
  }
  int error = 0;
  ssize_t n = 0;
  do {
    n = read(status[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  close(status[0]);
  if (n > 0) {
    Reap(0);
    throw std::runtime_error("cannot start " + argv[0] + " as " + account.name + ": " +
                             std::strerror(error));
  }
}

SessionProgram::~SessionProgram() {
  StopGroup(500ms);
}

bool SessionProgram::Reap(int options) {
  return exit_code_ || ReapChild(pid_, options, exit_code_);
}

bool SessionProgram::Running() {
  return !Reap(WNOHANG);
}

std::optional<int> SessionProgram::WaitForExit(std::chrono::milliseconds limit) {
  WaitFor([this] { return Reap(WNOHANG); }, limit);
  return exit_code_;
}

void SessionProgram::StopGroup(std::chrono::milliseconds grace) {
  if (pid_ <= 0)
    return;
  // The group outlives its leader when the leader has ended first.
  if (kill(-pid_, SIGTERM) == 0) {
    const bool gone = WaitFor([this] { return (Reap(WNOHANG), kill(-pid_, 0) != 0); }, grace);
    if (!gone)
      kill(-pid_, SIGKILL);
  }
  Reap(0);
  WaitFor([this] { return kill(-pid_, 0) != 0; }, 2s);
  pid_ = -1;
}

std::string SessionProgram::Output() const {
  return ReadText(log_path_);
}

DesktopSession::DesktopSession(Compositor kind,
                               const std::string& artefacts,
                               SessionOptions options)
    : kind_(kind), options_(std::move(options)), artefacts_(artefacts) {
  const Account& account = SessionAccount();
  std::string pattern = (fs::temp_directory_path() / "launcher-desktop-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  chmod(folder_.c_str(), 0755);
  runtime_ = folder_ + "/run";
  fs::create_directories(runtime_);
  chmod(runtime_.c_str(), 0700);
  fs::create_directories(folder_ + "/home");
  fs::create_directories(artefacts_);
  log_path_ = artefacts_ + "/" + NameOf(kind) + options_.label + "-compositor.log";
  WriteText(log_path_, "");
  GiveTo(folder_, account);
  ready_ = StartBus() && StartCompositor() && WaitForClients();
  if (!ready_)
    error_ += "\n--- compositor log (" + log_path_ + ") ---\n" + Log();
}

DesktopSession::~DesktopSession() {
  compositor_.reset();
  bus_.reset();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::vector<std::string> DesktopSession::BaseEnvironment() const {
  const Account& account = SessionAccount();
  static const char* const desktops[] = {"sway", "KDE", "GNOME", "weston"};
  std::vector<std::string> env = {
      "PATH=/usr/local/bin:/usr/bin:/bin",
      "HOME=" + folder_ + "/home",
      "USER=" + account.name,
      "LOGNAME=" + account.name,
      "LANG=C.UTF-8",
      "XDG_RUNTIME_DIR=" + runtime_,
      "XDG_SESSION_TYPE=wayland",
      std::string("XDG_CURRENT_DESKTOP=") + desktops[static_cast<int>(kind_)],
      "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime_ + "/bus",
  };
  if (kind_ == Compositor::kGnome)
    env.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + runtime_ + "/system_bus");
  return env;
}

std::vector<std::string> DesktopSession::ClientEnvironment() const {
  std::vector<std::string> env = BaseEnvironment();
  env.push_back("WAYLAND_DISPLAY=" + wayland_display_);
  env.push_back("DISPLAY=" + x_display_);
  if (!xauthority_.empty())
    env.push_back("XAUTHORITY=" + xauthority_);
  if (!swaysock_.empty())
    env.push_back("SWAYSOCK=" + swaysock_);
  return env;
}

bool DesktopSession::StartBus() {
  const std::string config = folder_ + "/session-bus.conf";
  WriteText(config, BusConfig("session", runtime_ + "/bus"));
  std::vector<std::string> argv = {"dbus-daemon", "--nofork", "--config-file=" + config};
  if (kind_ == Compositor::kGnome) {
    // GNOME Shell wants a system bus as well; one daemon per bus, in one group.
    const std::string system = folder_ + "/system-bus.conf";
    WriteText(system, BusConfig("system", runtime_ + "/system_bus"));
    GiveTo(system, SessionAccount());
    const std::string script = "dbus-daemon --nofork --config-file=" + system +
                               " & exec dbus-daemon --nofork --config-file=" + config;
    argv = {"sh", "-c", script};
  }
  GiveTo(config, SessionAccount());
  try {
    bus_ = std::make_unique<SessionProgram>(argv, BaseEnvironment(), log_path_, folder_);
  } catch (const std::exception& e) {
    error_ = e.what();
    return false;
  }
  const bool up = WaitFor(
      [&] {
        return fs::exists(runtime_ + "/bus") &&
               (kind_ != Compositor::kGnome || fs::exists(runtime_ + "/system_bus"));
      },
      15s);
  if (!up)
    error_ = "the session bus did not come up";
  return up;
}

bool DesktopSession::StartCompositor() {
  std::vector<std::string> env = BaseEnvironment();
  std::vector<std::string> argv;
  const std::string home = folder_ + "/home";
  switch (kind_) {
    case Compositor::kSway: {
      const std::string config = folder_ + "/sway.conf";
      // Xwayland as sway starts it by default, on the first X client, so
      // that what starts it shows; the exec line tells the names that sway
      // gives its clients.
      WriteText(config,
                "xwayland enable\noutput HEADLESS-1 resolution 1280x1024 position 0 0 scale " +
                    std::to_string(options_.scale) +
                    "\n"
                    "exec sh -c 'env > " +
                    runtime_ + "/session.env.tmp && mv " + runtime_ + "/session.env.tmp " +
                    runtime_ + "/session.env'\n");
      GiveTo(config, SessionAccount());
      env.insert(env.end(),
                 {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"});
      argv = {"sway", "-c", config};
      break;
    }
    case Compositor::kKwin: {
      // The installed binary carries a file capability that exec refuses
      // here; a plain copy of it runs.
      const std::string copy = folder_ + "/kwin_wayland";
      fs::copy_file("/usr/bin/kwin_wayland", copy);
      chmod(copy.c_str(), 0755);
      GiveTo(copy, SessionAccount());
      const std::string tell = "sh -c 'env > " + runtime_ + "/session.env.tmp && mv " + runtime_ +
                               "/session.env.tmp " + runtime_ + "/session.env; exec sleep 86400'";
      argv = {copy,
              "--virtual",
              "--xwayland",
              "--width",
              "1280",
              "--height",
              "1024",
              "--socket",
              "wayland-0",
              "--no-lockscreen",
              "--exit-with-session",
              tell};
      break;
    }
    case Compositor::kGnome: {
      const std::string extension = home + "/.local/share/gnome-shell/extensions/" + kExtension;
      fs::create_directories(extension);
      WriteText(extension + "/metadata.json",
                std::string("{\"uuid\": \"") + kExtension +
                    "\", \"name\": \"Launcher tests\", \"description\": \"Test view\", "
                    "\"shell-version\": [\"43\", \"44\"]}\n");
      WriteText(extension + "/extension.js", kExtensionJs);
      fs::create_directories(home + "/.config/glib-2.0/settings");
      WriteText(home + "/.config/glib-2.0/settings/keyfile",
                std::string("[org/gnome/shell]\nenabled-extensions=['") + kExtension +
                    "']\ndisable-user-extensions=false\nwelcome-dialog-last-shown-version="
                    "'999'\n");
      GiveTo(home, SessionAccount());
      // The shell's settings from a file, so that the extension is on from the start.
      env.emplace_back("GSETTINGS_BACKEND=keyfile");
      argv = {"gnome-shell", "--headless",   "--wayland",         "--virtual-monitor",
              "1280x1024",   "--sm-disable", "--wayland-display", "wayland-0"};
      break;
    }
    case Compositor::kWeston:
      argv = {"weston", "--backend=headless-backend.so", "--use-pixman", "--xwayland",
              "--width=1280", "--height=1024", "--socket=wayland-0", "--idle-time=0",
              // The screenshooter works only with the debugging protocol.
              "--debug"};
      break;
  }
  try {
    compositor_ = std::make_unique<SessionProgram>(argv, env, log_path_, folder_);
  } catch (const std::exception& e) {
    error_ = e.what();
    return false;
  }
  return true;
}

bool DesktopSession::WaitForClients() {
  const auto alive = [this] { return compositor_->Running(); };
  const auto session_env = [this]() -> std::optional<std::string> {
    const std::string path = runtime_ + "/session.env";
    if (!fs::exists(path))
      return std::nullopt;
    return ReadText(path);
  };
  const auto value = [](const std::string& env, const std::string& name) {
    std::smatch m;
    const std::regex line("(^|\n)" + name + "=([^\n]*)");
    return std::regex_search(env, m, line) ? m[2].str() : std::string();
  };
  // The names first: each compositor tells them its own way.
  bool named = WaitFor(
      [&] {
        if (!alive())
          return false;
        switch (kind_) {
          case Compositor::kSway:
          case Compositor::kKwin: {
            const auto env = session_env();
            if (!env)
              return false;
            wayland_display_ = value(*env, "WAYLAND_DISPLAY");
            x_display_ = value(*env, "DISPLAY");
            swaysock_ = value(*env, "SWAYSOCK");
            return !wayland_display_.empty() && !x_display_.empty();
          }
          case Compositor::kGnome: {
            wayland_display_ = "wayland-0";
            // Answers once the extension has opened the shell's Eval.
            constexpr char kShellState[] =
                "encodeURIComponent(JSON.stringify([GLib.getenv('DISPLAY'), "
                "GLib.getenv('XAUTHORITY'), Main.overview.visible]))";
            const Captured c =
                Run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                     "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", kShellState},
                    5s);
            const auto value = EvalValue(c.output);
            if (!c.ended || c.exit_code != 0 || !value)
              return false;
            const json names = json::parse(*value);
            if (!names[0].is_string() || names[2].get<bool>())
              return false;  // no X yet, or still in the overview
            x_display_ = names[0].get<std::string>();
            xauthority_ = names[1].is_string() ? names[1].get<std::string>() : "";
            return true;
          }
          case Compositor::kWeston: {
            std::smatch m;
            const std::string log = Log();
            if (!std::regex_search(log, m, std::regex("xserver listening on display (:[0-9]+)")))
              return false;
            wayland_display_ = "wayland-0";
            x_display_ = m[1].str();
            return true;
          }
        }
        return false;
      },
      60s);
  if (!named) {
    error_ = std::string(NameOf(kind_)) +
             (alive() ? " told no Wayland and X11 display names within 60 s" : " ended early");
    return false;
  }
  // Then both displays must answer a client.
  const bool answers = WaitFor(
      [&] {
        return alive() && Run({"wayland-info"}, 10s).exit_code == 0 &&
               (!options_.wake_x11 ||
                Run({"xprop", "-root", "-len", "1", "_NET_SUPPORTING_WM_CHECK"}, 10s).exit_code ==
                    0);
      },
      60s);
  if (!answers)
    error_ = std::string(NameOf(kind_)) + ": " + wayland_display_ + " and " + x_display_ +
             " did not both answer within 60 s";
  return answers;
}

std::unique_ptr<SessionProgram> DesktopSession::Start(const std::vector<std::string>& argv,
                                                      const std::vector<std::string>& extra,
                                                      const std::string& log_name) const {
  std::vector<std::string> env = ClientEnvironment();
  for (const std::string& entry : extra) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    env.erase(std::remove_if(env.begin(), env.end(),
                             [&](const std::string& e) { return e.rfind(name, 0) == 0; }),
              env.end());
    env.push_back(entry);
  }
  const std::string log = folder_ + "/" + log_name;
  std::error_code ignored;
  fs::remove(log, ignored);
  return std::make_unique<SessionProgram>(argv, env, log, folder_);
}

Captured DesktopSession::Run(const std::vector<std::string>& argv,
                             std::chrono::milliseconds limit,
                             const std::vector<std::string>& extra) const {
  Captured result;
  const std::string name = "query-" + std::to_string(++queries_) + ".log";
  try {
    auto program = Start(argv, extra, name);
    const auto code = program->WaitForExit(limit);
    result.ended = code.has_value();
    result.exit_code = code.value_or(-1);
    program->StopGroup(200ms);
    result.output = ReadText(folder_ + "/" + name);
  } catch (const std::exception& e) {
    result.output = e.what();
  }
  std::error_code ignored;
  fs::remove(folder_ + "/" + name, ignored);
  return result;
}

std::string DesktopSession::Log() const {
  return ReadText(log_path_);
}

}  // namespace launcher::testing
