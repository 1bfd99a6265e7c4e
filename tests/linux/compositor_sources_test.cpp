// The compositor window sources against stand-ins that answer as the real
// ones do, and as broken or hostile ones might: slowly, with garbage, with too
// much. Every look must end within its bound with a clear result.
#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "platform/linux/linux_kwin_windows.h"
#include "platform/linux/linux_layer_shell.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_sway_windows.h"
#include "platform/runtime_error.h"
#include "procmanager/window_list.h"
#include "x_session.h"

namespace launcher {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

// A native window, an X11 one under Xwayland, one of the launcher itself, and
// one nested deep in containers.
std::string Tree(std::uint32_t own_pid, int depth = 3, std::uint32_t app_pid = 4321) {
  const std::string app = std::to_string(app_pid);
  std::string open;
  std::string close;
  for (int i = 0; i < depth; ++i) {
    open += R"({"id": )" + std::to_string(100 + i) + R"(, "type": "con", "nodes": [)";
    close += "]}";
  }
  const std::string deep = open + R"({"id": 90, "type": "con", "pid": )" + app +
                           R"(, "shell": "xdg_shell", "name": "Deep"})" + close;
  return R"({"id": 1, "type": "root", "nodes": [{"id": 3, "type": "output", "nodes": [
      {"id": 4, "type": "workspace", "nodes": [
        {"id": 7, "type": "con", "pid": )" +
         app + R"(, "shell": "xdg_shell", "name": "Native"},
        {"id": 8, "type": "con", "pid": 4322, "shell": "xwayland", "window": 2097155, "name": "X"},
        )" +
         deep + R"(],
       "floating_nodes": [
        {"id": 9, "type": "floating_con", "pid": )" +
         std::to_string(own_pid) + R"(, "shell": "xdg_shell", "name": "Splash"}]}]}]})";
}

// How a stand-in for sway misbehaves, beyond what it answers.
struct Misbehaviour {
  std::chrono::milliseconds delay = 0ms;  // before the reply
  std::chrono::milliseconds drip = 0ms;   // between its bytes, sent one by one
  bool full_queue = false;                // never accepts, its listen queue full
};

// sway's IPC as one test case wants it: after the request, the reply bytes
// (header and all), then a pause, or a close. A stand-in Wayland compositor
// answers once more (`then`) after the client's next requests.
class FakeSway {
 public:
  explicit FakeSway(std::function<std::string()> reply,
                    Misbehaviour how = {},
                    std::function<std::string()> then = {})
      : reply_(std::move(reply)), then_(std::move(then)), how_(how) {
    path_ = "/tmp/launcher-fake-sway-" + std::to_string(getpid()) + ".sock";
    unlink(path_.c_str());
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path_.c_str());
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, how.full_queue ? 0 : 4) != 0)
      throw std::runtime_error("cannot listen at " + path_ + ": " + std::strerror(errno));
    // Fills the queue with connections nobody accepts, until one is refused.
    while (how.full_queue && fillers_.size() < 64) {
      const int filler = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      fillers_.push_back(filler);
      if (connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        break;
    }
    if (!how.full_queue)
      thread_ = std::thread([this] { Serve(); });
  }
  ~FakeSway() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable())
      thread_.join();
    close(listener_);
    for (const int filler : fillers_)
      close(filler);
    unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }

  static std::string Message(std::uint32_t type, const std::string& payload) {
    std::string bytes = "i3-ipc";
    const auto length = static_cast<std::uint32_t>(payload.size());
    bytes.append(reinterpret_cast<const char*>(&length), 4);
    bytes.append(reinterpret_cast<const char*>(&type), 4);
    return bytes + payload;
  }

 private:
  void Serve() {
    while (!stop_) {
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0)
        return;
      char request[14];
      if (recv(client, request, sizeof request, MSG_WAITALL) == sizeof request) {
        const auto deadline = std::chrono::steady_clock::now() + how_.delay;
        while (!stop_ && std::chrono::steady_clock::now() < deadline)
          std::this_thread::sleep_for(10ms);
        const std::string reply = reply_();
        if (how_.drip == 0ms) {
          send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
        } else {
          for (std::size_t i = 0; i < reply.size() && !stop_; ++i) {
            if (send(client, &reply[i], 1, MSG_NOSIGNAL) != 1)
              break;
            std::this_thread::sleep_for(how_.drip);
          }
        }
        if (then_)
          Answer(client);
      }
      close(client);
    }
  }

  // Takes what is left of the first requests (a Wayland client's registry
  // and sync: 24 bytes), answers the next ones, and keeps the connection
  // until the client leaves.
  void Answer(int client) {
    char bytes[256];
    if (recv(client, bytes, 24 - 14, MSG_WAITALL) != 24 - 14)
      return;
    bool answered = false;
    pollfd more{client, POLLIN, 0};
    while (!stop_) {
      if (poll(&more, 1, 10) == 0)
        continue;
      if (recv(client, bytes, sizeof bytes, 0) <= 0)
        return;
      if (!answered) {
        const std::string answer = then_();
        send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        answered = true;
      }
    }
  }

  std::function<std::string()> reply_;
  std::function<std::string()> then_;
  Misbehaviour how_;
  std::string path_;
  int listener_ = -1;
  std::vector<int> fillers_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::uint32_t OwnPid() {
  return static_cast<std::uint32_t>(getpid());
}

struct SourceCase {
  const char* name;
  std::function<std::string()> reply;
  Misbehaviour how;
  const char* result;  // what the look lists ("title;" each), or a part of its failure
};

void PrintTo(const SourceCase& c, std::ostream* out) {
  *out << c.name;
}

// Takes one look; the failure's description, or the titles seen in order.
std::string Look(WindowSource& source, std::chrono::milliseconds* took) {
  const auto start = std::chrono::steady_clock::now();
  std::string result;
  try {
    for (const WindowHandle window : source.TopLevel()) {
      const WindowFacts& facts = source.Facts(window);
      EXPECT_NE(window & kCompositorTag, 0u) << "a compositor's handle never meets an X11 id";
      EXPECT_TRUE(facts.visible);
      EXPECT_NE(facts.pid, 0u);
      EXPECT_NE(facts.pid, OwnPid());
      result += facts.title + (facts.x11 ? "(x11);" : ";");
    }
    if (!source.Incomplete().empty())
      result += "[" + source.Incomplete() + "]";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), kErrDeviceIo);
    result = failure.description();
  }
  *took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                start);
  return result;
}

class SwaySource : public ::testing::TestWithParam<SourceCase> {};

TEST_P(SwaySource, EveryLookEndsInTimeWithAClearResult) {
  const SourceCase& c = GetParam();
  FakeSway sway(c.reply, c.how);
  SwayWindows source(sway.path(), 2);
  std::chrono::milliseconds took{};
  const std::string result = Look(source, &took);
  EXPECT_NE(result.find(c.result), std::string::npos) << result;
  if (std::string(c.result).find(" 2000 ms") != std::string::npos) {
    // Waiting for the peer: the bound, and a scheduling slice for a loaded machine.
    EXPECT_LE(took, std::chrono::milliseconds(kSwayAnswerMs) + 300ms) << "a look must never hang";
  } else {
    // Reading what came is work of our own, slow under the sanitizers.
    EXPECT_LT(took, 30s) << "a look must never hang";
  }
}

// A tree whose one view has the title `name` (JSON text, as sent) and `more` fields.
std::string OneView(const std::string& name, const std::string& more = "") {
  return R"({"id": 1, "type": "root", "nodes": [{"id": 7, "type": "con", "pid": 4321,
      "shell": "xdg_shell", "name": )" +
         name + more + R"(}, {"id": 8, "type": "con", "pid": 4321, "name": "Plain"}]})";
}

INSTANTIATE_TEST_SUITE_P(
    Replies,
    SwaySource,
    ::testing::Values(SourceCase{"tree",
                                 [] { return FakeSway::Message(4, Tree(OwnPid())); },
                                 {},
                                 "Native;X(x11);Deep;"},
                      SourceCase{"nested_deeper_than_any_stack",
                                 [] { return FakeSway::Message(4, Tree(OwnPid(), 200000)); },
                                 {},
                                 "Native;X(x11);Deep;"},
                      SourceCase{"mute",
                                 [] { return FakeSway::Message(4, Tree(OwnPid())); },
                                 {.delay = 6000ms},
                                 "no answer within 2000 ms"},
                      SourceCase{"slow_drip",
                                 [] { return FakeSway::Message(4, Tree(OwnPid())); },
                                 {.drip = 400ms},
                                 "no answer within 2000 ms"},
                      SourceCase{"full_listen_queue",
                                 [] { return std::string(); },
                                 {.full_queue = true},
                                 "its listen queue stayed full for 2000 ms"},
                      SourceCase{"garbage",
                                 [] { return std::string("HTTP/1.1 400 Bad Request\r\n\r\n"); },
                                 {},
                                 "no reply to GET_TREE"},
                      SourceCase{"another_reply",
                                 [] { return FakeSway::Message(0, "[]"); },
                                 {},
                                 "no reply to GET_TREE"},
                      SourceCase{"huge",
                                 [] {
                                   std::string header = FakeSway::Message(4, "");
                                   const std::uint32_t length = 40u * 1024 * 1024;
                                   std::memcpy(header.data() + 6, &length, 4);
                                   return header + std::string(1 << 20, '[');
                                 },
                                 {},
                                 "a reply of more than the 16777216 bytes allowed"},
                      SourceCase{"not_json",
                                 [] { return FakeSway::Message(4, "{\"nodes\": [1, 2"); },
                                 {},
                                 "no window tree"},
                      SourceCase{"json_but_no_tree",
                                 [] { return FakeSway::Message(4, "[1, 2, 3]"); },
                                 {},
                                 "no window tree"},
                      SourceCase{"cut_short",
                                 [] { return FakeSway::Message(4, Tree(OwnPid())).substr(0, 100); },
                                 {},
                                 "the connection closed before the whole reply"},
                      // An ICCCM title is Latin-1, which sway passes on as it is.
                      SourceCase{"title_not_utf8",
                                 [] { return FakeSway::Message(4, OneView("\"Caf\xe9\"")); },
                                 {},
                                 "Caf\xEF\xBF\xBD;Plain;"},
                      SourceCase{
                          "fields_of_other_types",
                          [] {
                            return FakeSway::Message(
                                4, OneView("5",
                                           R"(, "shell": null, "window": "x", "nodes": {"a": 1})"));
                          },
                          {},
                          ";Plain;[sway IPC: views with fields of unexpected types]"}),
    [](const ::testing::TestParamInfo<SourceCase>& info) { return std::string(info.param.name); });

// The same stand-in as a Wayland compositor: after the launcher's two
// requests (get_registry, sync), the events of its registry (object 2) and
// of the sync's callback (object 3).
std::string WaylandEvent(std::uint32_t object, std::uint32_t opcode, const std::string& args) {
  std::string bytes(reinterpret_cast<const char*>(&object), 4);
  const std::uint32_t size_opcode = static_cast<std::uint32_t>(8 + args.size()) << 16 | opcode;
  return bytes.append(reinterpret_cast<const char*>(&size_opcode), 4) + args;
}
std::string Word(std::uint32_t value) {
  return std::string(reinterpret_cast<const char*>(&value), 4);
}
std::string Globals(std::initializer_list<std::string> interfaces, bool done = true) {
  std::string events;
  std::uint32_t name = 0;
  for (const std::string& interface : interfaces) {
    std::string text = interface + '\0';
    const auto length = static_cast<std::uint32_t>(text.size());
    text.resize((text.size() + 3) / 4 * 4, '\0');
    events += WaylandEvent(2, 0, Word(++name) + Word(length) + text + Word(1));
  }
  return done ? events + WaylandEvent(3, 0, Word(1)) : events;
}

// The client's trial layer surface after the registry (2), the sync (3), the
// compositor (4), the layer shell (5) and the surface (6).
constexpr std::uint32_t kTrialLayer = 7;
std::string Configure() {
  return WaylandEvent(kTrialLayer, 0, Word(1) + Word(1) + Word(1));
}

struct ProbeCase {
  const char* name;
  std::function<std::string()> reply;
  Misbehaviour how;
  bool offered;
  const char* trouble;                      // a part of why it could not tell; empty when it could
  std::function<std::string()> trial = {};  // how it takes the trial layer surface
};

void PrintTo(const ProbeCase& c, std::ostream* out) {
  *out << c.name;
}

class LayerShellProbeOf : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(LayerShellProbeOf, EndsInTimeWithAClearAnswer) {
  const ProbeCase& c = GetParam();
  FakeSway compositor(c.reply, c.how, c.trial);
  const LayerShellProbe probe = ProbeLayerShell(compositor.path(), 500);
  EXPECT_EQ(probe.offered, c.offered) << probe.trouble;
  if (*c.trouble == '\0')
    EXPECT_EQ(probe.trouble, "");
  else
    EXPECT_NE(probe.trouble.find(c.trouble), std::string::npos) << probe.trouble;
}

INSTANTIATE_TEST_SUITE_P(
    Compositors,
    LayerShellProbeOf,
    ::testing::Values(ProbeCase{"offered",
                                [] {
                                  return Globals({"wl_compositor", "zwlr_layer_shell_v1"});
                                },
                                {},
                                true,
                                "",
                                [] { return Configure(); }},
                      ProbeCase{"trial_surface_closed",
                                [] {
                                  return Globals({"wl_compositor", "zwlr_layer_shell_v1"});
                                },
                                {},
                                false,
                                "it closed a trial layer surface",
                                [] { return WaylandEvent(kTrialLayer, 1, ""); }},
                      ProbeCase{"trial_surface_refused",
                                [] {
                                  return Globals({"wl_compositor", "zwlr_layer_shell_v1"});
                                },
                                {},
                                false,
                                "with a trial layer surface, the connection failed",
                                [] {
                                  return WaylandEvent(1, 0,
                                                      Word(kTrialLayer) + Word(0) + Word(8) +
                                                          std::string("refused\0", 8));
                                }},
                      ProbeCase{"trial_surface_never_answered",
                                [] {
                                  return Globals({"wl_compositor", "zwlr_layer_shell_v1"});
                                },
                                {},
                                false,
                                "with a trial layer surface, no answer within 500 ms",
                                [] { return std::string(); }},
                      ProbeCase{"trial_answered_for_another_object",
                                [] {
                                  return Globals({"wl_compositor", "zwlr_layer_shell_v1"});
                                },
                                {},
                                false,
                                "with a trial layer surface, no answer within 500 ms",
                                [] { return WaylandEvent(kTrialLayer + 9, 1, ""); }},
                      ProbeCase{"layer_shell_without_a_compositor",
                                [] { return Globals({"zwlr_layer_shell_v1"}); },
                                {},
                                false,
                                "no wl_compositor"},
                      ProbeCase{"offered_under_a_longer_name",
                                [] { return Globals({"zwlr_layer_shell_v1_but_not"}); },
                                {},
                                false,
                                ""},
                      ProbeCase{"not_offered",
                                [] {
                                  return Globals({"wl_compositor", "xdg_wm_base"});
                                },
                                {},
                                false,
                                ""},
                      ProbeCase{"mute",
                                [] { return Globals({"zwlr_layer_shell_v1"}); },
                                {.delay = 6000ms},
                                false,
                                "no answer within 500 ms"},
                      ProbeCase{"slow_drip",
                                [] { return Globals({"zwlr_layer_shell_v1"}); },
                                {.drip = 100ms},
                                false,
                                "no answer within 500 ms"},
                      ProbeCase{"globals_but_never_done",
                                [] { return Globals({"zwlr_layer_shell_v1"}, false); },
                                {},
                                false,
                                "the connection failed"},
                      ProbeCase{"full_listen_queue",
                                [] { return std::string(); },
                                {.full_queue = true},
                                false,
                                "its listen queue stayed full"},
                      ProbeCase{"closes_at_once",
                                [] { return std::string(); },
                                {},
                                false,
                                "the connection failed"},
                      ProbeCase{"garbage",
                                [] { return std::string("HTTP/1.1 400 Bad Request\r\n\r\n"); },
                                {},
                                false,
                                "the connection failed"},
                      ProbeCase{"name_without_its_end",
                                [] {
                                  return WaylandEvent(2, 0,
                                                      Word(1) + Word(64) + "zwlr_layer_shell_v1!") +
                                         WaylandEvent(3, 0, Word(1));
                                },
                                {},
                                false,
                                "the connection failed"}),
    [](const ::testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

// A session bus of the test's own.
class TestBus {
 public:
  TestBus() {
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC) != 0)
      return;
    daemon_ = std::make_unique<ChildProcess>(
        "dbus-daemon", std::vector<std::string>{"--session", "--nofork", "--print-address=1"},
        std::vector<std::string>{}, fds[1]);
    close(fds[1]);
    pollfd ready{fds[0], POLLIN, 0};
    char buffer[512] = {};
    if (poll(&ready, 1, 10000) == 1) {
      const ssize_t n = read(fds[0], buffer, sizeof buffer - 1);
      address_.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
      address_ = address_.substr(0, address_.find('\n'));
    }
    close(fds[0]);
  }
  const std::string& address() const { return address_; }

 private:
  std::unique_ptr<ChildProcess> daemon_;
  std::string address_;
};

// KWin's scripting, played by a service of the test's own on a bus of its own:
// it loads the script it is given (answering late or never, as the case
// wants), serves it at KWin 5.27's or KWin 6's path, and once it is run sends
// the reports the case lists, as the script would, from KWin's connection or
// another peer's.
class FakeKWin {
 public:
  struct Report {
    bool from_kwin = true;
    bool stale = false;  // a token other than the script's
    std::function<std::string()> json;
  };
  struct Options {
    bool kwin6 = false;
    int load_ms = 0;  // -1: loadScript is never answered (nor anything after it)
    std::vector<Report> reports;
  };

  explicit FakeKWin(Options options) : options_(std::move(options)), address_(bus_.address()) {
    thread_ = std::thread([this] { Serve(); });
    while (!ready_)
      std::this_thread::sleep_for(10ms);
  }
  ~FakeKWin() {
    stop_ = true;
    g_main_context_wakeup(context_);
    thread_.join();
  }
  const std::string& address() const { return address_; }
  // Sends one more report, as the script does when a window changes.
  void Send(Report report) {
    auto* call = new std::pair<FakeKWin*, Report>(this, std::move(report));
    g_main_context_invoke(
        context_,
        [](gpointer data) -> gboolean {
          const std::unique_ptr<std::pair<FakeKWin*, Report>> c(
              static_cast<std::pair<FakeKWin*, Report>*>(data));
          c->first->SendNow(c->second);
          return G_SOURCE_REMOVE;
        },
        call);
  }
  // Calls of each method so far; unloadScript counts those of the plugin loaded.
  int calls(const std::string& method) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), method));
  }

 private:
  static void OnCall(GDBusConnection* connection,
                     const gchar* /*sender*/,
                     const gchar* /*path*/,
                     const gchar* /*interface*/,
                     const gchar* method,
                     GVariant* parameters,
                     GDBusMethodInvocation* invocation,
                     gpointer data) {
    auto* self = static_cast<FakeKWin*>(data);
    std::string name = method;
    if (name == "loadScript") {
      const gchar* path = nullptr;
      const gchar* plugin = nullptr;
      g_variant_get(parameters, "(&s&s)", &path, &plugin);
      std::ifstream file(path);
      std::string first_line;
      std::getline(file, first_line);
      // The launcher's settings: "var launcher = {...};"
      self->settings_ = nlohmann::json::parse(first_line.substr(
          first_line.find('{'), first_line.rfind('}') - first_line.find('{') + 1));
      self->Answer(invocation, self->options_.load_ms);
      static const GDBusInterfaceVTable kScript = {&FakeKWin::OnCall, nullptr, nullptr, {}};
      const std::string object =
          (self->options_.kwin6 ? "/Scripting/Script" : "/") + std::to_string(kScriptId);
      g_dbus_connection_register_object(connection, object.c_str(), self->node_->interfaces[1],
                                        &kScript, self, nullptr, nullptr);
    } else if (name == "unloadScript") {
      const gchar* plugin = nullptr;
      g_variant_get(parameters, "(&s)", &plugin);
      if (self->settings_.value("plugin", "") != plugin)
        name += " of another";
      if (self->options_.load_ms >= 0)
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", TRUE));
    } else {
      g_dbus_method_invocation_return_value(invocation, nullptr);
      if (name == "run")
        for (const Report& report : self->options_.reports)
          self->SendNow(report);
    }
    const std::lock_guard<std::mutex> lock(self->mutex_);
    self->calls_.push_back(name);
  }

  void Answer(GDBusMethodInvocation* invocation, int delay_ms) {
    if (delay_ms < 0)
      return;  // left unanswered for good
    auto* source = g_timeout_source_new(static_cast<guint>(delay_ms));
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
          g_dbus_method_invocation_return_value(static_cast<GDBusMethodInvocation*>(data),
                                                g_variant_new("(i)", kScriptId));
          return G_SOURCE_REMOVE;
        },
        invocation, nullptr);
    g_source_attach(source, context_);
    g_source_unref(source);
  }

  void SendNow(const Report& report) {
    const std::string token = report.stale ? "0123456789abcdef" : settings_.value("token", "");
    g_dbus_connection_call(report.from_kwin ? kwin_ : other_, settings_.value("bus", "").c_str(),
                           settings_.value("path", "").c_str(),
                           settings_.value("iface", "").c_str(), "Report",
                           g_variant_new("(ss)", token.c_str(), report.json().c_str()), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
  }

  static GDBusConnection* Connect(const std::string& address) {
    return g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
  }

  void Serve() {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    kwin_ = Connect(address_);
    other_ = Connect(address_);
    node_ = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.kde.kwin.Scripting'>"
        "<method name='loadScript'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
        "<arg type='i' direction='out'/></method><method name='start'/>"
        "<method name='unloadScript'><arg type='s' direction='in'/>"
        "<arg type='b' direction='out'/></method></interface>"
        "<interface name='org.kde.kwin.Script'><method name='run'/><method name='stop'/>"
        "</interface></node>",
        nullptr);
    static const GDBusInterfaceVTable kTable = {&FakeKWin::OnCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(kwin_, "/Scripting", node_->interfaces[0], &kTable, this,
                                      nullptr, nullptr);
    GVariant* owned = g_dbus_connection_call_sync(
        kwin_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.kde.KWin", 4u), nullptr, G_DBUS_CALL_FLAGS_NONE,
        -1, nullptr, nullptr);
    if (owned != nullptr)
      g_variant_unref(owned);
    ready_ = true;
    while (!stop_)
      g_main_context_iteration(context_, TRUE);
    g_object_unref(kwin_);
    g_object_unref(other_);
    g_dbus_node_info_unref(node_);
    g_main_context_pop_thread_default(context_);
  }

  static constexpr int kScriptId = 7;
  Options options_;
  TestBus bus_;
  std::string address_;
  std::thread thread_;
  GMainContext* context_ = nullptr;
  GDBusConnection* kwin_ = nullptr;
  GDBusConnection* other_ = nullptr;
  GDBusNodeInfo* node_ = nullptr;
  std::atomic<bool> ready_{false};
  std::atomic<bool> stop_{false};
  nlohmann::json settings_ = nlohmann::json::object();
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

std::string KWinList(std::uint32_t own_pid, const std::string& native = "Native") {
  return R"([{"id": "{a}", "pid": 4321, "caption": ")" + native +
         R"(", "x11": false, "normal": true},
             {"id": "{b}", "pid": 4322, "caption": "X", "x11": true, "normal": true},
             {"id": "{c}", "pid": )" +
         std::to_string(own_pid) + R"(, "caption": "Splash", "x11": false, "normal": true},
             {"id": "{d}", "pid": 4321, "caption": "Deep", "x11": false, "dialog": true}])";
}

FakeKWin::Report Good() {
  return {true, false, [] { return KWinList(OwnPid()); }};
}

struct KWinCase {
  const char* name;
  FakeKWin::Options kwin;
  const char* result;  // of every look: the titles seen, or the failure's text
  int runs;            // of the script's own object
  int unloads;         // of our plugin: at Close, and when a load was answered late
};

void PrintTo(const KWinCase& c, std::ostream* out) {
  *out << c.name;
}

class KWinSource : public ::testing::TestWithParam<KWinCase> {};

TEST_P(KWinSource, LoadsOneScriptRunsItAloneAndUnloadsItAtTheEnd) {
  const KWinCase& c = GetParam();
  FakeKWin kwin(c.kwin);
  setenv("DBUS_SESSION_BUS_ADDRESS", kwin.address().c_str(), 1);
  const auto start = std::chrono::steady_clock::now();
  std::string why_not;
  const std::unique_ptr<KWinWindows> source = KWinWindows::Connect(1, &why_not);
  ASSERT_NE(source, nullptr) << why_not;
  std::chrono::milliseconds took{};
  std::string result = Look(*source, &took);
  EXPECT_NE(result.find(c.result), std::string::npos) << result;
  EXPECT_LE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(kKWinAnswerMs) + 200ms)
      << "connecting and the first look share one bound";
  // Later looks ask KWin nothing; a late load answer is seen meanwhile.
  std::this_thread::sleep_for(1000ms);
  const int calls = kwin.calls("loadScript") + kwin.calls("run");
  for (int i = 0; i < 3; ++i) {
    result = Look(*source, &took);
    EXPECT_NE(result.find(c.result), std::string::npos) << result;
    EXPECT_LT(took, 500ms) << "a later look waits for nothing";
  }
  // A new report replaces the list.
  if (c.result == std::string("Native;X(x11);Deep;")) {
    kwin.Send({true, false, [] { return KWinList(OwnPid(), "Renamed"); }});
    for (int i = 0; i < 100 && result != "Renamed;X(x11);Deep;"; ++i) {
      std::this_thread::sleep_for(10ms);
      result = Look(*source, &took);
    }
    EXPECT_EQ(result, "Renamed;X(x11);Deep;");
  }
  EXPECT_EQ(kwin.calls("loadScript") + kwin.calls("run"), calls);
  const auto closing = std::chrono::steady_clock::now();
  source->Close();
  EXPECT_LE(std::chrono::steady_clock::now() - closing,
            std::chrono::milliseconds(kKWinUnloadMs) + 100ms);
  for (int i = 0; i < 100 && kwin.calls("unloadScript") < c.unloads; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(kwin.calls("loadScript"), 1);
  EXPECT_EQ(kwin.calls("start"), 0) << "Scripting.start runs every script KWin has";
  EXPECT_EQ(kwin.calls("run"), c.runs);
  EXPECT_EQ(kwin.calls("unloadScript"), c.unloads) << "a script of ours left in KWin";
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

FakeKWin::Report Json(const char* json, bool from_kwin = true, bool stale = false) {
  return {from_kwin, stale, [json] { return std::string(json); }};
}

INSTANTIATE_TEST_SUITE_P(
    Answers,
    KWinSource,
    ::testing::Values(
        KWinCase{"kwin_5_27", {false, 0, {Good()}}, "Native;X(x11);Deep;", 1, 1},
        KWinCase{"kwin_6", {true, 0, {Good()}}, "Native;X(x11);Deep;", 1, 1},
        KWinCase{"another_peer",
                 {false, 0, {Json(R"([{"id": "1", "pid": 4321, "caption": "Intruder"}])", false)}},
                 "no report within 2000 ms",
                 1,
                 1},
        KWinCase{"stale_token",
                 {true, 0, {Json(R"([{"id": "1", "pid": 4321, "caption": "Stale"}])", true, true)}},
                 "no report within 2000 ms",
                 1,
                 1},
        KWinCase{"mute",
                 {false, -1, {Good()}},
                 "KWin did not load the script within 2000 ms",
                 0,
                 1},
        KWinCase{"late_load",
                 {true, 2500, {Good()}},
                 "KWin did not load the script within 2000 ms",
                 0,
                 2},
        KWinCase{"silent", {false, 0, {}}, "no report within 2000 ms", 1, 1},
        KWinCase{"garbage", {false, 0, {Json("<html>")}}, "the report is no list of windows", 1, 1},
        KWinCase{"no_list",
                 {false, 0, {Json(R"({"id": 1})")}},
                 "the report is no list of windows",
                 1,
                 1},
        KWinCase{
            "wrong_types",
            {false, 0, {Json(R"([{"id": 5, "pid": "x"}, {"id": "{a}", "pid": 4321, "caption": 7,
                            "x11": "yes", "normal": null, "dialog": [], "skipTaskbar": {}},
                           {"id": "{b}", "pid": -3}, {"id": "{c}", "pid": 4321.5},
                           {"id": "{d}", "pid": 4321, "caption": "Deep", "normal": true}])")}},
            ";Deep;",
            1,
            1},
        KWinCase{"huge",
                 {false, 0, {{true, false, [] { return std::string(kKWinReportBytes + 1, ' '); }}}},
                 "a report larger than the 16777216 bytes allowed",
                 1,
                 1}),
    [](const ::testing::TestParamInfo<KWinCase>& info) { return std::string(info.param.name); });

// What reaches the report reader can only have come from KWin, yet is read
// with care: bytes that are not UTF-8 are replaced, and nothing but the
// source's own failure leaves it.
TEST(KWinReport, IsReadWithCare) {
  const std::pair<std::string, const char*> cases[] = {
      {"[{\"id\": \"a\", \"pid\": 4321, \"caption\": \"Caf\xe9\"}]", "Caf\xEF\xBF\xBD;"},
      {"[{\"id\": \"a\", \"pid\": 4321, \"caption\": \"\xF0\x9F\x98\"}]", "\xEF\xBF\xBD;"},
      {"[{\"id\": \"a\", \"pid\": 4321, \"caption\": \"\\ud800\"}]", "no list of windows"},
      {"[5]", "no list of windows"},
      {"\xff[]", "no list of windows"},
      {"", "no list of windows"},
      {std::string(100000, '[') + std::string(100000, ']'), "no list of windows"}};
  for (const auto& [json, expected] : cases) {
    std::string result;
    try {
      for (const auto& [id, facts] : ParseKWinReport(json, OwnPid()))
        result += facts.title + ";";
    } catch (const RuntimeError& failure) {
      result = failure.description();
    } catch (...) {
      ADD_FAILURE() << "another exception for " << json;
    }
    EXPECT_NE(result.find(expected), std::string::npos) << json << ": " << result;
  }
}

TEST(KWinSource, NoBusOrNoKWinOnItIsNoSource) {
  const TestBus without_kwin;
  for (const auto& [address, why] :
       {std::pair<std::string, const char*>{"unix:path=/nonexistent/bus",
                                            "the session bus cannot be reached"},
        std::pair<std::string, const char*>{without_kwin.address(),
                                            "KWin is not on the session bus"}}) {
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    std::string why_not;
    EXPECT_EQ(KWinWindows::Connect(1, &why_not), nullptr) << address;
    EXPECT_NE(why_not.find(why), std::string::npos) << why_not;
  }
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// The session decides which sources there are, and what the window wait is
// told where none can tell.
struct SessionCase {
  const char* name;
  std::vector<std::pair<const char*, const char*>> environment;  // value nullptr: unset
  const char* gap;                                               // "" : it can tell
};

void PrintTo(const SessionCase& c, std::ostream* out) {
  *out << c.name;
}

// The variables given, set (an empty value: unset) for as long as it lives,
// with a Linux backend made under them.
class ScopedSession {
 public:
  explicit ScopedSession(const std::vector<std::pair<const char*, std::string>>& variables) {
    for (const auto& [name, value] : variables) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
      if (value.empty())
        unsetenv(name);
      else
        setenv(name, value.c_str(), 1);
    }
    platform_ = std::make_unique<LinuxPlatform>(1, argv_);
    InstallPlatform(platform_.get());
  }
  ~ScopedSession() {
    InstallPlatform(nullptr);
    platform_.reset();
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  ScopedSession(const ScopedSession&) = delete;
  ScopedSession& operator=(const ScopedSession&) = delete;
  LinuxPlatform& platform() { return *platform_; }

 private:
  char name_[8] = "session";
  char* argv_[2] = {name_, nullptr};
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  std::unique_ptr<LinuxPlatform> platform_;
};

class Session : public ::testing::TestWithParam<SessionCase> {};

TEST_P(Session, ChoosesItsSourcesAndSaysWhereItCannotTell) {
  // A window is listed only for a process that runs.
  ChildProcess app("sleep", {"30"}, {});
  const auto app_pid = static_cast<std::uint32_t>(app.pid());
  FakeSway sway([app_pid] { return FakeSway::Message(4, Tree(OwnPid(), 3, app_pid)); });
  std::vector<std::pair<const char*, std::string>> variables;
  for (const auto& [name, value] : GetParam().environment)
    variables.emplace_back(name, value == nullptr                ? std::string()
                                 : std::string(value) == "@sway" ? sway.path()
                                                                 : std::string(value));
  ScopedSession session(variables);
  LinuxPlatform& platform = session.platform();
  EXPECT_EQ(platform.WindowListGap().find(GetParam().gap), 0u) << platform.WindowListGap();
  if (*GetParam().gap == '\0') {
    EXPECT_EQ(platform.WindowListGap(), "");
    const ProcList list = funGetWindowList(0, true);
    EXPECT_TRUE(std::any_of(list.begin(), list.end(),
                            [](const ProcInfo& p) { return p.strWindowTitle == "Native"; }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds,
    Session,
    ::testing::Values(
        SessionCase{"sway",
                    {{"WAYLAND_DISPLAY", "wayland-9"}, {"SWAYSOCK", "@sway"}, {"I3SOCK", nullptr}},
                    ""},
        SessionCase{"i3_compatible",
                    {{"WAYLAND_DISPLAY", "wayland-9"}, {"SWAYSOCK", nullptr}, {"I3SOCK", "@sway"}},
                    ""},
        SessionCase{"wayland_that_tells_nothing",
                    {{"WAYLAND_DISPLAY", "wayland-9"},
                     {"SWAYSOCK", nullptr},
                     {"I3SOCK", nullptr},
                     {"XDG_CURRENT_DESKTOP", "GNOME"},
                     {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}},
                    "the Wayland compositor of GNOME tells no client whose window is whose"},
        SessionCase{"wayland_not_supported",
                    {{"WAYLAND_DISPLAY", "wayland-9"},
                     {"SWAYSOCK", nullptr},
                     {"I3SOCK", nullptr},
                     {"XDG_CURRENT_DESKTOP", "Hyprland"}},
                    "the Wayland compositor of Hyprland is not supported: the launcher cannot ask "
                    "it whose window is whose"},
        // The compositor is named by the kernel from its socket: here, this test.
        SessionCase{"compositor_named_by_its_socket",
                    {{"WAYLAND_DISPLAY", "@sway"},
                     {"SWAYSOCK", nullptr},
                     {"I3SOCK", nullptr},
                     {"XDG_CURRENT_DESKTOP", nullptr}},
                    "the Wayland compositor linux_snapshot_ is not supported"},
        SessionCase{"no_display",
                    {{"WAYLAND_DISPLAY", nullptr}, {"DISPLAY", nullptr}},
                    "no X display is named (DISPLAY is unset)"},
        SessionCase{"display_gone",
                    {{"WAYLAND_DISPLAY", nullptr}, {"DISPLAY", ":31999"}},
                    "the X display :31999 cannot be reached"}),
    [](const ::testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

// A compositor that answers garbage costs its windows for that look, never the
// start: the list is taken, and the trouble is told for the wait to weigh.
TEST(SessionTrouble, CompositorThatFailsIsTroubleNotAFailure) {
  FakeSway sway([] { return FakeSway::Message(4, "{\"nodes\": [1"); });
  ScopedSession session(
      {{"WAYLAND_DISPLAY", "wayland-9"}, {"SWAYSOCK", sway.path()}, {"DISPLAY", ""}});
  EXPECT_EQ(session.platform().WindowListGap(), "");
  const ProcList list = funGetWindowList(0, true);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].lngPID, 0);
  EXPECT_EQ(session.platform().WindowListTrouble(), "sway IPC: the reply is no window tree");
}

// Under a compositor that tells nothing, an X11 client is told by the kernel
// from its sockets, and only then is the X server asked: a process that holds
// no X connection never makes the launcher open one.
TEST(SessionTrouble, X11ClientIsSeenWhereTheCompositorTellsNothing) {
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "runs under xvfb-run";
  // An X11 client that stays, and a process that is none.
  ChildProcess client("xev", {"-root"}, testing::EnvironmentWith({}, {}));
  ChildProcess other("sleep", {"30"}, {});
  {
    ScopedSession session({{"WAYLAND_DISPLAY", "wayland-9"},
                           {"SWAYSOCK", ""},
                           {"I3SOCK", ""},
                           {"XDG_CURRENT_DESKTOP", "GNOME"},
                           {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"}});
    LinuxPlatform& platform = session.platform();
    EXPECT_NE(platform.WindowListGap(), "");
    EXPECT_FALSE(platform.WindowListSeesProcess(static_cast<std::uint32_t>(other.pid())));
    funGetWindowList(0, true);
    EXPECT_EQ(platform.x11().error_count(), 0u);
    EXPECT_FALSE(platform.x11().connected_yet()) << "the X server was asked for nothing";
    EXPECT_TRUE(testing::WaitUntil(
        [&] { return platform.WindowListSeesProcess(static_cast<std::uint32_t>(client.pid())); },
        10s));
    EXPECT_TRUE(platform.x11().connected_yet());
  }
}

// While a look waits for a slow compositor the toolkit's main context runs on
// (the splash stays drawn), and the splash's own handlers wait: a tick that
// came meanwhile is delivered by the next pump, after the look.
TEST(SlowCompositor, TheSplashStaysDrawnAndItsHandlersWaitForTheLook) {
  FakeSway sway([] { return FakeSway::Message(4, Tree(OwnPid())); }, {.delay = 600ms});
  ScopedSession session({{"WAYLAND_DISPLAY", "wayland-9"}, {"SWAYSOCK", sway.path()}});
  struct Events : FormEvents {
    void OnActivate() override {}
    void OnClick() override {}
    void OnTimer(int) override { ticks.push_back(std::chrono::steady_clock::now()); }
    std::vector<std::chrono::steady_clock::time_point> ticks;
  } events;
  std::unique_ptr<Form> form = session.platform().CreateForm(events);
  form->SetBounds(1500, 1500, 3000, 1500);
  form->Show();
  form->SetTimer(1, 20, true);
  session.platform().PumpEvents();
  int idles = 0;
  g_idle_add(
      [](gpointer data) -> gboolean {
        ++*static_cast<int*>(data);
        return G_SOURCE_REMOVE;
      },
      &idles);
  const auto start = std::chrono::steady_clock::now();
  funGetWindowList(0, true);
  const auto end = std::chrono::steady_clock::now();
  EXPECT_GE(end - start, 600ms) << "the look did not wait for the compositor";
  EXPECT_EQ(idles, 1) << "the main context stood still during the look";
  EXPECT_TRUE(std::none_of(events.ticks.begin(), events.ticks.end(), [&](auto t) {
    return t > start && t < end;
  })) << "a handler ran inside the look";
  const std::size_t before = events.ticks.size();
  session.platform().PumpEvents();
  EXPECT_GT(events.ticks.size(), before) << "the tick held during the look was lost";
  form->Close();
}

}  // namespace
}  // namespace launcher
