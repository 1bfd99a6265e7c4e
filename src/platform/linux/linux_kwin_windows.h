// Wayland windows as KWin tells them: a small script, loaded over the session
// bus (org.kde.KWin /Scripting), lists every window with its process and calls
// back with the list. No permission is asked for. X11 windows are left to the
// X11 source.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/linux_window_source.h"

namespace launcher {

// How long one look may take, from loading the script to its answer, and how
// large the answer may be.
inline constexpr int kKWinAnswerMs = 2000;
inline constexpr std::size_t kKWinReportBytes = std::size_t{16} * 1024 * 1024;

class KWinWindows : public WindowSource {
 public:
  // A source on this session's bus where KWin answers there; nullptr, with
  // the reason in `why_not`, where it does not (no bus, no KWin, no GIO).
  static std::unique_ptr<KWinWindows> Connect(unsigned number, std::string* why_not);
  ~KWinWindows() override;
  KWinWindows(const KWinWindows&) = delete;
  KWinWindows& operator=(const KWinWindows&) = delete;

  std::vector<WindowHandle> TopLevel() override;
  const WindowFacts& Facts(WindowHandle window) override;

  struct Bus;

 private:
  KWinWindows(std::unique_ptr<Bus> bus, unsigned number);
  // The script's answer, as JSON; raises 57 when there is none in time.
  std::string AskWindows();

  std::unique_ptr<Bus> bus_;
  unsigned number_;
  unsigned asked_ = 0;
  // KWin names a window by a UUID; handles number them as they are first seen.
  std::unordered_map<std::string, std::uint32_t> numbers_;
  std::unordered_map<WindowHandle, WindowFacts> windows_;
};

// The windows of a script's answer: native (not X11) windows with a process,
// but not those of `own_pid`, each with KWin's id for it. Raises 57 for what
// is no such answer.
std::vector<std::pair<std::string, WindowFacts>> ParseKWinReport(const std::string& json,
                                                                 std::uint32_t own_pid);

}  // namespace launcher
