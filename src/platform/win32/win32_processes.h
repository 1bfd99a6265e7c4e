// The process and window services of the Windows backend: psapi process
// listings, user32 top-level windows, the tick clock and sleeping. Free of
// <windows.h>, so that including it renames nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace launcher {

// The one module reported for a process whose modules cannot be listed but
// whose executable's path is known; see Win32EnumProcessModules.
inline constexpr ModuleHandle kPathOnlyModule = 1;

// psapi EnumProcesses.
bool Win32EnumProcesses(std::uint32_t* ids,
                        std::uint32_t size_bytes,
                        std::uint32_t* bytes_returned);

// Opens `pid` with `access`. When that is denied, opens it for the limited
// query alone and keeps the executable's path, so that protected processes are
// listed by path. 0 when the process cannot be opened at all.
ProcessHandle Win32OpenProcess(std::uint32_t access, std::uint32_t pid);

// psapi EnumProcessModules. Where the modules cannot be listed (a 64-bit
// process seen from a 32-bit one, a process opened for the limited query
// only), succeeds with the single module kPathOnlyModule whose file name is the
// executable's path, if that path can be had.
bool Win32EnumProcessModules(ProcessHandle process,
                             ModuleHandle* modules,
                             std::uint32_t size_bytes,
                             std::uint32_t* bytes_needed);

// The full path of `module`, never cut short; empty when the query fails.
std::string Win32ModuleFileName(ProcessHandle process, ModuleHandle module);

// Closes a handle of Win32OpenProcess; 0 and stale handles are ignored.
void Win32CloseProcess(ProcessHandle process);

// The number of handles of Win32OpenProcess not yet closed, for leak checks.
std::size_t Win32OpenProcessCount();

// user32 EnumWindows: top-level windows until `visit` returns false. An
// exception thrown by `visit` ends the enumeration and is thrown again once
// the system's enumeration has returned.
void Win32EnumWindows(const std::function<bool(WindowHandle)>& visit);
bool Win32IsWindowVisible(WindowHandle window);
// The parent window only, never the owner; 0 for a top-level window.
WindowHandle Win32GetParent(WindowHandle window);
WindowHandle Win32GetOwner(WindowHandle window);
std::uint32_t Win32GetExStyle(WindowHandle window);
// The title, never cut short; empty for none.
std::string Win32GetWindowText(WindowHandle window);
// The id of the process that created the window; 0 when unknown.
std::uint32_t Win32GetWindowProcessId(WindowHandle window);

// Milliseconds since the system started; never goes back.
std::int64_t Win32MonotonicMs();
void Win32Sleep(std::uint32_t milliseconds);

}  // namespace launcher
