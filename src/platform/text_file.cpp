#include "platform/text_file.h"

#include <utility>

#include "platform/runtime_error.h"

namespace launcher {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 to UTF-8; a lone surrogate or an odd last byte becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  const auto unit = [&](std::size_t at) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[at]);
    const auto second = static_cast<unsigned char>(bytes[at + 1]);
    return big_endian ? (first << 8 | second) : (second << 8 | first);
  };
  std::string out;
  out.reserve(bytes.size());
  std::size_t at = 0;
  for (; at + 1 < bytes.size(); at += 2) {
    char32_t c = unit(at);
    if (c >= 0xD800 && c < 0xDC00 && at + 3 < bytes.size()) {
      const char32_t low = unit(at + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      }
    }
    AppendUtf8(out, c >= 0xD800 && c < 0xE000 ? char32_t{0xFFFD} : c);
  }
  if (at < bytes.size())
    AppendUtf8(out, 0xFFFD);
  return out;
}

}  // namespace

std::string KeepBytes(std::string_view bytes) {
  return std::string(bytes);
}

TextFile::TextFile(std::string bytes, AnsiDecoder decode)
    : bytes_(std::move(bytes)), decode_(decode) {
  const std::string_view head = std::string_view(bytes_).substr(0, 3);
  if (head == kUtf8Bom) {
    pos_ = kUtf8Bom.size();
    decode_ = &KeepBytes;
  } else if (head.substr(0, 2) == kUtf16LeBom || head.substr(0, 2) == kUtf16BeBom) {
    // Read as what it is: as ANSI its every key would hold NUL bytes and match
    // none, and every setting would silently take its default.
    bytes_ = Utf16ToUtf8(std::string_view(bytes_).substr(2), head[0] == '\xFE');
    decode_ = &KeepBytes;
  }
}

std::string TextFile::ReadLine() {
  if (AtEnd())
    throw RuntimeError::Of(kErrInputPastEnd);
  const std::size_t end = bytes_.find_first_of("\r\n", pos_);
  std::string_view line(bytes_);
  if (end == std::string::npos) {
    line = line.substr(pos_);
    pos_ = bytes_.size();
  } else {
    line = line.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (bytes_[end] == '\r' && pos_ < bytes_.size() && bytes_[pos_] == '\n')
      ++pos_;
  }
  return decode_(line);
}

}  // namespace launcher
