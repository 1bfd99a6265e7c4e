// Runs a program under the Windows debug API, the way a developer's debugger
// would, and reports on standard output what a user and a debugger saw of it:
// its trace lines (OutputDebugString), every message box it showed (title and
// text, read from the dialog, then answered with OK) and every other visible
// top-level window it had, then its exit code.
//
//   wine_driver.exe [--shot <ms> <file.bmp>] [--click <ms>] [--name <ms>] [--cwd <folder>]
//                   [--dpi-changed <ms> <wParam> <rect 1|0>] <timeout ms> <program> [args...]
//
// --shot saves the screen as a BMP file, --click clicks the middle of the
// program's first window and --name reads that window's accessible name as a
// screen reader does (MSAA), that many ms after the window was first seen.
// --cwd starts the program in that folder instead of the driver's own.
// --dpi-changed sends that window WM_DPICHANGED, as Windows does when the
// scale of its monitor changes (Wine does not), with a suggested rectangle
// (top-left kept, size scaled from 96 DPI) or with none; a --shot waits for it.
// Positions and sizes are in the screen's own pixels, whatever its DPI.
//
// Output lines: "trace <text>", "box <title>|<text with \n for line breaks>",
// "window <title>|<left>,<top>,<width>,<height>|<extended style in hex>",
// "shot <the first window's extended style then>", "click <ms>",
// "name <HRESULT in hex>|<accessible name>|<window text>",
// "dpi <sent 1|0>|<left>,<top>,<width>,<height>" once the message was answered, then "exit <code>"
// or "timeout".
#include <windows.h>

#include <oleacc.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty())
    return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r')
      continue;
    if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::wstring QuoteArg(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
    return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

struct Scan {
  DWORD pid;
  std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND window, LPARAM data) {
  auto* scan = reinterpret_cast<Scan*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == scan->pid && IsWindowVisible(window))
    scan->windows.push_back(window);
  return TRUE;
}

std::wstring TextOf(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int n = GetWindowTextW(window, text.data(), length + 1);
  text.resize(n > 0 ? n : 0);
  return text;
}

// The message text of a standard message box: its static control.
std::wstring BoxText(HWND dialog) {
  HWND text = GetDlgItem(dialog, 0xFFFF);
  return text != nullptr ? TextOf(text) : std::wstring();
}

// The whole screen as a 24-bit bottom-up BMP file.
void SaveScreen(const std::wstring& path) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = width;
  bmi.bmiHeader.biHeight = height;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  GdiFlush();
  const DWORD row = (width * 3 + 3) / 4 * 4;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof bmi.bmiHeader;
  file.bfSize = file.bfOffBits + row * height;
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out != nullptr) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&bmi.bmiHeader, sizeof bmi.bmiHeader, 1, out);
    std::fwrite(bits, 1, row * height, out);
    std::fclose(out);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

void ClickAt(int x, int y) {
  SetCursorPos(x, y);
  INPUT input[2]{};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof(INPUT));
}

// What a screen reader reads for the window's client area. Run on a thread of
// its own: the program answers through its messages and COM, which stop at
// each debug event until the debug loop continues it.
DWORD WINAPI PrintAccessibleName(void* data) {
  const HWND window = static_cast<HWND>(data);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IAccessible* accessible = nullptr;
  HRESULT result = AccessibleObjectFromWindow(window, OBJID_CLIENT, IID_IAccessible,
                                              reinterpret_cast<void**>(&accessible));
  std::wstring name;
  if (SUCCEEDED(result)) {
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    result = accessible->get_accName(self, &text);
    if (text != nullptr) {
      name = text;
      SysFreeString(text);
    }
    accessible->Release();
  }
  std::printf("name %lx|%s|%s\n", static_cast<unsigned long>(result), ToUtf8(name).c_str(),
              ToUtf8(TextOf(window)).c_str());
  std::fflush(stdout);
  CoUninitialize();
  return 0;
}

struct DpiChange {
  HWND window;
  WPARAM wparam;
  bool with_rect;
};

// On a thread of its own for the same reason as PrintAccessibleName.
DWORD WINAPI SendDpiChanged(void* data) {
  const auto* change = static_cast<const DpiChange*>(data);
  RECT r{};
  GetWindowRect(change->window, &r);
  const int dpi = LOWORD(change->wparam);
  RECT suggested = {r.left, r.top, r.left + MulDiv(r.right - r.left, dpi, 96),
                    r.top + MulDiv(r.bottom - r.top, dpi, 96)};
  DWORD_PTR answer = 0;
  const LRESULT sent = SendMessageTimeoutW(
      change->window, WM_DPICHANGED, change->wparam,
      change->with_rect ? reinterpret_cast<LPARAM>(&suggested) : 0, SMTO_NORMAL, 10000, &answer);
  GetWindowRect(change->window, &r);
  std::printf("dpi %d|%ld,%ld,%ld,%ld\n", sent != 0 ? 1 : 0, r.left, r.top, r.right - r.left,
              r.bottom - r.top);
  std::fflush(stdout);
  return 0;
}

bool IsDialog(HWND window) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  return std::wstring(name) == L"#32770";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Sizes and screenshots in the screen's own pixels, not scaled for a
  // program unaware of DPI (Wine treats every program as aware).
  using SetAwarenessFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  const auto set_awareness = reinterpret_cast<SetAwarenessFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
  if (set_awareness != nullptr)
    set_awareness(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  int next = 1;
  long shot_after = -1;
  std::wstring shot_path;
  long click_after = -1;
  long name_after = -1;
  HANDLE name_reader = nullptr;
  const wchar_t* cwd = nullptr;
  long dpi_after = -1;
  DpiChange dpi_change{};
  HANDLE dpi_sender = nullptr;
  for (;;) {
    const std::wstring option = next < argc ? argv[next] : L"";
    if (option == L"--shot" && next + 2 < argc) {
      shot_after = _wtol(argv[next + 1]);
      shot_path = argv[next + 2];
      next += 3;
    } else if (option == L"--click" && next + 1 < argc) {
      click_after = _wtol(argv[next + 1]);
      next += 2;
    } else if (option == L"--name" && next + 1 < argc) {
      name_after = _wtol(argv[next + 1]);
      next += 2;
    } else if (option == L"--dpi-changed" && next + 3 < argc) {
      dpi_after = _wtol(argv[next + 1]);
      dpi_change.wparam = static_cast<WPARAM>(_wtol(argv[next + 2]));
      dpi_change.with_rect = _wtol(argv[next + 3]) != 0;
      next += 4;
    } else if (option == L"--cwd" && next + 1 < argc) {
      cwd = argv[next + 1];
      next += 2;
    } else {
      break;
    }
  }
  if (argc - next < 2) {
    std::puts(
        "usage: wine_driver.exe [--shot ms file] [--click ms] [--name ms] [--cwd folder] "
        "[--dpi-changed ms wParam rect] <timeout ms> "
        "<program> ...");
    return 2;
  }
  const DWORD timeout = static_cast<DWORD>(_wtoi(argv[next]));
  std::wstring command = QuoteArg(argv[next + 1]);
  for (int i = next + 2; i < argc; ++i)
    command += L" " + QuoteArg(argv[i]);
  HWND first_window = nullptr;
  DWORD first_seen = 0;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                      nullptr, cwd, &startup, &info)) {
    std::printf("error cannot start (%lu)\n", GetLastError());
    return 2;
  }

  std::set<HWND> reported;
  const DWORD start = GetTickCount();
  bool exited = false;
  DWORD exit_code = 0;
  while (!exited) {
    if (GetTickCount() - start > timeout) {
      std::puts("timeout");
      TerminateProcess(info.hProcess, 1);
      break;
    }
    DEBUG_EVENT event{};
    if (WaitForDebugEvent(&event, 20)) {
      DWORD status = DBG_CONTINUE;
      switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
          const OUTPUT_DEBUG_STRING_INFO& s = event.u.DebugString;
          std::vector<char> bytes(s.nDebugStringLength * (s.fUnicode ? 2 : 1) + 2, 0);
          SIZE_T read = 0;
          ReadProcessMemory(info.hProcess, s.lpDebugStringData, bytes.data(), bytes.size() - 2,
                            &read);
          std::string line =
              s.fUnicode ? ToUtf8(reinterpret_cast<wchar_t*>(bytes.data())) : bytes.data();
          while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
          std::printf("trace %s\n", line.c_str());
          break;
        }
        case EXCEPTION_DEBUG_EVENT:
          // Only the launcher's own faults matter; let it handle what it handles.
          status = event.u.Exception.dwFirstChance ? DBG_EXCEPTION_NOT_HANDLED : DBG_CONTINUE;
          if (event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT)
            status = DBG_CONTINUE;
          break;
        case CREATE_PROCESS_DEBUG_EVENT:
          if (event.u.CreateProcessInfo.hFile != nullptr)
            CloseHandle(event.u.CreateProcessInfo.hFile);
          break;
        case LOAD_DLL_DEBUG_EVENT:
          if (event.u.LoadDll.hFile != nullptr)
            CloseHandle(event.u.LoadDll.hFile);
          break;
        case EXIT_PROCESS_DEBUG_EVENT:
          exited = true;
          exit_code = event.u.ExitProcess.dwExitCode;
          break;
        default:
          break;
      }
      std::fflush(stdout);
      ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
      if (exited)
        break;
    }

    Scan scan{info.dwProcessId, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&scan));
    for (HWND window : scan.windows) {
      if (reported.count(window) != 0)
        continue;
      if (IsDialog(window)) {
        // Let the box finish laying out before it is read.
        Sleep(200);
        std::printf("box %s|%s\n", ToUtf8(TextOf(window)).c_str(),
                    Escape(ToUtf8(BoxText(window))).c_str());
        std::fflush(stdout);
        PostMessageW(window, WM_COMMAND, IDOK, 0);
        reported.insert(window);
      } else {
        reported.insert(window);
        RECT r{};
        GetWindowRect(window, &r);
        std::printf("window %s|%ld,%ld,%ld,%ld|%lx\n", ToUtf8(TextOf(window)).c_str(), r.left,
                    r.top, r.right - r.left, r.bottom - r.top,
                    static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)));
        std::fflush(stdout);
        if (first_window == nullptr) {
          first_window = window;
          first_seen = GetTickCount();
        }
      }
    }
    if (first_window != nullptr && dpi_after >= 0 &&
        GetTickCount() - first_seen >= static_cast<DWORD>(dpi_after)) {
      dpi_change.window = first_window;
      dpi_sender = CreateThread(nullptr, 0, SendDpiChanged, &dpi_change, 0, nullptr);
      dpi_after = -1;
    }
    const bool dpi_pending = dpi_after >= 0 || (dpi_sender != nullptr &&
                                                WaitForSingleObject(dpi_sender, 0) == WAIT_TIMEOUT);
    if (first_window != nullptr && shot_after >= 0 && !dpi_pending &&
        GetTickCount() - first_seen >= static_cast<DWORD>(shot_after)) {
      SaveScreen(shot_path);
      std::printf("shot %lx\n",
                  static_cast<unsigned long>(GetWindowLongW(first_window, GWL_EXSTYLE)));
      shot_after = -1;
    }
    if (first_window != nullptr && name_after >= 0 &&
        GetTickCount() - first_seen >= static_cast<DWORD>(name_after)) {
      name_reader = CreateThread(nullptr, 0, PrintAccessibleName, first_window, 0, nullptr);
      name_after = -1;
    }
    if (first_window != nullptr && click_after >= 0 &&
        GetTickCount() - first_seen >= static_cast<DWORD>(click_after)) {
      RECT r{};
      GetWindowRect(first_window, &r);
      ClickAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
      std::printf("click %lu\n", GetTickCount() - start);
      click_after = -1;
    }
  }
  if (dpi_sender != nullptr) {
    WaitForSingleObject(dpi_sender, 10000);
    CloseHandle(dpi_sender);
  }
  if (name_reader != nullptr) {
    // The program is gone or stopped: a reader still waiting for it fails soon.
    WaitForSingleObject(name_reader, 10000);
    CloseHandle(name_reader);
  }
  if (exited)
    std::printf("exit %lu\n", exit_code);
  std::fflush(stdout);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 0;
}
