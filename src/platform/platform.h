// The services the launcher's logic takes from the operating system and the
// runtime. Everything above platform/ sees the system only through this.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/form.h"
#include "platform/runtime_error.h"
#include "platform/text_file.h"

namespace launcher {

// A moment in universal time, field by field.
struct SystemTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

// Language ids of the string table.
inline constexpr int kLangEnglish = 1033;
inline constexpr int kLangFrench = 1036;

// Window style of a started program: 1 is a normal window with the focus.
inline constexpr int kNormalFocus = 1;

// Opaque handle of an opened process; 0 is none.
using ProcessHandle = std::uintptr_t;

// Access asked for when a process is opened for its executable's path: the
// least there is, which protected and other users' processes still grant and
// which reads nothing of the process's memory.
inline constexpr std::uint32_t kProcessQueryLimitedInformation = 0x1000;

// Extended window style bits of the window filter.
inline constexpr std::uint32_t kExToolWindow = 0x80;
inline constexpr std::uint32_t kExAppWindow = 0x40000;

class Platform {
 public:
  virtual ~Platform() = default;

  // The launcher's own command line without the program name.
  virtual std::string CommandLine() = 0;
  // The folder of the launcher's executable: no trailing separator except at a root.
  virtual std::string ExeFolder() = 0;
  // The launcher's executable file name without its extension.
  virtual std::string ExeName() = 0;
  // '\\' on Windows, '/' on Linux.
  virtual char PathSeparator() = 0;
  // ".exe" on Windows, empty on Linux.
  virtual std::string ExecutableSuffix() = 0;

  // Whether two paths are the same once letter case is set aside, by the
  // system's own rules for the names of files.
  virtual bool SamePath(const std::string& a, const std::string& b) = 0;
  // The name the system gives the file at `path` once it is opened: drive
  // substitutions, mapped drives, links and short names resolved, spelled as
  // ProcessImagePath spells a process's executable. `path` itself when the
  // file cannot be opened. Never raises.
  virtual std::string FileSystemName(const std::string& path) = 0;
  // True when a plain file (not hidden, not a system file, not a folder) is there.
  virtual bool FileExists(const std::string& path) = 0;
  // Opens a text file for reading; raises when it cannot be opened.
  virtual std::unique_ptr<TextFile> OpenTextFile(const std::string& path) = 0;

  // Starts a program from one command line, whose first token is the quoted
  // executable. Returns the new process id at once and holds no handle to it.
  virtual std::int32_t StartProgram(const std::string& command_line, int window_style) = 0;
  // Lets process `pid` bring its window to the front although the launcher's
  // window (or none) is where the user's focus was; 0 is the launcher itself,
  // for a window it shows once its active one is gone (the box after the
  // splash). Never fails: at worst the window opens behind.
  virtual void AllowForeground(std::uint32_t pid) = 0;
  // Makes the drive named by `drive` current; no-op where drives do not exist.
  virtual void SetCurrentDrive(char drive) = 0;
  virtual void SetCurrentDirectory(const std::string& path) = 0;

  // The current universal time.
  virtual SystemTime UtcNow() = 0;
  // Hands one finished trace line to the system's diagnostic channel.
  virtual void EmitTrace(const std::string& line) = 0;
  // kLangFrench for a French-speaking user, kLangEnglish for everyone else.
  virtual int UserLanguage() = 0;
  // A modal message box (style 16: error icon, 48: warning icon; OK only).
  // Returns the button that closed it, 1 for OK, or 0 when none could be shown.
  virtual int ShowMessageBox(const std::string& text, const std::string& title, int style) = 0;

  // Writes the ids of the running processes into `ids` (room for `size_bytes`
  // bytes) and the number of bytes written into `bytes_returned`. A failing call
  // may leave `bytes_returned` untouched.
  virtual bool EnumProcesses(std::uint32_t* ids,
                             std::uint32_t size_bytes,
                             std::uint32_t* bytes_returned) = 0;
  // A handle for querying the process, or 0 when it cannot be opened.
  virtual ProcessHandle OpenProcess(std::uint32_t access, std::uint32_t pid) = 0;
  // The full path of the file the process runs, never cut short, into `path`
  // (spelled as FileSystemName spells it). False when it cannot be had, and
  // for a process that has ended though its object lingers.
  virtual bool ProcessImagePath(ProcessHandle process, std::string& path) = 0;
  virtual void CloseProcess(ProcessHandle process) = 0;

  // Calls `visit` for each top-level window, on this thread, until it returns false.
  virtual void EnumWindows(const std::function<bool(WindowHandle)>& visit) = 0;
  virtual bool IsWindowVisible(WindowHandle window) = 0;
  virtual WindowHandle GetParent(WindowHandle window) = 0;
  virtual WindowHandle GetOwner(WindowHandle window) = 0;
  virtual std::uint32_t GetExStyle(WindowHandle window) = 0;
  // The title, never cut short; empty for none.
  virtual std::string GetWindowText(WindowHandle window) = 0;
  // The id of the process that created the window; 0 when unknown.
  virtual std::uint32_t GetWindowProcessId(WindowHandle window) = 0;
  // Why the window list cannot tell whose this session's windows are (a
  // Wayland compositor that tells no client, no display to ask): empty when
  // it can. The first call may choose where the window list looks.
  virtual std::string WindowListGap() = 0;
  // Why the last enumeration did not see all of the session's windows (a
  // compositor that failed, answered garbage or too late; an X server that did
  // not answer in time): empty when it was whole. Such trouble is the
  // desktop's, never the installation's, so it is no failure.
  virtual std::string WindowListTrouble() = 0;
  // Where the session's window list cannot tell (WindowListGap), whether it
  // can still tell the windows of process `pid`: an X11 client, whose windows
  // the X server (Xwayland) shows with their process.
  virtual bool WindowListSeesProcess(std::uint32_t pid) = 0;

  // Milliseconds of a clock that only moves forward, whatever the wall clock does.
  virtual std::int64_t MonotonicMs() = 0;
  // Suspends the thread.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Runs every pending event of the launcher's event loop, then returns.
  virtual void PumpEvents() = 0;

  // A new form, hidden; `events` must outlive it.
  virtual std::unique_ptr<Form> CreateForm(FormEvents& events) = 0;
  // Loads a picture file made for `density` (1, or 2 for twice the pixels on
  // each side): 53 when it is missing, 481 when it is no picture.
  virtual std::unique_ptr<Picture> LoadPicture(const std::string& path, int density) = 0;
  virtual ScreenMetrics GetScreen() = 0;
  // Dispatches events until no form is open any more.
  virtual void RunEventLoop() = 0;

  // Ends the program at once with exit status `status`: no window unload
  // handlers run.
  [[noreturn]] virtual void EndProgram(int status) = 0;
};

// The backend in use; the entry point (or a test) installs it.
Platform& Sys();
void InstallPlatform(Platform* platform);

}  // namespace launcher
