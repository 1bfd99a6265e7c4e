// One place that tells the session's top-level windows and whose they are:
// the X server (X11 programs, also under Xwayland), or a Wayland compositor
// that tells its clients' windows (sway's IPC, KWin's scripting). The backend
// asks every source the session offers (linux_session_windows.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/form.h"

namespace launcher {

// What the window filter asks of a window, as a source sees it.
struct WindowFacts {
  bool visible = false;
  WindowHandle owner = 0;
  std::uint32_t style = 0;  // kExToolWindow, kExAppWindow
  std::string title;
  std::uint32_t pid = 0;
  // An X11 window (under Xwayland) as a compositor told it.
  bool x11 = false;
};

// The most of one text of another program's window that is read, in bytes
// (titles, client machine names): any program can set a title of megabytes,
// and the window list only tells whether a title is empty. A longer text is
// cut at a character's boundary.
inline constexpr std::size_t kWindowTextBytes = std::size_t{64} * 1024;

// `text` cut to at most `limit` bytes without splitting a UTF-8 character.
std::string CutText(std::string text, std::size_t limit = kWindowTextBytes);

// `text` with every byte that is not part of a valid UTF-8 character, and
// every NUL (which ends a text of C, and no JSON text may hold), replaced by
// U+FFFD: other programs' texts (an ICCCM title is Latin-1) are read, not refused.
std::string ValidUtf8(std::string_view text);

// Called while a look waits for another program, at least every
// kDrawingSliceMs: the launcher's windows stay drawn meanwhile.
inline constexpr int kDrawingSliceMs = 50;
void KeepDrawingWhileWaiting();

// Raises 57 (Device I/O error) for a source that failed: "(<source>: <what>)".
[[noreturn]] void FailSource(const std::string& source, const std::string& what);

class WindowSource {
 public:
  virtual ~WindowSource() = default;

  // Lists the source's top-level windows now. Raises a RuntimeError when the
  // source is there but fails, answers garbage or too much, or takes longer
  // than its bound: the window list is then a failing snapshot.
  virtual std::vector<WindowHandle> TopLevel() = 0;
  // The facts of a window, valid until the next question; a window the source
  // does not know (any more) has the facts of none: not visible, no title, no
  // process.
  virtual const WindowFacts& Facts(WindowHandle window) = 0;
  // Leaves nothing of the launcher's behind in the desktop; called once, as
  // the launcher ends. Bounded like a look.
  virtual void Close() {}
  // Whether the last look listed the session's X11 windows too, each with its
  // process: the X server then need not be asked, and an Xwayland that starts
  // on demand is not woken for the window list.
  virtual bool ToldX11() const { return false; }
  // Why the last look, though answered, may have missed windows (a reply
  // partly of unexpected shape); empty when it may not.
  virtual const std::string& Incomplete() const {
    static const std::string kWhole;
    return kWhole;
  }
};

// Handles of compositor windows carry a tag in their top bits: X11 ids never
// set the top three bits, so the two kinds never meet.
inline constexpr WindowHandle kCompositorTag = 0x80000000u;
inline constexpr unsigned kSourceShift = 24;
inline constexpr WindowHandle kWindowNumberMask = (1u << kSourceShift) - 1;

// The handle of window `number` (below 2^24) of compositor source `source` (below 8).
inline WindowHandle CompositorHandle(unsigned source, std::uint32_t number) {
  return kCompositorTag | (static_cast<WindowHandle>(source) << kSourceShift) |
         (number & kWindowNumberMask);
}

}  // namespace launcher
