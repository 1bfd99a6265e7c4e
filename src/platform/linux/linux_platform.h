// The real Linux services: /proc, POSIX processes and files, GTK 3, and the
// windows of X11 and of the Wayland compositors that tell them.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/linux_processes.h"
#include "platform/linux/linux_session_windows.h"
#include "platform/platform.h"

namespace launcher {

class LinuxPlatform : public Platform {
 public:
  LinuxPlatform(int argc, char** argv);

  std::string CommandLine() override;
  std::string ExeFolder() override;
  std::string ExeName() override;
  char PathSeparator() override { return '/'; }
  std::string ExecutableSuffix() override { return {}; }
  // Unicode simple case folding, from GLib (see linux_case_fold.h).
  bool SamePath(const std::string& a, const std::string& b) override;
  std::string FileSystemName(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  std::unique_ptr<TextFile> OpenTextFile(const std::string& path) override;
  std::int32_t StartProgram(const std::string& command_line, int window_style) override;
  void AllowForeground(std::uint32_t pid) override;
  void SetCurrentDrive(char drive) override;
  void SetCurrentDirectory(const std::string& path) override;
  SystemTime UtcNow() override;
  void EmitTrace(const std::string& line) override;
  int UserLanguage() override;
  int ShowMessageBox(const std::string& text, const std::string& title, int style) override;

  bool EnumProcesses(std::uint32_t* ids,
                     std::uint32_t size_bytes,
                     std::uint32_t* bytes_returned) override;
  ProcessHandle OpenProcess(std::uint32_t access, std::uint32_t pid) override;
  bool ProcessImagePath(ProcessHandle process, std::string& path) override;
  void CloseProcess(ProcessHandle process) override;

  void EnumWindows(const std::function<bool(WindowHandle)>& visit) override;
  bool IsWindowVisible(WindowHandle window) override;
  WindowHandle GetParent(WindowHandle window) override;
  WindowHandle GetOwner(WindowHandle window) override;
  std::uint32_t GetExStyle(WindowHandle window) override;
  std::string GetWindowText(WindowHandle window) override;
  std::uint32_t GetWindowProcessId(WindowHandle window) override;
  std::string WindowListGap() override;
  std::string WindowListTrouble() override;
  bool WindowListSeesProcess(std::uint32_t pid) override;

  std::int64_t MonotonicMs() override;
  void Sleep(std::uint32_t milliseconds) override;
  void PumpEvents() override;

  std::unique_ptr<Form> CreateForm(FormEvents& events) override;
  std::unique_ptr<Picture> LoadPicture(const std::string& path, int density) override;
  ScreenMetrics GetScreen() override;
  void RunEventLoop() override;

  [[noreturn]] void EndProgram(int status) override;

  // Processes opened and not closed yet.
  std::size_t open_process_count() const { return processes_.open_count(); }
  // The X connection of the window services.
  X11Windows& x11() { return windows_.x11(); }

 private:
  std::vector<std::string> args_;
  // The start-up id and activation token the desktop gave us, and a
  // GDK_SCALE our toolkit cannot use, "NAME=value", for the application
  // alone (see the constructor).
  std::vector<std::string> handed_on_;
  bool started_ = false;
  ProcessTable processes_;
  SessionWindows windows_;
  // Set by a sleep's collection of ended children, cleared by the pump: a
  // pause's step sleeps and then pumps, and the pump need not ask again.
  bool reaped_since_pump_ = false;
};

// The civil date (proleptic Gregorian) of a count of days since 1970-01-01.
void CivilFromDays(std::int64_t days, int* year, int* month, int* day);

// The language the user asked for, from the first of LC_ALL, LC_MESSAGES and
// LANG that is set: French when it starts with "fr".
int LanguageFromEnvironment();

}  // namespace launcher
