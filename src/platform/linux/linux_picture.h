// Splash pictures of the Linux backend, decoded by GdkPixbuf (loaded with the
// toolkit, linux_toolkit.h).
#pragma once

#include <memory>
#include <string>

#include "platform/form.h"
#include "platform/linux/linux_toolkit.h"

namespace launcher {

// A decoded picture; the form draws its pixbuf.
class GdkPicture : public Picture {
 public:
  // Takes over the reference it is given.
  GdkPicture(const Toolkit& tk, GdkPixbuf* pixbuf, int density)
      : tk_(tk), pixbuf_(pixbuf), density_(density) {}
  ~GdkPicture() override { tk_.gobject.g_object_unref(pixbuf_); }
  GdkPicture(const GdkPicture&) = delete;
  GdkPicture& operator=(const GdkPicture&) = delete;
  int width() const override { return tk_.pixbuf.gdk_pixbuf_get_width(pixbuf_); }
  int height() const override { return tk_.pixbuf.gdk_pixbuf_get_height(pixbuf_); }
  int density() const override { return density_; }
  GdkPixbuf* pixbuf() const { return pixbuf_; }

 private:
  const Toolkit& tk_;
  GdkPixbuf* pixbuf_;
  int density_;
};

// The picture, read once through one descriptor and decoded as it is read.
// Its size is checked (picture_size.h) as soon as the decoder tells it,
// before the pixels are decoded. 53 when the file is missing (or no regular
// file), 70 when it may not be read, 481 when it is not a whole picture, is
// too large, or is in a format whose size is known only once decoded.
std::unique_ptr<Picture> LoadGdkPicture(const std::string& path, int density);

}  // namespace launcher
