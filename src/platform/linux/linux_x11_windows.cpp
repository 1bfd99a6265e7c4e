#include "platform/linux/linux_x11_windows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include <unistd.h>

#include "platform/linux/linux_display_lost.h"
#include "platform/linux/linux_x11_replies.h"
#include "platform/runtime_error.h"

namespace launcher {

using x11::Items;
using x11::Owned;
using x11::PropertyReply;

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

}  // namespace

X11Windows::~X11Windows() {
  if (connection_ != nullptr)
    xcb_->xcb_disconnect(connection_);
}

bool X11Windows::Lost() {
  if (!lost_ && connection_ != nullptr) {
    const int error = xcb_->xcb_connection_has_error(connection_);
    if (error == XCB_CONN_CLOSED_MEM_INSUFFICIENT) {
      // Memory ran out under XCB, not the display: a new connection at the
      // next look, and this one fails.
      xcb_->xcb_disconnect(connection_);
      connection_ = nullptr;
      tried_ = false;
      batch_fetched_ = false;
      batch_facts_.clear();
      throw RuntimeError(
          kErrOutOfMemory,
          DescribeError(kErrOutOfMemory) + " (XCB, on the X display " + display_name_ + ")",
          kProjectSource);
    }
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
    if (xcb_ == nullptr)
      xcb_ = LoadLibrary<XcbLibrary>();
    if (xcb_ == nullptr)
      return nullptr;
    res_ = LoadLibrary<XcbResLibrary>();
    const XcbLibrary& x = *xcb_;
    xcb_connection_t* connection = x.xcb_connect(nullptr, nullptr);
    if (x.xcb_connection_has_error(connection) != 0) {
      x.xcb_disconnect(connection);
      // The display the splash was shown on has gone, whenever this first
      // look happens to come: that is a lost display, not a session without one.
      const char* display = std::getenv("DISPLAY");
      if (display != nullptr && DisplayInUse(display))
        ReportDisplayLost(std::string("the connection to the X display ") + display +
                          " was lost (it cannot be reached any more)");
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
    roots_.clear();
    for (auto it = x.xcb_setup_roots_iterator(x.xcb_get_setup(connection)); it.rem > 0;
         x.xcb_screen_next(&it))
      roots_.push_back(it.data->root);
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
      host_ = x11::ShortHostName(host);
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
                                  x11::kAtomListLongs);
    list[i] = x.xcb_get_property(c, 0, roots_[i], atoms_[kClientList], XCB_ATOM_WINDOW, 0,
                                 x11::kListLongs);
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
                                   x11::kAtomListLongs);
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
    if (managed && clients && clients->type == XCB_ATOM_NONE) {
      // A manager that keeps no client list (weston's): its clients are the
      // children of the frames it put them in; what it left alone stays a
      // child of the root.
      const xcb_window_t* ids = children ? x.xcb_query_tree_children(children.get()) : nullptr;
      const int n = children ? x.xcb_query_tree_children_length(children.get()) : 0;
      std::vector<xcb_query_tree_cookie_t> frames(static_cast<std::size_t>(n));
      for (int k = 0; k < n; ++k)
        frames[static_cast<std::size_t>(k)] = x.xcb_query_tree(c, ids[k]);
      for (int k = 0; k < n; ++k) {
        windows.push_back(ids[k]);
        const Owned<xcb_query_tree_reply_t> inner(
            x.xcb_query_tree_reply(c, frames[static_cast<std::size_t>(k)], nullptr));
        if (inner) {
          const xcb_window_t* clients_of = x.xcb_query_tree_children(inner.get());
          windows.insert(windows.end(), clients_of,
                         clients_of + x.xcb_query_tree_children_length(inner.get()));
        }
      }
    } else if (managed) {
      // A manager reparents clients into frames of its own; its list names the clients.
      if (clients && clients->bytes_after > 0) {
        const std::uint32_t longs =
            std::min((static_cast<std::uint32_t>(x.xcb_get_property_value_length(clients.get())) +
                      clients->bytes_after + 3) /
                         4,
                     x11::kMostListLongs);
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

const WindowFacts& X11Windows::FactsOf(WindowHandle window) {
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

const WindowFacts& X11Windows::Facts(WindowHandle window) {
  return FactsOf(window);
}

}  // namespace launcher
