// The sizes a picture's own headers declare, read from its bytes in memory
// before a decoder sees them. Some decoders take in the whole picture as soon
// as they are handed it, before they can be asked its size (Wine's PNG, JPEG
// and GIF decoders of WIC do): a backend checks these sizes first.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace launcher {

struct DeclaredSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool operator==(const DeclaredSize&) const = default;
};

// The formats whose headers are read here, told by their first bytes.
enum class PictureFormat { kPng, kGif, kJpeg, kBmp, kIcon, kCursor, kDds };

// The format `bytes` start as; nothing for any other.
std::optional<PictureFormat> PictureFormatOf(std::span<const std::uint8_t> bytes);

// Every size that the headers of a PNG, GIF, JPEG, BMP, ICO, CUR or DDS
// picture declare: a GIF's screen and each of its frames, an icon's entries
// and the picture inside each. Nothing for any other format. Raises 481
// (Invalid picture) for one of these formats whose headers are cut short or
// declare no size.
std::optional<std::vector<DeclaredSize>> DeclaredSizes(std::span<const std::uint8_t> bytes);

}  // namespace launcher
