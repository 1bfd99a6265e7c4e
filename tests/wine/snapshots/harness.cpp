// Runs the Windows process and window services against real processes and
// windows: its own process, children it starts (one by its short name), a file
// whose path is longer than 260 characters, windows of every kind the window
// filter tells apart, and processes that grant the limited query alone.
// Exit code 0 when every check held.
//
//   harness.exe [P W]           the checks, with P process and W window
//                               snapshots for the handle count (default
//                               10000 and 1000)
//   harness.exe child TITLE     a child that shows a window titled TITLE
//   harness.exe exit            a child that ends at once
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win32/win32_processes.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

#include <psapi.h>
#include <sddl.h>

using namespace launcher;

namespace {

int g_failures = 0;
int g_checks = 0;

void Check(bool ok, const char* what, int line) {
  ++g_checks;
  if (!ok)
    ++g_failures;
  std::printf("%s line %d: %s\n", ok ? "ok  " : "FAIL", line, what);
  std::fflush(stdout);
}
#define CHECK(condition) Check((condition), #condition, __LINE__)

void Note(const std::string& text) {
  std::printf("note: %s\n", text.c_str());
  std::fflush(stdout);
}

std::string Utf8(const std::wstring& text) {
  if (text.empty())
    return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool SamePath(const std::string& a, const std::string& b) {
  return Lower(a) == Lower(b);
}

std::wstring OwnPath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// The ids as the process list collects them: the buffer doubles while a call fills it.
std::vector<std::uint32_t> ListIds() {
  std::uint32_t size = 8;
  std::uint32_t returned = 96;
  std::vector<std::uint32_t> ids;
  while (size <= returned) {
    size *= 2;
    ids.assign(size / 4, 0);
    Win32EnumProcesses(ids.data(), size, &returned);
  }
  ids.resize(returned / 4);
  return ids;
}

bool Contains(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// One process as the process list looks it up.
struct Lookup {
  bool opened = false;
  bool listed = false;
  std::string path;
};

Lookup LookUp(std::uint32_t pid, std::uint32_t access = PROCESS_QUERY_LIMITED_INFORMATION) {
  Lookup result;
  const ProcessHandle handle = Win32OpenProcess(access, pid);
  if (handle == 0)
    return result;
  result.opened = true;
  result.listed = Win32ProcessImagePath(handle, result.path);
  Win32CloseProcess(handle);
  return result;
}

PROCESS_INFORMATION Start(const std::wstring& exe,
                          const std::wstring& arguments,
                          DWORD flags = 0,
                          SECURITY_ATTRIBUTES* security = nullptr) {
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), command.data(), security, nullptr, FALSE, flags, nullptr,
                      nullptr, &startup, &info)) {
    std::printf("note: CreateProcessW failed with %lu\n", GetLastError());
    return {};
  }
  CloseHandle(info.hThread);
  return info;
}

void Stop(PROCESS_INFORMATION& info) {
  if (info.hProcess == nullptr)
    return;
  TerminateProcess(info.hProcess, 0);
  WaitForSingleObject(info.hProcess, 5000);
  CloseHandle(info.hProcess);
  info = {};
}

// A copy of this program under a folder chain that makes its path longer than
// 260 characters; empty when the system will not have it.
std::wstring LongPathCopy(const std::wstring& own) {
  std::wstring path = own.substr(0, own.find_last_of(L'\\')) + L"\\long";
  CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr);
  for (int i = 0; i < 5; ++i) {
    path += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + i));
    CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr);
  }
  path += L"\\child-\u00e9t\u00e9.exe";
  if (!CopyFileW(own.c_str(), (L"\\\\?\\" + path).c_str(), FALSE)) {
    std::printf("note: CopyFileW to the long path failed with %lu\n", GetLastError());
    return {};
  }
  return path;
}

void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

const wchar_t kClass[] = L"SnapshotsHarness";

void RegisterWindowClass() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kClass;
  RegisterClassW(&window_class);
}

HWND Create(const std::wstring& title,
            DWORD style,
            DWORD ex_style = 0,
            HWND parent_or_owner = nullptr) {
  return CreateWindowExW(ex_style, kClass, title.c_str(), style, 10, 10, 200, 100, parent_or_owner,
                         nullptr, GetModuleHandleW(nullptr), nullptr);
}

WindowHandle H(HWND hwnd) {
  return static_cast<WindowHandle>(reinterpret_cast<std::uintptr_t>(hwnd));
}

std::vector<WindowHandle> TopLevelWindows() {
  std::vector<WindowHandle> windows;
  Win32EnumWindows([&](WindowHandle window) {
    windows.push_back(window);
    return true;
  });
  return windows;
}

bool Has(const std::vector<WindowHandle>& windows, HWND hwnd) {
  return std::find(windows.begin(), windows.end(), H(hwnd)) != windows.end();
}

int RunChild(const std::wstring& title) {
  RegisterWindowClass();
  const HWND window = Create(title, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  if (window == nullptr)
    return 2;
  // Ends on its own should the harness die before it stops us.
  const DWORD end = GetTickCount() + 60000;
  while (GetTickCount() < end) {
    PumpMessages();
    Sleep(20);
  }
  return 0;
}

void TestProcessIds(DWORD child) {
  std::printf("== process ids\n");
  const std::vector<std::uint32_t> ids = ListIds();
  std::printf("note: %zu processes listed\n", ids.size());
  CHECK(Contains(ids, GetCurrentProcessId()));
  CHECK(Contains(ids, child));

  // Room to spare: fewer bytes come back than the buffer holds.
  std::vector<std::uint32_t> big(16384, 0);
  std::uint32_t returned = 0;
  CHECK(Win32EnumProcesses(big.data(), 16384 * 4, &returned));
  CHECK(returned < 16384 * 4);
  CHECK(returned % 4 == 0 && returned >= 8);
  big.resize(returned / 4);
  CHECK(Contains(big, GetCurrentProcessId()));

  // No room to spare: the buffer comes back full, which asks for a larger one.
  std::uint32_t one[1] = {0};
  returned = 0;
  CHECK(Win32EnumProcesses(one, sizeof one, &returned));
  CHECK(returned == sizeof one);
  CHECK(one[0] != 0);
}

// What the system says to the path query, with nothing of ours in the way.
void DescribeRawQuery(const char* what, DWORD access, DWORD pid) {
  const HANDLE handle = ::OpenProcess(access, FALSE, pid);
  if (handle == nullptr) {
    std::printf("note: %s: OpenProcess(0x%lx) fails with %lu\n", what, access, GetLastError());
    return;
  }
  wchar_t path[MAX_PATH * 4];
  DWORD size = MAX_PATH * 4;
  const BOOL found = QueryFullProcessImageNameW(handle, 0, path, &size);
  std::printf("note: %s: OpenProcess(0x%lx) works, QueryFullProcessImageNameW %s (error %lu)\n",
              what, access, found ? "works" : "fails", found ? 0 : GetLastError());
  CloseHandle(handle);
}

void TestLookups(const std::string& own_path, DWORD child, const std::string& child_path) {
  std::printf("== lookups\n");
  const Lookup self = LookUp(GetCurrentProcessId());
  std::printf("note: own path %s\n", self.path.c_str());
  CHECK(self.listed);
  CHECK(SamePath(self.path, own_path));

  const Lookup other = LookUp(child);
  std::printf("note: child path (%zu bytes) %s\n", other.path.size(), other.path.c_str());
  CHECK(other.listed);
  CHECK(SamePath(other.path, child_path));

  const ProcessHandle handle = Win32OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, child);
  CHECK(handle != 0);
  CHECK(Win32OpenProcessCount() == 1);
  Win32CloseProcess(handle);
  CHECK(Win32OpenProcessCount() == 0);

  // A closed handle answers nothing, even once its slot is in use again.
  const ProcessHandle reused = Win32OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, child);
  CHECK(reused != 0 && reused != handle);
  std::string path = "untouched";
  CHECK(!Win32ProcessImagePath(handle, path) && path == "untouched");
  Win32CloseProcess(handle);
  CHECK(Win32OpenProcessCount() == 1);
  CHECK(Win32ProcessImagePath(reused, path) && SamePath(path, child_path));
  Win32CloseProcess(reused);
  Win32CloseProcess(0);
  CHECK(Win32OpenProcessCount() == 0);

  CHECK(Win32OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, 0) == 0);
  CHECK(Win32OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, 0x7ffffff0) == 0);
}

// A file whose path is longer than 260 characters is named whole. Wine 8
// starts no program from such a path (CreateProcessW fails with error 2), so
// only the file's name is asked.
void TestLongFileName(const std::wstring& own) {
  std::printf("== long file name\n");
  const std::wstring path = LongPathCopy(own);
  CHECK(path.size() > 300);
  const std::string given = Utf8(L"\\\\?\\" + path);
  const std::string name = Win32FileSystemName(given);
  std::printf("note: long file name (%zu bytes) %s\n", name.size(), name.c_str());
  // Wine 8 names no file past MAX_PATH (error 234 whatever the room): the
  // path comes back as given, never cut short.
  if (name == given)
    Note("this system does not name a file whose path is longer than 260 characters");
  CHECK(SamePath(name, Utf8(path)) || name == given);
}

// One spelling for a file reached by other names: its 8.3 short name, and a
// drive letter substituted for its folder where the system lets us make one.
void TestOtherSpellings(const std::wstring& own) {
  std::printf("== other spellings of one file\n");
  const std::wstring folder = own.substr(0, own.find_last_of(L'\\')) + L"\\Spelled Long Folder";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring exe = folder + L"\\spelled long child.exe";
  CHECK(CopyFileW(own.c_str(), exe.c_str(), FALSE));
  const std::string long_name = Win32FileSystemName(Utf8(exe));
  CHECK(SamePath(long_name, Utf8(exe)));

  std::wstring short_exe(MAX_PATH, L'\0');
  const DWORD n = GetShortPathNameW(exe.c_str(), short_exe.data(), MAX_PATH);
  short_exe.resize(n < MAX_PATH ? n : 0);
  Note("short name: " + Utf8(short_exe));
  CHECK(!short_exe.empty() && !SamePath(Utf8(short_exe), Utf8(exe)));
  CHECK(Win32FileSystemName(Utf8(short_exe)) == long_name);
  PROCESS_INFORMATION child = Start(short_exe, L"child \"Short\"");
  CHECK(child.hProcess != nullptr);
  if (child.hProcess != nullptr) {
    Sleep(300);
    DescribeRawQuery("child started by its short name", PROCESS_QUERY_LIMITED_INFORMATION,
                     child.dwProcessId);
    const HANDLE raw = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.dwProcessId);
    wchar_t image[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    if (raw != nullptr && QueryFullProcessImageNameW(raw, 0, image, &size))
      Note("its image path as the system gives it: " + Utf8(std::wstring(image, size)));
    if (raw != nullptr)
      CloseHandle(raw);
    const Lookup lookup = LookUp(child.dwProcessId);
    CHECK(lookup.listed && lookup.path == long_name);
    Stop(child);
  }

  // subst makes its drive with DefineDosDeviceW.
  // Wine 8 names the file under the substituted drive itself, where Windows
  // names the drive it stands for: only the answer is shown here.
  if (DefineDosDeviceW(0, L"Q:", folder.c_str())) {
    const std::string name = Win32FileSystemName("Q:\\spelled long child.exe");
    Note("through the substituted drive Q: " + name +
         (name == long_name ? " (resolved)" : " (not resolved by this system)"));
    DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"Q:", folder.c_str());
  } else {
    Note("no substituted drive here: DefineDosDeviceW fails with " +
         std::to_string(GetLastError()));
  }
  CHECK(Win32FileSystemName("C:\\no such folder\\q.exe") == "C:\\no such folder\\q.exe");
}

void TestEndedProcess(const std::wstring& own) {
  std::printf("== ended process whose handle is still held\n");
  PROCESS_INFORMATION ended = Start(own, L"exit");
  CHECK(ended.hProcess != nullptr);
  WaitForSingleObject(ended.hProcess, 10000);
  DescribeRawQuery("ended child", PROCESS_QUERY_LIMITED_INFORMATION, ended.dwProcessId);
  const bool still_listed = Contains(ListIds(), ended.dwProcessId);
  Note(std::string("the ended child is ") + (still_listed ? "still" : "no longer") +
       " in the id list");
  const Lookup lookup = LookUp(ended.dwProcessId);
  Note(std::string("the ended child ") + (lookup.opened ? "can" : "cannot") + " be opened");
  CHECK(!lookup.listed);
  CloseHandle(ended.hProcess);
  CHECK(Win32OpenProcessCount() == 0);
}

void TestLeastAccess(const std::wstring& own, DWORD child) {
  std::printf("== the limited query alone\n");
  // A handle without the query right gets no path.
  DescribeRawQuery("synchronize-only handle", SYNCHRONIZE, child);
  if (const ProcessHandle handle = Win32OpenProcess(SYNCHRONIZE, child)) {
    std::string path;
    CHECK(!Win32ProcessImagePath(handle, path));
    Win32CloseProcess(handle);
  }

  // A child created suspended: its loader has not run yet.
  PROCESS_INFORMATION suspended = Start(own, L"exit", CREATE_SUSPENDED);
  CHECK(suspended.hProcess != nullptr);
  const Lookup early = LookUp(suspended.dwProcessId);
  CHECK(early.listed && SamePath(early.path, Utf8(own)));
  Stop(suspended);

  // A child whose security grants only the limited query and synchronization,
  // as protected processes do.
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;;0x101000;;;WD)", SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
    Note("no security descriptor: " + std::to_string(GetLastError()));
    return;
  }
  PROCESS_INFORMATION guarded = Start(own, L"child Guarded", 0, &security);
  LocalFree(security.lpSecurityDescriptor);
  CHECK(guarded.hProcess != nullptr);
  Sleep(300);
  DescribeRawQuery("guarded child", 0x410, guarded.dwProcessId);
  const Lookup guarded_lookup = LookUp(guarded.dwProcessId);
  CHECK(guarded_lookup.listed && SamePath(guarded_lookup.path, Utf8(own)));
  Stop(guarded);
  CHECK(Win32OpenProcessCount() == 0);
}

// One window snapshot as the window list takes it: every question about every
// top-level window, and a lookup of the process of each that qualifies.
std::size_t WindowSnapshot() {
  std::size_t listed = 0;
  Win32EnumWindows([&](WindowHandle window) {
    if (!Win32IsWindowVisible(window) || Win32GetParent(window) != 0)
      return true;
    const WindowHandle owner = Win32GetOwner(window);
    const std::uint32_t style = Win32GetExStyle(window);
    const bool app = owner == 0 ? (style & kExToolWindow) == 0 : (style & kExAppWindow) != 0;
    if (app && !Win32GetWindowText(window).empty() &&
        LookUp(Win32GetWindowProcessId(window)).listed)
      ++listed;
    return true;
  });
  return listed;
}

// Whole snapshots, many times: no handle may be left behind.
void TestNoLeak(int process_snapshots, int window_snapshots) {
  std::printf("== repeated snapshots\n");
  // A window of our own that every window snapshot lists, for as long as they take.
  RegisterWindowClass();
  const HWND window = Create(L"Snapshot hygiene", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  CHECK(window != nullptr);
  PumpMessages();
  DWORD before = 0;
  DWORD after = 0;
  // The first of each opens what lives for the process's life.
  ListIds();
  WindowSnapshot();
  GetProcessHandleCount(GetCurrentProcess(), &before);
  // Handles are numbered from the lowest free one, so a leak moves the next one.
  const HANDLE probe_before = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(probe_before);
  const std::int64_t started = Win32MonotonicMs();
  std::size_t listed = 0;
  for (int round = 0; round < process_snapshots; ++round) {
    for (const std::uint32_t pid : ListIds())
      listed += LookUp(pid).listed ? 1 : 0;
  }
  const std::int64_t processes_done = Win32MonotonicMs();
  std::size_t windows = 0;
  for (int round = 0; round < window_snapshots; ++round)
    windows += WindowSnapshot();
  DestroyWindow(window);
  std::printf("note: the process snapshots took %lld ms, the window snapshots %lld ms\n",
              static_cast<long long>(processes_done - started),
              static_cast<long long>(Win32MonotonicMs() - processes_done));
  GetProcessHandleCount(GetCurrentProcess(), &after);
  const HANDLE probe_after = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(probe_after);
  std::printf(
      "note: %d process snapshots (%zu processes listed) and %d window snapshots "
      "(%zu windows listed); handle count %lu before, %lu after; next handle %p, %p\n",
      process_snapshots, listed, window_snapshots, windows, before, after, probe_before,
      probe_after);
  CHECK(listed > static_cast<std::size_t>(process_snapshots));
  CHECK(windows >= static_cast<std::size_t>(window_snapshots));
  CHECK(Win32OpenProcessCount() == 0);
  CHECK(probe_after == probe_before);
  if (before != 0)
    CHECK(after == before);
  else
    Note("GetProcessHandleCount reports nothing here; the next handle's value stands for it");
}

void TestWindows(DWORD child, const std::wstring& child_title) {
  std::printf("== windows\n");
  RegisterWindowClass();
  const DWORD visible = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
  const HWND plain = Create(L"Snapshot plain", visible);
  const HWND hidden = Create(L"Snapshot hidden", WS_OVERLAPPEDWINDOW);
  const HWND tool = Create(L"Snapshot tool", visible, WS_EX_TOOLWINDOW);
  // Owned windows are popups, as dialogs are.
  const DWORD popup = WS_POPUP | WS_CAPTION | WS_VISIBLE;
  const HWND owned_app = Create(L"Snapshot owned app", popup, WS_EX_APPWINDOW, plain);
  const HWND owned = Create(L"Snapshot owned", popup, 0, plain);
  const HWND inner = Create(L"Snapshot child", WS_CHILD | WS_VISIBLE, 0, plain);
  const HWND untitled = Create(L"", visible);
  std::wstring long_title = L"\u00c9t\u00e9 \u4e2d ";
  while (long_title.size() < 1000)
    long_title += L"0123456789";
  const HWND long_titled = Create(long_title, visible);
  // Past the bound of 32,768 units, and a pair of surrogates across it.
  const HWND huge_titled = Create(std::wstring(100000, L'x'), visible);
  const HWND split_titled = Create(std::wstring(32767, L'y') + L"\U0001F600z", visible);
  CHECK(plain && hidden && tool && owned_app && owned && inner && untitled && long_titled);
  CHECK(huge_titled && split_titled);
  PumpMessages();

  const std::vector<WindowHandle> windows = TopLevelWindows();
  std::printf("note: %zu top-level windows\n", windows.size());
  CHECK(Has(windows, plain) && Has(windows, hidden) && Has(windows, tool));
  CHECK(Has(windows, owned_app) && Has(windows, owned) && Has(windows, untitled));
  CHECK(!Has(windows, inner));

  CHECK(Win32IsWindowVisible(H(plain)));
  CHECK(!Win32IsWindowVisible(H(hidden)));
  CHECK(Win32GetParent(H(plain)) == 0 && Win32GetOwner(H(plain)) == 0);
  // The system's GetParent names the owner of an owned window; ours does not.
  CHECK(::GetParent(owned_app) == plain);
  CHECK(Win32GetParent(H(owned_app)) == 0);
  CHECK(Win32GetOwner(H(owned_app)) == H(plain) && Win32GetOwner(H(owned)) == H(plain));
  CHECK(Win32GetParent(H(inner)) == H(plain));
  CHECK((Win32GetExStyle(H(tool)) & kExToolWindow) != 0);
  CHECK((Win32GetExStyle(H(plain)) & (kExToolWindow | kExAppWindow)) == 0);
  CHECK((Win32GetExStyle(H(owned_app)) & kExAppWindow) != 0);
  CHECK((Win32GetExStyle(H(owned)) & kExAppWindow) == 0);
  CHECK(Win32GetWindowText(H(plain)) == "Snapshot plain");
  CHECK(Win32GetWindowText(H(untitled)).empty());
  CHECK(Win32GetWindowText(H(long_titled)) == Utf8(long_title));
  CHECK(Win32GetWindowText(H(long_titled)).size() > 1000);
  CHECK(Win32GetWindowText(H(huge_titled)) == std::string(32768, 'x'));
  CHECK(Win32GetWindowText(H(split_titled)) == std::string(32767, 'y'));
  CHECK(Win32GetWindowProcessId(H(plain)) == GetCurrentProcessId());

  // The child's window, with its process.
  WindowHandle found = 0;
  for (int i = 0; i < 200 && found == 0; ++i) {
    for (const WindowHandle window : TopLevelWindows()) {
      if (Win32GetWindowProcessId(window) == child &&
          Win32GetWindowText(window) == Utf8(child_title))
        found = window;
    }
    if (found == 0)
      Sleep(50);
  }
  CHECK(found != 0);
  CHECK(Win32IsWindowVisible(found) && Win32GetParent(found) == 0 && Win32GetOwner(found) == 0);

  // The visit ends the enumeration.
  int visits = 0;
  Win32EnumWindows([&](WindowHandle) { return ++visits < 2; });
  CHECK(visits == 2);
  // An exception ends it too, and comes out once the system's enumeration is back.
  visits = 0;
  bool caught = false;
  try {
    Win32EnumWindows([&](WindowHandle) -> bool {
      if (++visits == 3)
        throw std::runtime_error("stop");
      return true;
    });
  } catch (const std::runtime_error& error) {
    caught = std::string(error.what()) == "stop";
  }
  CHECK(caught && visits == 3);

  // A window that has gone answers nothing.
  const WindowHandle gone = H(hidden);
  DestroyWindow(hidden);
  CHECK(!Win32IsWindowVisible(gone));
  CHECK(Win32GetWindowText(gone).empty());
  CHECK(Win32GetWindowProcessId(gone) == 0);
  CHECK(Win32GetParent(gone) == 0 && Win32GetOwner(gone) == 0);
  CHECK(!Has(TopLevelWindows(), hidden));

  for (const HWND window :
       {owned_app, owned, plain, tool, untitled, long_titled, huge_titled, split_titled})
    DestroyWindow(window);
}

// Paths compared as the file system compares names: the system's ordinal
// comparison without case, on the UTF-16 forms.
void TestSamePath() {
  std::printf("== paths without regard to case\n");
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Quarven\\Q.EXE", "c:\\program files\\quarven\\q.exe", true},
      {"C:\\a\\q.exe", "C:\\b\\q.exe", false},
      {"C:\\q.exe", "C:\\q.exe ", false},
      {"", "", true},
      {"C:\\[q]", "C:\\{q}", false},
      {"C:\\\xC3\x89t\xC3\xA9", "c:\\\xC3\xA9T\xC3\x89", true},  // Été, éTÉ
      {"C:\\\xC3\xA9t\xC3\xA9", "C:\\ete", false},
      // Программы, ПРОГРАММЫ
      {"C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1\x8B",
       "C:\\\xD0\x9F\xD0\xA0\xD0\x9E\xD0\x93\xD0\xA0\xD0\x90\xD0\x9C\xD0\x9C\xD0\xAB", true},
      {"\xD1\x91", "\xD0\xB5", false},         // ё is not е
      {"\xCE\xA3", "\xCF\x83", true},          // Σ, σ
      {"stra\xC3\x9F\x65", "STRASSE", false},  // ß is not SS
      {"C:\\a\xFF", "C:\\A\xFF", false},       // broken text: only the same bytes
      {"C:\\a\xFF", "C:\\a\xFF", true},
      {"C:\\\xFF", "C:\\\xFE", false},
  };
  for (const Case& c : cases) {
    const bool same = Win32SamePath(c.a, c.b);
    const bool swapped = Win32SamePath(c.b, c.a);
    if (same != c.same || swapped != c.same)
      std::printf("note: \"%s\" and \"%s\" compare %s\n", c.a, c.b, same ? "same" : "different");
    CHECK(same == c.same && swapped == c.same);
  }
  // The system's own case table decides; Wine's keeps the final sigma apart.
  Note(std::string("final sigma and sigma compare ") +
       (Win32SamePath("\xCF\x82", "\xCF\x83") ? "same" : "different"));
  // Beyond the stack buffer the comparison still holds.
  const std::string long_a = "C:\\" + std::string(2000, 'a') + "\xC3\xA9";
  const std::string long_b = "c:\\" + std::string(2000, 'A') + "\xC3\x89";
  CHECK(Win32SamePath(long_a, long_b));
  CHECK(!Win32SamePath(long_a, long_b + "x"));
}

void TestClock() {
  std::printf("== clock\n");
  const std::int64_t start = Win32MonotonicMs();
  Win32Sleep(200);
  const std::int64_t end = Win32MonotonicMs();
  std::printf("note: slept 200 ms, the clock moved %lld ms\n", static_cast<long long>(end - start));
  CHECK(start > 0);
  CHECK(end - start >= 180);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"child")
    return RunChild(argv[2]);
  if (argc >= 2 && std::wstring(argv[1]) == L"exit")
    return 0;

  const std::wstring own = OwnPath();
  // The child is a copy of this program with a name of its own.
  const std::wstring child_exe =
      own.substr(0, own.find_last_of(L'\\')) + L"\\child-\u00e9t\u00e9.exe";
  CHECK(CopyFileW(own.c_str(), child_exe.c_str(), FALSE));
  const std::wstring child_title = L"Snapshot child \u00e9";
  PROCESS_INFORMATION child = Start(child_exe, L"child \"" + child_title + L"\"");
  CHECK(child.hProcess != nullptr);
  Sleep(300);

  TestProcessIds(child.dwProcessId);
  TestLookups(Utf8(own), child.dwProcessId, Utf8(child_exe));
  TestLongFileName(own);
  TestOtherSpellings(own);
  TestEndedProcess(own);
  TestLeastAccess(own, child.dwProcessId);
  TestWindows(child.dwProcessId, child_title);
  TestClock();
  TestSamePath();
  // Last: the child ends on its own after a minute, and these take longer.
  const bool counts_given = argc >= 3;
  TestNoLeak(counts_given ? _wtoi(argv[1]) : 10000, counts_given ? _wtoi(argv[2]) : 1000);

  Stop(child);
  std::printf("%d checks, %d failed\n", g_checks, g_failures);
  return g_failures == 0 ? 0 : 1;
}
