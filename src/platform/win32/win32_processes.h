// The process and window services of the Windows backend: process
// listings and image paths, user32 top-level windows, the tick clock and sleeping. Free of
// <windows.h>, so that including it renames nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/platform.h"

namespace launcher {

// psapi EnumProcesses.
bool Win32EnumProcesses(std::uint32_t* ids,
                        std::uint32_t size_bytes,
                        std::uint32_t* bytes_returned);

// Opens `pid` with `access` alone; 0 when the process cannot be opened so.
ProcessHandle Win32OpenProcess(std::uint32_t access, std::uint32_t pid);

// The name of the file at `path` once opened (GetFinalPathNameByHandleW,
// without the "\\?\" prefix): substituted and mapped drives, links and
// short names resolved. `path` itself when it cannot be opened.
std::string Win32FileSystemName(const std::string& path);

// The path of the file a still-running process runs (QueryFullProcessImageNameW),
// as Win32FileSystemName names it; false for an ended process, and where the
// handle lacks the limited query right.
bool Win32ProcessImagePath(ProcessHandle process, std::string& path);

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
// The title, at most its first 32,768 UTF-16 units (64 KiB) and never half a
// character; empty for none.
std::string Win32GetWindowText(WindowHandle window);
// The id of the process that created the window; 0 when unknown.
std::uint32_t Win32GetWindowProcessId(WindowHandle window);

// Milliseconds since the system started; never goes back.
std::int64_t Win32MonotonicMs();
void Win32Sleep(std::uint32_t milliseconds);

}  // namespace launcher
