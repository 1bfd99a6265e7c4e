#include "platform/linux/linux_form.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cmath>
#include <map>

#include "platform/runtime_error.h"

namespace launcher {

namespace {

int g_open_forms = 0;
// Where the primary monitor starts, so that bounds centred on it land there.
int g_monitor_x = 0;
int g_monitor_y = 0;
float g_twips_x = 15;
float g_twips_y = 15;

// The colour of 3-D shadows in the classic desktop scheme; GTK has none of its own.
constexpr double kShadowGrey = 160.0 / 255.0;

void EnsureGtk() {
  if (!gtk_init_check(nullptr, nullptr))
    Raise(kErrDeviceUnavailable);
}

class GdkPicture : public Picture {
 public:
  explicit GdkPicture(GdkPixbuf* pixbuf) : pixbuf_(pixbuf) {}
  ~GdkPicture() override { g_object_unref(pixbuf_); }
  GdkPicture(const GdkPicture&) = delete;
  GdkPicture& operator=(const GdkPicture&) = delete;
  int width() const override { return gdk_pixbuf_get_width(pixbuf_); }
  int height() const override { return gdk_pixbuf_get_height(pixbuf_); }
  GdkPixbuf* pixbuf() const { return pixbuf_; }

 private:
  GdkPixbuf* pixbuf_;
};

class GtkForm : public Form {
 public:
  explicit GtkForm(FormEvents& events) : events_(events) {
    EnsureGtk();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_SPLASHSCREEN);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), TRUE);
    gtk_window_set_skip_pager_hint(GTK_WINDOW(window_), TRUE);
    gtk_window_set_title(GTK_WINDOW(window_), "");
    area_ = gtk_drawing_area_new();
    gtk_container_add(GTK_CONTAINER(window_), area_);
    gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(area_, "draw", G_CALLBACK(&GtkForm::OnDraw), this);
    g_signal_connect(window_, "button-press-event", G_CALLBACK(&GtkForm::OnButton), this);
    g_signal_connect(window_, "focus-in-event", G_CALLBACK(&GtkForm::OnFocus), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(gtk_true), nullptr);
    gtk_widget_realize(window_);
    ++g_open_forms;
  }

  ~GtkForm() override {
    Close();
    if (picture_ != nullptr)
      g_object_unref(picture_);
  }
  GtkForm(const GtkForm&) = delete;
  GtkForm& operator=(const GtkForm&) = delete;

  WindowHandle Handle() override {
    if (!open_)
      return 0;
    return static_cast<WindowHandle>(GDK_WINDOW_XID(gtk_widget_get_window(window_)));
  }

  bool IsOpen() override { return open_; }

  void SetBounds(float left, float top, float width, float height) override {
    if (!open_)
      return;
    const int w = static_cast<int>(std::lround(width / g_twips_x));
    const int h = static_cast<int>(std::lround(height / g_twips_y));
    gtk_widget_set_size_request(area_, w, h);
    gtk_window_resize(GTK_WINDOW(window_), w, h);
    gtk_window_move(GTK_WINDOW(window_),
                    g_monitor_x + static_cast<int>(std::lround(left / g_twips_x)),
                    g_monitor_y + static_cast<int>(std::lround(top / g_twips_y)));
  }

  void SetFrame(int left, int top, int width, int height) override {
    frame_ = {left, top, width, height};
    Redraw();
  }

  void SetPicture(const Picture& picture, int left, int top) override {
    if (picture_ != nullptr)
      g_object_unref(picture_);
    picture_ = GDK_PIXBUF(g_object_ref(static_cast<const GdkPicture&>(picture).pixbuf()));
    picture_left_ = left;
    picture_top_ = top;
    Redraw();
  }

  void Show() override {
    if (!open_)
      return;
    gtk_widget_show_all(window_);
    gtk_window_present(GTK_WINDOW(window_));
    activated_in_show_ = true;
    events_.OnActivate();
  }

  void SetTopmost(bool topmost) override {
    if (!open_)
      Raise(kErrInvalidCall);
    gtk_window_set_keep_above(GTK_WINDOW(window_), topmost ? TRUE : FALSE);
  }

  void SetTimer(int timer, std::uint32_t interval_ms, bool enabled) override {
    StopTimer(timer);
    if (!open_ || !enabled || interval_ms == 0)
      return;
    auto* tick = new Tick{this, timer};
    timers_[timer] = g_timeout_add_full(G_PRIORITY_DEFAULT, interval_ms, &GtkForm::OnTick, tick,
                                        [](gpointer data) { delete static_cast<Tick*>(data); });
  }

  void Close() override {
    if (!open_)
      return;
    open_ = false;
    while (!timers_.empty())
      StopTimer(timers_.begin()->first);
    gtk_widget_destroy(window_);
    window_ = nullptr;
    --g_open_forms;
  }

 private:
  struct Tick {
    GtkForm* form;
    int timer;
  };
  struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
  };

  void StopTimer(int timer) {
    const auto it = timers_.find(timer);
    if (it == timers_.end())
      return;
    g_source_remove(it->second);
    timers_.erase(it);
  }

  void Redraw() {
    if (open_)
      gtk_widget_queue_draw(area_);
  }

  static gboolean OnTick(gpointer data) {
    const Tick tick = *static_cast<Tick*>(data);
    // The handler may close the form, which removes this very source; the
    // form object itself stays valid until its owner lets it go.
    tick.form->events_.OnTimer(tick.timer);
    return G_SOURCE_CONTINUE;
  }

  static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* self = static_cast<GtkForm*>(data);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    const Rect& f = self->frame_;
    if (f.width > 0 && f.height > 0) {
      cairo_set_source_rgb(cr, kShadowGrey, kShadowGrey, kShadowGrey);
      cairo_set_line_width(cr, 1);
      cairo_rectangle(cr, f.left + 0.5, f.top + 0.5, f.width - 1, f.height - 1);
      cairo_stroke(cr);
    }
    if (self->picture_ != nullptr) {
      gdk_cairo_set_source_pixbuf(cr, self->picture_, self->picture_left_, self->picture_top_);
      cairo_paint(cr);
    }
    return TRUE;
  }

  static gboolean OnButton(GtkWidget*, GdkEventButton* event, gpointer data) {
    if (event->type == GDK_BUTTON_PRESS && event->button == 1)
      static_cast<GtkForm*>(data)->events_.OnClick();
    return TRUE;
  }

  static gboolean OnFocus(GtkWidget*, GdkEvent*, gpointer data) {
    auto* self = static_cast<GtkForm*>(data);
    // The activation that Show reported already.
    if (self->activated_in_show_) {
      self->activated_in_show_ = false;
      return FALSE;
    }
    self->events_.OnActivate();
    return FALSE;
  }

  FormEvents& events_;
  GtkWidget* window_ = nullptr;
  GtkWidget* area_ = nullptr;
  bool open_ = true;
  bool activated_in_show_ = false;
  Rect frame_;
  GdkPixbuf* picture_ = nullptr;
  int picture_left_ = 0;
  int picture_top_ = 0;
  std::map<int, guint> timers_;
};

}  // namespace

std::unique_ptr<Form> CreateGtkForm(FormEvents& events) {
  return std::make_unique<GtkForm>(events);
}

std::unique_ptr<Picture> LoadGdkPicture(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    Raise(kErrFileNotFound);
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
  if (pixbuf == nullptr) {
    const bool denied =
        error != nullptr && error->domain == G_FILE_ERROR && error->code == G_FILE_ERROR_ACCES;
    g_clear_error(&error);
    Raise(denied ? kErrPermissionDenied : kErrInvalidPicture);
  }
  return std::make_unique<GdkPicture>(pixbuf);
}

ScreenMetrics QueryGdkScreen() {
  EnsureGtk();
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr)
    monitor = gdk_display_get_monitor(display, 0);
  ScreenMetrics metrics;
  if (monitor != nullptr) {
    GdkRectangle area{};
    gdk_monitor_get_geometry(monitor, &area);
    metrics.width_px = area.width;
    metrics.height_px = area.height;
    g_monitor_x = area.x;
    g_monitor_y = area.y;
  }
  double dpi = gdk_screen_get_resolution(gdk_screen_get_default());
  if (dpi <= 0)
    dpi = 96;
  metrics.twips_per_pixel_x = metrics.twips_per_pixel_y = static_cast<float>(1440.0 / dpi);
  g_twips_x = metrics.twips_per_pixel_x;
  g_twips_y = metrics.twips_per_pixel_y;
  return metrics;
}

void RunGtkEventLoop() {
  while (g_open_forms > 0)
    g_main_context_iteration(nullptr, TRUE);
}

}  // namespace launcher
