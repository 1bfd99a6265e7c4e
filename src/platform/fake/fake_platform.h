// A deterministic simulation of the platform for tests: files in memory,
// recorded program starts, trace lines and message boxes, a simulated clock,
// and an injectable failure for every service.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace launcher {

// Thrown by the fake's EndProgram: the simulated process has ended.
struct ProgramEnded {
  int status = 0;
};

// The fake's services, by name, for failure injection.
enum class FakeService {
  kCommandLine,
  kExeFolder,
  kExeName,
  kSamePath,
  kFileExists,
  kOpenTextFile,
  kStartProgram,
  kSetCurrentDrive,
  kSetCurrentDirectory,
  kUtcNow,
  kEmitTrace,
  kUserLanguage,
  kShowMessageBox,
  kEnumProcesses,
  kOpenProcess,
  kProcessImagePath,
  kCloseProcess,
  kEnumWindows,
  kIsWindowVisible,
  kGetParent,
  kGetOwner,
  kGetExStyle,
  kGetWindowText,
  kGetWindowProcessId,
  kMonotonicMs,
  kSleep,
  kPumpEvents,
  kCreateForm,
  kLoadPicture,
  kGetScreen,
  kSetTopmost,
};

class FakePlatform;

// A form of the simulated desktop: it records what the launcher did to it and
// holds its timers, which the fake event loop fires in simulated time.
class FakeForm : public Form {
 public:
  FakeForm(FakePlatform& platform, FormEvents& events, WindowHandle handle);
  ~FakeForm() override;

  WindowHandle Handle() override { return handle_; }
  bool IsOpen() override { return open; }
  void SetBounds(float left, float top, float width, float height) override;
  void SetFrame(int left, int top, int width, int height) override;
  void SetPicture(const Picture& picture, int left, int top) override;
  void SetAccessibleName(const std::string& name) override;
  void Show() override;
  void SetTopmost(bool on) override;
  void SetTimer(int timer, std::uint32_t interval_ms, bool enabled) override;
  void Close() override;

  struct Timer {
    std::uint32_t interval_ms = 0;
    bool enabled = false;
    std::int64_t next_due = 0;
  };

  bool open = true;
  bool visible = false;
  bool topmost = false;
  float left = 0, top = 0, width = 0, height = 0;  // twips
  int frame_left = 0, frame_top = 0, frame_width = 0, frame_height = 0;
  int picture_left = 0, picture_top = 0, picture_width = 0, picture_height = 0;
  int picture_density = 0;
  bool has_picture = false;
  std::string accessible_name;
  int activations = 0;
  std::map<int, Timer> timers;
  FormEvents& events;

 private:
  FakePlatform& platform_;
  WindowHandle handle_;
};

inline constexpr std::int64_t kForever = INT64_MAX;

// A process of the simulated machine, alive from `start_ms` until `end_ms`.
struct FakeProcess {
  std::uint32_t pid = 0;
  std::string path;
  std::int64_t start_ms = 0;
  std::int64_t end_ms = kForever;
  bool openable = true;     // false: opening it fails (no rights)
  bool path_fails = false;  // its path query fails (it has ended, or will not tell)
};

// A top-level window, on the list from `appear_ms` until `vanish_ms`.
struct FakeWindow {
  WindowHandle hwnd = 0;
  std::uint32_t pid = 0;
  std::string title;
  bool visible = true;
  WindowHandle parent = 0;
  WindowHandle owner = 0;
  std::uint32_t ex_style = 0;
  std::int64_t appear_ms = 0;
  std::int64_t vanish_ms = kForever;
};

struct FakeFile {
  std::string bytes;
  bool hidden = false;
};

struct FakeStart {
  std::string command_line;
  std::string current_directory;
  char current_drive = 0;
  int window_style = 0;
};

struct FakeMessageBox {
  std::string text;
  std::string title;
  int style = 0;
};

class FakePlatform : public Platform {
 public:
  FakePlatform();

  // The simulated machine; tests set these directly.
  std::string command_line;
  std::string exe_folder = "C:\\Program Files\\Quarven";
  std::string exe_name = "launcher";
  char separator = '\\';
  std::string executable_suffix = ".exe";
  std::map<std::string, FakeFile> files;
  // The system's own name of a file where it differs from the path that
  // reaches it (a substituted or mapped drive, a short name): FileSystemName
  // answers it, and a program started from the path runs under it.
  std::map<std::string, std::string> file_names;
  std::int32_t next_pid = 4242;
  int language = kLangEnglish;
  int message_box_answer = 1;
  // Milliseconds of universal time since 1970-01-01, and the local zone's
  // offset, which nothing may use for a timestamp.
  std::int64_t utc_ms = 0;
  std::int64_t local_offset_ms = 0;
  // Simulated time since the process started; Sleep moves it and the wall clock.
  std::int64_t now_ms = 0;
  // The process table and the window list, in enumeration order.
  std::vector<FakeProcess> processes;
  std::vector<FakeWindow> windows;
  // What WindowListGap answers: why the window list cannot tell, or empty.
  std::string window_list_gap;
  int window_list_gap_calls = 0;
  // What WindowListTrouble answers after an enumeration before the given time.
  std::string window_list_trouble;
  // The processes WindowListSeesProcess answers true for.
  std::vector<std::uint32_t> window_list_sees;
  std::int64_t window_list_trouble_until_ms = std::numeric_limits<std::int64_t>::max();
  // A started program joins the process table and lives this long.
  std::int64_t started_app_lifetime_ms = kForever;
  // EnumProcesses fails and leaves the returned count untouched.
  bool enum_processes_fails = false;
  // Runs inside every PumpEvents, as a pending event of the launcher would.
  std::function<void()> on_pump;
  // Pictures that load, by path, with their size in pixels; a file that is
  // there but not listed here is not a picture.
  std::map<std::string, std::pair<int, int>> pictures;
  // Every picture the launcher asked for, in order.
  std::vector<std::string> loaded_pictures;
  ScreenMetrics screen{1280, 1024, 15, 15};
  // Clicks on the open form at these simulated times.
  std::vector<std::int64_t> clicks;
  // The event loop gives up when nothing can happen any more or after this.
  std::int64_t event_loop_limit_ms = 24LL * 3600 * 1000;
  bool event_loop_stalled = false;

  // What the launcher did.
  std::vector<FakeStart> starts;
  std::vector<std::string> trace;
  std::vector<FakeMessageBox> boxes;
  // What decides who has the focus, in order: "allow <pid>", "close form", "box".
  std::vector<std::string> focus_log;
  std::string current_directory;
  char current_drive = 0;
  bool ended = false;
  int exit_status = -1;                           // what EndProgram was given; -1 until it runs
  std::vector<std::uint32_t> enum_process_sizes;  // size of each EnumProcesses call
  std::vector<std::uint32_t> opened_pids;         // each pid asked of OpenProcess
  std::vector<std::uint32_t> opened_access;       // the access each OpenProcess asked for
  std::vector<std::string> file_names_asked;      // each path given to FileSystemName
  int open_process_handles = 0;                   // opened and not yet closed
  int sleeps = 0;
  int pumps = 0;
  std::vector<FakeForm*> forms;  // every form created and not yet destroyed
  int forms_created = 0;
  // Ticks and clicks as they were dispatched: "<ms> tick <timer>" or "<ms> click".
  std::vector<std::string> events_dispatched;

  // Makes every later call of `service` raise the runtime error `number`.
  void Fail(FakeService service, std::int32_t number) { failures_[service] = number; }
  void Heal(FakeService service) { failures_.erase(service); }

  // Sets the clock to a universal date and time.
  void SetUtc(int year, int month, int day, int hour, int minute, int second, int ms);

  // Advances the simulated clocks (monotonic and wall) by `ms`.
  void Advance(std::int64_t ms);

  // Adds a live process and returns it for further setting.
  FakeProcess& AddProcess(std::uint32_t pid, const std::string& path);
  FakeWindow& AddWindow(WindowHandle hwnd, std::uint32_t pid, const std::string& title);

  // The open form, if any.
  FakeForm* OpenForm() const;

  // The messages of the trace lines, without executable name and stamp.
  std::vector<std::string> TraceMessages() const;

  std::string CommandLine() override;
  std::string ExeFolder() override;
  std::string ExeName() override;
  char PathSeparator() override { return separator; }
  std::string ExecutableSuffix() override { return executable_suffix; }
  // Paths compare as on the Linux backend, by Unicode simple case folding
  // (linux_case_fold.h): the nearest rule at hand to the ordinal comparison
  // without case that Windows makes, and the same for ASCII, Latin-1, Greek
  // and Cyrillic letters.
  bool SamePath(const std::string& a, const std::string& b) override;
  // What `file_names` says, else the path itself.
  std::string FileSystemName(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  std::unique_ptr<TextFile> OpenTextFile(const std::string& path) override;
  std::int32_t StartProgram(const std::string& command_line, int window_style) override;
  void AllowForeground(std::uint32_t pid) override;
  void SetCurrentDrive(char drive) override;
  void SetCurrentDirectory(const std::string& path) override;
  SystemTime UtcNow() override;
  void EmitTrace(const std::string& line) override;
  int UserLanguage() override;
  int ShowMessageBox(const std::string& text, const std::string& title, int style) override;
  bool EnumProcesses(std::uint32_t* ids,
                     std::uint32_t size_bytes,
                     std::uint32_t* bytes_returned) override;
  ProcessHandle OpenProcess(std::uint32_t access, std::uint32_t pid) override;
  bool ProcessImagePath(ProcessHandle process, std::string& path) override;
  void CloseProcess(ProcessHandle process) override;
  void EnumWindows(const std::function<bool(WindowHandle)>& visit) override;
  bool IsWindowVisible(WindowHandle window) override;
  WindowHandle GetParent(WindowHandle window) override;
  WindowHandle GetOwner(WindowHandle window) override;
  std::uint32_t GetExStyle(WindowHandle window) override;
  std::string GetWindowText(WindowHandle window) override;
  std::uint32_t GetWindowProcessId(WindowHandle window) override;
  std::string WindowListGap() override;
  std::string WindowListTrouble() override;
  bool WindowListSeesProcess(std::uint32_t pid) override;
  std::int64_t MonotonicMs() override;
  void Sleep(std::uint32_t milliseconds) override;
  void PumpEvents() override;
  std::unique_ptr<Form> CreateForm(FormEvents& events) override;
  std::unique_ptr<Picture> LoadPicture(const std::string& path, int density) override;
  ScreenMetrics GetScreen() override;
  void RunEventLoop() override;
  [[noreturn]] void EndProgram(int status) override;

  // Dispatches what is due at the current simulated time.
  void DispatchDue();

 private:
  friend class FakeForm;
  bool Alive(const FakeProcess& process) const;
  const FakeWindow* FindWindow(WindowHandle window) const;

  void Check(FakeService service) const;

  std::map<FakeService, std::int32_t> failures_;
};

// Windows-1252 as far as Latin-1 reaches, so that tests can tell ANSI from UTF-8.
std::string DecodeLatin1(std::string_view bytes);

}  // namespace launcher
