#include "platform/win32/win32_form.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/runtime_error.h"
#include "platform/win32/win32_accessible.h"
#include "platform/win32/win32_com.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_picture.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace launcher {

namespace {

constexpr wchar_t kFormClass[] = L"LauncherSplashForm";
// The form's size as designed, until its owner sizes it.
constexpr int kDesignWidth = 360;
constexpr int kDesignHeight = 207;
// A change of scale outside 50 to 2000 % is no screen's (Windows offers 100 to
// 500 %): the splash keeps its size rather than take an absurd one.
constexpr int kMinDpi = 96 / 2;
constexpr int kMaxDpi = 96 * 20;

// Win32 forms whose window still exists; the event loop runs while there is one.
int g_open_forms = 0;

// Runs one of the owner's event handlers. They skip their own failing
// statements; one that still escapes must not unwind through the system's frames.
template <typename Event>
void Fire(Event event) noexcept {
  try {
    event();
  } catch (const RuntimeError&) {
    // The form's events have no caller to report to.
  }
}

class Win32Form : public Form {
 public:
  explicit Win32Form(FormEvents& events);
  ~Win32Form() override;
  Win32Form(const Win32Form&) = delete;
  Win32Form& operator=(const Win32Form&) = delete;

  WindowHandle Handle() override { return handle_; }
  bool IsOpen() override { return hwnd_ != nullptr; }
  void SetBounds(float left, float top, float width, float height) override;
  void SetFrame(int left, int top, int width, int height) override;
  void SetPicture(const Picture& picture, int left, int top) override;
  void SetAccessibleName(const std::string& name) override;
  void Show() override;
  void SetTopmost(bool topmost) override;
  void SetTimer(int timer, std::uint32_t interval_ms, bool enabled) override;
  void Close() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // Handles one message. Once an event handler has run nothing of `this` is
  // touched: the handler may have closed the form, or even deleted it.
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  bool ReportsActivation(HWND previous);
  // WM_DPICHANGED: the screen's scale changed while the form shows.
  void Rescale(WPARAM wparam, LPARAM lparam);
  // Moves and sizes the window to the owner's bounds at the screen's scale.
  void Place();
  void Paint();
  void DrawPicture(HDC target, const RECT& client) const;
  // Scales the picture, once, for the window's size and the screen's scale.
  void PreparePicture();
  // Pixels of the form's design to the screen's own.
  int Device(float pixels) const { return static_cast<int>(std::lround(pixels * scale_)); }
  // The window is gone: the form is closed from here on.
  void Detach();

  FormEvents& events_;
  // Its accessible object is handed out through COM while the window lives.
  ComScope com_;
  float scale_ = 1;
  // The bounds the owner last set, in twips, and the screen they were set for.
  struct Bounds {
    float left, top, width, height;
  };
  std::optional<Bounds> bounds_;
  ScreenMetrics bounds_screen_;
  HWND hwnd_ = nullptr;
  WindowHandle handle_ = 0;
  bool counted_ = false;
  bool pressed_ = false;
  bool in_show_ = false;
  bool activated_in_show_ = false;
  std::vector<UINT_PTR> running_timers_;
  bool has_frame_ = false;
  RECT frame_ = {};
  std::shared_ptr<const PixelBitmap> picture_;
  int picture_density_ = 1;
  int picture_left_ = 0;
  int picture_top_ = 0;
  // The picture as drawn: its part within the window at the screen's scale
  // (or, should scaling fail, the picture stretched as it is drawn).
  std::shared_ptr<const PixelBitmap> drawn_;
  RECT drawn_at_ = {};
  std::wstring accessible_name_;
};

void RegisterFormClass(HINSTANCE instance, WNDPROC procedure) {
  static const bool registered = [&] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    window_class.lpszClassName = kFormClass;
    return RegisterClassExW(&window_class) != 0;
  }();
  if (!registered)
    Raise(kErrOutOfMemory);
}

Win32Form::Win32Form(FormEvents& events) : events_(events), scale_(QueryWin32Screen().scale) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterFormClass(instance, &Win32Form::WindowProc);
  // WS_EX_TOOLWINDOW: no taskbar button for a splash.
  CreateWindowExW(WS_EX_TOOLWINDOW, kFormClass, L"", WS_POPUP, 0, 0, kDesignWidth, kDesignHeight,
                  nullptr, nullptr, instance, this);
  if (hwnd_ == nullptr)
    Raise(kErrOutOfMemory);
}

Win32Form::~Win32Form() {
  if (hwnd_ != nullptr)
    DestroyWindow(hwnd_);
}

LRESULT CALLBACK Win32Form::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<Win32Form*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    form->hwnd_ = hwnd;
    form->handle_ = static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(hwnd));
    form->counted_ = true;
    ++g_open_forms;
  }
  auto* form = reinterpret_cast<Win32Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (form == nullptr)
    return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    form->Detach();
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  return form->OnMessage(message, wparam, lparam);
}

LRESULT Win32Form::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  const HWND hwnd = hwnd_;
  FormEvents& events = events_;
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_PAINT:
      Paint();
      return 0;
    case WM_DPICHANGED:
      Rescale(wparam, lparam);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE && ReportsActivation(reinterpret_cast<HWND>(lparam))) {
        DefWindowProcW(hwnd, message, wparam, lparam);
        Fire([&] { events.OnActivate(); });
        return 0;
      }
      break;
    case WM_LBUTTONDOWN:
      pressed_ = true;
      SetCapture(hwnd);
      return 0;
    case WM_LBUTTONUP: {
      const bool pressed = pressed_;
      pressed_ = false;
      if (GetCapture() == hwnd)
        ReleaseCapture();
      RECT client;
      GetClientRect(hwnd, &client);
      const POINT point = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      // A click is a press and a release both on the form.
      if (pressed && PtInRect(&client, point))
        Fire([&] { events.OnClick(); });
      return 0;
    }
    case WM_CAPTURECHANGED:
      pressed_ = false;
      return 0;
    case WM_GETOBJECT:
      // The lParam is a 32-bit id also on 64-bit Windows.
      if (static_cast<DWORD>(lparam) == static_cast<DWORD>(OBJID_CLIENT) &&
          !accessible_name_.empty()) {
        if (const LRESULT answer = AnswerAccessibleName(hwnd, wparam, accessible_name_))
          return answer;
      }
      break;
    case WM_TIMER:
      // A tick queued before its timer was stopped is not delivered.
      if (std::find(running_timers_.begin(), running_timers_.end(), wparam) !=
          running_timers_.end())
        Fire([&] { events.OnTimer(static_cast<int>(wparam)); });
      return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// The activation that Show brings is reported exactly once. Later ones count
// only when they come from another window of the launcher: switching to the
// splash from another program is no activation of the launcher's own.
bool Win32Form::ReportsActivation(HWND previous) {
  if (in_show_) {
    if (activated_in_show_)
      return false;
    activated_in_show_ = true;
    return true;
  }
  return previous != nullptr && previous != hwnd_ &&
         GetWindowThreadProcessId(previous, nullptr) == GetCurrentThreadId();
}

void Win32Form::Detach() {
  hwnd_ = nullptr;
  running_timers_.clear();
  pressed_ = false;
  if (counted_) {
    counted_ = false;
    // Wakes a GetMessage that would otherwise wait for the next message.
    if (--g_open_forms == 0)
      PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
  }
}

void Win32Form::SetBounds(float left, float top, float width, float height) {
  if (hwnd_ == nullptr)
    return;
  bounds_ = Bounds{left, top, width, height};
  bounds_screen_ = QueryWin32Screen();
  Place();
}

void Win32Form::Place() {
  const ScreenMetrics& screen = bounds_screen_;
  const auto x = [&](float twips) { return Device(twips / screen.twips_per_pixel_x); };
  const auto y = [&](float twips) { return Device(twips / screen.twips_per_pixel_y); };
  SetWindowPos(hwnd_, nullptr, x(bounds_->left), y(bounds_->top), x(bounds_->width),
               y(bounds_->height), SWP_NOZORDER | SWP_NOACTIVATE);
  if (hwnd_ != nullptr)
    PreparePicture();
}

void Win32Form::Rescale(WPARAM wparam, LPARAM lparam) {
  const int dpi = LOWORD(wparam);
  // Windows sends one DPI in both words and a suggested rectangle; a message
  // without them is none of its.
  if (dpi != HIWORD(wparam) || lparam == 0 || dpi < kMinDpi || dpi > kMaxDpi)
    return;
  const ScreenMetrics screen = Win32ScreenAt(dpi);
  scale_ = screen.scale;
  if (!bounds_) {
    PreparePicture();
    return;
  }
  // The owner centred its bounds on the screen as measured then. Moved by half
  // the change in the screen's size they are what it would set now, so the
  // splash is placed as at first; the suggested rectangle knows nothing of the
  // centre and is not used.
  bounds_->left +=
      static_cast<float>(screen.width_px - bounds_screen_.width_px) * screen.twips_per_pixel_x / 2;
  bounds_->top += static_cast<float>(screen.height_px - bounds_screen_.height_px) *
                  screen.twips_per_pixel_y / 2;
  bounds_screen_ = screen;
  Place();
}

void Win32Form::SetFrame(int left, int top, int width, int height) {
  has_frame_ = true;
  frame_ = {left, top, left + width, top + height};
  if (hwnd_ != nullptr)
    InvalidateRect(hwnd_, nullptr, FALSE);
}

void Win32Form::SetAccessibleName(const std::string& name) {
  accessible_name_ = ToWide(name);
}

void Win32Form::SetPicture(const Picture& picture, int left, int top) {
  const auto* native = dynamic_cast<const Win32Picture*>(&picture);
  if (native == nullptr)
    Raise(kErrInvalidPicture);
  picture_ = native->pixels();
  picture_density_ = std::max(1, native->density());
  picture_left_ = left;
  picture_top_ = top;
  if (hwnd_ != nullptr)
    PreparePicture();
}

void Win32Form::PreparePicture() {
  InvalidateRect(hwnd_, nullptr, FALSE);
  drawn_ = nullptr;
  if (picture_ == nullptr)
    return;
  const float factor = scale_ / static_cast<float>(picture_density_);
  const int left = Device(static_cast<float>(picture_left_));
  const int top = Device(static_cast<float>(picture_top_));
  const int width =
      std::max(1, static_cast<int>(std::lround(static_cast<float>(picture_->width()) * factor)));
  const int height =
      std::max(1, static_cast<int>(std::lround(static_cast<float>(picture_->height()) * factor)));
  // One pixel of the picture to each of the screen's: drawn as it is.
  if (width == picture_->width() && height == picture_->height()) {
    drawn_ = picture_;
    drawn_at_ = {left, top, left + width, top + height};
    return;
  }
  RECT client;
  GetClientRect(hwnd_, &client);
  // Only the part within the window is scaled: a large picture cut off at
  // its edges costs no more than one that fits.
  const int part_left = std::clamp<int>(client.left - left, 0, width);
  const int part_top = std::clamp<int>(client.top - top, 0, height);
  const int part_right = std::clamp<int>(client.right - left, part_left, width);
  const int part_bottom = std::clamp<int>(client.bottom - top, part_top, height);
  if (part_right == part_left || part_bottom == part_top)
    return;
  drawn_ = ScalePixels(*picture_, width, height, {part_left, part_top, part_right, part_bottom});
  if (drawn_ != nullptr) {
    drawn_at_ = {left + part_left, top + part_top, left + part_right, top + part_bottom};
    return;
  }
  // Still shown where the codecs cannot scale it, if less smoothly.
  drawn_ = picture_;
  drawn_at_ = {left, top, left + width, top + height};
}

void Win32Form::Show() {
  if (hwnd_ == nullptr)
    return;
  in_show_ = true;
  activated_in_show_ = false;
  ShowWindow(hwnd_, SW_SHOW);
  if (hwnd_ != nullptr)
    SetForegroundWindow(hwnd_);
  if (hwnd_ != nullptr)
    SetActiveWindow(hwnd_);
  in_show_ = false;
  // Windows may refuse or defer the activation; the owner is told all the same.
  if (!activated_in_show_ && hwnd_ != nullptr) {
    activated_in_show_ = true;
    events_.OnActivate();
  }
}

void Win32Form::SetTopmost(bool topmost) {
  if (hwnd_ == nullptr || !SetWindowPos(hwnd_, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                                        SWP_NOMOVE | SWP_NOSIZE))
    Raise(kErrInvalidCall);
}

void Win32Form::SetTimer(int timer, std::uint32_t interval_ms, bool enabled) {
  if (hwnd_ == nullptr)
    return;
  const auto id = static_cast<UINT_PTR>(static_cast<unsigned>(timer));
  std::erase(running_timers_, id);
  // An interval of 0 stops a timer, as a disabled one.
  if (!enabled || interval_ms == 0) {
    KillTimer(hwnd_, id);
    return;
  }
  const UINT interval = std::min<std::uint32_t>(interval_ms, USER_TIMER_MAXIMUM);
  // Setting an existing timer again restarts its interval.
  if (::SetTimer(hwnd_, id, interval, nullptr) == 0)
    Raise(kErrOutOfMemory);
  running_timers_.push_back(id);
}

void Win32Form::Close() {
  // WM_NCDESTROY detaches the form, also when this runs inside its own event.
  if (hwnd_ != nullptr)
    DestroyWindow(hwnd_);
}

void Win32Form::Paint() {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(hwnd_, &paint);
  RECT client;
  GetClientRect(hwnd_, &client);
  // Drawn off screen first, so the window never shows a half-painted splash.
  const HDC buffer_dc = CreateCompatibleDC(dc);
  const HBITMAP buffer = CreateCompatibleBitmap(dc, client.right, client.bottom);
  if (buffer_dc != nullptr && buffer != nullptr) {
    const HGDIOBJ previous = SelectObject(buffer_dc, buffer);
    FillRect(buffer_dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (has_frame_) {
      // The outline keeps its weight on a scaled screen.
      RECT frame = {Device(static_cast<float>(frame_.left)), Device(static_cast<float>(frame_.top)),
                    Device(static_cast<float>(frame_.right)),
                    Device(static_cast<float>(frame_.bottom))};
      for (int line = std::max(1, Device(1)); line > 0 && !IsRectEmpty(&frame); --line) {
        FrameRect(buffer_dc, &frame, GetSysColorBrush(COLOR_3DSHADOW));
        InflateRect(&frame, -1, -1);
      }
    }
    if (drawn_ != nullptr)
      DrawPicture(buffer_dc, client);
    BitBlt(dc, 0, 0, client.right, client.bottom, buffer_dc, 0, 0, SRCCOPY);
    SelectObject(buffer_dc, previous);
  }
  if (buffer != nullptr)
    DeleteObject(buffer);
  if (buffer_dc != nullptr)
    DeleteDC(buffer_dc);
  EndPaint(hwnd_, &paint);
}

// Blends the picture's visible part over what is drawn already.
void Win32Form::DrawPicture(HDC target, const RECT& client) const {
  const HDC source = CreateCompatibleDC(target);
  if (source == nullptr)
    return;
  const HGDIOBJ previous = SelectObject(source, drawn_->bitmap());
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  const int width = drawn_at_.right - drawn_at_.left;
  const int height = drawn_at_.bottom - drawn_at_.top;
  if (width == drawn_->width() && height == drawn_->height()) {
    const int left = std::max<int>(drawn_at_.left, client.left);
    const int top = std::max<int>(drawn_at_.top, client.top);
    const int right = std::min<int>(drawn_at_.right, client.right);
    const int bottom = std::min<int>(drawn_at_.bottom, client.bottom);
    if (right > left && bottom > top)
      GdiAlphaBlend(target, left, top, right - left, bottom - top, source, left - drawn_at_.left,
                    top - drawn_at_.top, right - left, bottom - top, blend);
  } else {
    GdiAlphaBlend(target, drawn_at_.left, drawn_at_.top, width, height, source, 0, 0,
                  drawn_->width(), drawn_->height(), blend);
  }
  SelectObject(source, previous);
  DeleteDC(source);
}

}  // namespace

std::unique_ptr<Form> CreateWin32Form(FormEvents& events) {
  return std::make_unique<Win32Form>(events);
}

void RunWin32EventLoop() {
  MSG message;
  while (g_open_forms > 0) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == -1)
      return;
    if (got == 0) {
      // Left for an outer loop, should there be one.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void PumpWin32Events() {
  // A timer is due again at once when its handler outlasts its interval; so a
  // timer seen a second time ends the pump, or it might never return.
  std::vector<std::pair<HWND, WPARAM>> ticked;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    bool again = false;
    if (message.message == WM_TIMER) {
      const std::pair<HWND, WPARAM> timer(message.hwnd, message.wParam);
      again = std::find(ticked.begin(), ticked.end(), timer) != ticked.end();
      if (!again)
        ticked.push_back(timer);
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    if (again)
      return;
  }
}

}  // namespace launcher
