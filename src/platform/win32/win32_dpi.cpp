#include "platform/win32/win32_dpi.h"

#include <cmath>

#include "platform/win32/win32_system_dll.h"
#include "platform/win32/win32_windows.h"

#include <shellscalingapi.h>

namespace launcher {

namespace {

constexpr int kDefaultDpi = 96;

// Whether this thread's windows follow each monitor's DPI. Windows 10 (1607)
// tells; before it a process could only be per-monitor aware from 8.1 on,
// where the manifest makes it so.
bool AwareOfEachMonitor() {
  using GetContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)();
  using AwarenessFn = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
  const auto get_context =
      reinterpret_cast<GetContextFn>(SystemFunction(L"user32.dll", "GetThreadDpiAwarenessContext"));
  const auto awareness = reinterpret_cast<AwarenessFn>(
      SystemFunction(L"user32.dll", "GetAwarenessFromDpiAwarenessContext"));
  if (get_context == nullptr || awareness == nullptr)
    return true;
  return awareness(get_context()) == DPI_AWARENESS_PER_MONITOR_AWARE;
}

// The primary monitor's effective DPI, from shcore (Windows 8.1 and later).
int PrimaryMonitorDpi() {
  using GetDpiFn = HRESULT(WINAPI*)(HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*);
  const auto get_dpi =
      reinterpret_cast<GetDpiFn>(SystemFunction(L"shcore.dll", "GetDpiForMonitor"));
  if (get_dpi == nullptr)
    return 0;
  // The primary monitor is the one at the origin.
  const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  UINT dpi_x = 0;
  UINT dpi_y = 0;
  if (primary == nullptr || FAILED(get_dpi(primary, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y)))
    return 0;
  return static_cast<int>(dpi_x);
}

// The system DPI, as a DPI-unaware or system-aware thread is drawn at.
int SystemDpi() {
  const HDC dc = GetDC(nullptr);
  if (dc == nullptr)
    return 0;
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(nullptr, dc);
  return dpi;
}

}  // namespace

void* SystemFunction(const wchar_t* dll, const char* name) {
  HMODULE module = GetModuleHandleW(dll);
  if (module == nullptr)
    module = LoadSystemDll(dll);
  if (module == nullptr)
    return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module, name));
}

int PrimaryScreenDpi() {
  int dpi = AwareOfEachMonitor() ? PrimaryMonitorDpi() : 0;
  if (dpi <= 0)
    dpi = SystemDpi();
  return dpi > 0 ? dpi : kDefaultDpi;
}

ScreenMetrics QueryWin32Screen() {
  return Win32ScreenAt(PrimaryScreenDpi());
}

ScreenMetrics Win32ScreenAt(int dpi) {
  // A form's pixel is 1/96 inch, the screen's is 1/DPI: at 96 DPI they are one.
  constexpr float kFormDpi = 96;
  ScreenMetrics screen;
  screen.scale = static_cast<float>(dpi) / kFormDpi;
  screen.width_px = static_cast<int>(
      std::lround(static_cast<float>(GetSystemMetrics(SM_CXSCREEN)) / screen.scale));
  screen.height_px = static_cast<int>(
      std::lround(static_cast<float>(GetSystemMetrics(SM_CYSCREEN)) / screen.scale));
  screen.twips_per_pixel_x = 1440 / kFormDpi;
  screen.twips_per_pixel_y = 1440 / kFormDpi;
  return screen;
}

}  // namespace launcher
