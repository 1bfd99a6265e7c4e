#include "platform/picture_header.h"

#include <string_view>

#include "platform/runtime_error.h"

namespace launcher {

namespace {

using Bytes = std::span<const std::uint8_t>;

std::uint32_t Byte(Bytes b, std::size_t at) {
  if (at >= b.size())
    Raise(kErrInvalidPicture);
  return b[at];
}

std::uint32_t Le16(Bytes b, std::size_t at) {
  return Byte(b, at) | Byte(b, at + 1) << 8;
}

std::uint32_t Le32(Bytes b, std::size_t at) {
  return Le16(b, at) | Le16(b, at + 2) << 16;
}

std::uint32_t Be16(Bytes b, std::size_t at) {
  return Byte(b, at) << 8 | Byte(b, at + 1);
}

std::uint32_t Be32(Bytes b, std::size_t at) {
  return Be16(b, at) << 16 | Be16(b, at + 2);
}

bool HasAt(Bytes b, std::size_t at, std::string_view magic) {
  if (b.size() < at + magic.size())
    return false;
  for (std::size_t i = 0; i < magic.size(); ++i)
    if (b[at + i] != static_cast<std::uint8_t>(magic[i]))
      return false;
  return true;
}

constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);

// IHDR comes first: its width and height are the picture's.
DeclaredSize PngSize(Bytes b) {
  if (!HasAt(b, 12, "IHDR"))
    Raise(kErrInvalidPicture);
  return {Be32(b, 16), Be32(b, 20)};
}

// A BITMAPINFOHEADER (or a larger one) or an OS/2 BITMAPCOREHEADER at `at`.
// A negative height is a top-down picture; a negative width is none.
DeclaredSize DibSize(Bytes b, std::size_t at) {
  const std::uint32_t header = Le32(b, at);
  if (header == 12)
    return {Le16(b, at + 4), Le16(b, at + 6)};
  const auto width = static_cast<std::int32_t>(Le32(b, at + 4));
  const auto height = static_cast<std::int32_t>(Le32(b, at + 8));
  if (header < 16 || width < 0)
    Raise(kErrInvalidPicture);
  return {width, height < 0 ? -std::int64_t{height} : height};
}

// The directory's entries (0 stands for 256) and the picture each points to:
// a PNG, or a DIB whose height counts its mask too.
std::vector<DeclaredSize> IconSizes(Bytes b) {
  const std::uint32_t count = Le16(b, 4);
  if (count == 0)
    Raise(kErrInvalidPicture);
  std::vector<DeclaredSize> sizes;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = 6 + std::size_t{16} * i;
    const std::uint32_t width = Byte(b, entry);
    const std::uint32_t height = Byte(b, entry + 1);
    sizes.push_back({width == 0 ? 256 : width, height == 0 ? 256 : height});
    const std::uint32_t offset = Le32(b, entry + 12);
    if (offset >= b.size())
      Raise(kErrInvalidPicture);
    const Bytes image = b.subspan(offset);
    if (HasAt(image, 0, kPngSignature)) {
      sizes.push_back(PngSize(image));
    } else {
      DeclaredSize dib = DibSize(image, 0);
      dib.height /= 2;
      sizes.push_back(dib);
    }
  }
  return sizes;
}

// Skips a run of GIF data sub-blocks (each a length byte and that many bytes,
// ended by a zero length); returns the offset after it, or past the end of a
// cut file.
std::size_t SkipSubBlocks(Bytes b, std::size_t at) {
  while (at < b.size() && b[at] != 0)
    at += 1 + std::size_t{b[at]};
  return at + 1;
}

std::size_t ColourTableBytes(std::uint32_t flags) {
  return (flags & 0x80) != 0 ? std::size_t{3} << ((flags & 7) + 1) : 0;
}

// The logical screen and every frame, up to the trailer or the end of the
// data (decoders show what a cut file holds). Zero bytes between blocks are
// skipped: files padded with them in place of a trailer are common, and
// the decoders take them; a frame after them is still read.
std::vector<DeclaredSize> GifSizes(Bytes b) {
  std::vector<DeclaredSize> sizes = {{Le16(b, 6), Le16(b, 8)}};
  std::size_t at = 13 + ColourTableBytes(Byte(b, 10));
  while (at < b.size()) {
    const std::uint32_t block = b[at];
    if (block == 0x3B)
      break;
    if (block == 0x00) {
      ++at;
    } else if (block == 0x21) {
      at = SkipSubBlocks(b, at + 2);
    } else if (block == 0x2C) {
      sizes.push_back({Le16(b, at + 5), Le16(b, at + 7)});
      // The local colour table, the LZW code size, then the pixels.
      at = SkipSubBlocks(b, at + 10 + ColourTableBytes(Byte(b, at + 9)) + 1);
    } else {
      Raise(kErrInvalidPicture);
    }
  }
  if (sizes.size() < 2)
    Raise(kErrInvalidPicture);
  return sizes;
}

// The first start-of-frame segment: any of C0 to CF but DHT (C4), JPG (C8)
// and DAC (CC). The segments before it may be long (EXIF, ICC profiles).
// Stray bytes between segments are passed over up to the next marker, as
// the decoders do (libjpeg warns of "extraneous bytes" and reads on).
DeclaredSize JpegSize(Bytes b) {
  std::size_t at = 2;
  for (;;) {
    while (Byte(b, at) != 0xFF)
      ++at;
    const std::uint32_t marker = Byte(b, at + 1);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
      at += 2;
      continue;
    }
    // The pixels (SOS) or the end (EOI) before any frame: no size was declared.
    if (marker == 0xDA || marker == 0xD9)
      Raise(kErrInvalidPicture);
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
      return {Be16(b, at + 7), Be16(b, at + 5)};
    at += 2 + Be16(b, at + 2);
  }
}

}  // namespace

std::optional<PictureFormat> PictureFormatOf(std::span<const std::uint8_t> bytes) {
  if (HasAt(bytes, 0, kPngSignature))
    return PictureFormat::kPng;
  if (HasAt(bytes, 0, "GIF87a") || HasAt(bytes, 0, "GIF89a"))
    return PictureFormat::kGif;
  if (HasAt(bytes, 0, "\xFF\xD8\xFF"))
    return PictureFormat::kJpeg;
  if (HasAt(bytes, 0, "BM"))
    return PictureFormat::kBmp;
  if (HasAt(bytes, 0, std::string_view("\0\0\1\0", 4)))
    return PictureFormat::kIcon;
  if (HasAt(bytes, 0, std::string_view("\0\0\2\0", 4)))
    return PictureFormat::kCursor;
  if (HasAt(bytes, 0, "DDS "))
    return PictureFormat::kDds;
  return std::nullopt;
}

std::optional<std::vector<DeclaredSize>> DeclaredSizes(std::span<const std::uint8_t> bytes) {
  const auto format = PictureFormatOf(bytes);
  if (!format)
    return std::nullopt;
  switch (*format) {
    case PictureFormat::kPng:
      return std::vector<DeclaredSize>{PngSize(bytes)};
    case PictureFormat::kGif:
      return GifSizes(bytes);
    case PictureFormat::kJpeg:
      return std::vector<DeclaredSize>{JpegSize(bytes)};
    case PictureFormat::kBmp:
      return std::vector<DeclaredSize>{DibSize(bytes, 14)};
    case PictureFormat::kIcon:
    case PictureFormat::kCursor:
      return IconSizes(bytes);
    case PictureFormat::kDds:
      return std::vector<DeclaredSize>{{Le32(bytes, 16), Le32(bytes, 12)}};
  }
  return std::nullopt;
}

}  // namespace launcher
