// The Windows demo application of scripts/demo --windows: a small window that
// shows the command line and working directory it was started with, and
// closes itself after a while, like its GTK sibling.
#include <windows.h>

#include <string>

namespace {

constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kLifetimeMs = 8000;

std::wstring StartText() {
  std::wstring text = L"Started by the launcher with:\r\n";
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 0; i < argc; ++i)
    text += L"  argv[" + std::to_wstring(i) + L"] = " + argv[i] + L"\r\n";
  LocalFree(argv);
  wchar_t cwd[MAX_PATH] = L"";
  if (GetCurrentDirectoryW(MAX_PATH, cwd) > 0)
    text += std::wstring(L"Working directory: ") + cwd + L"\r\n";
  return text;
}

LRESULT CALLBACK DemoWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = DemoWindowProc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // The dialog colour of the label, so that the window reads as one surface.
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = L"QuarvenDemo";
  RegisterClassW(&cls);
  // Top left, away from the splash in the middle of the screen.
  HWND window =
      CreateWindowExW(0, cls.lpszClassName, L"Quarven demo application", WS_OVERLAPPEDWINDOW, 24,
                      24, 560, 220, nullptr, nullptr, instance, nullptr);
  RECT client{};
  GetClientRect(window, &client);
  HWND label =
      CreateWindowExW(0, L"STATIC", StartText().c_str(), WS_CHILD | WS_VISIBLE, 16, 12,
                      client.right - 32, client.bottom - 24, window, nullptr, instance, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  SetTimer(window, kCloseTimer, kLifetimeMs, nullptr);
  ShowWindow(window, show);
  UpdateWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
