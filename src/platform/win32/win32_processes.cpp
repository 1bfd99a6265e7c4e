#include "platform/win32/win32_processes.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win32/win32_file.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

// The K32 names live in kernel32 (Windows 7 and later), so no psapi import
// library is needed, on 32-bit as on 64-bit builds.
#undef PSAPI_VERSION
#define PSAPI_VERSION 2
#include <psapi.h>

namespace launcher {

namespace {

// Any program can set a title of any length, and the window list reads every
// window's title at each pass: at most 64 KiB of it is read, as on Linux.
constexpr int kTitleUnits = 1 << 15;
// Names of executables kept for the run; a machine runs far fewer distinct ones.
constexpr std::size_t kMostNames = 1024;

// A handle is (generation << kSlotBits) | (slot + 1): never 0, and stale once
// its slot has been closed and opened again.
constexpr unsigned kSlotBits = 16;
constexpr std::uintptr_t kSlotMask = (std::uintptr_t{1} << kSlotBits) - 1;
constexpr std::size_t kMaxSlots = kSlotMask;

struct Slot {
  HANDLE handle = nullptr;
  bool open = false;
  std::uint32_t generation = 0;
};

// Not thread-safe: the launcher looks at processes from its one thread only.
// Slots are reused, so the snapshots taken ten times a second allocate nothing.
std::vector<Slot> g_slots;
std::vector<std::uint32_t> g_free;
std::wstring g_path_buffer;   // scratch for path queries
std::wstring g_title_buffer;  // scratch for titles
// Each executable's path as the process query gives it, with the file
// system's name of it: found once, not at every pass.
std::unordered_map<std::string, std::string> g_names;

// Window handles are 32-bit significant on 64-bit Windows too; the system
// widens them with the sign.
HWND ToHwnd(WindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(window)));
}

WindowHandle ToWindowHandle(HWND hwnd) {
  return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(hwnd));
}

Slot* Find(ProcessHandle process) {
  const std::uintptr_t index = process & kSlotMask;
  if (index == 0 || index > g_slots.size())
    return nullptr;
  Slot& slot = g_slots[index - 1];
  if (!slot.open || (process >> kSlotBits) != slot.generation)
    return nullptr;
  return &slot;
}

ProcessHandle Keep(HANDLE handle) {
  std::uint32_t index = 0;
  if (!g_free.empty()) {
    index = g_free.back();
    g_free.pop_back();
  } else {
    if (g_slots.size() >= kMaxSlots) {
      CloseHandle(handle);
      return 0;
    }
    index = static_cast<std::uint32_t>(g_slots.size());
    g_slots.emplace_back();
  }
  Slot& slot = g_slots[index];
  slot.handle = handle;
  slot.open = true;
  return (static_cast<std::uintptr_t>(slot.generation) << kSlotBits) | (index + 1);
}

// The executable's path of a process that is still running. An ended process
// whose object lingers (someone holds a handle to it) still answers the
// query; it must not be listed as if it still ran. A process that ended with
// exit code 259 (STILL_ACTIVE) cannot be told from a running one and is listed.
bool QueryRunningPath(HANDLE handle, std::string& path) {
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(handle, &exit_code) || exit_code != STILL_ACTIVE)
    return false;
  const auto image = FillGrowing(g_path_buffer, [handle](wchar_t* text, DWORD room) -> DWORD {
    DWORD size = room;
    // Flag 0: the Win32 form, with a drive letter or a UNC name.
    if (QueryFullProcessImageNameW(handle, 0, text, &size))
      return size;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? room : 0;
  });
  if (!image)
    return false;
  path = ToUtf8(*image);
  return !path.empty();
}

// The name the file has once opened, "\\?\" and "\\?\UNC\" taken off;
// empty when the file cannot be opened or named.
std::wstring FinalName(const std::wstring& path) {
  // No access asked for: naming the file needs none, and security software
  // sees no read. Folders open only with the backup flag.
  const UniqueHandle file(CreateFileW(path.c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE)
    return {};
  std::wstring buffer;
  // Too small a buffer answers the room needed, the terminator included.
  const auto found = FillGrowing(buffer, [&file](wchar_t* text, DWORD room) {
    return GetFinalPathNameByHandleW(file.get(), text, room,
                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
  if (!found)
    return {};
  std::wstring name(*found);
  constexpr std::wstring_view kUnc = L"\\\\?\\UNC\\";
  constexpr std::wstring_view kLocal = L"\\\\?\\";
  if (name.starts_with(kUnc))
    return L"\\\\" + name.substr(kUnc.size());
  if (name.starts_with(kLocal))
    return name.substr(kLocal.size());
  return name;
}

struct WindowVisit {
  const std::function<bool(WindowHandle)>* visit;
  std::exception_ptr failure;
};

BOOL CALLBACK OnTopLevelWindow(HWND hwnd, LPARAM param) {
  auto* state = reinterpret_cast<WindowVisit*>(param);
  // Nothing may unwind through the system's frames: keep the exception for later.
  try {
    return (*state->visit)(ToWindowHandle(hwnd)) ? TRUE : FALSE;
  } catch (...) {
    state->failure = std::current_exception();
    return FALSE;
  }
}

}  // namespace

bool Win32EnumProcesses(std::uint32_t* ids,
                        std::uint32_t size_bytes,
                        std::uint32_t* bytes_returned) {
  static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
  DWORD returned = 0;
  if (!EnumProcesses(reinterpret_cast<DWORD*>(ids), size_bytes, &returned))
    return false;
  *bytes_returned = returned;
  return true;
}

ProcessHandle Win32OpenProcess(std::uint32_t access, std::uint32_t pid) {
  const HANDLE handle = ::OpenProcess(access, FALSE, pid);
  return handle == nullptr ? 0 : Keep(handle);
}

std::string Win32FileSystemName(const std::string& path) {
  const std::wstring name = FinalName(ToWide(path));
  std::string found = name.empty() ? std::string() : ToUtf8(name);
  return found.empty() ? path : found;
}

bool Win32ProcessImagePath(ProcessHandle process, std::string& path) {
  const Slot* slot = Find(process);
  if (slot == nullptr || !QueryRunningPath(slot->handle, path))
    return false;
  // The process query keeps the spelling the program was started with (a
  // short name stays short); the file system's own name is what compares.
  auto known = g_names.find(path);
  if (known == g_names.end()) {
    if (g_names.size() >= kMostNames)
      g_names.clear();
    known = g_names.emplace(path, Win32FileSystemName(path)).first;
  }
  path.assign(known->second);
  return true;
}

void Win32CloseProcess(ProcessHandle process) {
  Slot* slot = Find(process);
  if (slot == nullptr)
    return;
  CloseHandle(slot->handle);
  slot->handle = nullptr;
  slot->open = false;
  // Generations wrap within what a handle can carry.
  slot->generation =
      (slot->generation + 1) & static_cast<std::uint32_t>(~std::uintptr_t{0} >> kSlotBits);
  g_free.push_back(static_cast<std::uint32_t>(slot - g_slots.data()));
}

std::size_t Win32OpenProcessCount() {
  return g_slots.size() - g_free.size();
}

void Win32EnumWindows(const std::function<bool(WindowHandle)>& visit) {
  WindowVisit state{&visit, nullptr};
  ::EnumWindows(OnTopLevelWindow, reinterpret_cast<LPARAM>(&state));
  if (state.failure)
    std::rethrow_exception(state.failure);
}

bool Win32IsWindowVisible(WindowHandle window) {
  return ::IsWindowVisible(ToHwnd(window)) != FALSE;
}

// GetParent answers the owner for an owned top-level window; the ancestor
// query answers the parent alone, and the desktop for a top-level window.
WindowHandle Win32GetParent(WindowHandle window) {
  const HWND parent = GetAncestor(ToHwnd(window), GA_PARENT);
  if (parent == nullptr || parent == GetDesktopWindow())
    return 0;
  return ToWindowHandle(parent);
}

WindowHandle Win32GetOwner(WindowHandle window) {
  return ToWindowHandle(GetWindow(ToHwnd(window), GW_OWNER));
}

std::uint32_t Win32GetExStyle(WindowHandle window) {
  return static_cast<std::uint32_t>(GetWindowLongW(ToHwnd(window), GWL_EXSTYLE));
}

std::string Win32GetWindowText(WindowHandle window) {
  const HWND hwnd = ToHwnd(window);
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0)
    return {};
  // A title that grew since its length was asked is cut at the room given:
  // only whether there is one matters.
  const int room = std::min(length, kTitleUnits) + 1;
  if (g_title_buffer.size() < static_cast<std::size_t>(room))
    g_title_buffer.resize(static_cast<std::size_t>(room));
  int n = GetWindowTextW(hwnd, g_title_buffer.data(), room);
  if (n <= 0)
    return {};
  // Never half a character: a surrogate pair cut at the bound goes whole.
  if (n == kTitleUnits && IS_HIGH_SURROGATE(g_title_buffer[static_cast<std::size_t>(n) - 1]))
    --n;
  return ToUtf8(std::wstring_view(g_title_buffer.data(), static_cast<std::size_t>(n)));
}

std::uint32_t Win32GetWindowProcessId(WindowHandle window) {
  DWORD pid = 0;
  if (GetWindowThreadProcessId(ToHwnd(window), &pid) == 0)
    return 0;
  return pid;
}

std::int64_t Win32MonotonicMs() {
  return static_cast<std::int64_t>(GetTickCount64());
}

void Win32Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace launcher
