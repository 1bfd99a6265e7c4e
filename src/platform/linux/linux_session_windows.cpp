#include "platform/linux/linux_session_windows.h"

#include <cstdlib>

#include "platform/linux/linux_kwin_windows.h"
#include "platform/linux/linux_sway_windows.h"
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

void FailSource(const std::string& source, const std::string& what) {
  throw RuntimeError(kErrDeviceIo, DescribeError(kErrDeviceIo) + " (" + source + ": " + what + ")",
                     kProjectSource);
}

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

SessionWindows::SessionWindows() = default;
SessionWindows::~SessionWindows() = default;

void SessionWindows::Choose() {
  chosen_ = true;
  // Wayland clients are known to the compositor alone.
  const bool wayland = !Environment("WAYLAND_DISPLAY").empty();
  std::string why_not;
  if (wayland) {
    const auto number = static_cast<unsigned>(compositors_.size());
    if (std::string socket = SwayWindows::SessionSocket(); !socket.empty())
      compositors_.push_back(std::make_unique<SwayWindows>(std::move(socket), number));
    else if (auto kwin = KWinWindows::Connect(number, &why_not))
      compositors_.push_back(std::move(kwin));
  }
  if (!compositors_.empty())
    return;
  if (wayland) {
    const std::string desktop = Environment("XDG_CURRENT_DESKTOP");
    gap_ = "the Wayland compositor" + (desktop.empty() ? "" : " of " + desktop) +
           " tells no client whose window is whose";
    // Where KWin could have been asked but was not reached, say why.
    if (why_not.find("KWin is not") == std::string::npos)
      gap_ += "; " + why_not;
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
  std::vector<WindowHandle> windows = x11_.TopLevel();
  const auto x11_count = static_cast<std::ptrdiff_t>(windows.size());
  for (const auto& source : compositors_) {
    const std::vector<WindowHandle> more = source->TopLevel();
    windows.insert(windows.end(), more.begin(), more.end());
  }
  const X11Windows::Batch batch(x11_, {windows.begin(), windows.begin() + x11_count});
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

void SessionWindows::Close() {
  for (const auto& source : compositors_)
    source->Close();
}

}  // namespace launcher
