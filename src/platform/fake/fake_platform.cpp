#include "platform/fake/fake_platform.h"

#include <chrono>

namespace launcher {

FakePlatform::FakePlatform() {
  SetUtc(2026, 12, 6, 2, 39, 47, 500);
}

void FakePlatform::Check(FakeService service) const {
  const auto it = failures_.find(service);
  if (it != failures_.end())
    throw RuntimeError::Of(it->second);
}

void FakePlatform::SetUtc(int year, int month, int day, int hour, int minute, int second, int ms) {
  using namespace std::chrono;
  const sys_days date =
      year_month_day{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
  utc_ms = duration_cast<milliseconds>(date.time_since_epoch()).count() +
           ((hour * 60 + minute) * 60 + second) * 1000LL + ms;
}

std::vector<std::string> FakePlatform::TraceMessages() const {
  std::vector<std::string> messages;
  for (const std::string& line : trace) {
    const std::size_t dash = line.find(" - ");
    messages.push_back(dash == std::string::npos ? line : line.substr(dash + 3));
  }
  return messages;
}

std::string FakePlatform::CommandLine() {
  Check(FakeService::kCommandLine);
  return command_line;
}

std::string FakePlatform::ExeFolder() {
  Check(FakeService::kExeFolder);
  return exe_folder;
}

std::string FakePlatform::ExeName() {
  Check(FakeService::kExeName);
  return exe_name;
}

bool FakePlatform::FileExists(const std::string& path) {
  Check(FakeService::kFileExists);
  const auto it = files.find(path);
  return it != files.end() && !it->second.hidden;
}

std::unique_ptr<TextFile> FakePlatform::OpenTextFile(const std::string& path) {
  Check(FakeService::kOpenTextFile);
  const auto it = files.find(path);
  if (it == files.end())
    Raise(kErrFileNotFound);
  return std::make_unique<TextFile>(it->second.bytes, &DecodeLatin1);
}

std::int32_t FakePlatform::StartProgram(const std::string& command, int window_style) {
  Check(FakeService::kStartProgram);
  starts.push_back({command, current_directory, current_drive, window_style});
  return next_pid;
}

void FakePlatform::SetCurrentDrive(char drive) {
  Check(FakeService::kSetCurrentDrive);
  current_drive = drive;
}

void FakePlatform::SetCurrentDirectory(const std::string& path) {
  Check(FakeService::kSetCurrentDirectory);
  current_directory = path;
}

SystemTime FakePlatform::UtcNow() {
  Check(FakeService::kUtcNow);
  using namespace std::chrono;
  const milliseconds since_epoch(utc_ms);
  const sys_days days = floor<std::chrono::days>(sys_time<milliseconds>(since_epoch));
  const year_month_day date(days);
  const hh_mm_ss<milliseconds> time(since_epoch - days.time_since_epoch());
  SystemTime t;
  t.year = static_cast<std::uint16_t>(static_cast<int>(date.year()));
  t.month = static_cast<std::uint16_t>(static_cast<unsigned>(date.month()));
  t.day = static_cast<std::uint16_t>(static_cast<unsigned>(date.day()));
  t.hour = static_cast<std::uint16_t>(time.hours().count());
  t.minute = static_cast<std::uint16_t>(time.minutes().count());
  t.second = static_cast<std::uint16_t>(time.seconds().count());
  t.milliseconds = static_cast<std::uint16_t>(time.subseconds().count());
  return t;
}

void FakePlatform::EmitTrace(const std::string& line) {
  Check(FakeService::kEmitTrace);
  trace.push_back(line);
}

int FakePlatform::UserLanguage() {
  Check(FakeService::kUserLanguage);
  return language;
}

int FakePlatform::ShowMessageBox(const std::string& text, const std::string& title, int style) {
  Check(FakeService::kShowMessageBox);
  boxes.push_back({text, title, style});
  return message_box_answer;
}

void FakePlatform::EndProgram() {
  ended = true;
  throw ProgramEnded{};
}

std::string DecodeLatin1(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

}  // namespace launcher
