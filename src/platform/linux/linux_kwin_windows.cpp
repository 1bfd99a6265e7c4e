#include "platform/linux/linux_kwin_windows.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include <nlohmann/json.hpp>

#include "platform/linux/linux_gio.h"
#include "platform/linux/linux_glib.h"
#include "platform/linux/linux_posix.h"
#include "platform/platform.h"
#include "platform/runtime_error.h"

namespace launcher {

namespace {

constexpr char kObjectPath[] = "/org/launcher/WindowReport";
constexpr char kInterface[] = "org.launcher.WindowReport";
constexpr char kIntrospection[] =
    "<node><interface name='org.launcher.WindowReport'><method name='Report'>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "</method></interface></node>";
constexpr int kConnectMs = 2000;

// Lists every window KWin manages, then calls back with the list. KWin 6
// names the list windowList, 5 clientList.
constexpr char kScript[] = R"((function () {
  var list = workspace.windowList ? workspace.windowList() : workspace.clientList();
  var out = [];
  for (var i = 0; i < list.length; ++i) {
    var w = list[i];
    out.push({id: String(w.internalId), pid: w.pid, caption: String(w.caption),
              x11: w.windowId !== undefined && w.windowId !== 0,
              normal: !!w.normalWindow, dialog: !!w.dialog, skipTaskbar: !!w.skipTaskbar});
  }
  callDBus(@BUS@, @PATH@, @INTERFACE@, "Report", @TOKEN@, JSON.stringify(out));
})();
)";

[[noreturn]] void Fail(const std::string& what) {
  FailSource("KWin scripting", what);
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  text.replace(text.find(what), what.size(), with);
  return text;
}

}  // namespace

// The connection to the session bus and what the look under way waits for.
// Its calls are dispatched in a main context of its own, iterated only while
// a look waits: never the launcher's event loop, whose timers must not run
// inside a window snapshot.
struct KWinWindows::Bus {
  const GlibLibrary& glib;
  const GobjectLibrary& gobject;
  const GioLibrary& gio;
  GMainContext* context = nullptr;
  GDBusConnection* connection = nullptr;
  GDBusNodeInfo* node = nullptr;
  guint registration = 0;
  std::string kwin;   // KWin's unique name: only its answers count
  std::string token;  // what the answer of the look under way carries
  bool answered = false;
  std::size_t refused_bytes = 0;  // an answer too large, by its size
  std::string answer;

  Bus(const GlibLibrary& g, const GobjectLibrary& o, const GioLibrary& i)
      : glib(g), gobject(o), gio(i) {}
  ~Bus() {
    if (registration != 0)
      gio.g_dbus_connection_unregister_object(connection, registration);
    if (connection != nullptr)
      gobject.g_object_unref(connection);
    if (node != nullptr)
      gio.g_dbus_node_info_unref(node);
    if (context != nullptr)
      glib.g_main_context_unref(context);
  }
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  // Runs this connection's own events until `done` holds or the deadline passes.
  template <typename Done>
  bool RunUntil(Done done, std::int64_t deadline) {
    while (!done()) {
      const std::int64_t left = deadline - MonotonicNowMs();
      if (left <= 0)
        return false;
      GSource* timeout = glib.g_timeout_source_new(static_cast<guint>(left));
      glib.g_source_set_callback(
          timeout, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
      glib.g_source_attach(timeout, context);
      glib.g_main_context_iteration(context, TRUE);
      glib.g_source_destroy(timeout);
      glib.g_source_unref(timeout);
    }
    return true;
  }

  // A call that waits at most until the deadline; nullptr with the error told.
  GVariant* Call(const char* destination,
                 const char* path,
                 const char* interface,
                 const char* method,
                 GVariant* args,
                 const char* reply_type,
                 std::int64_t deadline,
                 std::string* error) {
    GError* failure = nullptr;
    GVariant* reply = gio.g_dbus_connection_call_sync(
        connection, destination, path, interface, method, args,
        reinterpret_cast<const GVariantType*>(reply_type), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        static_cast<gint>(std::max<std::int64_t>(1, deadline - MonotonicNowMs())), nullptr,
        &failure);
    if (reply == nullptr) {
      *error = failure != nullptr ? failure->message : method;
      glib.g_clear_error(&failure);
    }
    return reply;
  }

  static void OnCall(GDBusConnection* /*connection*/,
                     const gchar* sender,
                     const gchar* /*path*/,
                     const gchar* /*interface*/,
                     const gchar* method,
                     GVariant* parameters,
                     GDBusMethodInvocation* invocation,
                     gpointer data) {
    auto* bus = static_cast<Bus*>(data);
    // The bus has checked the arguments against the introspection: (ss).
    if (sender != nullptr && bus->kwin == sender && std::strcmp(method, "Report") == 0) {
      const gchar* token = nullptr;
      const gchar* json = nullptr;
      bus->glib.g_variant_get(parameters, "(&s&s)", &token, &json);
      if (bus->token == token) {
        const std::size_t size = std::strlen(json);
        if (size > kKWinReportBytes)
          bus->refused_bytes = size;
        else
          bus->answer.assign(json, size);
        bus->answered = true;
      }
    }
    bus->gio.g_dbus_method_invocation_return_value(invocation, nullptr);
  }
};

namespace {

const GDBusInterfaceVTable kReportTable = {&KWinWindows::Bus::OnCall, nullptr, nullptr, {}};

// The session bus's address, without starting one: a launcher never starts
// a bus of its own.
std::string SessionBusAddress(const GioLibrary& gio, const GlibLibrary& glib) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0')
    return address;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0')
    return {};
  const std::string path = std::string(runtime) + "/bus";
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
    return {};
  gchar* escaped = gio.g_dbus_address_escape_value(path.c_str());
  std::string result = std::string("unix:path=") + escaped;
  glib.g_free(escaped);
  return result;
}

}  // namespace

std::unique_ptr<KWinWindows> KWinWindows::Connect(unsigned number, std::string* why_not) {
  const auto* glib = LoadLibrary<GlibLibrary>();
  const auto* gobject = glib != nullptr ? LoadLibrary<GobjectLibrary>() : nullptr;
  const auto* gio = gobject != nullptr ? LoadLibrary<GioLibrary>() : nullptr;
  if (gio == nullptr) {
    *why_not = "GIO cannot be loaded to ask the compositor: " +
               (glib == nullptr ? LibraryError<GlibLibrary>() : LibraryError<GioLibrary>());
    return nullptr;
  }
  const std::string address = SessionBusAddress(*gio, *glib);
  if (address.empty()) {
    *why_not = "no session bus to ask the compositor on";
    return nullptr;
  }
  auto bus = std::make_unique<Bus>(*glib, *gobject, *gio);
  bus->context = glib->g_main_context_new();

  // Made and registered with our context as the thread's default: the
  // connection's answers and calls are then dispatched there.
  struct Pending {
    const GioLibrary* gio;
    const GlibLibrary* glib;
    GDBusConnection* connection = nullptr;
    std::string error;
    bool done = false;
  };
  // Left to its callback if it never comes: the context then never runs it.
  auto* pending = new Pending{gio, glib, nullptr, {}, false};
  glib->g_main_context_push_thread_default(bus->context);
  GCancellable* cancellable = gio->g_cancellable_new();
  gio->g_dbus_connection_new_for_address(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, cancellable,
      [](GObject* /*source*/, GAsyncResult* result, gpointer data) {
        auto* p = static_cast<Pending*>(data);
        GError* error = nullptr;
        p->connection = p->gio->g_dbus_connection_new_for_address_finish(result, &error);
        if (p->connection == nullptr) {
          p->error = error != nullptr ? error->message : "no connection";
          p->glib->g_clear_error(&error);
        }
        p->done = true;
      },
      pending);
  if (!bus->RunUntil([pending] { return pending->done; }, MonotonicNowMs() + kConnectMs)) {
    gio->g_cancellable_cancel(cancellable);
    bus->RunUntil([pending] { return pending->done; }, MonotonicNowMs() + 100);
  }
  gobject->g_object_unref(cancellable);
  const bool connected = pending->done && pending->connection != nullptr;
  if (pending->done) {
    bus->connection = pending->connection;
    if (!connected)
      *why_not = "the session bus cannot be reached: " + pending->error;
    delete pending;
  } else {
    *why_not = "the session bus did not answer within " + std::to_string(kConnectMs) + " ms";
  }
  GError* error = nullptr;
  if (connected) {
    bus->node = gio->g_dbus_node_info_new_for_xml(kIntrospection, &error);
    bus->registration = bus->node == nullptr
                            ? 0
                            : gio->g_dbus_connection_register_object(
                                  bus->connection, kObjectPath, bus->node->interfaces[0],
                                  &kReportTable, bus.get(), nullptr, &error);
    if (bus->registration == 0)
      *why_not = std::string("cannot take the compositor's answers: ") +
                 (error != nullptr ? error->message : "");
    glib->g_clear_error(&error);
  }
  glib->g_main_context_pop_thread_default(bus->context);
  if (bus->registration == 0)
    return nullptr;

  std::string failure;
  GVariant* owner = bus->Call(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
      glib->g_variant_new("(s)", "org.kde.KWin"), "(s)", MonotonicNowMs() + kConnectMs, &failure);
  if (owner == nullptr) {
    *why_not = "KWin is not on the session bus";
    return nullptr;
  }
  const gchar* name = nullptr;
  glib->g_variant_get(owner, "(&s)", &name);
  bus->kwin = name;
  glib->g_variant_unref(owner);
  return std::unique_ptr<KWinWindows>(new KWinWindows(std::move(bus), number));
}

KWinWindows::KWinWindows(std::unique_ptr<Bus> bus, unsigned number)
    : bus_(std::move(bus)), number_(number) {}

KWinWindows::~KWinWindows() = default;

std::string KWinWindows::AskWindows() {
  Bus& bus = *bus_;
  const std::int64_t deadline = MonotonicNowMs() + kKWinAnswerMs;
  bus.token = std::to_string(getpid()) + "-" + std::to_string(++asked_);
  bus.answered = false;
  bus.refused_bytes = 0;
  bus.answer.clear();
  const std::string plugin = "launcher-windows-" + bus.token;
  const auto quoted = [](const std::string& text) { return nlohmann::json(text).dump(); };
  std::string script =
      Replace(kScript, "@BUS@", quoted(bus.gio.g_dbus_connection_get_unique_name(bus.connection)));
  script = Replace(script, "@PATH@", quoted(kObjectPath));
  script = Replace(script, "@INTERFACE@", quoted(kInterface));
  script = Replace(script, "@TOKEN@", quoted(bus.token));

  // KWin reads the script from a path: a file of our own that is in no folder
  // and goes with its descriptor.
  const int fd = memfd_create("launcher-kwin-windows.js", MFD_CLOEXEC);
  if (fd < 0)
    Fail(std::string("cannot hold the script: ") + std::strerror(errno));
  const UniqueFd owner(fd);
  if (write(fd, script.data(), script.size()) != static_cast<ssize_t>(script.size()))
    Fail(std::string("cannot hold the script: ") + std::strerror(errno));
  const std::string path = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd);

  std::string error;
  GVariant* loaded = bus.Call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "loadScript",
                              bus.glib.g_variant_new("(ss)", path.c_str(), plugin.c_str()), "(i)",
                              deadline, &error);
  if (loaded == nullptr)
    Fail("cannot load the script: " + error);
  gint32 id = -1;
  bus.glib.g_variant_get(loaded, "(i)", &id);
  bus.glib.g_variant_unref(loaded);
  if (id < 0)
    Fail("KWin refused the script");
  // Unloaded whatever comes of it, so that no script of ours stays in KWin;
  // without waiting for KWin's word, which a slow KWin would keep the look for.
  struct Unloader {
    Bus& bus;
    const std::string& plugin;
    ~Unloader() {
      bus.gio.g_dbus_connection_call(
          bus.connection, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript",
          bus.glib.g_variant_new("(s)", plugin.c_str()), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
          -1, nullptr, nullptr, nullptr);
    }
  } unloader{bus, plugin};
  GVariant* started = bus.Call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "start",
                               nullptr, nullptr, deadline, &error);
  if (started == nullptr)
    Fail("cannot start the script: " + error);
  bus.glib.g_variant_unref(started);
  if (!bus.RunUntil([&bus] { return bus.answered; }, deadline))
    Fail("no answer within " + std::to_string(kKWinAnswerMs) + " ms");
  if (bus.refused_bytes > 0)
    Fail("an answer of " + std::to_string(bus.refused_bytes) + " bytes, more than the " +
         std::to_string(kKWinReportBytes) + " allowed");
  return std::move(bus.answer);
}

std::vector<std::pair<std::string, WindowFacts>> ParseKWinReport(const std::string& json,
                                                                 std::uint32_t own_pid) {
  const nlohmann::json list = nlohmann::json::parse(json, nullptr, false);
  if (list.is_discarded() || !list.is_array())
    Fail("the answer is no list of windows");
  std::vector<std::pair<std::string, WindowFacts>> windows;
  for (const nlohmann::json& window : list) {
    if (!window.is_object())
      Fail("the answer is no list of windows");
    const auto id = window.find("id");
    const auto pid = window.find("pid");
    if (id == window.end() || !id->is_string() || pid == window.end() || !pid->is_number_unsigned())
      continue;
    // X11 windows under Xwayland: the X11 source tells them.
    if (window.value("x11", false))
      continue;
    const auto process = pid->get<std::uint64_t>();
    if (process == 0 || process > 0xffffffffu || process == own_pid)
      continue;
    WindowFacts facts;
    // Every window KWin manages is shown as far as its application is
    // concerned, a minimized one too.
    facts.visible = true;
    facts.pid = static_cast<std::uint32_t>(process);
    if (window.value("skipTaskbar", false) ||
        (!window.value("normal", false) && !window.value("dialog", false)))
      facts.style = kExToolWindow;
    const auto caption = window.find("caption");
    if (caption != window.end() && caption->is_string())
      facts.title = CutText(caption->get<std::string>());
    windows.emplace_back(id->get<std::string>(), std::move(facts));
  }
  return windows;
}

std::vector<WindowHandle> KWinWindows::TopLevel() {
  windows_.clear();
  std::vector<WindowHandle> handles;
  for (auto& [id, facts] : ParseKWinReport(AskWindows(), static_cast<std::uint32_t>(getpid()))) {
    // Numbers are never reused while the launcher lives; a session that
    // opened more windows than handles can number starts again.
    if (numbers_.size() > kWindowNumberMask)
      numbers_.clear();
    const auto number = numbers_.emplace(id, static_cast<std::uint32_t>(numbers_.size() + 1));
    const WindowHandle handle = CompositorHandle(number_, number.first->second);
    if (windows_.emplace(handle, std::move(facts)).second)
      handles.push_back(handle);
  }
  return handles;
}

const WindowFacts& KWinWindows::Facts(WindowHandle window) {
  static const WindowFacts kNone;
  const auto it = windows_.find(window);
  return it != windows_.end() ? it->second : kNone;
}

}  // namespace launcher
