// The sizes pictures declare in their headers, read before any decoder sees
// them: sizes hidden behind long segments, in later frames or inside icons;
// headers cut short; formats that are not known here.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/picture_density.h"
#include "platform/picture_header.h"
#include "platform/runtime_error.h"

namespace launcher {
namespace {

using namespace std::string_literals;
using Sizes = std::vector<DeclaredSize>;

std::string Le16(unsigned v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
}
std::string Le32(std::uint32_t v) {
  return Le16(v & 0xFFFF) + Le16(v >> 16);
}
std::string Be16(unsigned v) {
  return {static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)};
}
std::string Be32(std::uint32_t v) {
  return Be16(v >> 16) + Be16(v & 0xFFFF);
}

std::string Png(std::uint32_t width, std::uint32_t height) {
  return "\x89PNG\r\n\x1a\n"s + Be32(13) + "IHDR" + Be32(width) + Be32(height) + "\x08\x06\0\0\0"s +
         "CRC!";
}

std::string Dib(std::int32_t width, std::int32_t height) {
  return Le32(40) + Le32(static_cast<std::uint32_t>(width)) +
         Le32(static_cast<std::uint32_t>(height)) + Le16(1) + Le16(32) + std::string(24, '\0');
}

// A GIF with a 2-colour global table, a comment, then one frame per size.
std::string Gif(unsigned screen_w, unsigned screen_h, const Sizes& frames) {
  std::string gif =
      "GIF89a" + Le16(screen_w) + Le16(screen_h) + "\x80\0\0"s + "\0\0\0\xff\xff\xff"s;
  gif += "\x21\xfe\x05hello\0"s;
  for (const DeclaredSize& f : frames)
    gif += "\x2c"s + Le16(0) + Le16(0) + Le16(static_cast<unsigned>(f.width)) +
           Le16(static_cast<unsigned>(f.height)) + "\0\x02\x02\x4c\x01\0"s;
  return gif + "\x3b";
}

std::string JpegSegment(unsigned marker, const std::string& body) {
  return "\xff"s + static_cast<char>(marker) + Be16(static_cast<unsigned>(body.size() + 2)) + body;
}

// An icon whose one entry says 16 x 16 and points to `image`.
std::string Icon(const std::string& image, unsigned type = 1) {
  return Le16(0) + Le16(type) + Le16(1) + "\x10\x10\0\0"s + Le16(1) + Le16(32) +
         Le32(static_cast<std::uint32_t>(image.size())) + Le32(22) + image;
}

struct HeaderCase {
  const char* name;
  std::string bytes;
  std::optional<Sizes> sizes;  // nothing: not a format known here
  bool broken = false;         // 481 instead
};

void PrintTo(const HeaderCase& c, std::ostream* out) {
  *out << c.name;
}

class PictureHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PictureHeader, DeclaresItsSizesOrIsRefused) {
  const HeaderCase& c = GetParam();
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                                            c.bytes.size());
  if (c.broken) {
    try {
      DeclaredSizes(bytes);
      ADD_FAILURE() << "no failure";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), kErrInvalidPicture);
    }
    return;
  }
  EXPECT_EQ(DeclaredSizes(bytes), c.sizes);
}

const std::string kLongApp(65000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Formats,
    PictureHeader,
    ::testing::Values(
        HeaderCase{"png", Png(20000, 30000), Sizes{{20000, 30000}}},
        HeaderCase{"png_interlaced",
                   [] {
                     std::string png = Png(300, 100);
                     png[28] = '\x01';  // Adam7
                     return png;
                   }(),
                   Sizes{{300, 100}}},
        HeaderCase{"png_cut_in_its_header", Png(20000, 20000).substr(0, 19), {}, true},
        HeaderCase{"gif_huge_second_frame", Gif(10, 10, {{10, 10}, {20000, 20000}}),
                   Sizes{{10, 10}, {10, 10}, {20000, 20000}}},
        HeaderCase{"gif_cut_after_its_frame", Gif(5, 6, {{5, 6}}).substr(0, 40),
                   Sizes{{5, 6}, {5, 6}}},
        HeaderCase{"gif_without_frame", Gif(10, 10, {}), {}, true},
        // Padding in place of the trailer, and a frame still read after zeros.
        HeaderCase{"gif_padded_with_zeros_instead_of_its_trailer",
                   Gif(5, 6, {{5, 6}}).substr(0, 43) + std::string(64, '\0'),
                   Sizes{{5, 6}, {5, 6}}},
        HeaderCase{"gif_huge_frame_after_zeros",
                   Gif(5, 6, {{5, 6}}).substr(0, 43) + std::string(8, '\0') +
                       Gif(1, 1, {{20000, 20000}}).substr(28),
                   Sizes{{5, 6}, {5, 6}, {20000, 20000}}},
        HeaderCase{"gif_garbage_after_its_frame",
                   Gif(5, 6, {{5, 6}}).substr(0, 43) + "junk",
                   {},
                   true},
        HeaderCase{"gif_interlaced_frame",
                   [] {
                     std::string gif = Gif(7, 9, {{7, 9}});
                     gif[37] = '\x40';  // the frame's interlace flag
                     return gif;
                   }(),
                   Sizes{{7, 9}, {7, 9}}},
        // The frame's size comes after two long segments.
        HeaderCase{"jpeg_frame_after_long_segments",
                   "\xff\xd8"s + JpegSegment(0xE1, kLongApp) + JpegSegment(0xE2, kLongApp) +
                       "\xff\xff"s +
                       JpegSegment(0xC2, "\x08"s + Be16(20000) + Be16(1000) + "\x03"s),
                   Sizes{{1000, 20000}}},
        HeaderCase{"jpeg_stray_bytes_between_segments",
                   "\xff\xd8"s + JpegSegment(0xE0, "JFIF") + "\0\0stray"s +
                       JpegSegment(0xC0, "\x08"s + Be16(77) + Be16(270) + "\x03"s),
                   Sizes{{270, 77}}},
        HeaderCase{"jpeg_without_its_end",
                   "\xff\xd8"s + JpegSegment(0xC2, "\x08"s + Be16(10) + Be16(20) + "\x03"s) +
                       JpegSegment(0xDA, "scan"),
                   Sizes{{20, 10}}},
        HeaderCase{"jpeg_stray_bytes_to_its_end",
                   "\xff\xd8"s + JpegSegment(0xE0, "JFIF") + "\x01\x02\x03"s,
                   {},
                   true},
        HeaderCase{"jpeg_pixels_before_any_frame",
                   "\xff\xd8"s + JpegSegment(0xC4, "table") + JpegSegment(0xDA, "scan"),
                   {},
                   true},
        HeaderCase{"jpeg_cut_in_a_segment",
                   "\xff\xd8"s + JpegSegment(0xE0, kLongApp).substr(0, 99),
                   {},
                   true},
        HeaderCase{"bmp_top_down", "BM"s + std::string(12, '\0') + Dib(400, -300),
                   Sizes{{400, 300}}},
        HeaderCase{
            "bmp_os2_core_header",
            "BM"s + std::string(12, '\0') + Le32(12) + Le16(640) + Le16(480) + Le32(0x180001),
            Sizes{{640, 480}}},
        HeaderCase{"bmp_negative_width", "BM"s + std::string(12, '\0') + Dib(-5, 5), {}, true},
        // The entry says 16 x 16; the picture inside says otherwise.
        HeaderCase{"icon_lying_about_its_png", Icon(Png(20000, 20000)),
                   Sizes{{16, 16}, {20000, 20000}}},
        HeaderCase{"cursor_with_a_dib", Icon(Dib(32, 64), 2), Sizes{{16, 16}, {32, 32}}},
        HeaderCase{"icon_pointing_past_its_end", Icon("").substr(0, 22), {}, true},
        HeaderCase{"dds", "DDS "s + Le32(124) + Le32(0) + Le32(3000) + Le32(5000),
                   Sizes{{5000, 3000}}},
        HeaderCase{"text", "just text\r\n", std::nullopt},
        HeaderCase{"empty", "", std::nullopt}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

// Formats a backend has no size reader for are told apart from those it has,
// so that it can refuse them before any decoder sees them.
TEST(PictureFormat, IsToldByTheFirstBytes) {
  using F = PictureFormat;
  const struct {
    const char* name;
    std::string bytes;
    std::optional<PictureFormat> format;
  } cases[] = {
      {"png", Png(1, 1), F::kPng},
      {"gif87a", "GIF87a"s + Le16(1) + Le16(1), F::kGif},
      {"jpeg", "\xff\xd8\xff\xe0"s, F::kJpeg},
      {"bmp", "BM"s + std::string(12, '\0') + Dib(1, 1), F::kBmp},
      {"icon", Icon(Png(1, 1)), F::kIcon},
      {"cursor", Icon(Dib(1, 2), 2), F::kCursor},
      {"dds", "DDS "s + Le32(124), F::kDds},
      {"tiff_little_endian", "II*\0"s + Le32(8), std::nullopt},
      {"tiff_big_endian", "MM\0*"s + Be32(8), std::nullopt},
      {"jpeg_xr", "II\xbc\x01"s, std::nullopt},
      {"webp", "RIFF"s + Le32(4) + "WEBPVP8 ", std::nullopt},
      {"heif",
       "\0\0\0\x18"
       "ftypheic"s,
       std::nullopt},
      {"jpeg_without_its_third_byte", "\xff\xd8"s, std::nullopt},
      {"icon_of_another_type", Icon(Png(1, 1), 3), std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                                              c.bytes.size());
    EXPECT_EQ(PictureFormatOf(bytes), c.format) << c.name;
    if (!c.format) {
      EXPECT_EQ(DeclaredSizes(bytes), std::nullopt) << c.name;
    }
  }
}

}  // namespace
}  // namespace launcher

namespace launcher {
namespace {

TEST(DoubleDensityPath, GoesBeforeTheLastComponentsExtension) {
  const struct {
    const char* path;
    char separator;
    const char* sharp;
  } cases[] = {
      {"C:\\bin\\splash.png", '\\', "C:\\bin\\splash@2x.png"},
      {"/opt/q/bin/splash.tar.png", '/', "/opt/q/bin/splash.tar@2x.png"},
      {"/opt/q.v2/bin/splash", '/', "/opt/q.v2/bin/splash@2x"},
      {"/opt/q/bin/.splash", '/', "/opt/q/bin/.splash@2x"},
      {"/opt/q/bin/", '/', "/opt/q/bin/@2x"},
      {"splash.png", '/', "splash@2x.png"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DoubleDensityPath(c.path, c.separator), c.sharp) << c.path;
}

}  // namespace
}  // namespace launcher
