#include "platform/linux/linux_dbus.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/linux/linux_posix.h"
#include "platform/linux/linux_window_source.h"

namespace launcher {

namespace {

constexpr char kAccessDenied[] = "org.freedesktop.DBus.Error.AccessDenied";
// The most one Dispatch() runs events for.
constexpr int kDispatchMs = 50;

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

// The D-Bus name of a failure where the peer gave one, else GIO's message
// kind: never a message, whose words may change from call to call.
std::string ErrorName(const GioLibrary& gio, const GlibLibrary& glib, GError* error) {
  if (error == nullptr)
    return "no reply";
  std::string name = "no reply";
  if (gchar* remote = gio.g_dbus_error_get_remote_error(error)) {
    name = remote;
    glib.g_free(remote);
  } else if (error->domain == gio.g_io_error_quark()) {
    name = error->code == G_IO_ERROR_TIMED_OUT   ? "no reply in time"
           : error->code == G_IO_ERROR_CLOSED    ? "the connection closed"
           : error->code == G_IO_ERROR_CANCELLED ? "cancelled"
                                                 : "no reply";
  }
  return name;
}

}  // namespace

struct SessionBus::Pending {
  SessionBus* bus;
  Answer answer;
};

SessionBus::SessionBus(const GlibLibrary& glib,
                       const GobjectLibrary& gobject,
                       const GioLibrary& gio)
    : glib_(glib), gobject_(gobject), gio_(gio) {}

SessionBus::~SessionBus() {
  closing_ = true;
  if (peer_watch_ != 0)
    gio_.g_dbus_connection_signal_unsubscribe(connection_, peer_watch_);
  if (registration_ != 0)
    gio_.g_dbus_connection_unregister_object(connection_, registration_);
  // The calls still unanswered end cancelled: their answers are freed here,
  // or never come (the context is not run again) and stay small.
  if (cancellable_ != nullptr) {
    gio_.g_cancellable_cancel(cancellable_);
    RunUntil([this] { return unanswered_ == 0; }, MonotonicNowMs() + 100);
    gobject_.g_object_unref(cancellable_);
  }
  if (connection_ != nullptr)
    gobject_.g_object_unref(connection_);
  if (node_ != nullptr)
    gio_.g_dbus_node_info_unref(node_);
  if (context_ != nullptr)
    glib_.g_main_context_unref(context_);
}

std::unique_ptr<SessionBus> SessionBus::Connect(std::int64_t deadline, std::string* why_not) {
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
  std::unique_ptr<SessionBus> bus(new SessionBus(*glib, *gobject, *gio));
  bus->context_ = glib->g_main_context_new();
  bus->cancellable_ = gio->g_cancellable_new();

  struct Connecting {
    const GioLibrary* gio;
    const GlibLibrary* glib;
    GDBusConnection* connection = nullptr;
    std::string error;
    bool done = false;
  };
  // Left to its callback if that never comes: the context then never runs it.
  auto* connecting = new Connecting{gio, glib, nullptr, {}, false};
  GCancellable* cancellable = gio->g_cancellable_new();
  glib->g_main_context_push_thread_default(bus->context_);
  gio->g_dbus_connection_new_for_address(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, cancellable,
      [](GObject* /*source*/, GAsyncResult* result, gpointer data) {
        auto* c = static_cast<Connecting*>(data);
        GError* error = nullptr;
        c->connection = c->gio->g_dbus_connection_new_for_address_finish(result, &error);
        if (c->connection == nullptr) {
          c->error = error != nullptr ? error->message : "no connection";
          c->glib->g_clear_error(&error);
        }
        c->done = true;
      },
      connecting);
  glib->g_main_context_pop_thread_default(bus->context_);
  if (!bus->RunUntil([connecting] { return connecting->done; }, deadline)) {
    gio->g_cancellable_cancel(cancellable);
    bus->RunUntil([connecting] { return connecting->done; }, MonotonicNowMs() + 100);
  }
  gobject->g_object_unref(cancellable);
  if (!connecting->done) {
    *why_not = "the session bus did not answer in time";
    return nullptr;
  }
  bus->connection_ = connecting->connection;
  if (bus->connection_ == nullptr)
    *why_not = "the session bus cannot be reached: " + connecting->error;
  delete connecting;
  return bus->connection_ != nullptr ? std::move(bus) : nullptr;
}

std::string SessionBus::UniqueName() const {
  const gchar* name = gio_.g_dbus_connection_get_unique_name(connection_);
  return name != nullptr ? name : "";
}

bool SessionBus::closed() const {
  return gio_.g_dbus_connection_is_closed(connection_) != FALSE;
}

std::string SessionBus::NameOwner(const char* name, std::int64_t deadline, std::string* error) {
  GVariant* owner =
      CallAndWait("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "GetNameOwner", glib_.g_variant_new("(s)", name), "(s)", deadline, error);
  if (owner == nullptr)
    return {};
  const gchar* unique = nullptr;
  glib_.g_variant_get(owner, "(&s)", &unique);
  std::string result = unique;
  glib_.g_variant_unref(owner);
  return result;
}

void SessionBus::Call(const char* destination,
                      const char* path,
                      const char* interface,
                      const char* method,
                      GVariant* args,
                      const char* reply_type,
                      int timeout_ms,
                      Answer answer) {
  ++unanswered_;
  // The answer is dispatched in the context that is the thread's default now.
  glib_.g_main_context_push_thread_default(context_);
  gio_.g_dbus_connection_call(connection_, destination, path, interface, method, args,
                              reinterpret_cast<const GVariantType*>(reply_type),
                              G_DBUS_CALL_FLAGS_NO_AUTO_START, std::max(1, timeout_ms),
                              cancellable_, &SessionBus::OnCallDone,
                              new Pending{this, std::move(answer)});
  glib_.g_main_context_pop_thread_default(context_);
}

void SessionBus::OnCallDone(GObject* /*source*/, GAsyncResult* result, gpointer data) {
  const std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
  SessionBus& bus = *pending->bus;
  --bus.unanswered_;
  GError* error = nullptr;
  GVariant* reply = bus.gio_.g_dbus_connection_call_finish(bus.connection_, result, &error);
  const std::string name = reply == nullptr ? ErrorName(bus.gio_, bus.glib_, error) : "";
  bus.glib_.g_clear_error(&error);
  if (!bus.closing_ && pending->answer)
    pending->answer(reply, name);
  if (reply != nullptr)
    bus.glib_.g_variant_unref(reply);
}

GVariant* SessionBus::CallAndWait(const char* destination,
                                  const char* path,
                                  const char* interface,
                                  const char* method,
                                  GVariant* args,
                                  const char* reply_type,
                                  std::int64_t deadline,
                                  std::string* error) {
  GError* failure = nullptr;
  GVariant* reply = gio_.g_dbus_connection_call_sync(
      connection_, destination, path, interface, method, args,
      reinterpret_cast<const GVariantType*>(reply_type), G_DBUS_CALL_FLAGS_NO_AUTO_START,
      static_cast<gint>(std::max<std::int64_t>(1, deadline - MonotonicNowMs())), nullptr, &failure);
  if (reply == nullptr)
    *error = ErrorName(gio_, glib_, failure);
  glib_.g_clear_error(&failure);
  return reply;
}

bool SessionBus::Serve(const char* path,
                       const char* introspection,
                       const std::string& peer,
                       Handler handler,
                       std::string* error) {
  static const GDBusInterfaceVTable kTable = {&SessionBus::OnCall, nullptr, nullptr, {}};
  peer_ = peer;
  handler_ = std::move(handler);
  GError* failure = nullptr;
  node_ = gio_.g_dbus_node_info_new_for_xml(introspection, &failure);
  // Calls and signals are dispatched in the context that is the thread's
  // default as they are registered.
  glib_.g_main_context_push_thread_default(context_);
  if (node_ != nullptr && node_->interfaces != nullptr && node_->interfaces[0] != nullptr)
    registration_ = gio_.g_dbus_connection_register_object(connection_, path, node_->interfaces[0],
                                                           &kTable, this, nullptr, &failure);
  // The bus tells when a unique name leaves it: its owner becomes "".
  if (registration_ != 0)
    peer_watch_ = gio_.g_dbus_connection_signal_subscribe(
        connection_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", peer_.c_str(), G_DBUS_SIGNAL_FLAGS_NONE,
        &SessionBus::OnPeerChanged, this, nullptr);
  glib_.g_main_context_pop_thread_default(context_);
  if (registration_ == 0)
    *error = failure != nullptr ? failure->message : "no interface";
  glib_.g_clear_error(&failure);
  return registration_ != 0;
}

void SessionBus::OnCall(GDBusConnection* /*connection*/,
                        const gchar* sender,
                        const gchar* /*path*/,
                        const gchar* /*interface*/,
                        const gchar* /*method*/,
                        GVariant* parameters,
                        GDBusMethodInvocation* invocation,
                        gpointer data) {
  auto& bus = *static_cast<SessionBus*>(data);
  // GDBus has checked the arguments against the introspection already.
  if (sender != nullptr && bus.peer_ == sender && bus.handler_(parameters))
    bus.gio_.g_dbus_method_invocation_return_value(invocation, nullptr);
  else
    bus.gio_.g_dbus_method_invocation_return_dbus_error(invocation, kAccessDenied, "refused");
}

void SessionBus::OnPeerChanged(GDBusConnection* /*connection*/,
                               const gchar* /*sender*/,
                               const gchar* /*path*/,
                               const gchar* /*interface*/,
                               const gchar* /*signal*/,
                               GVariant* parameters,
                               gpointer data) {
  auto& bus = *static_cast<SessionBus*>(data);
  const gchar* name = nullptr;
  const gchar* old_owner = nullptr;
  const gchar* new_owner = nullptr;
  if (bus.glib_.g_variant_is_of_type(parameters, reinterpret_cast<const GVariantType*>("(sss)")) ==
      FALSE)
    return;
  bus.glib_.g_variant_get(parameters, "(&s&s&s)", &name, &old_owner, &new_owner);
  if (bus.peer_ == name && *new_owner == '\0')
    bus.peer_gone_ = true;
}

bool SessionBus::RunUntil(const std::function<bool()>& done, std::int64_t deadline) {
  while (!done()) {
    const std::int64_t left = deadline - MonotonicNowMs();
    if (left <= 0)
      return false;
    // In slices: the launcher's windows are drawn between them.
    GSource* timeout = glib_.g_timeout_source_new(
        static_cast<guint>(std::min<std::int64_t>(left, kDrawingSliceMs)));
    glib_.g_source_set_callback(
        timeout, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    glib_.g_source_attach(timeout, context_);
    glib_.g_main_context_iteration(context_, TRUE);
    glib_.g_source_destroy(timeout);
    glib_.g_source_unref(timeout);
    KeepDrawingWhileWaiting();
  }
  return true;
}

void SessionBus::Dispatch() {
  // Bounded: a peer that keeps calling cannot keep a pass here.
  const std::int64_t deadline = MonotonicNowMs() + kDispatchMs;
  while (glib_.g_main_context_iteration(context_, FALSE) != FALSE && MonotonicNowMs() < deadline) {
  }
}

}  // namespace launcher
