#include "platform/linux/linux_case_fold.h"

#include "platform/linux/linux_glib.h"

namespace launcher {

namespace {

// Stands for a byte that starts no valid sequence: above every code point, so
// it folds to nothing else and equals only itself.
constexpr std::uint32_t kRawByte = 0x80000000u;

// The case tables come from GLib, loaded on the first fold that needs them:
// a launcher start must not pay for loading it (most paths are ASCII, and the
// started process is found by its id first).
const GlibLibrary* LoadCaseTables() {
  return LoadLibrary<GlibLibrary>();
}

// One character from `text` at `pos`: its code point (or kRawByte plus the
// byte when no valid UTF-8 sequence starts there) and the bytes it takes.
std::uint32_t NextChar(std::string_view text, std::size_t pos, std::size_t* length) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  *length = 1;
  if (lead < 0x80)
    return lead;
  std::size_t size = 0;
  std::uint32_t c = 0;
  std::uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2, c = lead & 0x1Fu, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3, c = lead & 0x0Fu, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4, c = lead & 0x07u, least = 0x10000;
  } else {
    return kRawByte | lead;
  }
  if (pos + size > text.size())
    return kRawByte | lead;
  for (std::size_t k = 1; k < size; ++k) {
    const auto next = static_cast<unsigned char>(text[pos + k]);
    if ((next & 0xC0u) != 0x80u)
      return kRawByte | lead;
    c = (c << 6) | (next & 0x3Fu);
  }
  // Overlong forms and surrogates are no characters.
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    return kRawByte | lead;
  *length = size;
  return c;
}

// The UTF-8 form of a valid code point; `out` has room for 4 bytes.
std::size_t EncodeUtf8(std::uint32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::uint32_t SimpleCaseFold(std::uint32_t c) {
  if (c < 0x80)
    return static_cast<std::uint32_t>(AsciiLower(static_cast<char>(c)));
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    return c;
  const GlibLibrary* glib = LoadCaseTables();
  if (glib == nullptr)
    return c;
  // A character with a lower case folds to it (GLib's case fold gives the
  // same for every such character), without asking for the fold table.
  const gunichar lower = glib->g_unichar_tolower(c);
  if (lower != c)
    return lower;
  char utf8[4];
  const std::size_t size = EncodeUtf8(c, utf8);
  gchar* folded = glib->g_utf8_casefold(utf8, static_cast<gssize>(size));
  gunichar result = c;
  if (folded != nullptr) {
    const std::string_view text(folded);
    std::size_t length = 0;
    const std::uint32_t first = text.empty() ? kRawByte : NextChar(text, 0, &length);
    if ((first & kRawByte) == 0 && length == text.size())
      result = first;
    glib->g_free(folded);
  }
  return glib->g_unichar_tolower(result);
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
