// UTF-8 <-> UTF-16 for the Windows backend: the logic speaks UTF-8, Windows UTF-16.
#pragma once

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

}  // namespace launcher
