// Wayland windows as sway tells them through its IPC (the i3-compatible one,
// at $SWAYSOCK or $I3SOCK): one GET_TREE per look, whose reply gives each
// window's process id, X11 windows under Xwayland included.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/linux_window_source.h"

namespace launcher {

// How long one look may take, from connecting to the last byte of the reply,
// and how large the reply may be.
inline constexpr int kSwayAnswerMs = 2000;
inline constexpr std::size_t kSwayReplyBytes = std::size_t{16} * 1024 * 1024;

class SwayWindows : public WindowSource {
 public:
  // `socket_path`: the IPC socket; `number`: this source's number in handles.
  SwayWindows(std::string socket_path, unsigned number);

  // The IPC socket the session names, empty when it names none that exists.
  static std::string SessionSocket();

  std::vector<WindowHandle> TopLevel() override;
  const WindowFacts& Facts(WindowHandle window) override;
  bool ToldX11() const override { return told_x11_; }
  const std::string& Incomplete() const override { return incomplete_; }

 private:
  // The tree as JSON text; raises 57 when sway does not answer in time, or
  // answers what is not a reply to it, or too much.
  std::string AskTree() const;

  std::string path_;
  unsigned number_;
  std::unordered_map<WindowHandle, WindowFacts> windows_;
  bool told_x11_ = false;
  std::string incomplete_;
};

// What a GET_TREE reply tells: its views with a process, but not those of
// `own_pid`, by sway's id; and whether an X11 view was listed without one.
struct SwayTree {
  std::vector<std::pair<std::uint32_t, WindowFacts>> windows;
  bool untold_x11 = false;
  bool misshapen = false;  // a view had a field of an unexpected type
};

// Reads any bytes: invalid UTF-8 is replaced, fields of unexpected types are
// left out. Raises 57 for what is no tree at all.
SwayTree ParseSwayTree(const std::string& json, std::uint32_t own_pid);

}  // namespace launcher
