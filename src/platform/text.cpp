#include "platform/text.h"

namespace launcher {

std::string Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return {};
  const std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with) {
  if (what.empty())
    return std::string(text);
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, from)) {
    out.append(text.substr(from, at - from));
    out.append(with);
    from = at + what.size();
  }
  out.append(text.substr(from));
  return out;
}

std::size_t Utf8CharLength(std::string_view text, std::size_t pos) {
  if (pos >= text.size())
    return 0;
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 1;
  if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else if (lead >= 0xE0)
    length = 3;
  else if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  if (lead >= 0xF5 || pos + length > text.size())
    return 1;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[pos + k]) & 0xC0) != 0x80)
      return 1;
  }
  return length;
}

}  // namespace launcher
