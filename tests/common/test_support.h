// Small helpers shared by the end-to-end tests of both systems.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

namespace launcher::testing {

// Wall-clock milliseconds since 1970, as the probe notes its moments.
inline std::int64_t WallMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// The number a probe wrote into `path`, once it has.
inline std::optional<std::int64_t> ReadNumber(const std::string& path) {
  std::ifstream in(path);
  long long value = 0;
  if (in >> value)
    return value;
  return std::nullopt;
}

// A 24-bit BMP, which every picture loader reads: `rgb(x, y)` is the colour
// (0xRRGGBB) of each pixel, (0, 0) at the top-left.
template <typename Colour>
std::string PatternBmp(int width, int height, Colour rgb_of) {
  const int row = (width * 3 + 3) / 4 * 4;
  std::string bmp(static_cast<std::size_t>(54 + row * height), '\0');
  auto put32 = [&](int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bmp[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bmp.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  bmp[26] = 1;
  bmp[28] = 24;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t rgb = rgb_of(x, y);
      // Rows are stored bottom-up.
      const int at = 54 + (height - 1 - y) * row + x * 3;
      bmp[at] = static_cast<char>(rgb & 0xFF);
      bmp[at + 1] = static_cast<char>((rgb >> 8) & 0xFF);
      bmp[at + 2] = static_cast<char>((rgb >> 16) & 0xFF);
    }
  }
  return bmp;
}

// A BMP of one colour (0xRRGGBB).
inline std::string SolidBmp(int width, int height, std::uint32_t rgb) {
  return PatternBmp(width, height, [rgb](int, int) { return rgb; });
}

}  // namespace launcher::testing
