#include "platform/linux/linux_platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/command_line.h"
#include "platform/linux/linux_case_fold.h"
#include "platform/linux/linux_form.h"
#include "platform/linux/linux_message_box.h"
#include "platform/linux/linux_picture.h"
#include "platform/linux/linux_posix.h"
#include "platform/linux/linux_toolkit.h"

namespace launcher {

namespace {

// The launcher's own executable. Read once: every trace line names it, and the
// file a process runs cannot change under it.
const std::string& SelfPath() {
  static const std::string path = [] {
    std::string buffer(256, '\0');
    for (;;) {
      const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
      if (n < 0)
        Raise(kErrFileNotFound);
      if (static_cast<std::size_t>(n) < buffer.size()) {
        buffer.resize(static_cast<std::size_t>(n));
        return buffer;
      }
      buffer.resize(buffer.size() * 2);
    }
  }();
  return path;
}

}  // namespace

// By hand, because gmtime_r reads the time zone files first, which a start that
// only needs universal time can do without.
void CivilFromDays(std::int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
  *day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
  *month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
  *year = static_cast<int>(year_of_era + era * 400 + (*month <= 2 ? 1 : 0));
}

namespace {

// The runtime error that stands for a failed file or program operation.
std::int32_t ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return kErrFileNotFound;
    case ENOTDIR:
      return kErrPathNotFound;
    case EACCES:
    case EPERM:
      return kErrPermissionDenied;
    default:
      return kErrPathFileAccess;
  }
}

}  // namespace

// Variables that hand the desktop's focus on to the window of a started
// program, and that the toolkit would read and drop at its start.
constexpr const char* kHandedOn[] = {"DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN"};

LinuxPlatform::LinuxPlatform(int argc, char** argv)
    : args_(argv + (argc > 0 ? 1 : 0), argv + argc) {
  // They belong to the application's window, not the splash's: taken out of
  // our environment before the toolkit could spend them (the splash would
  // take the focus meant for the application, and a token is good once), and
  // handed to the application unchanged. None is ever made up.
  for (const char* name : kHandedOn) {
    if (const char* value = std::getenv(name)) {
      handed_on_.push_back(std::string(name) + "=" + value);
      unsetenv(name);
    }
  }
  if (std::optional<std::string> scale = TakeUnusableGdkScale())
    handed_on_.push_back(std::move(*scale));
}

std::string LinuxPlatform::CommandLine() {
  return JoinArguments(args_);
}

std::string LinuxPlatform::ExeFolder() {
  const std::string& self = SelfPath();
  const std::size_t slash = self.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : self.substr(0, slash);
}

std::string LinuxPlatform::ExeName() {
  const std::string& self = SelfPath();
  std::string name = self.substr(self.rfind('/') + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0)
    name.resize(dot);
  return name;
}

bool LinuxPlatform::SamePath(const std::string& a, const std::string& b) {
  return SamePathIgnoringCase(a, b);
}

// The kernel names a process's executable with every link resolved, so the
// application's path is resolved the same way.
std::string LinuxPlatform::FileSystemName(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr)
    return path;
  std::string name(resolved);
  std::free(resolved);
  return name;
}

bool LinuxPlatform::FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::unique_ptr<TextFile> LinuxPlatform::OpenTextFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    Raise(ErrorFromErrno(errno));
  std::string bytes;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      Raise(error == EISDIR ? kErrPathFileAccess : kErrDeviceIo);
    }
    if (n == 0)
      break;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  close(fd);
  return std::make_unique<TextFile>(std::move(bytes), &KeepBytes);
}

// The desktop decides from the startup id or activation token, which the
// application gets unchanged (StartProgram): nothing to grant here.
void LinuxPlatform::AllowForeground(std::uint32_t /*pid*/) {}

std::int32_t LinuxPlatform::StartProgram(const std::string& command_line, int /*window_style*/) {
  // Split by the same rules that quoted our own arguments; no shell is involved.
  std::vector<std::string> args = SplitCommandLine(command_line);
  if (args.empty() || args.front().empty())
    Raise(kErrFileNotFound);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  // The application gets a clean signal state, whatever the launcher blocked.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  // A session of its own: what ends the launcher's job (Ctrl+C, the terminal
  // closing, a signal to the job's group) must not end the application, which
  // is meant to outlive the launcher; and, having no controlling terminal, it
  // is nobody's background job, so reading or writing the terminal it
  // inherited never stops it (SIGTTIN, SIGTTOU) while the launcher waits.
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

  // It inherits standard input, output and error and nothing else: no
  // descriptor of ours (the display's connections, say), nor one that was
  // handed to us, as a Windows program started without inheritance.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

  // Our environment as it is now, with what the desktop handed on.
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry)
    envp.push_back(*entry);
  for (std::string& entry : handed_on_)
    envp.push_back(entry.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (error != 0)
    Raise(error == ENOENT || error == ENOTDIR ? kErrFileNotFound
          : error == EACCES || error == EPERM ? kErrPermissionDenied
                                              : kErrInvalidCall);
  NoteStartedChild(static_cast<std::uint32_t>(pid));
  started_ = true;
  return static_cast<std::int32_t>(pid);
}

void LinuxPlatform::SetCurrentDrive(char /*drive*/) {
  // One file tree, no drives.
}

void LinuxPlatform::SetCurrentDirectory(const std::string& path) {
  if (chdir(path.c_str()) != 0)
    Raise(errno == ENOENT || errno == ENOTDIR ? kErrPathNotFound : ErrorFromErrno(errno));
}

SystemTime LinuxPlatform::UtcNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::int64_t seconds = now.tv_sec;
  const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const std::int64_t of_day = seconds - days * 86400;
  int year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(days, &year, &month, &day);
  SystemTime t;
  t.year = static_cast<std::uint16_t>(year);
  t.month = static_cast<std::uint16_t>(month);
  t.day = static_cast<std::uint16_t>(day);
  t.hour = static_cast<std::uint16_t>(of_day / 3600);
  t.minute = static_cast<std::uint16_t>(of_day / 60 % 60);
  t.second = static_cast<std::uint16_t>(of_day % 60);
  t.milliseconds = static_cast<std::uint16_t>(now.tv_nsec / 1000000);
  return t;
}

void LinuxPlatform::EmitTrace(const std::string& line) {
  const std::string out = line + "\n";
  // One write per line keeps lines whole; a closed stderr is no failure.
  [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, out.data(), out.size());
}

int LanguageFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0')
      return std::strncmp(value, "fr", 2) == 0 ? kLangFrench : kLangEnglish;
  }
  return kLangEnglish;
}

int LinuxPlatform::UserLanguage() {
  return LanguageFromEnvironment();
}

int LinuxPlatform::ShowMessageBox(const std::string& text, const std::string& title, int style) {
  // A start that failed leaves the desktop's id unspent: the box takes it,
  // once, so that the launch feedback ends and the box gets the focus.
  std::string startup_id;
  if (!started_) {
    for (const char* name : kHandedOn) {
      const std::string prefix = std::string(name) + "=";
      for (const std::string& entry : handed_on_) {
        if (startup_id.empty() && entry.rfind(prefix, 0) == 0)
          startup_id = entry.substr(prefix.size());
      }
    }
    handed_on_.clear();
  }
  return RunMessageDialog(text, title, style, startup_id);
}

bool LinuxPlatform::EnumProcesses(std::uint32_t* ids,
                                  std::uint32_t size_bytes,
                                  std::uint32_t* bytes_returned) {
  // The started application must not linger as a zombie while we watch it:
  // the listing reaps.
  std::uint32_t count = 0;
  if (!processes_.ListIds(ids, size_bytes / sizeof(std::uint32_t), &count))
    return false;
  *bytes_returned = count * sizeof(std::uint32_t);
  return true;
}

ProcessHandle LinuxPlatform::OpenProcess(std::uint32_t /*access*/, std::uint32_t pid) {
  return processes_.Open(pid);
}

bool LinuxPlatform::ProcessImagePath(ProcessHandle process, std::string& path) {
  const std::string* found = processes_.Path(process);
  if (found == nullptr)
    return false;
  path = *found;
  return true;
}

void LinuxPlatform::CloseProcess(ProcessHandle process) {
  processes_.Close(process);
}

void LinuxPlatform::EnumWindows(const std::function<bool(WindowHandle)>& visit) {
  windows_.Enumerate(visit);
}

bool LinuxPlatform::IsWindowVisible(WindowHandle window) {
  return windows_.Facts(window).visible;
}

WindowHandle LinuxPlatform::GetParent(WindowHandle /*window*/) {
  // The enumeration hands out top-level windows only (the manager's clients or
  // the root's children, a compositor's toplevels), so none has a parent in
  // the Windows sense; the frame a manager wraps a client in is not one.
  return 0;
}

WindowHandle LinuxPlatform::GetOwner(WindowHandle window) {
  return windows_.Facts(window).owner;
}

std::uint32_t LinuxPlatform::GetExStyle(WindowHandle window) {
  return windows_.Facts(window).style;
}

std::string LinuxPlatform::GetWindowText(WindowHandle window) {
  return windows_.Facts(window).title;
}

std::uint32_t LinuxPlatform::GetWindowProcessId(WindowHandle window) {
  return windows_.Facts(window).pid;
}

std::string LinuxPlatform::WindowListGap() {
  return windows_.Gap();
}

bool LinuxPlatform::WindowListSeesProcess(std::uint32_t pid) {
  return windows_.SeesProcess(pid);
}

std::string LinuxPlatform::WindowListTrouble() {
  return windows_.Trouble();
}

std::int64_t LinuxPlatform::MonotonicMs() {
  return MonotonicNowMs();
}

void LinuxPlatform::Sleep(std::uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
  // Once, after the sleep: a child that ended during it is collected now.
  ReapChildren();
  reaped_since_pump_ = true;
}

void LinuxPlatform::PumpEvents() {
  // Only the toolkit puts events on GLib's default context (the KWin source
  // runs a context of its own): without it a silent wait pumps nothing and
  // loads nothing. An iteration that dispatched nothing found nothing
  // pending: asking first would poll the display once more for every event.
  if (const Toolkit* tk = LoadedToolkit()) {
    while (tk->glib.g_main_context_iteration(nullptr, FALSE)) {
    }
  }
  if (!reaped_since_pump_)
    ReapChildren();
  reaped_since_pump_ = false;
}

std::unique_ptr<Form> LinuxPlatform::CreateForm(FormEvents& events) {
  return CreateGtkForm(events);
}

std::unique_ptr<Picture> LinuxPlatform::LoadPicture(const std::string& path, int density) {
  return LoadGdkPicture(path, density);
}

ScreenMetrics LinuxPlatform::GetScreen() {
  return QueryGdkScreen();
}

void LinuxPlatform::RunEventLoop() {
  RunGtkEventLoop();
}

void LinuxPlatform::EndProgram(int status) {
  windows_.Close();
  std::fflush(nullptr);
  _exit(status);
}

}  // namespace launcher
