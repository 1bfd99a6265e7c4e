// The real Windows services, through the wide ("W") API. Text crosses this
// boundary as UTF-8 and is converted to UTF-16 here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/win32/win32_processes.h"

namespace launcher {

class Win32Platform : public Platform {
 public:
  std::string CommandLine() override;
  std::string ExeFolder() override;
  std::string ExeName() override;
  char PathSeparator() override { return '\\'; }
  std::string ExecutableSuffix() override { return ".exe"; }

  // The ordinal comparison that ignores case, as the file system compares names.
  bool SamePath(const std::string& a, const std::string& b) override;
  std::string FileSystemName(const std::string& path) override { return Win32FileSystemName(path); }
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
                     std::uint32_t* bytes_returned) override {
    return Win32EnumProcesses(ids, size_bytes, bytes_returned);
  }
  ProcessHandle OpenProcess(std::uint32_t access, std::uint32_t pid) override {
    return Win32OpenProcess(access, pid);
  }
  bool ProcessImagePath(ProcessHandle process, std::string& path) override {
    return Win32ProcessImagePath(process, path);
  }
  void CloseProcess(ProcessHandle process) override { Win32CloseProcess(process); }

  void EnumWindows(const std::function<bool(WindowHandle)>& visit) override {
    Win32EnumWindows(visit);
  }
  bool IsWindowVisible(WindowHandle window) override { return Win32IsWindowVisible(window); }
  WindowHandle GetParent(WindowHandle window) override { return Win32GetParent(window); }
  WindowHandle GetOwner(WindowHandle window) override { return Win32GetOwner(window); }
  std::uint32_t GetExStyle(WindowHandle window) override { return Win32GetExStyle(window); }
  std::string GetWindowText(WindowHandle window) override { return Win32GetWindowText(window); }
  std::uint32_t GetWindowProcessId(WindowHandle window) override {
    return Win32GetWindowProcessId(window);
  }
  // Every window is the system's to tell.
  std::string WindowListGap() override { return {}; }
  std::string WindowListTrouble() override { return {}; }
  bool WindowListSeesProcess(std::uint32_t /*pid*/) override { return true; }

  std::int64_t MonotonicMs() override { return Win32MonotonicMs(); }
  void Sleep(std::uint32_t milliseconds) override { Win32Sleep(milliseconds); }
  void PumpEvents() override;

  std::unique_ptr<Form> CreateForm(FormEvents& events) override;
  std::unique_ptr<Picture> LoadPicture(const std::string& path, int density) override;
  ScreenMetrics GetScreen() override;
  void RunEventLoop() override;

  [[noreturn]] void EndProgram(int status) override;
};

}  // namespace launcher
