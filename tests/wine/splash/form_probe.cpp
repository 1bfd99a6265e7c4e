// Drives the Windows splash form the way the launcher does and checks what can
// be seen from inside the process: window styles, geometry, z-order, events,
// timers, closing and the event loop. run_probe.sh checks the pixels on screen.
//
//   form_probe metrics
//   form_probe load PATH EXPECT [PATH EXPECT ...]   EXPECT: WxH or an error number
//   form_probe show PICTURE HOLD_MS CLICKS [self]   self: the probe posts its own clicks
//   form_probe events
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime_error.h"
#include "platform/win32/win32_dpi.h"
#include "platform/win32/win32_form.h"
#include "platform/win32/win32_picture.h"
#include "platform/win32/win32_windows.h"

using launcher::CreateWin32Form;
using launcher::Form;
using launcher::FormEvents;
using launcher::RuntimeError;

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
  ++(ok ? g_passed : g_failed);
  std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
  std::fflush(stdout);
}

// A step reached; a hang before it shows as the run's timeout.
void Note(const char* what) {
  std::printf("reached: %s\n", what);
  std::fflush(stdout);
}

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
  if (size > 1)
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

HWND AsHwnd(launcher::WindowHandle handle) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(handle));
}

// Counts what the form reports and lets each scenario react to it.
class ProbeEvents : public FormEvents {
 public:
  Form* form = nullptr;
  bool in_show = false;
  int activations = 0;
  int activations_in_show = 0;
  int clicks = 0;
  ULONGLONG start = GetTickCount64();
  std::map<int, std::vector<ULONGLONG>> ticks;
  std::function<void(int)> on_timer;
  std::function<void()> on_click;

  void OnActivate() override {
    ++activations;
    if (in_show)
      ++activations_in_show;
    form->SetTopmost(true);  // as the splash does on activation
  }
  void OnClick() override {
    ++clicks;
    std::printf("click at %llu ms\n", GetTickCount64() - start);
    std::fflush(stdout);
    if (on_click)
      on_click();
  }
  void OnTimer(int timer) override {
    ticks[timer].push_back(GetTickCount64() - start);
    if (on_timer)
      on_timer(timer);
  }
};

bool IsTopmost(HWND hwnd) {
  return (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

// Position of a window in the z-order, 0 at the top; -1 when not found.
int ZIndex(HWND wanted) {
  int index = 0;
  for (HWND hwnd = GetTopWindow(nullptr); hwnd != nullptr; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
    if (hwnd == wanted)
      return index;
    ++index;
  }
  return -1;
}

int Metrics() {
  const launcher::ScreenMetrics screen = launcher::QueryWin32Screen();
  std::printf("screen %dx%d px, twips per pixel %g x %g\n", screen.width_px, screen.height_px,
              screen.twips_per_pixel_x, screen.twips_per_pixel_y);
  Check(screen.width_px == std::lround(GetSystemMetrics(SM_CXSCREEN) / screen.scale) &&
            screen.height_px == std::lround(GetSystemMetrics(SM_CYSCREEN) / screen.scale),
        "screen size is the primary display's, in pixels of a form");
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(nullptr, dc);
  std::printf("dpi %d, scale %g\n", dpi, screen.scale);
  Check(std::fabs(screen.scale * 96 - static_cast<float>(dpi)) < 0.01f, "scale is DPI / 96");
  Check(screen.twips_per_pixel_x == 15 && screen.twips_per_pixel_y == 15,
        "15 twips per pixel of a form");
  return 0;
}

int Load(int argc, wchar_t** argv) {
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string path = Utf8(argv[i]);
    const std::string expect = Utf8(argv[i + 1]);
    std::string got;
    try {
      const std::unique_ptr<launcher::Picture> picture = launcher::LoadWin32Picture(path, 1);
      got = std::to_string(picture->width()) + "x" + std::to_string(picture->height());
    } catch (const RuntimeError& failure) {
      got = std::to_string(failure.number());
      std::printf("  %s raises %d \"%s\"\n", path.c_str(), failure.number(),
                  failure.description().c_str());
    }
    Check(got == expect, "load " + path + ": expected " + expect + ", got " + got);
  }
  return 0;
}

// Another window of the launcher's thread, kept apart from the splash.
HWND CreateOtherWindow() {
  return CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_BORDER, 0, 0, 120, 60, nullptr,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

int Show(const std::string& picture_path, unsigned hold_ms, int expected_clicks, bool self_click) {
  ProbeEvents events;
  std::unique_ptr<Form> form = CreateWin32Form(events);
  events.form = form.get();
  const HWND hwnd = AsHwnd(form->Handle());
  const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  const LONG ex_style = GetWindowLongW(hwnd, GWL_EXSTYLE);
  Check(IsWindow(hwnd) && form->IsOpen(), "the form has a window");
  Check(!IsWindowVisible(hwnd), "created hidden");
  Check((style & WS_POPUP) != 0 && (style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME)) == 0,
        "popup without caption or border");
  Check((ex_style & WS_EX_TOOLWINDOW) != 0, "tool window: no taskbar button");

  // As the splash's load handler and DisplaySplash do.
  form->SetFrame(0, 0, 277, 85);
  const launcher::ScreenMetrics screen = launcher::QueryWin32Screen();
  const float width = 277.0f * screen.twips_per_pixel_x;
  const float height = 85.0f * screen.twips_per_pixel_y;
  const float top = (static_cast<float>(screen.height_px) * screen.twips_per_pixel_y - height) / 2;
  const float left = (static_cast<float>(screen.width_px) * screen.twips_per_pixel_x - width) / 2;
  form->SetBounds(left, top, width, height);
  {
    const std::unique_ptr<launcher::Picture> picture = launcher::LoadWin32Picture(picture_path, 1);
    std::printf("picture %dx%d\n", picture->width(), picture->height());
    form->SetPicture(*picture, 4, 4);
  }  // the picture object is gone before the form first paints

  events.in_show = true;
  form->Show();
  events.in_show = false;
  Check(events.activations == 1 && events.activations_in_show == 1,
        "Show: exactly one activation, before Show returned (" +
            std::to_string(events.activations) + ")");
  Check(IsWindowVisible(hwnd), "visible after Show");
  Check(GetForegroundWindow() == hwnd && GetActiveWindow() == hwnd, "active after Show");
  Check(IsTopmost(hwnd), "WS_EX_TOPMOST after the activation");

  RECT window;
  RECT client;
  GetWindowRect(hwnd, &window);
  GetClientRect(hwnd, &client);
  std::printf("window at %ld,%ld size %ldx%ld on a %dx%d screen\n", window.left, window.top,
              window.right - window.left, window.bottom - window.top, screen.width_px,
              screen.height_px);
  Check(window.right - window.left == 277 && window.bottom - window.top == 85, "277 x 85 pixels");
  Check(client.right == 277 && client.bottom == 85, "outer size is the client size");
  Check(std::abs(2 * window.left + 277 - screen.width_px) <= 1 &&
            std::abs(2 * window.top + 85 - screen.height_px) <= 1,
        "centred on the primary display");

  // Another window of ours on top: the topmost splash stays above it, and
  // activating the splash from it is an activation of the launcher's own.
  const HWND other = CreateOtherWindow();
  ShowWindow(other, SW_SHOW);
  SetActiveWindow(other);
  Check(GetActiveWindow() == other, "the other window took the activation");
  Check(ZIndex(hwnd) >= 0 && ZIndex(hwnd) < ZIndex(other),
        "topmost splash above a window shown later (z " + std::to_string(ZIndex(hwnd)) + " < " +
            std::to_string(ZIndex(other)) + ")");
  SetActiveWindow(hwnd);
  Check(events.activations == 2, "activation from another launcher window reported (" +
                                     std::to_string(events.activations) + ")");
  SendMessageW(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
  Check(events.activations == 2, "activation from outside the launcher not reported");
  DestroyWindow(other);
  form->SetTopmost(false);
  Check(!IsTopmost(hwnd), "SetTopmost(false) clears WS_EX_TOPMOST");
  form->SetTopmost(true);
  Check(IsTopmost(hwnd), "SetTopmost(true) sets WS_EX_TOPMOST");

  // Timers: 1 ticks on, 2 closes the form from inside its own event, 3 is
  // restarted before it is due, 4 is disabled and 5 has no interval.
  events.start = GetTickCount64();
  bool closed_in_event = false;
  events.on_timer = [&](int timer) {
    if (timer == 1 && events.ticks[1].size() == 2)
      form->SetTimer(3, 300, true);
    if (timer == 3)
      form->SetTimer(3, 300, false);
    if (timer == 2) {
      form->Close();
      closed_in_event = !form->IsOpen() && !IsWindow(hwnd);
    }
  };
  // A click ends the run soon, once 3 has had its time: 2 is restarted from
  // inside the click event.
  events.on_click = [&] { form->SetTimer(2, 800, true); };
  form->SetTimer(1, 100, true);
  form->SetTimer(2, hold_ms, true);
  form->SetTimer(3, 300, true);
  form->SetTimer(4, 50, false);
  form->SetTimer(5, 0, true);
  launcher::PumpWin32Events();
  const COLORREF shadow = GetSysColor(COLOR_3DSHADOW);
  std::printf("shadow %d %d %d\n", GetRValue(shadow), GetGValue(shadow), GetBValue(shadow));
  std::printf("ready %ld %ld\n", window.left, window.top);
  std::fflush(stdout);
  if (self_click) {
    // A release without a press, and a press released outside: no clicks.
    PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(-5, 300));
    // Then one on the picture and one on the frame's corner.
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    PostMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(276, 84));
    PostMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(276, 84));
  }

  launcher::RunWin32EventLoop();
  const ULONGLONG ended = GetTickCount64() - events.start;
  std::printf("event loop returned at %llu ms; ticks of 1: %zu, 2: %zu, 3: %zu; clicks %d\n", ended,
              events.ticks[1].size(), events.ticks[2].size(), events.ticks[3].size(),
              events.clicks);
  Check(!form->IsOpen() && !IsWindow(hwnd), "the event loop returned once the form was closed");
  Check(closed_in_event, "closed from inside its own timer event");
  Check(events.ticks[2].size() == 1, "the closing timer ticked once");
  Check(events.ticks[1].size() >= 2, "timer 1 ticked on");
  Check(events.ticks[3].size() == 1 && events.ticks[3][0] >= 450,
        "a timer set again restarts its interval (first tick at " +
            (events.ticks[3].empty() ? std::string("none") : std::to_string(events.ticks[3][0])) +
            " ms)");
  Check(events.ticks[4].empty() && events.ticks[5].empty(),
        "no ticks from a disabled timer or one without interval");
  Check(events.clicks == expected_clicks, "clicks: expected " + std::to_string(expected_clicks) +
                                              ", got " + std::to_string(events.clicks));
  Check(
      form->Handle() == static_cast<launcher::WindowHandle>(reinterpret_cast<std::uintptr_t>(hwnd)),
      "the closed form still answers its handle");
  int raised = 0;
  try {
    form->SetTopmost(true);
  } catch (const RuntimeError& failure) {
    raised = failure.number();
  }
  Check(raised == launcher::kErrInvalidCall, "SetTopmost on a closed form raises 5");
  form->SetTimer(1, 100, true);
  form->Close();
  Check(!form->IsOpen(), "a closed form stays closed");
  return 0;
}

// Event-loop corner cases with hidden forms: nothing here is on screen.
int Events() {
  launcher::RunWin32EventLoop();
  Note("the event loop returned at once with no form open");

  {
    // The owner deletes the form inside its own timer event.
    ProbeEvents events;
    std::unique_ptr<Form> form = CreateWin32Form(events);
    events.form = form.get();
    const HWND hwnd = AsHwnd(form->Handle());
    events.on_timer = [&](int) { form.reset(); };
    form->SetTimer(1, 50, true);
    launcher::RunWin32EventLoop();
    Check(form == nullptr && !IsWindow(hwnd), "deleted inside its own timer event");
  }
  {
    // A handler slower than its timer: the pump still returns.
    ProbeEvents events;
    std::unique_ptr<Form> form = CreateWin32Form(events);
    events.form = form.get();
    events.on_timer = [&](int) { Sleep(40); };
    form->SetTimer(1, 10, true);
    Sleep(100);
    launcher::PumpWin32Events();
    const std::size_t ticks = events.ticks[1].size();
    Check(ticks >= 1 && ticks <= 2,
          "the pump returns under a slow timer (" + std::to_string(ticks) + " ticks)");
    // Closed inside a pump: the loop afterwards has nothing left to run.
    events.on_timer = [&](int) { form->Close(); };
    Sleep(20);
    launcher::PumpWin32Events();
    Check(!form->IsOpen(), "closed inside the pump");
    launcher::RunWin32EventLoop();
    Note("the event loop returned after a close inside the pump");
  }
  {
    // Two forms: the loop runs until the last one is closed.
    ProbeEvents first_events;
    ProbeEvents second_events;
    std::unique_ptr<Form> first = CreateWin32Form(first_events);
    std::unique_ptr<Form> second = CreateWin32Form(second_events);
    first_events.on_timer = [&](int) { first->Close(); };
    second_events.on_timer = [&](int) { second->Close(); };
    first->SetTimer(1, 100, true);
    second->SetTimer(1, 300, true);
    launcher::RunWin32EventLoop();
    Check(!first->IsOpen() && !second->IsOpen() && first_events.ticks[1].size() == 1 &&
              second_events.ticks[1].size() == 1,
          "the event loop runs until the last form is closed");
  }
  {
    // The destructor destroys a window that is still open.
    ProbeEvents events;
    std::unique_ptr<Form> form = CreateWin32Form(events);
    const HWND hwnd = AsHwnd(form->Handle());
    form.reset();
    Check(!IsWindow(hwnd), "the destructor destroys an open window");
    launcher::RunWin32EventLoop();
    Note("the event loop returned once the deleted form was gone");
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: form_probe metrics | load PATH EXPECT... | show PICTURE HOLD_MS "
               "CLICKS [self] | events\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2)
    return Usage();
  const std::string command = Utf8(argv[1]);
  try {
    if (command == "metrics")
      Metrics();
    else if (command == "load")
      Load(argc, argv);
    else if (command == "show" && argc >= 5)
      Show(Utf8(argv[2]), static_cast<unsigned>(std::wcstoul(argv[3], nullptr, 10)),
           std::stoi(Utf8(argv[4])), argc >= 6 && Utf8(argv[5]) == "self");
    else if (command == "events")
      Events();
    else
      return Usage();
  } catch (const RuntimeError& failure) {
    Check(false,
          "unexpected failure " + std::to_string(failure.number()) + " " + failure.description());
  }
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
