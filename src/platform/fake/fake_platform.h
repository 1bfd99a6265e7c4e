// A deterministic simulation of the platform for tests: files in memory,
// recorded program starts, trace lines and message boxes, a simulated clock,
// and an injectable failure for every service.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace launcher {

// Thrown by the fake's EndProgram: the simulated process has ended.
struct ProgramEnded {};

// The fake's services, by name, for failure injection.
enum class FakeService {
  kCommandLine,
  kExeFolder,
  kExeName,
  kFileExists,
  kOpenTextFile,
  kStartProgram,
  kSetCurrentDrive,
  kSetCurrentDirectory,
  kUtcNow,
  kEmitTrace,
  kUserLanguage,
  kShowMessageBox,
};

struct FakeFile {
  std::string bytes;
  bool hidden = false;
};

struct FakeStart {
  std::string command_line;
  std::string current_directory;
  char current_drive = 0;
  int window_style = 0;
};

struct FakeMessageBox {
  std::string text;
  std::string title;
  int style = 0;
};

class FakePlatform : public Platform {
 public:
  FakePlatform();

  // The simulated machine; tests set these directly.
  std::string command_line;
  std::string exe_folder = "C:\\Program Files\\Quarven";
  std::string exe_name = "launcher";
  char separator = '\\';
  std::string executable_suffix = ".exe";
  std::map<std::string, FakeFile> files;
  std::int32_t next_pid = 4242;
  int language = kLangEnglish;
  int message_box_answer = 1;
  // Milliseconds of universal time since 1970-01-01, and the local zone's
  // offset, which nothing may use for a timestamp.
  std::int64_t utc_ms = 0;
  std::int64_t local_offset_ms = 0;

  // What the launcher did.
  std::vector<FakeStart> starts;
  std::vector<std::string> trace;
  std::vector<FakeMessageBox> boxes;
  std::string current_directory;
  char current_drive = 0;
  bool ended = false;

  // Makes every later call of `service` raise the runtime error `number`.
  void Fail(FakeService service, std::int32_t number) { failures_[service] = number; }
  void Heal(FakeService service) { failures_.erase(service); }

  // Sets the clock to a universal date and time.
  void SetUtc(int year, int month, int day, int hour, int minute, int second, int ms);

  // The messages of the trace lines, without executable name and stamp.
  std::vector<std::string> TraceMessages() const;

  std::string CommandLine() override;
  std::string ExeFolder() override;
  std::string ExeName() override;
  char PathSeparator() override { return separator; }
  std::string ExecutableSuffix() override { return executable_suffix; }
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
  void Check(FakeService service) const;

  std::map<FakeService, std::int32_t> failures_;
};

// Windows-1252 as far as Latin-1 reaches, so that tests can tell ANSI from UTF-8.
std::string DecodeLatin1(std::string_view bytes);

}  // namespace launcher
