// A stand-in for the launched application. It records what it received (its
// command line, its arguments and its working directory) in "probe-record.txt"
// beside its own executable, so that a test can compare them with what the
// launcher should have passed. Built for Windows (MinGW) and natively.
//
// A "probe-cue.txt" beside it tells it what to do next (key=value lines):
//   window_after_ms=N   show a titled top-level window N ms after the start
//   lifetime_ms=N       end N ms after the start (default: at once)
//   title=TEXT          the window's title (default "Quarven probe")
// It notes the wall-clock time (ms since 1970) of its window in
// "probe-window.txt" and of its end in "probe-exit.txt".
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <limits.h>
#include <unistd.h>
#endif

#include "test_support.h"

namespace {

using launcher::testing::WallMs;

#ifdef _WIN32
std::string ToUtf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1)
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring ToWide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(size > 0 ? size - 1 : 0, L'\0');
  if (size > 1)
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), size);
  return out;
}

std::string OwnPath() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return ToUtf8(buffer.c_str());
}

std::string CurrentDirectory() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  buffer.resize(n);
  return ToUtf8(buffer.c_str());
}

void WriteFileUtf8(const std::string& path, const std::string& content) {
  const std::wstring wide = ToWide(path);
  const std::wstring temp = wide + L".tmp";
  FILE* f = _wfopen(temp.c_str(), L"wb");
  if (f == nullptr)
    return;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
  MoveFileExW(temp.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING);
}
const char kSep = '\\';
#else
std::string OwnPath() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  buffer.resize(n > 0 ? n : 0);
  return buffer;
}

std::string CurrentDirectory() {
  std::string buffer(PATH_MAX, '\0');
  if (getcwd(buffer.data(), buffer.size()) == nullptr)
    return {};
  buffer.resize(buffer.find('\0'));
  return buffer;
}

void WriteFileUtf8(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr)
    return;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
  std::rename(temp.c_str(), path.c_str());
}
const char kSep = '/';
#endif

std::map<std::string, std::string> ReadCue(const std::string& path) {
  std::map<std::string, std::string> cue;
#ifdef _WIN32
  FILE* f = _wfopen(ToWide(path).c_str(), L"rb");
#else
  FILE* f = std::fopen(path.c_str(), "rb");
#endif
  if (f == nullptr)
    return cue;
  std::string text;
  char chunk[512];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
    text.append(chunk, n);
  std::fclose(f);
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(from, end - from);
    from = end + 1;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const auto eq = line.find('=');
    if (eq != std::string::npos)
      cue[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return cue;
}

long long CueNumber(const std::map<std::string, std::string>& cue,
                    const std::string& key,
                    long long fallback) {
  const auto it = cue.find(key);
  return it == cue.end() ? fallback : std::stoll(it->second);
}

#ifdef _WIN32
LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

// Shows the window when it is due and ends at the end of the lifetime.
void Act(long long window_after,
         long long lifetime,
         const std::string& title,
         const std::string& folder,
         std::int64_t start) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = ProbeWindowProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"QuarvenProbe";
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&cls);
  HWND window = nullptr;
  for (;;) {
    const std::int64_t elapsed = WallMs() - start;
    if (elapsed >= lifetime)
      break;
    if (window == nullptr && window_after >= 0 && elapsed >= window_after) {
      // Far from the screen's centre, so that it never covers the splash.
      window = CreateWindowExW(0, cls.lpszClassName, ToWide(title).c_str(),
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 120, nullptr, nullptr,
                               cls.hInstance, nullptr);
      UpdateWindow(window);
      WriteFileUtf8(folder + "probe-window.txt", std::to_string(WallMs()));
    }
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(10);
  }
}
#else
void Act(long long window_after,
         long long lifetime,
         const std::string& title,
         const std::string& folder,
         std::int64_t start) {
  Display* display = nullptr;
  for (;;) {
    const std::int64_t elapsed = WallMs() - start;
    if (elapsed >= lifetime)
      break;
    if (display == nullptr && window_after >= 0 && elapsed >= window_after) {
      display = XOpenDisplay(nullptr);
      if (display == nullptr)
        break;
      // Far from the screen's centre, so that it never covers the splash.
      const Window window =
          XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 120, 0, 0, 0xFFFFFF);
      XStoreName(display, window, title.c_str());
      const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
      XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8,
                      PropModeReplace, reinterpret_cast<const unsigned char*>(title.c_str()),
                      static_cast<int>(title.size()));
      const long pid = getpid();
      XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                      PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
      XMapWindow(display, window);
      XSync(display, False);
      WriteFileUtf8(folder + "probe-window.txt", std::to_string(WallMs()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (display != nullptr)
    XCloseDisplay(display);
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::string record;
#ifdef _WIN32
  record += "cmdline=" + ToUtf8(GetCommandLineW()) + "\n";
  int wargc = 0;
  wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
  std::vector<std::string> args;
  for (int i = 0; i < wargc; ++i)
    args.push_back(ToUtf8(wargv[i]));
  LocalFree(wargv);
  (void)argc;
  (void)argv;
#else
  std::vector<std::string> args(argv, argv + argc);
#endif
  record += "cwd=" + CurrentDirectory() + "\n";
  record += "argc=" + std::to_string(args.size()) + "\n";
  for (std::size_t i = 0; i < args.size(); ++i)
    record += "arg" + std::to_string(i) + "=" + args[i] + "\n";

  const std::int64_t start = WallMs();
  const std::string self = OwnPath();
  const std::string folder = self.substr(0, self.rfind(kSep) + 1);
  WriteFileUtf8(folder + "probe-record.txt", record);

  const auto cue = ReadCue(folder + "probe-cue.txt");
  const long long window_after = CueNumber(cue, "window_after_ms", -1);
  const long long lifetime = CueNumber(cue, "lifetime_ms", 0);
  const auto title = cue.count("title") ? cue.at("title") : std::string("Quarven probe");
  Act(window_after, lifetime, title, folder, start);
  WriteFileUtf8(folder + "probe-exit.txt", std::to_string(WallMs()));
  return 0;
}
