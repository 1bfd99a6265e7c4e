// Splash pictures on Windows: read whole from a disk file, their sizes checked,
// decoded by the system's own codec for their format (WIC) into a DIB section
// that a form draws, and scaled for the screen.
#pragma once

#include <memory>
#include <string>

#include "platform/form.h"
#include "platform/win32/win32_windows.h"

namespace launcher {

// A 32-bit top-down DIB section holding premultiplied BGRA, the form GDI blends.
class PixelBitmap {
 public:
  PixelBitmap(HBITMAP bitmap, const void* bits, int width, int height)
      : bitmap_(bitmap), bits_(bits), width_(width), height_(height) {}
  ~PixelBitmap() { DeleteObject(bitmap_); }
  PixelBitmap(const PixelBitmap&) = delete;
  PixelBitmap& operator=(const PixelBitmap&) = delete;

  HBITMAP bitmap() const { return bitmap_; }
  const void* bits() const { return bits_; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  HBITMAP bitmap_;
  const void* bits_;
  int width_;
  int height_;
};

// The pixels are shared, so a form keeps drawing a picture whose object is gone.
class Win32Picture : public Picture {
 public:
  Win32Picture(std::shared_ptr<const PixelBitmap> pixels, int density)
      : pixels_(std::move(pixels)), density_(density) {}
  int width() const override { return pixels_->width(); }
  int height() const override { return pixels_->height(); }
  int density() const override { return density_; }
  const std::shared_ptr<const PixelBitmap>& pixels() const { return pixels_; }

 private:
  std::shared_ptr<const PixelBitmap> pixels_;
  int density_;
};

// Loads the first frame of a PNG, GIF, JPEG, BMP, ICO or DDS picture with the
// system's own decoder for it (WIC; UTF-8 path): 53 when the file is missing or
// a folder, 481 when it is of another format, no picture the decoder can read,
// or larger than the limits of platform/picture_size.h (declared in its headers
// or told by the decoder, before any pixel is asked for).
std::unique_ptr<Picture> LoadWin32Picture(const std::string& path, int density);

// The part `part` of `source` drawn at `width` x `height`, scaled once with a
// smooth filter; nullptr when the codecs cannot. Only that part is made,
// however large the picture.
std::shared_ptr<const PixelBitmap> ScalePixels(const PixelBitmap& source,
                                               int width,
                                               int height,
                                               const RECT& part);

}  // namespace launcher
