// The real Linux services: /proc, POSIX processes and files, GTK 3 on X11.
#pragma once

#include <string>
#include <vector>

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
  bool FileExists(const std::string& path) override;
  std::unique_ptr<TextFile> OpenTextFile(const std::string& path) override;
  std::int32_t StartProgram(const std::string& command_line, int window_style) override;
  void SetCurrentDrive(char drive) override;
  void SetCurrentDirectory(const std::string& path) override;
  SystemTime UtcNow() override;
  void EmitTrace(const std::string& line) override;
  int UserLanguage() override;
  int ShowMessageBox(const std::string& text, const std::string& title, int style) override;
  [[noreturn]] void EndProgram() override;

 private:
  std::vector<std::string> args_;
};

// The language the user asked for, from the first of LC_ALL, LC_MESSAGES and
// LANG that is set: French when it starts with "fr".
int LanguageFromEnvironment();

}  // namespace launcher
