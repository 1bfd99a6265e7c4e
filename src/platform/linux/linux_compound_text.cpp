#include "platform/linux/linux_compound_text.h"

#include <cctype>
#include <cerrno>

#include <iconv.h>

namespace launcher {

namespace {

constexpr char kEsc = 0x1b;
constexpr unsigned char kCsi = 0x9b;
constexpr char kStx = 0x02;

// A character set designated into GL or GR: how the C library names its
// encoding, and how many bytes one character takes.
struct Charset {
  const char* encoding = nullptr;  // nullptr: no set designated
  int width = 1;
  // For sets the C library knows only in their EUC form (or JIS X 0201 with
  // its katakana on top): GL bytes get their high bit set before conversion.
  bool raise = false;
};

constexpr Charset kAscii{"ASCII", 1, false};
constexpr Charset kLatin1{"ISO-8859-1", 1, false};

// ESC - F: a 96-character set into GR, the right half of an ISO 8859 part.
const char* Iso8859(char final) {
  switch (final) {
    case 'A':
      return "ISO-8859-1";
    case 'B':
      return "ISO-8859-2";
    case 'C':
      return "ISO-8859-3";
    case 'D':
      return "ISO-8859-4";
    case 'F':
      return "ISO-8859-7";
    case 'G':
      return "ISO-8859-6";
    case 'H':
      return "ISO-8859-8";
    case 'L':
      return "ISO-8859-5";
    case 'M':
      return "ISO-8859-9";
    case 'V':
      return "ISO-8859-10";
    case 'Y':
      return "ISO-8859-13";
    case '_':
      return "ISO-8859-14";
    case 'b':
      return "ISO-8859-15";
    default:
      return nullptr;
  }
}

// ESC ( F or ESC ) F: a 94-character set.
Charset Set94(char final) {
  switch (final) {
    case 'B':
      return kAscii;
    case 'J':
      return {"JIS_X0201", 1, false};
    case 'I':
      return {"JIS_X0201", 1, true};
    default:
      return {};
  }
}

// ESC $ ( F or ESC $ ) F: a 94x94 set.
Charset Set94x94(char final) {
  switch (final) {
    case 'A':
      return {"EUC-CN", 2, true};
    case 'B':
      return {"EUC-JP", 2, true};
    case 'C':
      return {"EUC-KR", 2, true};
    default:
      return {};
  }
}

// Appends `bytes` in `encoding` as UTF-8; false when they do not convert.
bool AppendConverted(const char* encoding, const std::string& bytes, std::string& out) {
  if (bytes.empty())
    return true;
  const iconv_t cd = iconv_open("UTF-8", encoding);
  if (cd == reinterpret_cast<iconv_t>(-1))
    return false;
  std::string converted(bytes.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  char* to = converted.data();
  std::size_t to_left = converted.size();
  const std::size_t result = iconv(cd, &in, &in_left, &to, &to_left);
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1) || in_left != 0)
    return false;
  out.append(converted.data(), converted.size() - to_left);
  return true;
}

// An extended segment's encoding name ("iso8859-14", "big5-0") as the C
// library names it.
std::string EncodingOf(std::string_view name) {
  std::string encoding;
  for (const char c : name)
    encoding += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (encoding.size() > 2 && encoding.compare(encoding.size() - 2, 2, "-0") == 0)
    encoding.resize(encoding.size() - 2);
  if (encoding.compare(0, 7, "ISO8859") == 0)
    return "ISO-" + encoding.substr(3);
  return encoding;
}

class Decoder {
 public:
  std::optional<std::string> Run(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
      const auto byte = static_cast<unsigned char>(text[i]);
      if (text[i] == kEsc) {
        if (!Escape(text, i))
          return std::nullopt;
      } else if (byte == kCsi) {
        // Direction changes (CSI 1 ], CSI 2 ], CSI ]) have no place in a title.
        i = text.find(']', i);
        i = i == std::string_view::npos ? text.size() : i + 1;
      } else if (byte == '\t' || byte == '\n') {
        Flush();
        out_ += text[i++];
      } else if (byte < 0x20 || (byte >= 0x80 && byte < 0xa0)) {
        ++i;  // controls a title cannot use
      } else if (byte < 0x80) {
        // Space stays a space whatever set GL holds.
        if (byte == 0x20 || byte == 0x7f) {
          Flush();
          out_ += text[i++];
          continue;
        }
        Add(gl_, static_cast<char>(gl_.raise ? byte | 0x80 : byte));
        ++i;
      } else {
        Add(gr_, text[i++]);
      }
      if (failed_)
        return std::nullopt;
    }
    Flush();
    if (failed_)
      return std::nullopt;
    return std::move(out_);
  }

 private:
  // Reads the escape sequence at `i` and moves past it.
  bool Escape(std::string_view text, std::size_t& i) {
    const std::string_view rest = text.substr(i);
    auto at = [&](std::size_t k) { return k < rest.size() ? rest[k] : '\0'; };
    if (at(1) == '(' || at(1) == ')') {
      const Charset set = Set94(at(2));
      if (set.encoding == nullptr)
        return false;
      Designate(at(1) == '(' ? gl_ : gr_, set);
      i += 3;
      return true;
    }
    if (at(1) == '-') {
      const char* encoding = Iso8859(at(2));
      if (encoding == nullptr)
        return false;
      Designate(gr_, {encoding, 1, false});
      i += 3;
      return true;
    }
    if (at(1) == '$' && (at(2) == '(' || at(2) == ')')) {
      const Charset set = Set94x94(at(3));
      if (set.encoding == nullptr)
        return false;
      Designate(at(2) == '(' ? gl_ : gr_, set);
      i += 4;
      return true;
    }
    if (at(1) == '%' && at(2) == 'G') {
      // UTF-8 up to ESC % @ (or the end).
      Flush();
      const std::size_t begin = i + 3;
      std::size_t end = text.find("\x1b%@", begin);
      out_.append(text.substr(begin, end == std::string_view::npos ? end : end - begin));
      i = end == std::string_view::npos ? text.size() : end + 3;
      return true;
    }
    if (at(1) == '%' && at(2) == '/' && at(3) >= '0' && at(3) <= '4') {
      // ESC % / F M L: M and L count the bytes that follow, name and STX included.
      const auto m = static_cast<unsigned char>(at(4));
      const auto l = static_cast<unsigned char>(at(5));
      if (m < 0x80 || l < 0x80)
        return false;
      const std::size_t length = (m - 0x80u) * 128u + (l - 0x80u);
      if (6 + length > rest.size())
        return false;
      const std::string_view segment = rest.substr(6, length);
      const std::size_t stx = segment.find(kStx);
      if (stx == std::string_view::npos)
        return false;
      Flush();
      if (!AppendConverted(EncodingOf(segment.substr(0, stx)).c_str(),
                           std::string(segment.substr(stx + 1)), out_))
        return false;
      i += 6 + length;
      return true;
    }
    return false;
  }

  void Designate(Charset& side, const Charset& set) {
    Flush();
    side = set;
  }

  void Add(const Charset& set, char byte) {
    if (set.encoding == nullptr) {
      failed_ = true;
      return;
    }
    if (run_set_ != &set)
      Flush();
    run_set_ = &set;
    run_ += byte;
  }

  void Flush() {
    if (run_set_ != nullptr && !run_.empty()) {
      const std::string_view encoding = run_set_->encoding;
      if (encoding == kAscii.encoding || encoding == kLatin1.encoding) {
        AppendLatin1();
      } else if (!AppendConverted(run_set_->encoding, run_, out_)) {
        failed_ = true;
      }
    }
    run_.clear();
    run_set_ = nullptr;
  }

  // ASCII and Latin-1 need no converter.
  void AppendLatin1() {
    for (const char c : run_) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        out_ += c;
      } else {
        out_ += static_cast<char>(0xc0 | (byte >> 6));
        out_ += static_cast<char>(0x80 | (byte & 0x3f));
      }
    }
  }

  // The initial state: ASCII in GL, the right half of Latin-1 in GR.
  Charset gl_ = kAscii;
  Charset gr_ = kLatin1;
  const Charset* run_set_ = nullptr;
  std::string run_;
  std::string out_;
  bool failed_ = false;
};

}  // namespace

std::optional<std::string> CompoundTextToUtf8(std::string_view text) {
  return Decoder().Run(text);
}

}  // namespace launcher
