#include "platform/linux/linux_case_fold.h"

#include <glib.h>

namespace launcher {

namespace {

// Stands for a byte that starts no valid sequence: above every code point, so
// it folds to nothing else and equals only itself.
constexpr std::uint32_t kRawByte = 0x80000000u;

// One character from `text` at `pos`: its code point (or kRawByte plus the
// byte) and the bytes it takes.
std::uint32_t NextChar(std::string_view text, std::size_t pos, std::size_t* length) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  *length = 1;
  if (lead < 0x80)
    return lead;
  const gunichar c =
      g_utf8_get_char_validated(text.data() + pos, static_cast<gssize>(text.size() - pos));
  if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2))
    return kRawByte | lead;
  *length = static_cast<std::size_t>(g_utf8_next_char(text.data() + pos) - (text.data() + pos));
  return c;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::uint32_t SimpleCaseFold(std::uint32_t c) {
  if (c < 0x80)
    return static_cast<std::uint32_t>(AsciiLower(static_cast<char>(c)));
  if (c > 0x10FFFF || !g_unichar_validate(c))
    return c;
  // A character with a lower case folds to it (GLib's case fold gives the
  // same for every such character), without asking for the fold table.
  const gunichar lower = g_unichar_tolower(c);
  if (lower != c)
    return lower;
  char utf8[8];
  const gint size = g_unichar_to_utf8(c, utf8);
  gchar* folded = g_utf8_casefold(utf8, size);
  gunichar result = c;
  if (folded[0] != '\0' && *g_utf8_next_char(folded) == '\0')
    result = g_utf8_get_char(folded);
  g_free(folded);
  return g_unichar_tolower(result);
}

bool SamePathIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {
      if (AsciiLower(a[i]) != AsciiLower(b[j]))
        return false;
      ++i;
      ++j;
      continue;
    }
    std::size_t la = 0;
    std::size_t lb = 0;
    const std::uint32_t ua = NextChar(a, i, &la);
    const std::uint32_t ub = NextChar(b, j, &lb);
    if (ua != ub && SimpleCaseFold(ua) != SimpleCaseFold(ub))
      return false;
    i += la;
    j += lb;
  }
  return i == a.size() && j == b.size();
}

}  // namespace launcher
