#include "platform/linux/linux_form.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "platform/linux/linux_layer_shell.h"
#include "platform/linux/linux_picture.h"
#include "platform/linux/linux_toolkit.h"
#include "platform/runtime_error.h"

namespace launcher {

namespace {

// Half away from zero, as lround, without loading the maths library for it.
long RoundToPixels(float value) {
  const double v = value;
  long whole = static_cast<long>(v);
  const double fraction = v - static_cast<double>(whole);
  if (fraction >= 0.5)
    ++whole;
  else if (fraction <= -0.5)
    --whole;
  return whole;
}

int g_open_forms = 0;
// Looks under way that hold the forms' handlers (HeldFormEvents).
int g_held = 0;
class GtkForm;
// Every form alive, for handlers held to find theirs still there.
std::vector<GtkForm*> g_forms;
// Where the primary monitor starts, so that bounds centred on it land there.
int g_monitor_x = 0;
int g_monitor_y = 0;
float g_twips_x = 15;
float g_twips_y = 15;

// GDK_SCALE as it was given, where TakeUnusableGdkScale looked.
std::optional<std::string> g_asked_scale;
bool g_asked_scale_noted = false;

// GDK 3 draws at whole scales only and reads GDK_SCALE as atol does ("1.5"
// is 1, "abc" is 1); a user who asked for another scale learns which one
// the splash got.
void TraceScaleOnce(int scale) {
  static bool traced = false;
  const char* set = std::getenv("GDK_SCALE");
  const std::optional<std::string> asked =
      g_asked_scale_noted ? g_asked_scale
                          : (set != nullptr ? std::optional<std::string>(set) : std::nullopt);
  if (traced || !asked || *asked == std::to_string(scale))
    return;
  traced = true;
  BackendTraceLine("DisplaySplash: GDK_SCALE=" + *asked +
                   " asked for, the toolkit draws the splash at scale " + std::to_string(scale));
}

// The colour of 3-D shadows in the classic desktop scheme; GTK has none of its own.
constexpr double kShadowGrey = 160.0 / 255.0;

// The toolkit, loaded and opened on its display; raises 48 when it cannot be
// loaded and 68 when no display can be opened.
const Toolkit& EnsureGtk() {
  const Toolkit& tk = LoadToolkit();
  if (!OpenToolkitDisplay(tk))
    Raise(kErrDeviceUnavailable);
  return tk;
}

// A splash screen is what the splash is; but KWin keeps a window of that
// kind among the normal ones, where a later window covers it whatever it
// asked, and keeps a utility window above them as asked.
GdkWindowTypeHint SplashTypeHint(const Toolkit& tk) {
  GdkScreen* screen = tk.gdk.gdk_screen_get_default();
  const bool x11 = screen != nullptr &&
                   tk.gobject.g_type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(screen),
                                                         tk.gdk.gdk_x11_screen_get_type());
  const char* manager = x11 ? tk.gdk.gdk_x11_screen_get_window_manager_name(screen) : nullptr;
  return manager != nullptr && std::string_view(manager) == "KWin"
             ? GDK_WINDOW_TYPE_HINT_UTILITY
             : GDK_WINDOW_TYPE_HINT_SPLASHSCREEN;
}

class GtkForm : public Form {
 public:
  explicit GtkForm(FormEvents& events) : events_(events), tk_(EnsureGtk()) {
    window_ = tk_.gtk.gtk_window_new(GTK_WINDOW_TOPLEVEL);
    MakeLayerSurface(GTK_WINDOW(window_));
    tk_.gtk.gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
    tk_.gtk.gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    tk_.gtk.gtk_window_set_type_hint(GTK_WINDOW(window_), SplashTypeHint(tk_));
    tk_.gtk.gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), TRUE);
    tk_.gtk.gtk_window_set_skip_pager_hint(GTK_WINDOW(window_), TRUE);
    tk_.gtk.gtk_window_set_title(GTK_WINDOW(window_), "");
    area_ = tk_.gtk.gtk_drawing_area_new();
    tk_.gtk.gtk_container_add(GTK_CONTAINER(window_), area_);
    tk_.gtk.gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK);
    Connect(area_, "draw", G_CALLBACK(&GtkForm::OnDraw), this);
    Connect(window_, "button-press-event", G_CALLBACK(&GtkForm::OnButton), this);
    Connect(window_, "focus-in-event", G_CALLBACK(&GtkForm::OnFocus), this);
    Connect(window_, "delete-event", G_CALLBACK(tk_.gtk.gtk_true), nullptr);
    tk_.gtk.gtk_widget_realize(window_);
    ++g_open_forms;
    g_forms.push_back(this);
  }

  ~GtkForm() override {
    std::erase(g_forms, this);
    Close();
    if (picture_ != nullptr)
      tk_.cairo.cairo_surface_destroy(picture_);
  }
  GtkForm(const GtkForm&) = delete;
  GtkForm& operator=(const GtkForm&) = delete;

  WindowHandle Handle() override {
    if (!open_)
      return 0;
    // A Wayland window has no id the window list could meet: the compositor
    // sources leave the launcher's own windows out by its process.
    GdkWindow* window = tk_.gtk.gtk_widget_get_window(window_);
    if (window == nullptr ||
        !tk_.gobject.g_type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(window),
                                                tk_.gdk.gdk_x11_window_get_type()))
      return 0;
    return static_cast<WindowHandle>(tk_.gdk.gdk_x11_window_get_xid(window));
  }

  bool IsOpen() override { return open_; }

  void SetBounds(float left, float top, float width, float height) override {
    if (!open_)
      return;
    const int w = static_cast<int>(RoundToPixels(width / g_twips_x));
    const int h = static_cast<int>(RoundToPixels(height / g_twips_y));
    tk_.gtk.gtk_widget_set_size_request(area_, w, h);
    tk_.gtk.gtk_window_resize(GTK_WINDOW(window_), w, h);
    tk_.gtk.gtk_window_move(GTK_WINDOW(window_),
                            g_monitor_x + static_cast<int>(RoundToPixels(left / g_twips_x)),
                            g_monitor_y + static_cast<int>(RoundToPixels(top / g_twips_y)));
  }

  void SetFrame(int left, int top, int width, int height) override {
    frame_ = {left, top, width, height};
    Redraw();
  }

  void SetAccessibleName(const std::string& name) override {
    if (!open_)
      return;
    // The window's own accessible object, not its title: a screen reader
    // says the name, and the caption stays empty.
    AtkObject* accessible = tk_.gtk.gtk_widget_get_accessible(window_);
    if (accessible != nullptr)
      tk_.gobject.g_object_set(accessible, "accessible-name", name.c_str(), nullptr);
  }

  void SetPicture(const Picture& picture, int left, int top) override {
    if (!open_)
      return;
    // Made once, in the window's pixels: a picture of density 2 keeps its
    // own pixels at scale 2, one to each of the screen's.
    cairo_surface_t* surface = tk_.gdk.gdk_cairo_surface_create_from_pixbuf(
        static_cast<const GdkPicture&>(picture).pixbuf(), picture.density(),
        tk_.gtk.gtk_widget_get_window(window_));
    if (picture_ != nullptr)
      tk_.cairo.cairo_surface_destroy(picture_);
    picture_ = surface;
    picture_left_ = left;
    picture_top_ = top;
    Redraw();
  }

  void Show() override {
    if (!open_)
      return;
    tk_.gtk.gtk_widget_show_all(window_);
    tk_.gtk.gtk_window_present(GTK_WINDOW(window_));
    activated_in_show_ = true;
    events_.OnActivate();
  }

  void SetTopmost(bool topmost) override {
    if (!open_)
      Raise(kErrInvalidCall);
    tk_.gtk.gtk_window_set_keep_above(GTK_WINDOW(window_), topmost ? TRUE : FALSE);
  }

  void SetTimer(int timer, std::uint32_t interval_ms, bool enabled) override {
    StopTimer(timer);
    if (!open_ || !enabled || interval_ms == 0)
      return;
    auto* tick = new Tick{this, timer};
    timers_[timer] =
        tk_.glib.g_timeout_add_full(G_PRIORITY_DEFAULT, interval_ms, &GtkForm::OnTick, tick,
                                    [](gpointer data) { delete static_cast<Tick*>(data); });
  }

  void Close() override {
    if (!open_)
      return;
    open_ = false;
    while (!timers_.empty())
      StopTimer(timers_.begin()->first);
    tk_.gtk.gtk_widget_destroy(window_);
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

  void Connect(GtkWidget* widget, const char* signal, GCallback handler, gpointer data) {
    tk_.gobject.g_signal_connect_data(widget, signal, handler, data, nullptr, GConnectFlags{});
  }

  void StopTimer(int timer) {
    const auto it = timers_.find(timer);
    if (it == timers_.end())
      return;
    tk_.glib.g_source_remove(it->second);
    timers_.erase(it);
  }

  void Redraw() {
    if (open_)
      tk_.gtk.gtk_widget_queue_draw(area_);
  }

  // Delivers what came while handlers were held, each to a form still alive
  // and still wanting it; the handlers may close or end anything.
  static gboolean DeliverHeld(gpointer /*data*/) {
    if (g_held > 0)
      return G_SOURCE_CONTINUE;
    const std::vector<GtkForm*> forms = g_forms;
    for (GtkForm* form : forms) {
      while (std::find(g_forms.begin(), g_forms.end(), form) != g_forms.end() &&
             !form->due_.empty()) {
        const int timer = *form->due_.begin();
        form->due_.erase(form->due_.begin());
        if (form->open_ && form->timers_.count(timer) != 0)
          form->events_.OnTimer(timer);
      }
      if (std::find(g_forms.begin(), g_forms.end(), form) != g_forms.end() && form->click_due_) {
        form->click_due_ = false;
        if (form->open_)
          form->events_.OnClick();
      }
    }
    return G_SOURCE_REMOVE;
  }

 public:
  // Whether anything waits for DeliverHeld.
  static bool AnythingHeld() {
    return std::any_of(g_forms.begin(), g_forms.end(),
                       [](const GtkForm* f) { return !f->due_.empty() || f->click_due_; });
  }
  static void DeliverLater() {
    if (!g_forms.empty())
      g_forms.front()->tk_.glib.g_timeout_add_full(G_PRIORITY_DEFAULT, 0, &GtkForm::DeliverHeld,
                                                   nullptr, nullptr);
  }

 private:
  static gboolean OnTick(gpointer data) {
    const Tick tick = *static_cast<Tick*>(data);
    if (g_held > 0) {
      tick.form->due_.insert(tick.timer);
      return G_SOURCE_CONTINUE;
    }
    // The handler may close the form, which removes this very source; the
    // form object itself stays valid until its owner lets it go.
    tick.form->events_.OnTimer(tick.timer);
    return G_SOURCE_CONTINUE;
  }

  static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* self = static_cast<GtkForm*>(data);
    self->tk_.cairo.cairo_set_source_rgb(cr, 1, 1, 1);
    self->tk_.cairo.cairo_paint(cr);
    const Rect& f = self->frame_;
    if (f.width > 0 && f.height > 0) {
      self->tk_.cairo.cairo_set_source_rgb(cr, kShadowGrey, kShadowGrey, kShadowGrey);
      self->tk_.cairo.cairo_set_line_width(cr, 1);
      self->tk_.cairo.cairo_rectangle(cr, f.left + 0.5, f.top + 0.5, f.width - 1, f.height - 1);
      self->tk_.cairo.cairo_stroke(cr);
    }
    if (self->picture_ != nullptr) {
      self->tk_.cairo.cairo_set_source_surface(cr, self->picture_, self->picture_left_,
                                               self->picture_top_);
      // Where the screen's pixels and the picture's differ, a cubic filter
      // keeps its text from looking blocky; one to one, cairo copies.
      self->tk_.cairo.cairo_pattern_set_filter(self->tk_.cairo.cairo_get_source(cr),
                                               CAIRO_FILTER_BEST);
      self->tk_.cairo.cairo_paint(cr);
    }
    return TRUE;
  }

  static gboolean OnButton(GtkWidget*, GdkEventButton* event, gpointer data) {
    if (event->type == GDK_BUTTON_PRESS && event->button == 1) {
      auto* self = static_cast<GtkForm*>(data);
      if (g_held > 0)
        self->click_due_ = true;
      else
        self->events_.OnClick();
    }
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
  const Toolkit& tk_;
  GtkWidget* window_ = nullptr;
  GtkWidget* area_ = nullptr;
  bool open_ = true;
  bool activated_in_show_ = false;
  Rect frame_;
  cairo_surface_t* picture_ = nullptr;
  int picture_left_ = 0;
  int picture_top_ = 0;
  std::map<int, guint> timers_;
  // What came while handlers were held.
  std::set<int> due_;
  bool click_due_ = false;
};

}  // namespace

std::unique_ptr<Form> CreateGtkForm(FormEvents& events) {
  return std::make_unique<GtkForm>(events);
}

ScreenMetrics QueryGdkScreen() {
  const Toolkit& tk = EnsureGtk();
  GdkDisplay* display = tk.gdk.gdk_display_get_default();
  GdkMonitor* monitor = tk.gdk.gdk_display_get_primary_monitor(display);
  if (monitor == nullptr)
    monitor = tk.gdk.gdk_display_get_monitor(display, 0);
  ScreenMetrics metrics;
  if (monitor != nullptr) {
    GdkRectangle area{};
    tk.gdk.gdk_monitor_get_geometry(monitor, &area);
    metrics.width_px = area.width;
    metrics.height_px = area.height;
    g_monitor_x = area.x;
    g_monitor_y = area.y;
  }
  // GDK places and sizes windows in its own pixels already, so the splash
  // needs the scale only to pick and draw its picture.
  const int scale = monitor != nullptr ? tk.gdk.gdk_monitor_get_scale_factor(monitor) : 1;
  metrics.scale = static_cast<float>(std::max(scale, 1));
  TraceScaleOnce(scale);
  double dpi = tk.gdk.gdk_screen_get_resolution(tk.gdk.gdk_screen_get_default());
  if (dpi <= 0)
    dpi = 96;
  metrics.twips_per_pixel_x = metrics.twips_per_pixel_y = static_cast<float>(1440.0 / dpi);
  g_twips_x = metrics.twips_per_pixel_x;
  g_twips_y = metrics.twips_per_pixel_y;
  return metrics;
}

std::optional<std::string> TakeUnusableGdkScale() {
  const char* asked = std::getenv("GDK_SCALE");
  g_asked_scale_noted = true;
  if (asked == nullptr)
    return std::nullopt;
  g_asked_scale = asked;
  if (std::atol(asked) >= 0)
    return std::nullopt;
  const std::string entry = std::string("GDK_SCALE=") + asked;
  unsetenv("GDK_SCALE");
  return entry;
}

HeldFormEvents::HeldFormEvents() {
  ++g_held;
}

HeldFormEvents::~HeldFormEvents() {
  if (--g_held == 0 && GtkForm::AnythingHeld())
    GtkForm::DeliverLater();
}

void KeepFormsDrawn() {
  if (g_forms.empty() || g_held == 0)
    return;
  const Toolkit& tk = LoadToolkit();
  // Bounded: a source that is always ready must not keep the look.
  for (int i = 0; i < 64 && tk.glib.g_main_context_iteration(nullptr, FALSE) != FALSE; ++i) {
  }
}

void RunGtkEventLoop() {
  // Forms are open only once the toolkit is loaded.
  while (g_open_forms > 0)
    LoadToolkit().glib.g_main_context_iteration(nullptr, TRUE);
}

}  // namespace launcher
