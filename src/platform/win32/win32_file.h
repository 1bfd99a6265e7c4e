// Reading the launcher's own files (the settings, the splash picture) on
// Windows: opened once, disk files only, read whole from that one handle.
#pragma once

#include "platform/win32/win32_windows.h"

#include <cstdint>
#include <string>
#include <vector>

namespace launcher {

// Closes a handle when the scope ends, also when a read fails.
class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
      CloseHandle(handle_);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  UniqueHandle& operator=(UniqueHandle&&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The error number for a file that cannot be opened, one per cause: 53 no
// such file or folder, 70 access refused, 52 a name the system rejects, 68 a
// drive or share that is not there, 75 anything else.
std::int32_t OpenFailure(DWORD error);

// A disk file opened for reading; others may keep it open for writing (an
// editor, an installer). A device, pipe or console in a file's place raises
// 53 as a missing file would, before anything is read from it: reading one
// could block for ever.
UniqueHandle OpenDiskFile(const std::wstring& path);

// Appends up to `count` bytes of `file` at `bytes`' end; false at its end.
// Raises 57 when the read fails, 7 when memory runs out.
template <typename Bytes>
bool ReadMore(HANDLE file, Bytes& bytes, DWORD count);

// The file's bytes to its end, whatever its size said, read through the one
// handle. `too_large` is called with the count read as soon as it passes
// `most`, and must raise.
template <typename Bytes>
Bytes ReadToEnd(HANDLE file, std::int64_t most, void (*too_large)(std::int64_t bytes)) {
  Bytes bytes;
  constexpr DWORD kChunk = 64 * 1024;
  while (ReadMore(file, bytes, kChunk)) {
    if (static_cast<std::int64_t>(bytes.size()) > most)
      too_large(static_cast<std::int64_t>(bytes.size()));
  }
  return bytes;
}

}  // namespace launcher
