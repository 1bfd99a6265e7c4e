// Windows as KWin tells them: one small script (linux_kwin_windows.js), loaded
// over the session bus once per launcher run at the first look and run on its
// own, reports every window with its process as windows come and go. A look
// then only takes the newest report, without a round trip. The script is
// unloaded as the launcher ends. No permission is asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/linux_posix.h"
#include "platform/linux/linux_window_source.h"

namespace launcher {

class SessionBus;

// The first look's bound, from connecting to the bus to the script's first
// report; how long unloading may take as the launcher ends; and how large a
// report may be.
inline constexpr int kKWinAnswerMs = 2000;
inline constexpr int kKWinUnloadMs = 500;
inline constexpr std::size_t kKWinReportBytes = std::size_t{16} * 1024 * 1024;

class KWinWindows : public WindowSource {
 public:
  // A source on this session's bus where KWin is there; nullptr, with the
  // reason in `why_not`, where it is not (no bus, no KWin, no GIO).
  static std::unique_ptr<KWinWindows> Connect(unsigned number, std::string* why_not);
  ~KWinWindows() override;
  KWinWindows(const KWinWindows&) = delete;
  KWinWindows& operator=(const KWinWindows&) = delete;

  std::vector<WindowHandle> TopLevel() override;
  const WindowFacts& Facts(WindowHandle window) override;
  bool ToldX11() const override { return told_x11_; }
  void Close() override;

 private:
  enum class Script {
    kNone,       // not asked for yet
    kLoading,    // loadScript sent
    kRunning,    // loaded; run sent to its object, or running
    kAbandoned,  // loaded too late, or not run: unloaded
    kFailed,     // KWin refused it
  };

  KWinWindows(std::unique_ptr<SessionBus> bus, unsigned number, int budget_ms);
  void Load();
  void Run(int id, bool newer_path);
  void Unload();
  // Takes one report from the script: false refuses it (a stale token).
  bool Take(const char* token, const char* json);
  void Parse();

  std::unique_ptr<SessionBus> bus_;
  unsigned number_;
  int budget_ms_;  // what is left of the first look's bound after connecting
  std::string token_;
  std::string plugin_;
  UniqueFd script_fd_;
  Script script_ = Script::kNone;
  std::string failure_;                // why every look fails from now on
  std::optional<std::string> report_;  // the newest, not yet read
  std::string report_failure_;
  bool told_x11_ = false;  // the newest report named every X11 window's process         // why the
                           // newest report cannot be read
  bool reported_ = false;
  // KWin names a window by a UUID; handles number them as they are first seen.
  std::unordered_map<std::string, std::uint32_t> numbers_;
  std::unordered_map<WindowHandle, WindowFacts> windows_;
  std::vector<WindowHandle> handles_;
};

// The windows of a report: those with a process, but not those of
// `own_pid`, each with KWin's id for it; X11 ones (under Xwayland) have
// `x11` set. Raises 57 for what is no such report; captions that are not
// UTF-8 are read with U+FFFD for the bytes that are not.
std::vector<std::pair<std::string, WindowFacts>> ParseKWinReport(const std::string& json,
                                                                 std::uint32_t own_pid);

}  // namespace launcher
