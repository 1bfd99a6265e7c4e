// A stand-in for the launched application. It records what it received (its
// command line, its arguments and its working directory) in "probe-record.txt"
// beside its own executable, so that a test can compare them with what the
// launcher should have passed. Built for Windows (MinGW) and natively.
//
// A "probe-cue.txt" beside it tells it what to do next (key=value lines):
//   window_after_ms=N   show a titled top-level window N ms after the start
//   lifetime_ms=N       end N ms after the start (default: at once)
//   title=TEXT          the window's title (default "Quarven probe")
//   exit_code=N         end with status N (default 0)
//   crash=1             end at once by a crash of its own (a fault on Windows,
//                       SIGSEGV on Linux), before it shows or notes anything more
//   fork_child_ms=N     start a copy of itself from the same file that lives N ms
//                       (it notes its end in "probe-child-exit.txt"), and end
//                       itself at once; on Linux the copy is a fork
//   echo_stdin=1        (Linux) copy what comes on standard input to standard
//                       output, line by line, for its lifetime
// It notes the wall-clock time (ms since 1970) of its window in
// "probe-window.txt" and of its end in "probe-exit.txt", and the start-up id
// and activation token and GDK_SCALE it was given in "probe-env.txt"
// ("env_DESKTOP_STARTUP_ID=...", "<unset>" when absent). On Linux each keyboard focus change of its
// window is noted in "probe-focus.txt" ("in <ms>" / "out <ms>" lines). On Linux its record also
// lists its process id ("pid=") and the descriptors it was started with
// ("fds=0,1,2"), and a SIGTERM, SIGINT or SIGHUP it gets is noted in
// "probe-signals.txt" instead of ending it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
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
volatile std::sig_atomic_t g_last_signal = 0;
volatile std::sig_atomic_t g_signals = 0;

void NoteSignal(int number) {
  g_last_signal = number;
  g_signals = g_signals + 1;
}

// The descriptors open now, but for the one that lists them: "0,1,2".
std::string OpenDescriptors() {
  std::string list;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr)
    return "?";
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(dir))
      continue;
    list += (list.empty() ? "" : ",") + std::string(entry->d_name);
  }
  closedir(dir);
  return list;
}

// Copies what standard input holds now to standard output.
void EchoInput() {
  pollfd in{STDIN_FILENO, POLLIN, 0};
  while (poll(&in, 1, 0) > 0 && (in.revents & POLLIN) != 0) {
    char chunk[512];
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0)
      return;
    if (write(STDOUT_FILENO, chunk, static_cast<std::size_t>(n)) != n)
      return;
  }
}

void Act(long long window_after,
         long long lifetime,
         const std::string& title,
         const std::string& folder,
         std::int64_t start,
         bool echo) {
  Display* display = nullptr;
  std::sig_atomic_t noted = 0;
  std::string focus;
  for (;;) {
    if (g_signals != noted) {
      noted = g_signals;
      WriteFileUtf8(folder + "probe-signals.txt", "signal " + std::to_string(g_last_signal) + ", " +
                                                      std::to_string(noted) + " in all\n");
    }
    if (echo)
      EchoInput();
    const std::int64_t elapsed = WallMs() - start;
    if (elapsed >= lifetime)
      break;
    while (display != nullptr && XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      // Focus moving between the window's own parts, or following the
      // pointer, is not a change of the keyboard focus.
      if ((event.type == FocusIn || event.type == FocusOut) &&
          event.xfocus.detail != NotifyInferior && event.xfocus.detail != NotifyPointer) {
        focus += (event.type == FocusIn ? "in " : "out ") + std::to_string(WallMs()) + "\n";
        WriteFileUtf8(folder + "probe-focus.txt", focus);
      }
    }
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
      XWMHints hints{};
      hints.flags = InputHint;
      hints.input = True;
      XSetWMHints(display, window, &hints);
      XSelectInput(display, window, FocusChangeMask);
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

#ifdef _WIN32
// A copy of the probe started from the same file, which lives `lifetime` ms.
void StartCopy(const std::string& self, long long lifetime) {
  std::wstring command = L"\"" + ToWide(self) + L"\" --probe-child " + std::to_wstring(lifetime);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}

LONG WINAPI EndOnFault(EXCEPTION_POINTERS* /*unused*/) {
  return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void Crash() {
  // No crash dialog and no debugger (Wine starts one by default): the process
  // just ends, with the fault's code as its status.
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndOnFault);
  RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  ExitProcess(3);
}
#else
// A fork: the copy runs from the same file, as a child the probe leaves behind.
void StartCopy(const std::string& folder, long long lifetime) {
  if (fork() != 0)
    return;
  std::this_thread::sleep_for(std::chrono::milliseconds(lifetime));
  WriteFileUtf8(folder + "probe-child-exit.txt", std::to_string(WallMs()));
  _exit(0);
}

[[noreturn]] void Crash() {
  signal(SIGSEGV, SIG_DFL);
  raise(SIGSEGV);
  _exit(3);
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
#ifndef _WIN32
  // First, before anything of its own is open.
  const std::string fds = OpenDescriptors();
  struct sigaction note {};
  note.sa_handler = &NoteSignal;
  for (const int number : {SIGTERM, SIGINT, SIGHUP})
    sigaction(number, &note, nullptr);
#endif
  const std::string self = OwnPath();
  const std::string folder = self.substr(0, self.rfind(kSep) + 1);
#ifdef _WIN32
  if (args.size() == 3 && args[1] == "--probe-child") {
    Sleep(static_cast<DWORD>(std::stoll(args[2])));
    WriteFileUtf8(folder + "probe-child-exit.txt", std::to_string(WallMs()));
    return 0;
  }
#endif
  record += "cwd=" + CurrentDirectory() + "\n";
#ifndef _WIN32
  record += "pid=" + std::to_string(getpid()) + "\n";
  record += "fds=" + fds + "\n";
#endif
  record += "argc=" + std::to_string(args.size()) + "\n";
  for (std::size_t i = 0; i < args.size(); ++i)
    record += "arg" + std::to_string(i) + "=" + args[i] + "\n";

  const std::int64_t start = WallMs();
  std::string handed;
  for (const char* name : {"DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN", "GDK_SCALE"}) {
    const char* value = std::getenv(name);
    handed += std::string("env_") + name + "=" + (value != nullptr ? value : "<unset>") + "\n";
  }
  WriteFileUtf8(folder + "probe-env.txt", handed);
  WriteFileUtf8(folder + "probe-record.txt", record);

  const auto cue = ReadCue(folder + "probe-cue.txt");
  if (CueNumber(cue, "crash", 0) != 0)
    Crash();
  const long long fork_child = CueNumber(cue, "fork_child_ms", -1);
  if (fork_child >= 0) {
#ifdef _WIN32
    StartCopy(self, fork_child);
#else
    StartCopy(folder, fork_child);
#endif
    WriteFileUtf8(folder + "probe-exit.txt", std::to_string(WallMs()));
    return 0;
  }
  const long long window_after = CueNumber(cue, "window_after_ms", -1);
  const long long lifetime = CueNumber(cue, "lifetime_ms", 0);
  const auto title = cue.count("title") ? cue.at("title") : std::string("Quarven probe");
#ifdef _WIN32
  Act(window_after, lifetime, title, folder, start);
#else
  Act(window_after, lifetime, title, folder, start, CueNumber(cue, "echo_stdin", 0) != 0);
#endif
  WriteFileUtf8(folder + "probe-exit.txt", std::to_string(WallMs()));
  return static_cast<int>(CueNumber(cue, "exit_code", 0));
}
