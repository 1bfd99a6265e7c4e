#include "platform/win32/win32_processes.h"

#include <exception>
#include <string_view>
#include <vector>

#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

// The K32 names live in kernel32 (Windows 7 and later), so no psapi import
// library is needed, on 32-bit as on 64-bit builds.
#undef PSAPI_VERSION
#define PSAPI_VERSION 2
#include <psapi.h>

namespace launcher {

namespace {

// Access that protected processes and 32-bit callers of 64-bit processes still get.
constexpr DWORD kQueryLimited = PROCESS_QUERY_LIMITED_INFORMATION;

// Paths cannot exceed 32767 characters; a buffer this large has room for any.
constexpr DWORD kLongestPath = 1 << 16;
// Titles have no such limit; this only stops a title that keeps growing.
constexpr int kLongestTitle = 1 << 24;

// A handle is (generation << kSlotBits) | (slot + 1): never 0, and stale once
// its slot has been closed and opened again.
constexpr unsigned kSlotBits = 16;
constexpr std::uintptr_t kSlotMask = (std::uintptr_t{1} << kSlotBits) - 1;
constexpr std::size_t kMaxSlots = kSlotMask;

// An opened process. `by_path` is set once its modules turned out not to be
// listable and `path` holds its executable's path instead.
struct Slot {
  HANDLE handle = nullptr;
  DWORD pid = 0;
  std::string path;  // keeps its capacity between uses
  bool by_path = false;
  bool open = false;
  std::uint32_t generation = 0;
};

// Not thread-safe: the launcher looks at processes from its one thread only.
// Slots are reused, so the snapshots taken ten times a second allocate nothing.
std::vector<Slot> g_slots;
std::vector<std::uint32_t> g_free;
std::wstring g_path_buffer;  // scratch for path queries

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

ProcessHandle Keep(HANDLE handle, DWORD pid, std::string* path) {
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
  slot.pid = pid;
  slot.by_path = path != nullptr;
  if (path != nullptr)
    slot.path.assign(*path);
  slot.open = true;
  return (static_cast<std::uintptr_t>(slot.generation) << kSlotBits) | (index + 1);
}

// The executable's path of a process that is still running. An ended process
// whose object lingers (someone holds a handle to it) has no modules; it must
// not be listed by path as if it still ran. A process that ended with exit
// code 259 (STILL_ACTIVE) cannot be told from a running one and is listed.
bool QueryRunningPath(HANDLE handle, std::string& path) {
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(handle, &exit_code) || exit_code != STILL_ACTIVE)
    return false;
  if (g_path_buffer.size() < MAX_PATH)
    g_path_buffer.resize(MAX_PATH);
  for (;;) {
    DWORD size = static_cast<DWORD>(g_path_buffer.size());
    if (QueryFullProcessImageNameW(handle, 0, g_path_buffer.data(), &size)) {
      path = ToUtf8(std::wstring_view(g_path_buffer.data(), size));
      return !path.empty();
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || g_path_buffer.size() >= kLongestPath)
      return false;
    g_path_buffer.resize(g_path_buffer.size() * 2);
  }
}

// The same for a process of which we know only the id: opened for the limited
// query, which is granted where more is not.
bool QueryRunningPath(DWORD pid, std::string& path) {
  const HANDLE handle = ::OpenProcess(kQueryLimited, FALSE, pid);
  if (handle == nullptr)
    return false;
  const bool found = QueryRunningPath(handle, path);
  CloseHandle(handle);
  return found;
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

// When the access asked for is denied (protected processes, other users'
// processes), the process is opened again for the limited query only and
// handed out by its executable's path, so it is listed instead of dropped.
ProcessHandle Win32OpenProcess(std::uint32_t access, std::uint32_t pid) {
  if (const HANDLE handle = ::OpenProcess(access, FALSE, pid))
    return Keep(handle, pid, nullptr);
  // Any other failure (the process has ended, a bad id) ends the lookup.
  if (GetLastError() != ERROR_ACCESS_DENIED || access == kQueryLimited)
    return 0;
  const HANDLE limited = ::OpenProcess(kQueryLimited, FALSE, pid);
  if (limited == nullptr)
    return 0;
  std::string path;
  if (!QueryRunningPath(limited, path)) {
    CloseHandle(limited);
    return 0;
  }
  return Keep(limited, pid, &path);
}

// A 32-bit process cannot list the modules of a 64-bit one (Windows fails with
// error 299, Wine with 998), yet the launcher must still recognise a 64-bit
// application by its path. So a failed listing falls back to the executable's
// path, and the process reports one module, kPathOnlyModule, which stands for
// it. The path is asked of the handle we have, or of one opened for the
// limited query when ours lacks the right.
bool Win32EnumProcessModules(ProcessHandle process,
                             ModuleHandle* modules,
                             std::uint32_t size_bytes,
                             std::uint32_t* bytes_needed) {
  static_assert(sizeof(HMODULE) == sizeof(ModuleHandle));
  Slot* slot = Find(process);
  if (slot == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (!slot->by_path) {
    DWORD needed = 0;
    if (EnumProcessModules(slot->handle, reinterpret_cast<HMODULE*>(modules), size_bytes,
                           &needed)) {
      *bytes_needed = needed;
      return true;
    }
    const DWORD error = GetLastError();
    if (!QueryRunningPath(slot->handle, slot->path) && !QueryRunningPath(slot->pid, slot->path)) {
      SetLastError(error);
      return false;
    }
    slot->by_path = true;
  }
  *bytes_needed = sizeof(ModuleHandle);
  if (size_bytes >= sizeof(ModuleHandle))
    modules[0] = kPathOnlyModule;
  return true;
}

std::string Win32ModuleFileName(ProcessHandle process, ModuleHandle module) {
  const Slot* slot = Find(process);
  if (slot == nullptr)
    return {};
  if (slot->by_path && module == kPathOnlyModule)
    return slot->path;
  if (g_path_buffer.size() < MAX_PATH)
    g_path_buffer.resize(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(g_path_buffer.size());
    const DWORD n = GetModuleFileNameExW(slot->handle, reinterpret_cast<HMODULE>(module),
                                         g_path_buffer.data(), size);
    if (n == 0)
      return {};
    // A full buffer may hold a cut path (systems differ on whether the count
    // then includes the terminator): ask again with more room.
    if (n < size - 1 || size >= kLongestPath)
      return ToUtf8(std::wstring_view(g_path_buffer.data(), n < size ? n : size));
    g_path_buffer.resize(g_path_buffer.size() * 2);
  }
}

void Win32CloseProcess(ProcessHandle process) {
  Slot* slot = Find(process);
  if (slot == nullptr)
    return;
  CloseHandle(slot->handle);
  slot->handle = nullptr;
  slot->open = false;
  slot->by_path = false;
  slot->path.clear();
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
  // One spare character beyond the terminator: a title that fills the buffer
  // has grown since its length was asked, and is asked again with more room.
  std::wstring buffer(static_cast<std::size_t>(length) + 2, L'\0');
  for (;;) {
    const int size = static_cast<int>(buffer.size());
    const int n = GetWindowTextW(hwnd, buffer.data(), size);
    if (n <= 0)
      return {};
    if (n < size - 1 || size >= kLongestTitle)
      return ToUtf8(std::wstring_view(buffer.data(), static_cast<std::size_t>(n)));
    buffer.resize(buffer.size() * 2);
  }
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
