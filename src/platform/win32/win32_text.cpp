#include "platform/win32/win32_text.h"

#include <climits>

namespace launcher {

namespace {

// The conversion services count in int; no text of the launcher comes near
// that, but a length must never wrap to a negative count.
int ClampLength(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

std::wstring ToWide(std::string_view text, UINT code_page) {
  if (text.empty())
    return {};
  const int length = ClampLength(text.size());
  const int size = MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
  if (size <= 0)
    return {};
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), length, out.data(), size);
  return out;
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty())
    return {};
  const int length = ClampLength(text.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0)
    return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), size, nullptr, nullptr);
  return out;
}

}  // namespace launcher
