#include "platform/win32/win32_text.h"

#include <array>
#include <climits>

namespace launcher {

namespace {

// The conversion services count in int; no text of the launcher comes near
// that, but a length must never wrap to a negative count.
int ClampLength(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

// Text converted to UTF-16 strictly, kept on the stack when it is short (as
// paths mostly are), so that comparing two paths allocates nothing.
class StrictWide {
 public:
  explicit StrictWide(std::string_view text) {
    if (text.empty())
      return;
    const int length = ClampLength(text.size());
    const int size =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (size <= 0) {
      valid_ = false;
      return;
    }
    wchar_t* out = short_.data();
    if (static_cast<std::size_t>(size) > short_.size()) {
      long_.resize(static_cast<std::size_t>(size));
      out = long_.data();
    }
    size_ = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, out, size);
    data_ = out;
    valid_ = size_ == size;
  }
  StrictWide(const StrictWide&) = delete;
  StrictWide& operator=(const StrictWide&) = delete;

  bool valid() const { return valid_; }
  const wchar_t* data() const { return data_; }
  int size() const { return size_; }

 private:
  std::array<wchar_t, 512> short_{};
  std::wstring long_;
  const wchar_t* data_ = short_.data();
  int size_ = 0;
  bool valid_ = true;
};

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  return true;
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool Win32SamePath(std::string_view a, std::string_view b) {
  if (a == b)
    return true;
  // Between two ASCII texts the system's only case pairs are a-z and A-Z, so
  // a byte loop gives its answer without converting.
  if (IsAscii(a) && IsAscii(b)) {
    if (a.size() != b.size())
      return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
        return false;
    }
    return true;
  }
  const StrictWide wide_a(a);
  const StrictWide wide_b(b);
  // Broken text would become U+FFFD, equal to any other broken text.
  if (!wide_a.valid() || !wide_b.valid())
    return false;
  return CompareStringOrdinal(wide_a.data(), wide_a.size(), wide_b.data(), wide_b.size(), TRUE) ==
         CSTR_EQUAL;
}

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
