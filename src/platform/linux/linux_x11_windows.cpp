#include "platform/linux/linux_x11_windows.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include "platform/linux/linux_display_lost.h"
#include "platform/linux/linux_posix.h"
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

// A connection being made. XCB reads the server's setup reply with a blocking
// read and offers no way to bound it (xcb_connect_to_fd sends the setup request
// itself, so the socket is not readable before it waits), and the atoms and
// the resource extension's version are asked for right after: all of it runs
// on a thread of its own, which a look waits for until its deadline and then
// leaves running. A later look takes the connection once it is made; one made
// after its owner went is closed by the thread.
struct X11Windows::Opening {
  std::mutex mutex;
  std::condition_variable made;
  bool done = false;
  bool abandoned = false;
  xcb_connection_t* connection = nullptr;
  std::array<std::uint32_t, kAtomCount> atoms{};
  bool has_xres = false;
  std::vector<std::uint32_t> roots;
};

X11Windows::~X11Windows() {
  if (opening_) {
    const std::lock_guard lock(opening_->mutex);
    opening_->abandoned = true;
    if (opening_->connection != nullptr)
      xcb_->xcb_disconnect(opening_->connection);
  }
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
      behind_.reset();
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

void X11Windows::BeginLook() {
  left_ms_ = kX11AnswerMs;
  late_ = false;
}

void X11Windows::Late() {
  if (late_)
    return;
  late_ = true;
  // One text for every late look: it is traced once.
  trouble_ = "the X display " + display_name_ + " did not answer within " +
             std::to_string(kX11AnswerMs) + " ms";
}

bool X11Windows::Poll(unsigned sequence, void** reply) {
  const XcbLibrary& x = *xcb_;
  x.xcb_flush(connection_);
  const int fd = x.xcb_get_file_descriptor(connection_);
  for (;;) {
    xcb_generic_error_t* error = nullptr;
    // Also true, with nothing, once the connection has broken.
    if (x.xcb_poll_for_reply(connection_, sequence, reply, &error) != 0) {
      if (error != nullptr) {
        ++errors_;
        std::free(error);
      }
      return true;
    }
    const std::int64_t left = deadline_ - MonotonicNowMs();
    if (left <= 0)
      return false;
    pollfd readable{fd, POLLIN, 0};
    poll(&readable, 1, static_cast<int>(left));
  }
}

void* X11Windows::Await(unsigned sequence) {
  void* reply = nullptr;
  if (!late_ && Poll(sequence, &reply))
    return reply;
  Late();
  // XCB frees a discarded reply when it comes, so that it cannot be taken for
  // a later one. The last request of the look is kept to tell when the server
  // has answered all of it (see CaughtUp()).
  if (!behind_ || static_cast<int>(sequence - *behind_) > 0) {
    if (behind_)
      xcb_->xcb_discard_reply(connection_, *behind_);
    behind_ = sequence;
  } else {
    xcb_->xcb_discard_reply(connection_, sequence);
  }
  return nullptr;
}

bool X11Windows::CaughtUp() {
  if (!behind_)
    return true;
  void* reply = nullptr;
  if (late_ || !Poll(*behind_, &reply)) {
    Late();
    return false;
  }
  std::free(reply);
  behind_.reset();
  return true;
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
    const char* display = std::getenv("DISPLAY");
    display_name_ = display != nullptr ? display : "";
    auto opening = std::make_shared<Opening>();
    try {
      std::thread(Open, opening, xcb_, res_, display_name_).detach();
    } catch (const std::system_error&) {
      tried_ = false;
      throw RuntimeError(kErrOutOfMemory,
                         DescribeError(kErrOutOfMemory) +
                             " (no thread to connect to the X display " + display_name_ + " with)",
                         kProjectSource);
    }
    opening_ = std::move(opening);
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0)
      host_ = x11::ShortHostName(host);
  }
  if (opening_) {
    std::unique_lock lock(opening_->mutex);
    const std::int64_t left = deadline_ - MonotonicNowMs();
    if (!opening_->made.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(0, left)),
                                 [this] { return opening_->done; })) {
      Late();
      return nullptr;
    }
    connection_ = opening_->connection;
    opening_->connection = nullptr;
    atoms_ = opening_->atoms;
    has_xres_ = opening_->has_xres;
    roots_ = std::move(opening_->roots);
    lock.unlock();
    opening_.reset();
    // The display the splash was shown on has gone, whenever this first
    // look happens to come: that is a lost display, not a session without one.
    if (connection_ == nullptr && DisplayInUse(display_name_))
      ReportDisplayLost("the connection to the X display " + display_name_ +
                        " was lost (it cannot be reached any more)");
  }
  return connection_ == nullptr || Lost() ? nullptr : connection_;
}

void X11Windows::Open(const std::shared_ptr<Opening>& opening,
                      const XcbLibrary* xcb,
                      const XcbResLibrary* res,
                      const std::string& display) {
  const XcbLibrary& x = *xcb;
  // The name read on the launcher's thread: this one reads no environment
  // but for XCB's own authorization file.
  xcb_connection_t* connection = x.xcb_connect(display.c_str(), nullptr);
  if (x.xcb_connection_has_error(connection) != 0) {
    x.xcb_disconnect(connection);
    connection = nullptr;
  }
  std::array<std::uint32_t, kAtomCount> atoms{};
  bool has_xres = false;
  std::vector<std::uint32_t> roots;
  if (connection != nullptr) {
    if (res != nullptr)
      x.xcb_prefetch_extension_data(connection, res->xcb_res_id);
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
        atoms[i] = reply->atom;
    }
    // Client ids with pids came with version 1.2 of the extension.
    const xcb_query_extension_reply_t* extension =
        res != nullptr ? x.xcb_get_extension_data(connection, res->xcb_res_id) : nullptr;
    if (extension != nullptr && extension->present) {
      const Owned<xcb_res_query_version_reply_t> version(res->xcb_res_query_version_reply(
          connection, res->xcb_res_query_version(connection, 1, 2), nullptr));
      has_xres = version && (version->server_major > 1 ||
                             (version->server_major == 1 && version->server_minor >= 2));
    }
    for (auto it = x.xcb_setup_roots_iterator(x.xcb_get_setup(connection)); it.rem > 0;
         x.xcb_screen_next(&it))
      roots.push_back(it.data->root);
  }
  const std::lock_guard lock(opening->mutex);
  if (opening->abandoned) {
    if (connection != nullptr)
      x.xcb_disconnect(connection);
    return;
  }
  opening->connection = connection;
  opening->atoms = atoms;
  opening->has_xres = has_xres;
  opening->roots = std::move(roots);
  opening->done = true;
  opening->made.notify_all();
}

bool X11Windows::connected() {
  BeginLook();
  const Answers answers(*this);
  return Connection() != nullptr;
}

bool X11Windows::IsRoot(std::uint32_t window) const {
  return std::find(roots_.begin(), roots_.end(), window) != roots_.end();
}

std::vector<WindowHandle> X11Windows::TopLevel() {
  BeginLook();
  trouble_.clear();
  const Answers answers(*this);
  std::vector<WindowHandle> windows;
  xcb_connection_t* c = Connection();
  if (c == nullptr || !CaughtUp())
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
    const PropertyReply reply(Reply<xcb_get_property_reply_t>(check[i].sequence));
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
      const PropertyReply reply(Reply<xcb_get_property_reply_t>(self[i].sequence));
      const auto items = Items(x, reply.get(), XCB_ATOM_WINDOW);
      managed = items.size() == 1 && reply->bytes_after == 0 && items[0] == checked[i];
    }
    PropertyReply clients(Reply<xcb_get_property_reply_t>(list[i].sequence));
    const Owned<xcb_query_tree_reply_t> children(Reply<xcb_query_tree_reply_t>(tree[i].sequence));
    // A manager that keeps no client list (weston's) put its clients in
    // frames of its own: they are the children of the root's children.
    const bool framed = managed && clients && clients->type == XCB_ATOM_NONE;
    if (managed && !framed && clients && clients->bytes_after > 0) {
      // A manager reparents clients into frames of its own; its list names the clients.
      const std::uint32_t longs =
          std::min((static_cast<std::uint32_t>(x.xcb_get_property_value_length(clients.get())) +
                    clients->bytes_after + 3) /
                       4,
                   x11::kMostListLongs);
      clients.reset(Reply<xcb_get_property_reply_t>(
          x.xcb_get_property(c, 0, roots_[i], atoms_[kClientList], XCB_ATOM_WINDOW, 0, longs)
              .sequence));
    }
    const xcb_window_t* ids =
        children && !late_ ? x.xcb_query_tree_children(children.get()) : nullptr;
    const int count_ids = children && !late_ ? x.xcb_query_tree_children_length(children.get()) : 0;
    std::vector<unsigned> frames;
    for (int k = 0; framed && k < count_ids; ++k)
      frames.push_back(x.xcb_query_tree(c, ids[k]).sequence);
    for (int k = 0; framed && k < count_ids; ++k) {
      const Owned<xcb_query_tree_reply_t> inner(
          Reply<xcb_query_tree_reply_t>(frames[static_cast<std::size_t>(k)]));
      windows.push_back(ids[k]);
      if (inner) {
        const xcb_window_t* clients_of = x.xcb_query_tree_children(inner.get());
        windows.insert(windows.end(), clients_of,
                       clients_of + x.xcb_query_tree_children_length(inner.get()));
      }
    }
    // A screen not answered in full is left out: its children alone would
    // name a manager's frames, not its clients.
    if (late_)
      continue;
    if (framed) {
      // Listed above.
    } else if (managed) {
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
  // Asked during a batch, the question is part of the batch's look and shares
  // its bound; asked outside any, it is a look of its own.
  if (!batching_)
    BeginLook();
  Fetch({window}, single_);
  return single_.front();
}

const WindowFacts& X11Windows::Facts(WindowHandle window) {
  return FactsOf(window);
}

}  // namespace launcher
