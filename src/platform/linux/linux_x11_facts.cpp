// The questions about each X11 window: its state, kind, title and creator.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/linux/linux_compound_text.h"
#include "platform/linux/linux_x11_replies.h"
#include "platform/linux/linux_x11_windows.h"

namespace launcher {

using x11::Items;
using x11::Owned;
using x11::PropertyReply;
using x11::Text;

namespace {

// WM_STATE values (ICCCM).
constexpr std::uint32_t kNormalState = 1;
constexpr std::uint32_t kIconicState = 3;

// Titles are read up to kWindowTextBytes, and a little more, so that one cut
// by the request is cut again at a character's boundary.
constexpr std::uint32_t kTextLongs = kWindowTextBytes / 4 + 1;

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

// Every request about every window goes out before the first reply is read;
// only what the first replies cannot settle (a window whose creator the server
// does not know) takes a second round. No text is asked for beyond its bound.
void X11Windows::Fetch(const std::vector<WindowHandle>& windows, std::vector<WindowFacts>& facts) {
  facts.assign(windows.size(), WindowFacts{});
  const Answers answers(*this);
  xcb_connection_t* c = Connection();
  if (c == nullptr || !CaughtUp())
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
    r.type = property(w, atoms_[kWindowType], XCB_ATOM_ATOM, x11::kAtomListLongs);
    r.state = property(w, atoms_[kNetWmState], XCB_ATOM_ATOM, x11::kAtomListLongs);
    r.net_name = property(w, atoms_[kWmName], XCB_GET_PROPERTY_TYPE_ANY, kTextLongs);
    r.name = property(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kTextLongs);
    if (has_xres_) {
      const xcb_res_client_id_spec_t spec{w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
      r.client = res_->xcb_res_query_client_ids(c, 1, &spec);
    } else {
      r.pid = property(w, atoms_[kNetWmPid], XCB_ATOM_CARDINAL, 1);
      r.machine =
          property(w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, x11::kMachineLongs);
    }
  }

  // Windows can vanish while we look at them: their errors are counted, never
  // fatal. A window not answered in full within the look's bound has the
  // facts of none, and the rest of its answers are thrown away.
  auto read = [this](xcb_get_property_cookie_t cookie) {
    return PropertyReply(Reply<xcb_get_property_reply_t>(cookie.sequence));
  };
  std::vector<std::size_t> unknown_creator;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const xcb_window_t w = windows[i];
    Requests& r = requests[i];
    WindowFacts& f = facts[i];

    const Owned<xcb_get_window_attributes_reply_t> attributes(
        Reply<xcb_get_window_attributes_reply_t>(r.attributes.sequence));
    const PropertyReply wm_state = read(r.wm_state);
    const PropertyReply transient_for = read(r.transient_for);
    const PropertyReply type = read(r.type);
    const PropertyReply state = read(r.state);
    const PropertyReply net_name = read(r.net_name);
    const PropertyReply name = read(r.name);
    const Owned<xcb_res_query_client_ids_reply_t> ids(
        has_xres_ ? Reply<xcb_res_query_client_ids_reply_t>(r.client.sequence) : nullptr);
    if (late_) {
      // The creator's answers, asked already, are thrown away below.
      if (!has_xres_)
        unknown_creator.push_back(i);
      continue;
    }

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
    // A Latin-1 title grows in UTF-8; a title cut by the request may end in
    // half a character.
    f.title = CutText(std::move(f.title));

    // The server knows the pid of each local client; _NET_WM_PID, which the
    // client sets itself, serves where it does not (an old server, or none
    // for this client).
    if (has_xres_) {
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
        r.machine =
            property(w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, x11::kMachineLongs);
      }
    } else {
      unknown_creator.push_back(i);
    }
  }

  // The pid a client set itself; one set by a client on another machine names
  // no process of ours.
  for (const std::size_t i : unknown_creator) {
    const PropertyReply pid = read(requests[i].pid);
    const PropertyReply machine = read(requests[i].machine);
    if (late_) {
      facts[i] = WindowFacts{};
      continue;
    }
    const auto value = Items(x, pid.get(), XCB_ATOM_CARDINAL);
    if (value.empty() || value[0] == 0)
      continue;
    if (const auto text = Text(x, machine.get())) {
      // Longer than any host name: not ours.
      if (machine->bytes_after > 0)
        continue;
      const std::string host = x11::ShortHostName(std::string(*text));
      if (!host.empty() && host != host_)
        continue;
    }
    facts[i].pid = value[0];
  }

  if (Lost())
    facts.assign(windows.size(), WindowFacts{});
}

}  // namespace launcher
