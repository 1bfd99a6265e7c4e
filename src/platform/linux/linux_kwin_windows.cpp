#include "platform/linux/linux_kwin_windows.h"

#include <sys/mman.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/linux/linux_dbus.h"
#include "platform/linux/linux_glib.h"
#include "platform/linux/linux_kwin_script.h"
#include "platform/platform.h"
#include "platform/runtime_error.h"

namespace launcher {

namespace {

constexpr char kKWin[] = "org.kde.KWin";
constexpr char kObjectPath[] = "/org/launcher/WindowReport";
constexpr char kInterface[] = "org.launcher.WindowReport";
constexpr char kIntrospection[] =
    "<node><interface name='org.launcher.WindowReport'><method name='Report'>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "</method></interface></node>";

[[noreturn]] void Fail(const std::string& what) {
  FailSource("KWin scripting", what);
}

// Random hex digits, so that a report of an earlier run is never taken for
// one of this run's.
std::string RandomHex(std::size_t bytes) {
  std::string raw(bytes, '\0');
  if (getrandom(raw.data(), raw.size(), GRND_NONBLOCK) != static_cast<ssize_t>(raw.size())) {
    // Only a fallback: the sender is checked as well.
    const auto seed = static_cast<std::uint64_t>(MonotonicNowMs()) * 2654435761u ^ getpid();
    for (std::size_t i = 0; i < raw.size(); ++i)
      raw[i] = static_cast<char>(seed >> ((i % 8) * 8));
  }
  std::string hex;
  for (const char c : raw) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
    hex += digits;
  }
  return hex;
}

bool Flag(const nlohmann::json& window, const char* name) {
  const auto it = window.find(name);
  return it != window.end() && it->is_boolean() && it->get<bool>();
}

// The windows of a report, or why it is none; `untold_x11` set when an X11
// window came without its process.
std::vector<std::pair<std::string, WindowFacts>> ReadReport(const std::string& json,
                                                            std::uint32_t own_pid,
                                                            std::string* why_not,
                                                            bool* untold_x11 = nullptr) {
  // Every byte that is not UTF-8 replaced: outside strings such a byte is no
  // JSON anyway.
  const nlohmann::json list = nlohmann::json::parse(ValidUtf8(json), nullptr, false);
  std::vector<std::pair<std::string, WindowFacts>> windows;
  if (list.is_discarded() || !list.is_array()) {
    *why_not = "the report is no list of windows";
    return windows;
  }
  for (const nlohmann::json& window : list) {
    if (!window.is_object()) {
      *why_not = "the report is no list of windows";
      return {};
    }
    const auto id = window.find("id");
    const auto pid = window.find("pid");
    if (id == window.end() || !id->is_string() || pid == window.end() || !pid->is_number_unsigned())
      continue;
    const auto process = pid->get<std::uint64_t>();
    if ((process == 0 || process > 0xffffffffu) && untold_x11 != nullptr && Flag(window, "x11"))
      *untold_x11 = true;
    if (process == 0 || process > 0xffffffffu || process == own_pid)
      continue;
    WindowFacts facts;
    // Every window KWin manages is shown as far as its application is
    // concerned, a minimized one too.
    facts.visible = true;
    facts.pid = static_cast<std::uint32_t>(process);
    facts.x11 = Flag(window, "x11");
    if (Flag(window, "skipTaskbar") || (!Flag(window, "normal") && !Flag(window, "dialog")))
      facts.style = kExToolWindow;
    const auto caption = window.find("caption");
    if (caption != window.end() && caption->is_string())
      facts.title = CutText(caption->get<std::string>());
    windows.emplace_back(id->get<std::string>(), std::move(facts));
  }
  return windows;
}

}  // namespace

std::vector<std::pair<std::string, WindowFacts>> ParseKWinReport(const std::string& json,
                                                                 std::uint32_t own_pid) {
  std::string why_not;
  auto windows = ReadReport(json, own_pid, &why_not);
  if (!why_not.empty())
    Fail(why_not);
  return windows;
}

std::unique_ptr<KWinWindows> KWinWindows::Connect(unsigned number, std::string* why_not) {
  const std::int64_t start = MonotonicNowMs();
  const std::int64_t deadline = start + kKWinAnswerMs;
  std::unique_ptr<SessionBus> bus = SessionBus::Connect(deadline, why_not);
  if (bus == nullptr)
    return nullptr;
  std::string error;
  const std::string kwin = bus->NameOwner(kKWin, deadline, &error);
  if (kwin.empty()) {
    *why_not = "KWin is not on the session bus";
    return nullptr;
  }
  const int budget = static_cast<int>(deadline - MonotonicNowMs());
  std::unique_ptr<KWinWindows> source(new KWinWindows(std::move(bus), number, budget));
  // Only KWin's reports are taken: the script runs there.
  const bool serving = source->bus_->Serve(
      kObjectPath, kIntrospection, kwin,
      [raw = source.get()](GVariant* parameters) {
        const gchar* token = nullptr;
        const gchar* json = nullptr;
        raw->bus_->glib().g_variant_get(parameters, "(&s&s)", &token, &json);
        return raw->Take(token, json);
      },
      &error);
  if (!serving) {
    *why_not = "cannot take the compositor's reports: " + error;
    return nullptr;
  }
  return source;
}

KWinWindows::KWinWindows(std::unique_ptr<SessionBus> bus, unsigned number, int budget_ms)
    : bus_(std::move(bus)),
      number_(number),
      budget_ms_(budget_ms),
      token_(RandomHex(16)),
      plugin_("launcher-windows-" + std::to_string(getpid()) + "-" + RandomHex(4)) {}

// The bus goes first: nothing it still dispatches may reach a half-gone source.
KWinWindows::~KWinWindows() {
  bus_.reset();
}

void KWinWindows::Load() {
  nlohmann::json settings = {{"bus", bus_->UniqueName()},
                             {"path", kObjectPath},
                             {"iface", kInterface},
                             {"token", token_},
                             {"plugin", plugin_}};
  const std::string script = "var launcher = " + settings.dump() + ";\n" + kKWinWindowsScript;
  // KWin reads the script from a path: a file of our own that is in no folder
  // and goes with its descriptor, kept until the script has reported (KWin
  // may read it after answering run).
  script_fd_.Reset(memfd_create("launcher-kwin-windows.js", MFD_CLOEXEC));
  if (!script_fd_.valid() || write(script_fd_.get(), script.data(), script.size()) !=
                                 static_cast<ssize_t>(script.size())) {
    failure_ = "cannot hold the script";
    return;
  }
  const std::string path =
      "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(script_fd_.get());
  script_ = Script::kLoading;
  // No time-out: an answer that comes late must still be seen, to unload.
  bus_->Call(kKWin, "/Scripting", "org.kde.kwin.Scripting", "loadScript",
             bus_->glib().g_variant_new("(ss)", path.c_str(), plugin_.c_str()), "(i)", G_MAXINT,
             [this](GVariant* reply, const std::string& error) {
               if (!failure_.empty()) {
                 // Answered after the look that loaded it gave up.
                 if (reply != nullptr)
                   Unload();
                 script_ = Script::kAbandoned;
                 return;
               }
               gint32 id = -1;
               if (reply != nullptr)
                 bus_->glib().g_variant_get(reply, "(i)", &id);
               if (id < 0) {
                 script_ = Script::kFailed;
                 failure_ = reply == nullptr ? "KWin cannot load the script: " + error
                                             : "KWin refused the script";
                 return;
               }
               script_ = Script::kRunning;
               Run(id, true);
             });
}

// KWin 5.27.80 and 6 serve a script at /Scripting/Script<id>, earlier ones at
// /<id>: the newer is tried first, and a path that is not there fails at once.
void KWinWindows::Run(int id, bool newer_path) {
  const std::string path = (newer_path ? "/Scripting/Script" : "/") + std::to_string(id);
  bus_->Call(kKWin, path.c_str(), "org.kde.kwin.Script", "run", nullptr, nullptr, kKWinAnswerMs,
             [this, id, newer_path](GVariant* reply, const std::string& error) {
               if (reply != nullptr)
                 return;
               if (newer_path) {
                 Run(id, false);
               } else if (!reported_ && failure_.empty()) {
                 failure_ = "KWin cannot run the script: " + error;
                 script_ = Script::kAbandoned;
                 Unload();
               }
             });
}

void KWinWindows::Unload() {
  bus_->Call(kKWin, "/Scripting", "org.kde.kwin.Scripting", "unloadScript",
             bus_->glib().g_variant_new("(s)", plugin_.c_str()), "(b)", kKWinUnloadMs, nullptr);
}

bool KWinWindows::Take(const char* token, const char* json) {
  if (token_ != token)
    return false;
  reported_ = true;
  script_fd_.Reset();
  // GDBus has read the whole message by now; the bus daemon's own limit on a
  // message bounds it before that.
  const std::size_t size = std::strlen(json);
  if (size > kKWinReportBytes) {
    report_.reset();
    report_failure_ =
        "a report larger than the " + std::to_string(kKWinReportBytes) + " bytes allowed";
  } else {
    report_.emplace(json, size);
  }
  return true;
}

void KWinWindows::Parse() {
  std::string why_not;
  bool untold_x11 = false;
  auto windows = ReadReport(*report_, static_cast<std::uint32_t>(getpid()), &why_not, &untold_x11);
  told_x11_ = why_not.empty() && !untold_x11;
  report_.reset();
  report_failure_ = why_not;
  windows_.clear();
  handles_.clear();
  for (auto& [id, facts] : windows) {
    // Numbers are never reused while the launcher lives; a session that
    // opened more windows than handles can number starts again.
    if (numbers_.size() > kWindowNumberMask)
      numbers_.clear();
    const auto number = numbers_.emplace(id, static_cast<std::uint32_t>(numbers_.size() + 1));
    const WindowHandle handle = CompositorHandle(number_, number.first->second);
    if (windows_.emplace(handle, std::move(facts)).second)
      handles_.push_back(handle);
  }
}

std::vector<WindowHandle> KWinWindows::TopLevel() {
  if (script_ == Script::kNone && failure_.empty()) {
    // The first look waits for the first report, within what connecting left.
    const std::int64_t deadline = MonotonicNowMs() + std::max(0, budget_ms_);
    Load();
    bus_->RunUntil([this] { return reported_ || !failure_.empty(); }, deadline);
    if (script_ == Script::kLoading && failure_.empty())
      failure_ = "KWin did not load the script within " + std::to_string(kKWinAnswerMs) + " ms";
  } else {
    // Later looks take what has come meanwhile, without a round trip.
    bus_->Dispatch();
  }
  if (failure_.empty() && bus_->closed())
    failure_ = "the session bus connection was lost";
  if (failure_.empty() && bus_->peer_gone())
    failure_ = "KWin left the session bus";
  if (!failure_.empty())
    Fail(failure_);
  if (!reported_)
    Fail("no report within " + std::to_string(kKWinAnswerMs) + " ms");
  if (report_)
    Parse();
  if (!report_failure_.empty())
    Fail(report_failure_);
  return handles_;
}

const WindowFacts& KWinWindows::Facts(WindowHandle window) {
  static const WindowFacts kNone;
  const auto it = windows_.find(window);
  return it != windows_.end() ? it->second : kNone;
}

void KWinWindows::Close() {
  if (script_ == Script::kNone)
    return;
  // By name, whatever became of the load: a load KWin has not answered yet is
  // handled before this, as both come from one connection.
  std::string error;
  GVariant* done = bus_->CallAndWait(kKWin, "/Scripting", "org.kde.kwin.Scripting", "unloadScript",
                                     bus_->glib().g_variant_new("(s)", plugin_.c_str()), "(b)",
                                     MonotonicNowMs() + kKWinUnloadMs, &error);
  if (done != nullptr)
    bus_->glib().g_variant_unref(done);
  script_ = Script::kAbandoned;
  failure_ = "the launcher has ended";
}

}  // namespace launcher
