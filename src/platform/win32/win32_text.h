// UTF-8 <-> UTF-16 for the Windows backend: the logic speaks UTF-8, Windows
// UTF-16; and wide text of any length that a system call fills in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/win32_windows.h"

namespace launcher {

// Text in `code_page` (UTF-8 unless told otherwise) as UTF-16; empty when it cannot be read.
std::wstring ToWide(std::string_view text, UINT code_page = CP_UTF8);

// UTF-16 as UTF-8; empty when it cannot be converted.
std::string ToUtf8(std::wstring_view text);

// Whether two UTF-8 paths are equal by the ordinal comparison that ignores
// case (CompareStringOrdinal), as the file system compares names. Text that is
// not valid UTF-8 is equal only to the very same bytes.
bool Win32SamePath(std::string_view a, std::string_view b);

// Paths cannot exceed 32767 characters; a buffer this large has room for any.
constexpr DWORD kLongestPath = 1 << 16;

// The text `fill(text, room)` writes into `buffer`. `fill` answers the length
// written, 0 when it failed, or `room` or more when the text did not fit (the
// room it needs, where the call tells). The buffer grows from MAX_PATH while
// the text does not fit, up to kLongestPath characters; it keeps its size,
// so a caller may reuse it. Nothing when the call failed or needed more.
template <typename Fill>
std::optional<std::wstring_view> FillGrowing(std::wstring& buffer, Fill fill) {
  if (buffer.size() < MAX_PATH)
    buffer.resize(MAX_PATH);
  for (;;) {
    const auto room = static_cast<DWORD>(buffer.size());
    const DWORD length = fill(buffer.data(), room);
    if (length == 0)
      return std::nullopt;
    if (length < room)
      return std::wstring_view(buffer.data(), length);
    if (room >= kLongestPath)
      return std::nullopt;
    buffer.resize(
        std::min<std::size_t>(std::max<std::size_t>(length, std::size_t{room} * 2), kLongestPath));
  }
}

}  // namespace launcher
