#include "platform/linux/linux_session_windows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <sys/socket.h>
#include <sys/un.h>

#include "platform/linux/linux_form.h"
#include "platform/linux/linux_kwin_windows.h"
#include "platform/linux/linux_posix.h"
#include "platform/linux/linux_sway_windows.h"
#include "platform/linux/linux_x11_clients.h"
#include "platform/linux/linux_xcb.h"
#include "platform/runtime_error.h"

namespace launcher {

std::string CutText(std::string text, std::size_t limit) {
  if (text.size() <= limit)
    return text;
  std::size_t end = limit;
  // Back over the continuation bytes of the character that would be split.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u)
    --end;
  text.resize(end);
  return text;
}

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned char low = 0x80;   // the second byte's range, which rules out
    unsigned char high = 0xBF;  // overlong forms, surrogates and past U+10FFFF
    if (lead != 0 && lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    std::size_t good = length == 0 ? 0 : 1;
    while (good > 0 && good < length && i + good < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + good]);
      if (next < (good == 1 ? low : 0x80) || next > (good == 1 ? high : 0xBF))
        break;
      ++good;
    }
    if (length != 0 && good == length) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      // A lead byte and the continuation bytes that fit it are one bad
      // character, as the Unicode standard advises.
      out += "\xEF\xBF\xBD";
      i += std::max<std::size_t>(good, 1);
    }
  }
  return out;
}

void KeepDrawingWhileWaiting() {
  KeepFormsDrawn();
}

void FailSource(const std::string& source, const std::string& what) {
  throw RuntimeError(kErrDeviceIo, DescribeError(kErrDeviceIo) + " (" + source + ": " + what + ")",
                     kProjectSource);
}

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The name of the program that serves the Wayland display `display` (a name
// under XDG_RUNTIME_DIR, or a path), told by the kernel from its socket rather
// than guessed from variables any program may set; empty when unknown.
std::string CompositorProgram(const std::string& display) {
  const std::string path =
      display.front() == '/' ? display : Environment("XDG_RUNTIME_DIR") + "/" + display;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return {};
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  ucred peer{};
  socklen_t size = sizeof peer;
  // Connected and left at once, without a word of the protocol.
  if (!socket.valid() ||
      connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid <= 0)
    return {};
  std::ifstream comm("/proc/" + std::to_string(peer.pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

}  // namespace

SessionWindows::SessionWindows() = default;
SessionWindows::~SessionWindows() = default;

void SessionWindows::Choose() {
  chosen_ = true;
  // Reaching a compositor may wait for it, as a look does.
  const HeldFormEvents held;
  // Wayland clients are known to the compositor alone.
  const std::string wayland_display = Environment("WAYLAND_DISPLAY");
  if (!wayland_display.empty()) {
    const std::string compositor = CompositorProgram(wayland_display);
    const std::string desktop = Environment("XDG_CURRENT_DESKTOP");
    const auto number = static_cast<unsigned>(compositors_.size());
    std::string why_not;
    // Plasma starts KWin through a wrapper that holds the socket
    // ("kwin_wayland_wrapper", cut to 15 characters by the kernel).
    const bool kwin = compositor.rfind("kwin_wayland", 0) == 0 ||
                      (compositor.empty() && desktop.find("KDE") != std::string::npos);
    if (std::string socket = SwayWindows::SessionSocket(); !socket.empty())
      compositors_.push_back(std::make_unique<SwayWindows>(std::move(socket), number));
    else if (auto source = kwin ? KWinWindows::Connect(number, &why_not) : nullptr)
      compositors_.push_back(std::move(source));
    if (!compositors_.empty())
      return;
    wayland_gap_ = true;
    const std::string name = !desktop.empty()      ? "of " + desktop
                             : !compositor.empty() ? compositor
                                                   : "";
    const std::string which = "the Wayland compositor" + (name.empty() ? "" : " " + name);
    if (kwin) {
      gap_ = "KWin cannot be asked whose window is whose: " + why_not;
    } else if (desktop.find("GNOME") != std::string::npos || compositor == "gnome-shell" ||
               compositor == "weston") {
      gap_ = which + " tells no client whose window is whose";
    } else {
      // It may well tell (Hyprland, niri and wayfire do, each its own way),
      // but the launcher has no way to ask it.
      gap_ = which + " is not supported: the launcher cannot ask it whose window is whose";
    }
    return;
  }
  // An X11 session: the X server knows every window, where it can be reached.
  if (LoadLibrary<XcbLibrary>() == nullptr) {
    gap_ = "XCB cannot be loaded: " + LibraryError<XcbLibrary>();
  } else if (!x11_.connected() && x11_.Trouble().empty()) {
    // A server that has not answered yet (Trouble()) is no missing one.
    const std::string display = Environment("DISPLAY");
    gap_ = display.empty() ? "no X display is named (DISPLAY is unset)"
                           : "the X display " + display + " cannot be reached";
  }
}

bool SessionWindows::SeesProcess(std::uint32_t pid) {
  if (!chosen_)
    Choose();
  if (gap_.empty() || x11_allowed_)
    return gap_.empty() || x11_.connected();
  if (!wayland_gap_ || !IsX11Client(pid, X11SocketPath(Environment("DISPLAY"))))
    return false;
  x11_allowed_ = true;
  return x11_.connected();
}

const std::string& SessionWindows::Gap() {
  if (!chosen_)
    Choose();
  return gap_;
}

void SessionWindows::Enumerate(const std::function<bool(WindowHandle)>& visit) {
  if (!chosen_)
    Choose();
  // Every list is taken before the first visit: the visitor's own questions
  // may not disturb them, and a failing source fails before any window counts.
  trouble_.clear();
  // Whatever a source waits for, the splash stays drawn, and nothing of the
  // launcher's own runs inside the snapshot.
  const HeldFormEvents held;
  std::vector<WindowHandle> told;
  // The X server is asked unless every compositor just told its X11 windows.
  bool ask_x11 = compositors_.empty() && (!wayland_gap_ || x11_allowed_);
  for (const auto& source : compositors_) {
    // Whatever another program answers, it cannot fail the start: its
    // windows are unknown for this look, and the X server is asked for its own.
    try {
      const std::vector<WindowHandle> more = source->TopLevel();
      told.insert(told.end(), more.begin(), more.end());
      ask_x11 = ask_x11 || !source->ToldX11() || !source->Incomplete().empty();
      if (!source->Incomplete().empty())
        NoteTrouble(source->Incomplete());
    } catch (const RuntimeError& failure) {
      NoteTrouble(failure.description());
      ask_x11 = true;
    } catch (const std::exception& failure) {
      NoteTrouble(failure.what());
      ask_x11 = true;
    }
  }
  std::vector<WindowHandle> windows;
  asked_x11_ = ask_x11;
  if (ask_x11)
    windows = x11_.TopLevel();
  const X11Windows::Batch batch(x11_, windows);
  windows.insert(windows.end(), told.begin(), told.end());
  for (const WindowHandle window : windows) {
    if (!visit(window))
      return;
  }
}

const WindowFacts& SessionWindows::Facts(WindowHandle window) {
  if ((window & kCompositorTag) == 0)
    return x11_.Facts(window);
  static const WindowFacts kNone;
  const std::size_t number = (window & ~kCompositorTag) >> kSourceShift;
  return number < compositors_.size() ? compositors_[number]->Facts(window) : kNone;
}

std::string SessionWindows::Trouble() const {
  const std::string& x11 = asked_x11_ ? x11_.Trouble() : std::string();
  return trouble_.empty() ? x11 : x11.empty() ? trouble_ : trouble_ + "; " + x11;
}

void SessionWindows::NoteTrouble(const std::string& description) {
  // The source's own words, without the error's name around them.
  const std::size_t open = description.find(" (");
  std::string reason = open != std::string::npos && description.back() == ')'
                           ? description.substr(open + 2, description.size() - open - 3)
                           : description;
  if (!trouble_.empty())
    trouble_ += "; ";
  trouble_ += reason;
}

void SessionWindows::Close() {
  for (const auto& source : compositors_)
    source->Close();
}

}  // namespace launcher
