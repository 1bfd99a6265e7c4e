// A connection of the launcher's own to the session bus (GIO, loaded at run
// time), for a compositor that is asked over D-Bus. Its answers and the calls
// it takes are dispatched in a main context of its own, only while the
// launcher asks for them (RunUntil, Dispatch): never by the launcher's event
// loop, whose timers must not run inside a window snapshot.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/linux/linux_gio.h"
#include "platform/linux/linux_glib.h"

namespace launcher {

class SessionBus {
 public:
  // What a call's answer gives: the reply (nullptr on failure, then `error` is
  // the D-Bus error's name, the same for the same kind of failure).
  using Answer = std::function<void(GVariant* reply, const std::string& error)>;
  // Takes one call's arguments; false refuses it.
  using Handler = std::function<bool(GVariant* parameters)>;

  // Connected before the deadline, or nullptr with the reason in `why_not`
  // (no GIO, no session bus, none in time). Never starts a bus.
  static std::unique_ptr<SessionBus> Connect(std::int64_t deadline, std::string* why_not);
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  const GlibLibrary& glib() const { return glib_; }
  // This connection's unique name: what a peer calls back.
  std::string UniqueName() const;
  bool closed() const;

  // The unique name that owns `name` now; empty, with the error, if none
  // answers by the deadline.
  std::string NameOwner(const char* name, std::int64_t deadline, std::string* error);

  // Sends a call (consuming a floating `args`) and returns at once; `answer`
  // runs when the reply is dispatched, or not at all once this is gone.
  void Call(const char* destination,
            const char* path,
            const char* interface,
            const char* method,
            GVariant* args,
            const char* reply_type,
            int timeout_ms,
            Answer answer);
  // A call that waits for its reply until the deadline, dispatching nothing
  // else meanwhile; nullptr with the D-Bus error's name in `error`.
  GVariant* CallAndWait(const char* destination,
                        const char* path,
                        const char* interface,
                        const char* method,
                        GVariant* args,
                        const char* reply_type,
                        std::int64_t deadline,
                        std::string* error);

  // Takes the calls of the one interface in `introspection` at `path` from
  // the peer of unique name `peer` alone: any other caller, and any call the
  // handler refuses, is answered AccessDenied. From then on peer_gone() tells
  // whether the peer has left the bus.
  bool Serve(const char* path,
             const char* introspection,
             const std::string& peer,
             Handler handler,
             std::string* error);
  bool peer_gone() const { return peer_gone_; }

  // Runs this connection's events until `done` holds or the deadline passes;
  // whether `done` holds.
  bool RunUntil(const std::function<bool()>& done, std::int64_t deadline);
  // Runs the events that are ready, without waiting for more.
  void Dispatch();

 private:
  struct Pending;
  SessionBus(const GlibLibrary& glib, const GobjectLibrary& gobject, const GioLibrary& gio);
  static void OnCall(GDBusConnection* connection,
                     const gchar* sender,
                     const gchar* path,
                     const gchar* interface,
                     const gchar* method,
                     GVariant* parameters,
                     GDBusMethodInvocation* invocation,
                     gpointer data);
  static void OnCallDone(GObject* source, GAsyncResult* result, gpointer data);
  static void OnPeerChanged(GDBusConnection* connection,
                            const gchar* sender,
                            const gchar* path,
                            const gchar* interface,
                            const gchar* signal,
                            GVariant* parameters,
                            gpointer data);

  const GlibLibrary& glib_;
  const GobjectLibrary& gobject_;
  const GioLibrary& gio_;
  GMainContext* context_ = nullptr;
  GDBusConnection* connection_ = nullptr;
  // Cancels the calls still unanswered when this goes.
  GCancellable* cancellable_ = nullptr;
  int unanswered_ = 0;
  bool closing_ = false;
  GDBusNodeInfo* node_ = nullptr;
  guint registration_ = 0;
  guint peer_watch_ = 0;
  std::string peer_;
  Handler handler_;
  bool peer_gone_ = false;
};

}  // namespace launcher
