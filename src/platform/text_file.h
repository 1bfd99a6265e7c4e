// A text file open for sequential line input. The bytes are read when the file
// is opened; lines are split and decoded here, the same way on every backend.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace launcher {

// Turns the bytes of one line in the system's ANSI code page into UTF-8.
using AnsiDecoder = std::string (*)(std::string_view bytes);

// The identity decoder, for systems whose text files are UTF-8 already.
std::string KeepBytes(std::string_view bytes);

class TextFile {
 public:
  // A line ends at CR, CR LF or a lone LF. A leading UTF-8 byte-order mark makes
  // the file UTF-8 (mark skipped), a UTF-16 one (little or big endian, as
  // Notepad's "Unicode" saves) UTF-16; otherwise `decode` turns each line into
  // UTF-8.
  TextFile(std::string bytes, AnsiDecoder decode);

  // True when no further line can be read.
  bool AtEnd() const { return pos_ >= bytes_.size(); }

  // The next line without its line end. Reading past the end is error 62.
  std::string ReadLine();

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
  AnsiDecoder decode_;
};

}  // namespace launcher
