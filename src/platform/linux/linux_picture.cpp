#include "platform/linux/linux_picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <iterator>
#include <string_view>

#include "platform/linux/linux_gio.h"
#include "platform/linux/linux_posix.h"
#include "platform/picture_size.h"
#include "platform/runtime_error.h"

namespace launcher {

namespace {

// Formats whose loader decodes the whole picture, or hands it whole to a
// loader of its own, before it tells the size: no refusal could come in time
// (a Mac OS icon or a QuickTime image holding a PNG of 20000 x 20000 pixels
// took 1.2 GB before its size was known).
constexpr std::string_view kSizedOnlyOnceDecoded[] = {"icns", "qtif", "xbm", "xpm"};

// Formats whose loader takes a file cut short for a picture with blank rows
// at its foot, where gdk-pixbuf's reading of a whole file refuses it. Their
// rows are decoded from the top down, so one whose last row never was has
// been cut short.
constexpr std::string_view kWholeOnlyWithEveryRow[] = {"png", "pnm"};

// What gdk-pixbuf itself reads first of a file to tell its format.
constexpr std::size_t kChunk = 4096;

bool Holds(const std::string_view* begin, const std::string_view* end, const std::string& name) {
  return std::find(begin, end, name) != end;
}

// The format gdk-pixbuf picks for a file, as it does: from the first bytes,
// and where they leave it uncertain, from the name too (XBM has no mark of
// its own). Empty when no loader takes it.
std::string FormatOf(const Toolkit& tk, const std::string& path, const guchar* head, gsize size) {
  const GioLibrary* gio = LoadLibrary<GioLibrary>();
  if (gio == nullptr)
    throw RuntimeError(kErrDllLoad,
                       DescribeError(kErrDllLoad) + " (" + LibraryError<GioLibrary>() + ")",
                       kProjectSource);
  gboolean uncertain = FALSE;
  gchar* type = gio->g_content_type_guess(nullptr, head, size, &uncertain);
  if (uncertain || std::string_view(type) == "text/plain" ||
      std::string_view(type) == "application/gzip") {
    tk.glib.g_free(type);
    type = gio->g_content_type_guess(path.c_str(), head, size, nullptr);
  }
  std::string name;
  GSList* formats = tk.pixbuf.gdk_pixbuf_get_formats();
  for (GSList* item = formats; item != nullptr && name.empty(); item = item->next) {
    auto* format = static_cast<GdkPixbufFormat*>(item->data);
    if (tk.pixbuf.gdk_pixbuf_format_is_disabled(format))
      continue;
    gchar** types = tk.pixbuf.gdk_pixbuf_format_get_mime_types(format);
    for (gchar** t = types; t != nullptr && *t != nullptr && name.empty(); ++t) {
      if (gio->g_content_type_equals(type, *t)) {
        gchar* found = tk.pixbuf.gdk_pixbuf_format_get_name(format);
        name = found;
        tk.glib.g_free(found);
      }
    }
    tk.glib.g_strfreev(types);
  }
  tk.glib.g_slist_free(formats);
  tk.glib.g_free(type);
  return name;
}

// What the loader told while it decoded. Its callbacks run inside its C
// frames, which an exception must not cross: a refusal is kept here and
// raised once the loader has returned.
struct Decoding {
  const Toolkit& tk;
  int density;
  std::exception_ptr refusal;
  int rows = 0;  // down to the foot of the lowest row decoded
};

void OnSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
  auto* decoding = static_cast<Decoding*>(data);
  try {
    CheckPictureSize(width, height, decoding->density);
  } catch (...) {
    decoding->refusal = std::current_exception();
    // Asked for a picture of no size, the loaders stop before they allocate
    // its pixels.
    decoding->tk.pixbuf.gdk_pixbuf_loader_set_size(loader, 0, 0);
  }
}

void OnAreaUpdated(GdkPixbufLoader*, gint, gint y, gint, gint height, gpointer data) {
  auto* decoding = static_cast<Decoding*>(data);
  decoding->rows = std::max(decoding->rows, y + height);
}

// Up to kChunk bytes; 0 at the end, -1 when the file cannot be read.
ssize_t ReadChunk(int fd, guchar* chunk) {
  for (;;) {
    const ssize_t n = read(fd, chunk, kChunk);
    if (n >= 0 || errno != EINTR)
      return n;
  }
}

// Closed (which a loader insists on) and let go on every way out.
class Loader {
 public:
  Loader(const Toolkit& tk, GdkPixbufLoader* loader) : tk_(tk), loader_(loader) {}
  ~Loader() {
    if (!closed_)
      tk_.pixbuf.gdk_pixbuf_loader_close(loader_, nullptr);
    tk_.gobject.g_object_unref(loader_);
  }
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;
  GdkPixbufLoader* get() const { return loader_; }
  bool Close() {
    closed_ = true;
    return tk_.pixbuf.gdk_pixbuf_loader_close(loader_, nullptr) != FALSE;
  }

 private:
  const Toolkit& tk_;
  GdkPixbufLoader* loader_;
  bool closed_ = false;
};

}  // namespace

std::unique_ptr<Picture> LoadGdkPicture(const std::string& path, int density) {
  // One descriptor for the size and the pixels, so that what is checked is
  // what is decoded. Opened without blocking: a FIFO in the picture's place
  // must not hold the launcher.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    Raise(errno == EACCES || errno == EPERM ? kErrPermissionDenied : kErrFileNotFound);
  const UniqueFd file(fd);
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    Raise(kErrFileNotFound);
  const Toolkit& tk = LoadToolkit();
  guchar chunk[kChunk];
  ssize_t n = ReadChunk(fd, chunk);
  const std::string format = n > 0 ? FormatOf(tk, path, chunk, static_cast<gsize>(n)) : "";
  if (format.empty())
    Raise(kErrInvalidPicture);
  if (Holds(std::begin(kSizedOnlyOnceDecoded), std::end(kSizedOnlyOnceDecoded), format))
    throw RuntimeError(kErrInvalidPicture,
                       DescribeError(kErrInvalidPicture) + " (" + format +
                           " pictures are not taken: their size is known only once decoded)",
                       kProjectSource);
  GdkPixbufLoader* created = tk.pixbuf.gdk_pixbuf_loader_new_with_type(format.c_str(), nullptr);
  if (created == nullptr)
    Raise(kErrInvalidPicture);
  Loader loader(tk, created);
  Decoding decoding{tk, density, nullptr};
  tk.gobject.g_signal_connect_data(loader.get(), "size-prepared", G_CALLBACK(&OnSizePrepared),
                                   &decoding, nullptr, GConnectFlags{});
  tk.gobject.g_signal_connect_data(loader.get(), "area-updated", G_CALLBACK(&OnAreaUpdated),
                                   &decoding, nullptr, GConnectFlags{});
  // Fed as it is read; once refused, no more of it.
  bool fed = true;
  while (n > 0 && fed && !decoding.refusal) {
    fed = tk.pixbuf.gdk_pixbuf_loader_write(loader.get(), chunk, static_cast<gsize>(n), nullptr);
    if (fed && !decoding.refusal)
      n = ReadChunk(fd, chunk);
  }
  const bool closed = loader.Close();
  if (decoding.refusal)
    std::rethrow_exception(decoding.refusal);
  GdkPixbuf* pixbuf = tk.pixbuf.gdk_pixbuf_loader_get_pixbuf(loader.get());
  if (!closed || !fed || n != 0 || pixbuf == nullptr ||
      (Holds(std::begin(kWholeOnlyWithEveryRow), std::end(kWholeOnlyWithEveryRow), format) &&
       decoding.rows < tk.pixbuf.gdk_pixbuf_get_height(pixbuf)))
    Raise(kErrInvalidPicture);
  // g_object_ref is also a macro: the parentheses keep it from expanding.
  auto picture = std::make_unique<GdkPicture>(
      tk, static_cast<GdkPixbuf*>((tk.gobject.g_object_ref)(pixbuf)), density);
  // Held to the limits whatever a loader told before.
  CheckPictureSize(picture->width(), picture->height(), density);
  return picture;
}

}  // namespace launcher
