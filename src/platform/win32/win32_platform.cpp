#include "platform/win32/win32_platform.h"

#include <new>
#include <string_view>
#include <utility>

#include "platform/command_line.h"
#include "platform/runtime_error.h"
#include "platform/text_file.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_file.h"
#include "platform/win32/win32_form.h"
#include "platform/win32/win32_picture.h"
#include "platform/win32/win32_system_dll.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace launcher {

namespace {

// Settings files are stored in the system's ANSI code page.
std::string DecodeAnsi(std::string_view bytes) {
  return ToUtf8(ToWide(bytes, CP_ACP));
}

// The full path of the running executable, however long it is.
std::wstring ModulePath() {
  std::wstring buffer;
  // A result that fills the buffer may have been cut short.
  const auto path = FillGrowing(
      buffer, [](wchar_t* text, DWORD room) { return GetModuleFileNameW(nullptr, text, room); });
  if (!path)
    Raise(kErrPathFileAccess);
  return std::wstring(*path);
}

std::int32_t StartFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return kErrFileNotFound;
    case ERROR_ACCESS_DENIED:
      return kErrPermissionDenied;
    default:
      return kErrInvalidCall;
  }
}

}  // namespace

std::string Win32Platform::CommandLine() {
  return std::string(SkipProgramName(ToUtf8(GetCommandLineW())));
}

std::string Win32Platform::ExeFolder() {
  std::wstring path = ModulePath();
  const std::size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos)
    return {};
  // A drive root keeps its backslash: "C:\", not "C:".
  const bool drive_root = slash == 2 && path[1] == L':';
  path.resize(drive_root ? slash + 1 : slash);
  return ToUtf8(path);
}

std::string Win32Platform::ExeName() {
  const std::wstring path = ModulePath();
  const std::size_t slash = path.rfind(L'\\');
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos)
    name.resize(dot);
  return ToUtf8(name);
}

bool Win32Platform::SamePath(const std::string& a, const std::string& b) {
  return Win32SamePath(a, b);
}

bool Win32Platform::FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  constexpr DWORD kNotAPlainFile =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  return (attributes & kNotAPlainFile) == 0;
}

std::unique_ptr<TextFile> Win32Platform::OpenTextFile(const std::string& path) {
  const UniqueHandle file = OpenDiskFile(ToWide(path));
  // Settings of any size are read; only memory bounds them.
  std::string bytes = ReadToEnd<std::string>(file.get(), INT64_MAX, nullptr);
  return std::make_unique<TextFile>(std::move(bytes), &DecodeAnsi);
}

std::int32_t Win32Platform::StartProgram(const std::string& command_line, int window_style) {
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::wstring command = ToWide(command_line);
  command.push_back(L'\0');

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(window_style);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    Raise(StartFailure(GetLastError()));
  }
  // The launcher only watches the application by polling; it holds nothing of it.
  const UniqueHandle thread(process.hThread);
  const UniqueHandle started(process.hProcess);
  return static_cast<std::int32_t>(process.dwProcessId);
}

// Windows' foreground lock keeps a window behind unless its process may take
// the foreground: the launcher, started by the user, may hand that on while it
// is the foreground process. Granted to itself before its active splash goes,
// it lets the box come to the front although activation passed elsewhere.
void Win32Platform::AllowForeground(std::uint32_t pid) {
  AllowSetForegroundWindow(pid != 0 ? pid : GetCurrentProcessId());
}

void Win32Platform::SetCurrentDrive(char drive) {
  const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  // A UNC path has no drive; the launcher must still start from a network share.
  if (!letter)
    return;
  const wchar_t path[] = {static_cast<wchar_t>(drive), L':', L'\0'};
  if (!SetCurrentDirectoryW(path))
    Raise(kErrDeviceUnavailable);
}

void Win32Platform::SetCurrentDirectory(const std::string& path) {
  if (!SetCurrentDirectoryW(ToWide(path).c_str()))
    Raise(kErrPathNotFound);
}

SystemTime Win32Platform::UtcNow() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  SystemTime out;
  out.year = now.wYear;
  out.month = now.wMonth;
  out.day = now.wDay;
  out.hour = now.wHour;
  out.minute = now.wMinute;
  out.second = now.wSecond;
  out.milliseconds = now.wMilliseconds;
  return out;
}

void Win32Platform::EmitTrace(const std::string& line) {
  // Tracing must never disturb the run, not even when memory runs out.
  try {
    OutputDebugStringW(ToWide(line).c_str());
  } catch (...) {
  }
}

int Win32Platform::UserLanguage() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_FRENCH ? kLangFrench : kLangEnglish;
}

int Win32Platform::ShowMessageBox(const std::string& text, const std::string& title, int style) {
  // The box's buttons come from the common controls (chosen by the manifest),
  // which import msimg32.dll. Wine's loader looks for that import beside the
  // program despite the search limit set at the start, so a copy planted there
  // would run; with the system's copy loaded first, that one is used.
  LoadSystemDll(L"msimg32.dll");
  // Started from a shortcut, the launcher may not own the foreground; the box must still show.
  return MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(title).c_str(),
                     static_cast<UINT>(style) | MB_SETFOREGROUND);
}

void Win32Platform::EndProgram(int status) {
  ExitProcess(static_cast<UINT>(status));
}

void Win32Platform::PumpEvents() {
  PumpWin32Events();
}

std::unique_ptr<Form> Win32Platform::CreateForm(FormEvents& events) {
  return CreateWin32Form(events);
}

std::unique_ptr<Picture> Win32Platform::LoadPicture(const std::string& path, int density) {
  return LoadWin32Picture(path, density);
}

ScreenMetrics Win32Platform::GetScreen() {
  return QueryWin32Screen();
}

void Win32Platform::RunEventLoop() {
  RunWin32EventLoop();
}

}  // namespace launcher
