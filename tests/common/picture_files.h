// Picture files of `width` x `height` pixels, one per format a picture loader
// may take. Their pixels are written in full while they are few; a larger
// picture gets 64 bytes of them, so that it lies about its size in a small
// file. The containers hold a whole PNG (png_file.h), which for a large
// picture is small too and would unpack to gigabytes.
#pragma once

#include <cstdint>
#include <string>

#include "png_file.h"

namespace launcher::testing {

inline std::string Le16(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8)};
}
inline std::string Le32(std::uint32_t v) {
  return Le16(v) + Le16(v >> 16);
}
inline std::string Be16(std::uint32_t v) {
  return {static_cast<char>(v >> 8), static_cast<char>(v)};
}
inline std::string Be32(std::uint32_t v) {
  return Be16(v >> 16) + Be16(v);
}

// Whether `bytes` of pixels are written in full.
inline bool Whole(std::uint64_t bytes) {
  return bytes <= 65536;
}
inline std::string Pixels(std::uint64_t bytes) {
  return std::string(Whole(bytes) ? bytes : 64, '\x7f');
}

// A BITMAPINFOHEADER of `bits` per pixel, uncompressed.
inline std::string DibHeader(std::uint32_t width, std::uint32_t height, std::uint32_t bits) {
  return Le32(40) + Le32(width) + Le32(height) + Le16(1) + Le16(bits) + Le32(0) + Le32(0) +
         Le32(2835) + Le32(2835) + Le32(0) + Le32(0);
}

inline std::string BmpFile(std::uint32_t width, std::uint32_t height) {
  const std::uint64_t row = (width * 3ULL + 3) / 4 * 4;
  return "BM" + Le32(0) + Le32(0) + Le32(54) + DibHeader(width, height, 24) + Pixels(row * height);
}

// One icon: a 32-bit bitmap whose height counts its mask's rows too. The
// directory holds sizes of one byte (0 for 256).
inline std::string IcoFile(std::uint32_t width, std::uint32_t height) {
  const std::uint64_t mask_row = (width + 31ULL) / 32 * 4;
  const std::string dib =
      DibHeader(width, height * 2, 32) + Pixels((width * 4ULL + mask_row) * height);
  return Le16(0) + Le16(1) + Le16(1) + std::string(1, static_cast<char>(width)) +
         std::string(1, static_cast<char>(height)) + std::string(2, '\0') + Le16(1) + Le16(32) +
         Le32(static_cast<std::uint32_t>(dib.size())) + Le32(22) + dib;
}

// An animated cursor of one frame, that icon.
inline std::string AniFile(std::uint32_t width, std::uint32_t height) {
  const std::string icon = IcoFile(width, height);
  const std::string header =
      Le32(36) + Le32(1) + Le32(1) + Le32(0) + Le32(0) + Le32(0) + Le32(0) + Le32(10) + Le32(1);
  const std::string frames =
      "fram" + ("icon" + Le32(static_cast<std::uint32_t>(icon.size())) + icon);
  const std::string body = "ACON" + ("anih" + Le32(36) + header) + "LIST" +
                           Le32(static_cast<std::uint32_t>(frames.size())) + frames;
  return "RIFF" + Le32(static_cast<std::uint32_t>(body.size())) + body;
}

inline std::string GifFile(std::uint32_t width, std::uint32_t height) {
  return "GIF89a" + Le16(width) + Le16(height) + std::string("\x80\0\0", 3) +
         std::string("\0\0\0\xff\xff\xff", 6) + "," + Le16(0) + Le16(0) + Le16(width) +
         Le16(height) + std::string("\0\x02\x02\x44\x01\0;", 7);
}

// Apple's icon container holding a PNG of that size, as its 512 x 512 icon.
inline std::string IcnsFile(std::uint32_t width, std::uint32_t height) {
  const std::string png = Png(width, height);
  const std::string entry = "ic09" + Be32(static_cast<std::uint32_t>(png.size() + 8)) + png;
  return "icns" + Be32(static_cast<std::uint32_t>(entry.size() + 8)) + entry;
}

// A baseline JPEG's markers up to its scan (the coding tables are the
// standard ones), then a little of the scan. `comments` segments of 64 KiB
// come first, so that the size is told only well into the file.
inline std::string JpegFile(std::uint32_t width, std::uint32_t height, int comments = 0) {
  std::string jpeg = "\xff\xd8";
  for (int i = 0; i < comments; ++i)
    jpeg += "\xff\xfe" + Be16(0xffff) + std::string(0xfffd, 'c');
  return jpeg + std::string("\xff\xdb\0\x43\0", 5) + std::string(64, '\x01') +
         std::string("\xff\xc0\0\x0b\x08", 5) + Be16(height) + Be16(width) +
         std::string("\x01\x01\x11\0\xff\xda\0\x08\x01\x01\0\0\x3f\0", 14) + std::string(64, '\0');
}

inline std::string PnmFile(std::uint32_t width, std::uint32_t height) {
  return "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" +
         Pixels(width * 3ULL * height);
}

// A QuickTime image: its description (codec PNG, the size) and the PNG itself.
inline std::string QtifFile(std::uint32_t width, std::uint32_t height) {
  const std::string png = Png(width, height);
  const std::string description = Be32(86) + "png " + std::string(8, '\0') + std::string(16, '\0') +
                                  Be16(width) + Be16(height) + Be32(0x00480000) + Be32(0x00480000) +
                                  Be32(0) + Be16(1) + std::string(32, '\0') + Be16(24) +
                                  Be16(0xffff);
  return Be32(static_cast<std::uint32_t>(description.size() + 8)) + "idsc" + description +
         Be32(static_cast<std::uint32_t>(png.size() + 8)) + "idat" + png;
}

inline std::string SvgFile(std::uint32_t width, std::uint32_t height) {
  const std::string w = std::to_string(width);
  const std::string h = std::to_string(height);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
         "\"><rect width=\"" + w + "\" height=\"" + h + "\" fill=\"#fff\"/></svg>\n";
}

inline std::string TgaFile(std::uint32_t width, std::uint32_t height) {
  return std::string("\0\0\x02\0\0\0\0\0\0\0\0\0", 12) + Le16(width) + Le16(height) +
         std::string("\x18\x20", 2) + Pixels(width * 3ULL * height);
}

// Grey, 8 bits, one strip, uncompressed.
inline std::string TiffFile(std::uint32_t width, std::uint32_t height) {
  auto entry = [](std::uint32_t tag, std::uint32_t type, std::uint32_t value) {
    return Le16(tag) + Le16(type) + Le32(1) + (type == 3 ? Le16(value) + Le16(0) : Le32(value));
  };
  constexpr std::uint32_t kShort = 3, kLong = 4, kEntries = 9;
  const std::uint32_t data = 8 + 2 + kEntries * 12 + 4;
  return "II*" + std::string(1, '\0') + Le32(8) + Le16(kEntries) + entry(256, kLong, width) +
         entry(257, kLong, height) + entry(258, kShort, 8) + entry(259, kShort, 1) +
         entry(262, kShort, 1) + entry(273, kLong, data) + entry(277, kShort, 1) +
         entry(278, kLong, height) + entry(279, kLong, width * height) + Le32(0) +
         Pixels(std::uint64_t{width} * height);
}

inline std::string XbmFile(std::uint32_t width, std::uint32_t height) {
  std::string bits;
  const std::uint64_t bytes = (width + 7ULL) / 8 * height;
  for (std::uint64_t i = Whole(bytes) ? bytes : 2; i > 0; --i)
    bits += "0x55,";
  return "#define p_width " + std::to_string(width) + "\n#define p_height " +
         std::to_string(height) + "\nstatic unsigned char p_bits[] = {\n" + bits + "};\n";
}

inline std::string XpmFile(std::uint32_t width, std::uint32_t height) {
  std::string rows;
  const std::string row = "\"" + std::string(width, 'a') + "\",\n";
  for (std::uint32_t y = Whole(std::uint64_t{width} * height) ? height : 1; y > 0; --y)
    rows += row;
  return "/* XPM */\nstatic char *p[] = {\n\"" + std::to_string(width) + " " +
         std::to_string(height) + " 1 1\",\n\"a c #ffffff\",\n" + rows + "};\n";
}

}  // namespace launcher::testing
