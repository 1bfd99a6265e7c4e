// A PNG file made in memory, for pictures that are large once decoded but
// small on disk. Needs zlib.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace launcher::testing {

// A grey PNG of `width` x `height` pixels, one bit each (or, `rgba`, 32 bits
// of colour and alpha), rows of zeros: a small file that a decoder unpacks to
// gigabytes. `cut` bytes are dropped from its end (with its IEND chunk and
// part of its data).
inline std::string Png(std::uint32_t width,
                       std::uint32_t height,
                       std::size_t cut = 0,
                       bool rgba = false) {
  auto be32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  auto chunk = [&](const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    return be32(static_cast<std::uint32_t>(data.size())) + body + be32(crc);
  };
  const std::string row(1 + (rgba ? std::size_t{width} * 4 : (width + 7) / 8), '\0');
  z_stream z{};
  deflateInit(&z, Z_BEST_COMPRESSION);
  std::string data;
  char out[65536];
  for (std::uint32_t y = 0; y <= height; ++y) {
    const bool last = y == height;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
    z.avail_in = last ? 0 : static_cast<uInt>(row.size());
    do {
      z.next_out = reinterpret_cast<Bytef*>(out);
      z.avail_out = sizeof out;
      deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      data.append(out, sizeof out - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  // Depth 1 and colour type 0 (grey), or 8 and 6 (RGBA); deflate, adaptive
  // filters, not interlaced.
  const std::string header = be32(width) + be32(height) +
                             std::string(rgba ? "\x08\x06\x00\x00\x00" : "\x01\x00\x00\x00\x00", 5);
  std::string png =
      "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", data) + chunk("IEND", "");
  png.resize(png.size() - std::min(cut, png.size()));
  return png;
}

}  // namespace launcher::testing
