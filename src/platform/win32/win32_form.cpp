#include "platform/win32/win32_form.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/picture_header.h"
#include "platform/picture_size.h"
#include "platform/runtime_error.h"
#include "platform/win32/win32_accessible.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_file.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

#include <objbase.h>
#include <wincodec.h>

namespace launcher {

namespace {

constexpr wchar_t kFormClass[] = L"LauncherSplashForm";
// The form's size as designed, until its owner sizes it.
constexpr int kDesignWidth = 360;
constexpr int kDesignHeight = 207;

// Win32 forms whose window still exists; the event loop runs while there is one.
int g_open_forms = 0;

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

// Releases a COM object when the scope ends.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (object_ != nullptr)
      object_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T** put() { return &object_; }
  void** put_void() { return reinterpret_cast<void**>(&object_); }

 private:
  T* object_ = nullptr;
};

// COM for this thread while a picture is decoded; the codecs are in-process
// COM servers, loaded by the path they are registered under.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_))
      CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

// An uninitialised top-down 32-bit DIB section; nullptr when there is no memory for it.
std::shared_ptr<PixelBitmap> CreatePixelBitmap(int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    if (bitmap != nullptr)
      DeleteObject(bitmap);
    return nullptr;
  }
  return std::make_shared<PixelBitmap>(bitmap, bits, width, height);
}

// Far more than any picture within the pixel limits takes, even uncompressed
// at 64 bits a pixel: a bigger file is refused before it is read.
constexpr std::int64_t kMaxPictureFileBytes = kMaxPicturePixels * 8;

[[noreturn]] void RaiseFileTooLarge(std::int64_t bytes) {
  throw RuntimeError(kErrInvalidPicture,
                     DescribeError(kErrInvalidPicture) + " (a file of " + std::to_string(bytes) +
                         " bytes; at most " + std::to_string(kMaxPictureFileBytes) + " are read)",
                     kProjectSource);
}

// The whole file, read once: the size is checked and the pixels decoded from
// these very bytes, whatever happens to the file meanwhile.
std::vector<BYTE> ReadPictureFile(const std::wstring& path) {
  const UniqueHandle file = OpenDiskFile(path);
  LARGE_INTEGER size = {};
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > kMaxPictureFileBytes)
    RaiseFileTooLarge(size.QuadPart);
  return ReadToEnd<std::vector<BYTE>>(file.get(), kMaxPictureFileBytes, &RaiseFileTooLarge);
}

// The formats whose sizes are read before decoding, each with the system's own
// decoder: no other codec installed for these bytes is loaded into the launcher.
// A cursor has none: the icon decoder takes icons alone, on Windows and Wine.
struct BuiltInDecoder {
  PictureFormat format;
  const CLSID* decoder;
  const char* name;
};

constexpr BuiltInDecoder kDecoders[] = {
    {PictureFormat::kPng, &CLSID_WICPngDecoder, "PNG"},
    {PictureFormat::kGif, &CLSID_WICGifDecoder, "GIF"},
    {PictureFormat::kJpeg, &CLSID_WICJpegDecoder, "JPEG"},
    {PictureFormat::kBmp, &CLSID_WICBmpDecoder, "BMP"},
    {PictureFormat::kIcon, &CLSID_WICIcoDecoder, "ICO"},
    {PictureFormat::kDds, &CLSID_WICDdsDecoder, "DDS"},
};

[[noreturn]] void RaiseInvalidPicture(const std::string& why) {
  throw RuntimeError(kErrInvalidPicture, DescribeError(kErrInvalidPicture) + " (" + why + ")",
                     kProjectSource);
}

const BuiltInDecoder& DecoderFor(std::span<const std::uint8_t> bytes) {
  const auto format = PictureFormatOf(bytes);
  for (const BuiltInDecoder& known : kDecoders) {
    if (format == known.format)
      return known;
  }
  std::string names;
  for (const BuiltInDecoder& known : kDecoders)
    names += (names.empty() ? "" : ", ") + std::string(known.name);
  RaiseInvalidPicture("the format is not one the launcher reads: " + names);
}

// Decodes the first frame of a picture in memory with the system's own
// decoder for its format (WIC). Every size the picture's headers declare is
// checked before the decoder is handed the bytes, since some take in every
// pixel at once (Wine's PNG, JPEG and GIF decoders do); the size the decoder
// tells is checked before a pixel is asked for, and the pixels then come from
// that same decoder, converted to premultiplied BGRA straight into the DIB.
std::shared_ptr<const PixelBitmap> DecodePicture(const std::vector<BYTE>& bytes, int density) {
  if (bytes.empty())
    Raise(kErrInvalidPicture);
  const BuiltInDecoder& known = DecoderFor(bytes);
  if (const auto declared = DeclaredSizes(bytes)) {
    for (const DeclaredSize& size : *declared)
      CheckPictureSize(size.width, size.height, density);
  }
  const ComScope com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  UINT width = 0;
  UINT height = 0;
  // Windows before 8.1 has no DDS decoder.
  if (CoCreateInstance(*known.decoder, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                       decoder.put_void()) == REGDB_E_CLASSNOTREG)
    RaiseInvalidPicture("this system has no " + std::string(known.name) + " decoder");
  // ReadPictureFile keeps the bytes within kMaxPictureFileBytes: their count fits.
  if (decoder.get() == nullptr ||
      FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, factory.put_void())) ||
      FAILED(factory->CreateStream(stream.put())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()),
                                          static_cast<DWORD>(bytes.size()))) ||
      FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->GetSize(&width, &height)) ||
      width == 0 || height == 0)
    Raise(kErrInvalidPicture);
  CheckPictureSize(width, height, density);

  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.put())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    Raise(kErrInvalidPicture);
  auto pixels = CreatePixelBitmap(static_cast<int>(width), static_cast<int>(height));
  if (pixels == nullptr)
    Raise(kErrOutOfMemory);
  // Within the limits the whole bitmap stays below 4 GB, as CopyPixels counts.
  const UINT stride = width * 4;
  if (FAILED(converter->CopyPixels(nullptr, stride, stride * height,
                                   static_cast<BYTE*>(const_cast<void*>(pixels->bits())))))
    Raise(kErrInvalidPicture);
  return pixels;
}

// Windows 10's smoothest filter; older systems refuse it and get Fant's.
constexpr auto kHighQualityCubic = static_cast<WICBitmapInterpolationMode>(4);

// The part `part` of `source` drawn at `width` x `height`, scaled once with a
// smooth filter; nullptr when the codecs cannot. Only that part is made,
// however large the picture.
std::shared_ptr<const PixelBitmap> ScalePixels(const PixelBitmap& source,
                                               int width,
                                               int height,
                                               const WICRect& part) {
  const ComScope com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmap> bitmap;
  ComPtr<IWICBitmapScaler> scaler;
  const UINT stride = static_cast<UINT>(source.width()) * 4;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, factory.put_void())) ||
      FAILED(factory->CreateBitmapFromMemory(
          static_cast<UINT>(source.width()), static_cast<UINT>(source.height()),
          GUID_WICPixelFormat32bppPBGRA, stride, stride * static_cast<UINT>(source.height()),
          static_cast<BYTE*>(const_cast<void*>(source.bits())), bitmap.put())) ||
      FAILED(factory->CreateBitmapScaler(scaler.put())))
    return nullptr;
  if (FAILED(scaler->Initialize(bitmap.get(), static_cast<UINT>(width), static_cast<UINT>(height),
                                kHighQualityCubic)) &&
      FAILED(scaler->Initialize(bitmap.get(), static_cast<UINT>(width), static_cast<UINT>(height),
                                WICBitmapInterpolationModeFant)))
    return nullptr;
  auto scaled = CreatePixelBitmap(part.Width, part.Height);
  const UINT scaled_stride = static_cast<UINT>(part.Width) * 4;
  if (scaled == nullptr || FAILED(scaler->CopyPixels(
                               &part, scaled_stride, scaled_stride * static_cast<UINT>(part.Height),
                               static_cast<BYTE*>(const_cast<void*>(scaled->bits())))))
    return nullptr;
  return scaled;
}

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
  const ScreenMetrics screen = QueryWin32Screen();
  const auto x = [&](float twips) { return Device(twips / screen.twips_per_pixel_x); };
  const auto y = [&](float twips) { return Device(twips / screen.twips_per_pixel_y); };
  SetWindowPos(hwnd_, nullptr, x(left), y(top), x(width), y(height), SWP_NOZORDER | SWP_NOACTIVATE);
  if (hwnd_ != nullptr)
    PreparePicture();
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
  drawn_ = ScalePixels(*picture_, width, height,
                       {part_left, part_top, part_right - part_left, part_bottom - part_top});
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

std::unique_ptr<Picture> LoadWin32Picture(const std::string& path, int density) {
  const std::wstring wide = ToWide(path);
  // A folder, or an empty name (the bin folder itself), is no picture file.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (wide.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    Raise(kErrFileNotFound);
  return std::make_unique<Win32Picture>(DecodePicture(ReadPictureFile(wide), density), density);
}

ScreenMetrics QueryWin32Screen() {
  // A form's pixel is 1/96 inch, the screen's is 1/DPI: at 96 DPI they are one.
  constexpr float kFormDpi = 96;
  ScreenMetrics screen;
  screen.scale = static_cast<float>(PrimaryScreenDpi()) / kFormDpi;
  screen.width_px = static_cast<int>(
      std::lround(static_cast<float>(GetSystemMetrics(SM_CXSCREEN)) / screen.scale));
  screen.height_px = static_cast<int>(
      std::lround(static_cast<float>(GetSystemMetrics(SM_CYSCREEN)) / screen.scale));
  screen.twips_per_pixel_x = 1440 / kFormDpi;
  screen.twips_per_pixel_y = 1440 / kFormDpi;
  return screen;
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
