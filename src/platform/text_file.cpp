#include "platform/text_file.h"

#include <utility>

#include "platform/runtime_error.h"

namespace launcher {

namespace {
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
}  // namespace

std::string KeepBytes(std::string_view bytes) {
  return std::string(bytes);
}

TextFile::TextFile(std::string bytes, AnsiDecoder decode)
    : bytes_(std::move(bytes)), decode_(decode) {
  if (std::string_view(bytes_).substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    pos_ = kUtf8Bom.size();
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
