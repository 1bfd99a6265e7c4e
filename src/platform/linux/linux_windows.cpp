#include "platform/linux/linux_windows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include <unistd.h>

#include "platform/linux/linux_compound_text.h"
#include "platform/linux/linux_display_lost.h"
#include "platform/linux/linux_xcb.h"

namespace launcher {

namespace {

// In AtomId order.
constexpr const char* kAtomNames[] = {
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST",
    "_NET_WM_NAME",
    "UTF8_STRING",
    "COMPOUND_TEXT",
    "WM_STATE",
    "_NET_WM_STATE",
    "_NET_WM_STATE_SKIP_TASKBAR",
    "_NET_WM_PID",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_SPLASH",
};

// WM_STATE values (ICCCM).
constexpr std::uint32_t kNormalState = 1;
constexpr std::uint32_t kIconicState = 3;

// How much of a property the first request asks for, in 32-bit units. The
// server sends only what there is; a longer property is asked for again whole.
constexpr std::uint32_t kListLongs = 1 << 16;
constexpr std::uint32_t kAtomListLongs = 1024;
constexpr std::uint32_t kTextLongs = 1 << 14;

// Frees what XCB hands out.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;
using PropertyReply = Owned<xcb_get_property_reply_t>;

std::string ShortHostName(std::string name) {
  name.resize(std::strlen(name.c_str()));
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos)
    name.resize(dot);
  return name;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xc0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3f));
    }
  }
  return out;
}

// Text properties may hold several NUL-separated strings; a title is the first.
std::string_view FirstString(std::string_view text) {
  return text.substr(0, std::min(text.size(), text.find('\0')));
}

// The format-32 items of a property of `type`; empty when it is unset or of
// another type or format.
std::vector<std::uint32_t> Items(const XcbLibrary& x,
                                 const xcb_get_property_reply_t* reply,
                                 std::uint32_t type) {
  if (reply == nullptr || reply->type != type || reply->format != 32)
    return {};
  const auto* values = static_cast<const std::uint32_t*>(x.xcb_get_property_value(reply));
  return {values, values + x.xcb_get_property_value_length(reply) / 4};
}

// The bytes of a format-8 property of any type; nothing when it is unset or
// not text.
std::optional<std::string_view> Text(const XcbLibrary& x, const xcb_get_property_reply_t* reply) {
  if (reply == nullptr || reply->type == XCB_ATOM_NONE || reply->format != 8)
    return std::nullopt;
  return std::string_view(static_cast<const char*>(x.xcb_get_property_value(reply)),
                          static_cast<std::size_t>(x.xcb_get_property_value_length(reply)));
}

// The cookies of one window's requests.
struct Requests {
  xcb_get_window_attributes_cookie_t attributes;
  xcb_get_property_cookie_t wm_state;
  xcb_get_property_cookie_t type;
  xcb_get_property_cookie_t state;
  xcb_get_property_cookie_t transient_for;
  xcb_get_property_cookie_t net_name;
  xcb_get_property_cookie_t name;
  xcb_res_query_client_ids_cookie_t client;
  xcb_get_property_cookie_t pid;
  xcb_get_property_cookie_t machine;
};

}  // namespace

X11Windows::~X11Windows() {
  if (connection_ != nullptr)
    xcb_->xcb_disconnect(connection_);
}

bool X11Windows::Lost() {
  if (!lost_ && connection_ != nullptr) {
    const int error = xcb_->xcb_connection_has_error(connection_);
    if (error != 0) {
      lost_ = true;
      // The display has gone (or the connection broke for good): no window
      // can be seen on it any more, and the launcher's own went with it.
      ReportDisplayLost("the connection to the X display " + display_name_ +
                        " was lost (XCB error " + std::to_string(error) + ")");
    }
  }
  return lost_;
}

xcb_connection_t* X11Windows::Connection() {
  if (!tried_) {
    tried_ = true;
    // No display (DISPLAY unset, or no server there, or no XCB to reach it
    // with) is no failure: the window list is then empty and the launcher
    // goes by processes alone.
    xcb_ = LoadLibrary<XcbLibrary>();
    if (xcb_ == nullptr)
      return nullptr;
    res_ = LoadLibrary<XcbResLibrary>();
    const XcbLibrary& x = *xcb_;
    xcb_connection_t* connection = x.xcb_connect(nullptr, nullptr);
    if (x.xcb_connection_has_error(connection) != 0) {
      x.xcb_disconnect(connection);
      return nullptr;
    }
    connection_ = connection;
    const char* display = std::getenv("DISPLAY");
    display_name_ = display != nullptr ? display : "";
    if (res_ != nullptr)
      x.xcb_prefetch_extension_data(connection, res_->xcb_res_id);
    static_assert(std::size(kAtomNames) == kAtomCount);
    std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies;
    for (std::size_t i = 0; i < kAtomCount; ++i) {
      cookies[i] = x.xcb_intern_atom(
          connection, 0, static_cast<std::uint16_t>(std::strlen(kAtomNames[i])), kAtomNames[i]);
    }
    for (std::size_t i = 0; i < kAtomCount; ++i) {
      const Owned<xcb_intern_atom_reply_t> reply(
          x.xcb_intern_atom_reply(connection, cookies[i], nullptr));
      if (reply)
        atoms_[i] = reply->atom;
    }
    // Client ids with pids came with version 1.2 of the extension.
    const xcb_query_extension_reply_t* extension =
        res_ != nullptr ? x.xcb_get_extension_data(connection, res_->xcb_res_id) : nullptr;
    if (extension != nullptr && extension->present) {
      const Owned<xcb_res_query_version_reply_t> version(res_->xcb_res_query_version_reply(
          connection, res_->xcb_res_query_version(connection, 1, 2), nullptr));
      has_xres_ = version && (version->server_major > 1 ||
                              (version->server_major == 1 && version->server_minor >= 2));
    }
    for (auto it = x.xcb_setup_roots_iterator(x.xcb_get_setup(connection)); it.rem > 0;
         x.xcb_screen_next(&it))
      roots_.push_back(it.data->root);
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
      host_ = ShortHostName(host);
  }
  return connection_ == nullptr || Lost() ? nullptr : connection_;
}

bool X11Windows::IsRoot(std::uint32_t window) const {
  return std::find(roots_.begin(), roots_.end(), window) != roots_.end();
}

std::vector<WindowHandle> X11Windows::TopLevel() {
  std::vector<WindowHandle> windows;
  xcb_connection_t* c = Connection();
  if (c == nullptr)
    return windows;
  const XcbLibrary& x = *xcb_;

  // A manager names a check window that names itself; a stale one left by a
  // manager that has gone is missing or names nothing. Whether a manager
  // runs, its client list and the root's children are all asked at once.
  const std::size_t count = roots_.size();
  std::vector<xcb_get_property_cookie_t> check(count), list(count), self(count);
  std::vector<xcb_query_tree_cookie_t> tree(count);
  for (std::size_t i = 0; i < count; ++i) {
    check[i] = x.xcb_get_property(c, 0, roots_[i], atoms_[kSupportingWmCheck], XCB_ATOM_WINDOW, 0,
                                  kAtomListLongs);
    list[i] =
        x.xcb_get_property(c, 0, roots_[i], atoms_[kClientList], XCB_ATOM_WINDOW, 0, kListLongs);
    tree[i] = x.xcb_query_tree(c, roots_[i]);
  }
  std::vector<bool> asked_self(count, false);
  std::vector<std::uint32_t> checked(count, XCB_WINDOW_NONE);
  for (std::size_t i = 0; i < count; ++i) {
    const PropertyReply reply(x.xcb_get_property_reply(c, check[i], nullptr));
    const auto items = Items(x, reply.get(), XCB_ATOM_WINDOW);
    if (items.size() == 1 && reply->bytes_after == 0) {
      checked[i] = items[0];
      self[i] = x.xcb_get_property(c, 0, items[0], atoms_[kSupportingWmCheck], XCB_ATOM_WINDOW, 0,
                                   kAtomListLongs);
      asked_self[i] = true;
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    bool managed = false;
    if (asked_self[i]) {
      xcb_generic_error_t* error = nullptr;
      const PropertyReply reply(x.xcb_get_property_reply(c, self[i], &error));
      if (error != nullptr) {
        ++errors_;
        std::free(error);
      }
      const auto items = Items(x, reply.get(), XCB_ATOM_WINDOW);
      managed = items.size() == 1 && reply->bytes_after == 0 && items[0] == checked[i];
    }
    PropertyReply clients(x.xcb_get_property_reply(c, list[i], nullptr));
    const Owned<xcb_query_tree_reply_t> children(x.xcb_query_tree_reply(c, tree[i], nullptr));
    if (managed) {
      // A manager reparents clients into frames of its own; its list names the clients.
      if (clients && clients->bytes_after > 0) {
        const std::uint32_t longs =
            (static_cast<std::uint32_t>(x.xcb_get_property_value_length(clients.get())) +
             clients->bytes_after + 3) /
            4;
        clients.reset(x.xcb_get_property_reply(
            c, x.xcb_get_property(c, 0, roots_[i], atoms_[kClientList], XCB_ATOM_WINDOW, 0, longs),
            nullptr));
      }
      for (const std::uint32_t window : Items(x, clients.get(), XCB_ATOM_WINDOW))
        windows.push_back(window);
    } else if (children) {
      const xcb_window_t* ids = x.xcb_query_tree_children(children.get());
      windows.insert(windows.end(), ids, ids + x.xcb_query_tree_children_length(children.get()));
    }
  }
  if (Lost())
    windows.clear();
  return windows;
}

X11Windows::Batch::Batch(X11Windows& owner, std::vector<WindowHandle> windows)
    : owner_(owner), active_(!owner.batching_) {
  // An enumeration inside another one keeps the outer batch.
  if (!active_)
    return;
  owner_.batching_ = true;
  owner_.batch_fetched_ = false;
  owner_.batch_windows_ = std::move(windows);
  owner_.batch_facts_.clear();
  owner_.batch_hint_ = 0;
}

X11Windows::Batch::~Batch() {
  if (!active_)
    return;
  owner_.batching_ = false;
  owner_.batch_fetched_ = false;
  owner_.batch_windows_.clear();
  owner_.batch_facts_.clear();
}

const X11Windows::Facts& X11Windows::FactsOf(WindowHandle window) {
  if (batching_) {
    // The questions come window by window in listed order: look where the
    // last one was first.
    std::size_t index = batch_hint_;
    if (index >= batch_windows_.size() || batch_windows_[index] != window)
      index = static_cast<std::size_t>(
          std::find(batch_windows_.begin(), batch_windows_.end(), window) - batch_windows_.begin());
    if (index < batch_windows_.size()) {
      if (!batch_fetched_) {
        batch_fetched_ = true;
        Fetch(batch_windows_, batch_facts_);
      }
      batch_hint_ = index;
      return batch_facts_[index];
    }
  }
  Fetch({window}, single_);
  return single_.front();
}

// Every request about every window goes out before the first reply is read;
// only what the first replies cannot settle (a property longer than asked for,
// a window whose creator the server does not know) takes a second round.
void X11Windows::Fetch(const std::vector<WindowHandle>& windows, std::vector<Facts>& facts) {
  facts.assign(windows.size(), Facts{});
  xcb_connection_t* c = Connection();
  if (c == nullptr)
    return;
  const XcbLibrary& x = *xcb_;

  auto property = [&x, c](xcb_window_t window, std::uint32_t name, std::uint32_t type,
                          std::uint32_t longs) {
    return x.xcb_get_property(c, 0, window, name, type, 0, longs);
  };
  std::vector<Requests> requests(windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const xcb_window_t w = windows[i];
    Requests& r = requests[i];
    r.attributes = x.xcb_get_window_attributes(c, w);
    // Only the first item of these two is ever looked at.
    r.wm_state = property(w, atoms_[kWmState], atoms_[kWmState], 1);
    r.transient_for = property(w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 1);
    r.type = property(w, atoms_[kWindowType], XCB_ATOM_ATOM, kAtomListLongs);
    r.state = property(w, atoms_[kNetWmState], XCB_ATOM_ATOM, kAtomListLongs);
    r.net_name = property(w, atoms_[kWmName], XCB_GET_PROPERTY_TYPE_ANY, kTextLongs);
    r.name = property(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kTextLongs);
    if (has_xres_) {
      const xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
      r.client = res_->xcb_res_query_client_ids(c, 1, &spec);
    } else {
      r.pid = property(w, atoms_[kNetWmPid], XCB_ATOM_CARDINAL, 1);
      r.machine = property(w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, kTextLongs);
    }
  }

  // Windows can vanish while we look at them: their errors are counted, never fatal.
  auto read = [this, &x, c](xcb_get_property_cookie_t cookie) {
    xcb_generic_error_t* error = nullptr;
    PropertyReply reply(x.xcb_get_property_reply(c, cookie, &error));
    if (error != nullptr) {
      ++errors_;
      std::free(error);
    }
    return reply;
  };
  // A text longer than the first request took is asked for again, whole.
  auto whole = [&](xcb_window_t window, std::uint32_t name, PropertyReply reply) {
    if (reply && reply->bytes_after > 0) {
      const std::uint32_t longs =
          (static_cast<std::uint32_t>(x.xcb_get_property_value_length(reply.get())) +
           reply->bytes_after + 3) /
          4;
      reply = read(property(window, name, XCB_GET_PROPERTY_TYPE_ANY, longs));
    }
    return reply;
  };

  std::vector<std::size_t> unknown_creator;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const xcb_window_t w = windows[i];
    Requests& r = requests[i];
    Facts& f = facts[i];

    xcb_generic_error_t* error = nullptr;
    const Owned<xcb_get_window_attributes_reply_t> attributes(
        x.xcb_get_window_attributes_reply(c, r.attributes, &error));
    if (error != nullptr) {
      ++errors_;
      std::free(error);
    }
    const PropertyReply wm_state = read(r.wm_state);
    const PropertyReply transient_for = read(r.transient_for);
    const PropertyReply type = read(r.type);
    const PropertyReply state = read(r.state);
    const PropertyReply net_name = whole(w, atoms_[kWmName], read(r.net_name));
    const PropertyReply name = whole(w, XCB_ATOM_WM_NAME, read(r.name));

    // Visible: mapped, or kept iconified (or on another desktop) by the
    // manager, which is unmapped but still shown as far as its application
    // is concerned, as a minimized window is visible on Windows.
    if (attributes) {
      const auto wm = Items(x, wm_state.get(), atoms_[kWmState]);
      f.visible = attributes->map_state == XCB_MAP_STATE_VIEWABLE ||
                  (!wm.empty() && (wm[0] == kNormalState || wm[0] == kIconicState));
    }

    // Transient for the root means "for the whole group": no owner window.
    const auto owner = Items(x, transient_for.get(), XCB_ATOM_WINDOW);
    if (!owner.empty() && owner[0] != XCB_WINDOW_NONE && !IsRoot(owner[0]))
      f.owner = owner[0];

    // The window's kind as Windows' extended style would tell it:
    // - WS_EX_TOOLWINDOW for windows that no taskbar would show:
    //   override-redirect windows (menus and tooltips that bypass the
    //   manager), the types UTILITY, TOOLBAR, MENU, DROPDOWN_MENU, POPUP_MENU,
    //   TOOLTIP, NOTIFICATION, COMBO, DND, DOCK, DESKTOP and SPLASH, and any
    //   window in state SKIP_TASKBAR;
    // - WS_EX_APPWINDOW for a transient window of type NORMAL or DIALOG (no
    //   type counts as DIALOG for a transient) that is no tool window by the
    //   above: a dialog of the application that stands for it on screen.
    // The first type in the list that we know decides, as the manager would take it.
    if (attributes && attributes->override_redirect)
      f.style |= kExToolWindow;
    for (const std::uint32_t candidate : Items(x, type.get(), XCB_ATOM_ATOM)) {
      const auto known =
          std::find(atoms_.begin() + kTypeNormal, atoms_.begin() + kTypeSplash + 1, candidate);
      if (known == atoms_.begin() + kTypeSplash + 1)
        continue;
      if (candidate != atoms_[kTypeNormal] && candidate != atoms_[kTypeDialog])
        f.style |= kExToolWindow;
      break;
    }
    for (const std::uint32_t s : Items(x, state.get(), XCB_ATOM_ATOM)) {
      if (s == atoms_[kStateSkipTaskbar])
        f.style |= kExToolWindow;
    }
    if ((f.style & kExToolWindow) == 0 && f.owner != 0)
      f.style |= kExAppWindow;

    // The title: _NET_WM_NAME in UTF-8, else WM_NAME in whatever it is in.
    if (const auto modern = Text(x, net_name.get());
        modern && net_name->type == atoms_[kUtf8String])
      f.title = FirstString(*modern);
    if (f.title.empty()) {
      if (const auto legacy = Text(x, name.get())) {
        if (name->type == XCB_ATOM_STRING) {
          f.title = Latin1ToUtf8(FirstString(*legacy));
        } else if (name->type == atoms_[kCompoundText]) {
          // Kept as it is when it cannot be decoded.
          std::optional<std::string> decoded = CompoundTextToUtf8(FirstString(*legacy));
          f.title = decoded ? std::move(*decoded) : std::string(FirstString(*legacy));
        } else {
          f.title = FirstString(*legacy);
        }
      }
    }

    // The server knows the pid of each local client; _NET_WM_PID, which the
    // client sets itself, serves where it does not (an old server, or none
    // for this client).
    if (has_xres_) {
      xcb_generic_error_t* res_error = nullptr;
      const Owned<xcb_res_query_client_ids_reply_t> ids(
          res_->xcb_res_query_client_ids_reply(c, r.client, &res_error));
      if (res_error != nullptr) {
        ++errors_;
        std::free(res_error);
      }
      std::int32_t pid = -1;
      if (ids) {
        for (auto it = res_->xcb_res_query_client_ids_ids_iterator(ids.get());
             it.rem > 0 && pid <= 0; res_->xcb_res_client_id_value_next(&it)) {
          if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
              it.data->length >= 4)
            pid = static_cast<std::int32_t>(*res_->xcb_res_client_id_value_value(it.data));
        }
      }
      if (pid > 0) {
        f.pid = static_cast<std::uint32_t>(pid);
      } else {
        unknown_creator.push_back(i);
        r.pid = property(w, atoms_[kNetWmPid], XCB_ATOM_CARDINAL, 1);
        r.machine = property(w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, kTextLongs);
      }
    } else {
      unknown_creator.push_back(i);
    }
  }

  // The pid a client set itself; one set by a client on another machine names
  // no process of ours.
  for (const std::size_t i : unknown_creator) {
    const PropertyReply pid = read(requests[i].pid);
    const PropertyReply machine =
        whole(windows[i], XCB_ATOM_WM_CLIENT_MACHINE, read(requests[i].machine));
    const auto value = Items(x, pid.get(), XCB_ATOM_CARDINAL);
    if (value.empty() || value[0] == 0)
      continue;
    if (const auto text = Text(x, machine.get())) {
      const std::string host = ShortHostName(std::string(*text));
      if (!host.empty() && host != host_)
        continue;
    }
    facts[i].pid = value[0];
  }

  if (Lost())
    facts.assign(windows.size(), Facts{});
}

bool X11Windows::IsVisible(WindowHandle window) {
  return FactsOf(window).visible;
}

WindowHandle X11Windows::Owner(WindowHandle window) {
  return FactsOf(window).owner;
}

std::uint32_t X11Windows::ExStyle(WindowHandle window) {
  return FactsOf(window).style;
}

std::string X11Windows::Title(WindowHandle window) {
  return FactsOf(window).title;
}

std::uint32_t X11Windows::ProcessId(WindowHandle window) {
  return FactsOf(window).pid;
}

}  // namespace launcher
