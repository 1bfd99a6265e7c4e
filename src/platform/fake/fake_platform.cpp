#include "platform/fake/fake_platform.h"

#include <algorithm>
#include <chrono>

#include "platform/command_line.h"
#include "platform/linux/linux_case_fold.h"
#include "platform/picture_size.h"

namespace launcher {

FakePlatform::FakePlatform() {
  SetUtc(2026, 12, 6, 2, 39, 47, 500);
}

void FakePlatform::Check(FakeService service) const {
  const auto it = failures_.find(service);
  if (it != failures_.end())
    throw RuntimeError::Of(it->second);
}

void FakePlatform::SetUtc(int year, int month, int day, int hour, int minute, int second, int ms) {
  using namespace std::chrono;
  const sys_days date =
      year_month_day{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
  utc_ms = duration_cast<milliseconds>(date.time_since_epoch()).count() +
           ((hour * 60 + minute) * 60 + second) * 1000LL + ms;
}

std::vector<std::string> FakePlatform::TraceMessages() const {
  std::vector<std::string> messages;
  for (const std::string& line : trace) {
    const std::size_t dash = line.find(" - ");
    messages.push_back(dash == std::string::npos ? line : line.substr(dash + 3));
  }
  return messages;
}

std::string FakePlatform::CommandLine() {
  Check(FakeService::kCommandLine);
  return command_line;
}

std::string FakePlatform::ExeFolder() {
  Check(FakeService::kExeFolder);
  return exe_folder;
}

std::string FakePlatform::ExeName() {
  Check(FakeService::kExeName);
  return exe_name;
}

bool FakePlatform::SamePath(const std::string& a, const std::string& b) {
  Check(FakeService::kSamePath);
  return SamePathIgnoringCase(a, b);
}

std::string FakePlatform::FileSystemName(const std::string& path) {
  file_names_asked.push_back(path);
  const auto it = file_names.find(path);
  return it == file_names.end() ? path : it->second;
}

bool FakePlatform::FileExists(const std::string& path) {
  Check(FakeService::kFileExists);
  const auto it = files.find(path);
  return it != files.end() && !it->second.hidden;
}

std::unique_ptr<TextFile> FakePlatform::OpenTextFile(const std::string& path) {
  Check(FakeService::kOpenTextFile);
  const auto it = files.find(path);
  if (it == files.end())
    Raise(kErrFileNotFound);
  return std::make_unique<TextFile>(it->second.bytes, &DecodeLatin1);
}

std::int32_t FakePlatform::StartProgram(const std::string& command, int window_style) {
  Check(FakeService::kStartProgram);
  starts.push_back({command, current_directory, current_drive, window_style});
  const std::vector<std::string> args = SplitCommandLine(command);
  const auto name = file_names.find(args.at(0));
  FakeProcess& app = AddProcess(static_cast<std::uint32_t>(next_pid),
                                name == file_names.end() ? args.at(0) : name->second);
  if (started_app_lifetime_ms != kForever)
    app.end_ms = now_ms + started_app_lifetime_ms;
  return next_pid;
}

void FakePlatform::Advance(std::int64_t ms) {
  now_ms += ms;
  utc_ms += ms;
}

FakeProcess& FakePlatform::AddProcess(std::uint32_t pid, const std::string& path) {
  FakeProcess process;
  process.pid = pid;
  process.path = path;
  process.start_ms = now_ms;
  processes.push_back(process);
  return processes.back();
}

FakeWindow& FakePlatform::AddWindow(WindowHandle hwnd,
                                    std::uint32_t pid,
                                    const std::string& title) {
  FakeWindow window;
  window.hwnd = hwnd;
  window.pid = pid;
  window.title = title;
  window.appear_ms = now_ms;
  windows.push_back(window);
  return windows.back();
}

bool FakePlatform::Alive(const FakeProcess& process) const {
  return process.start_ms <= now_ms && now_ms < process.end_ms;
}

bool FakePlatform::EnumProcesses(std::uint32_t* ids,
                                 std::uint32_t size_bytes,
                                 std::uint32_t* bytes_returned) {
  Check(FakeService::kEnumProcesses);
  enum_process_sizes.push_back(size_bytes);
  if (enum_processes_fails)
    return false;
  std::uint32_t written = 0;
  for (const FakeProcess& process : processes) {
    if (!Alive(process))
      continue;
    if ((written + 1) * 4 > size_bytes)
      break;
    ids[written++] = process.pid;
  }
  *bytes_returned = written * 4;
  return true;
}

ProcessHandle FakePlatform::OpenProcess(std::uint32_t access, std::uint32_t pid) {
  Check(FakeService::kOpenProcess);
  opened_pids.push_back(pid);
  opened_access.push_back(access);
  for (std::size_t i = 0; i < processes.size(); ++i) {
    if (processes[i].pid == pid && pid != 0 && Alive(processes[i]) && processes[i].openable) {
      ++open_process_handles;
      return i + 1;
    }
  }
  return 0;
}

bool FakePlatform::ProcessImagePath(ProcessHandle process, std::string& path) {
  Check(FakeService::kProcessImagePath);
  const FakeProcess& p = processes.at(process - 1);
  if (p.path_fails)
    return false;
  path = p.path;
  return true;
}

void FakePlatform::CloseProcess(ProcessHandle /*process*/) {
  Check(FakeService::kCloseProcess);
  --open_process_handles;
}

const FakeWindow* FakePlatform::FindWindow(WindowHandle window) const {
  for (const FakeWindow& w : windows) {
    if (w.hwnd == window)
      return &w;
  }
  return nullptr;
}

void FakePlatform::EnumWindows(const std::function<bool(WindowHandle)>& visit) {
  Check(FakeService::kEnumWindows);
  std::vector<WindowHandle> listed;
  for (const FakeWindow& w : windows) {
    if (w.appear_ms <= now_ms && now_ms < w.vanish_ms)
      listed.push_back(w.hwnd);
  }
  for (WindowHandle hwnd : listed) {
    if (!visit(hwnd))
      return;
  }
}

bool FakePlatform::IsWindowVisible(WindowHandle window) {
  Check(FakeService::kIsWindowVisible);
  const FakeWindow* w = FindWindow(window);
  return w != nullptr && w->visible;
}

WindowHandle FakePlatform::GetParent(WindowHandle window) {
  Check(FakeService::kGetParent);
  const FakeWindow* w = FindWindow(window);
  return w != nullptr ? w->parent : 0;
}

WindowHandle FakePlatform::GetOwner(WindowHandle window) {
  Check(FakeService::kGetOwner);
  const FakeWindow* w = FindWindow(window);
  return w != nullptr ? w->owner : 0;
}

std::uint32_t FakePlatform::GetExStyle(WindowHandle window) {
  Check(FakeService::kGetExStyle);
  const FakeWindow* w = FindWindow(window);
  return w != nullptr ? w->ex_style : 0;
}

std::string FakePlatform::GetWindowText(WindowHandle window) {
  Check(FakeService::kGetWindowText);
  const FakeWindow* w = FindWindow(window);
  return w != nullptr ? w->title : std::string();
}

std::uint32_t FakePlatform::GetWindowProcessId(WindowHandle window) {
  Check(FakeService::kGetWindowProcessId);
  const FakeWindow* w = FindWindow(window);
  return w != nullptr ? w->pid : 0;
}

std::string FakePlatform::WindowListGap() {
  ++window_list_gap_calls;
  return window_list_gap;
}

bool FakePlatform::WindowListSeesProcess(std::uint32_t pid) {
  return std::find(window_list_sees.begin(), window_list_sees.end(), pid) != window_list_sees.end();
}

std::string FakePlatform::WindowListTrouble() {
  return now_ms < window_list_trouble_until_ms ? window_list_trouble : std::string();
}

std::int64_t FakePlatform::MonotonicMs() {
  Check(FakeService::kMonotonicMs);
  return now_ms;
}

void FakePlatform::Sleep(std::uint32_t milliseconds) {
  Check(FakeService::kSleep);
  ++sleeps;
  Advance(milliseconds);
}

void FakePlatform::PumpEvents() {
  Check(FakeService::kPumpEvents);
  ++pumps;
  if (on_pump)
    on_pump();
  DispatchDue();
}

FakeForm* FakePlatform::OpenForm() const {
  for (FakeForm* form : forms) {
    if (form->open)
      return form;
  }
  return nullptr;
}

void FakePlatform::DispatchDue() {
  // One event at a time, the earliest first; a handler may pump again.
  for (;;) {
    FakeForm* target = nullptr;
    int timer_id = 0;
    std::int64_t due = now_ms + 1;
    for (FakeForm* form : forms) {
      if (!form->open)
        continue;
      for (auto& [id, timer] : form->timers) {
        if (timer.enabled && timer.interval_ms > 0 && timer.next_due < due) {
          due = timer.next_due;
          target = form;
          timer_id = id;
        }
      }
    }
    FakeForm* clicked = OpenForm();
    auto click = clicks.end();
    for (auto it = clicks.begin(); it != clicks.end(); ++it) {
      if (*it < due && clicked != nullptr) {
        due = *it;
        click = it;
      }
    }
    if (click != clicks.end()) {
      clicks.erase(click);
      events_dispatched.push_back(std::to_string(now_ms) + " click");
      clicked->events.OnClick();
      continue;
    }
    if (target == nullptr)
      return;
    FakeForm::Timer& timer = target->timers[timer_id];
    timer.next_due = now_ms + timer.interval_ms;
    events_dispatched.push_back(std::to_string(now_ms) + " tick " + std::to_string(timer_id));
    target->events.OnTimer(timer_id);
  }
}

void FakePlatform::RunEventLoop() {
  while (OpenForm() != nullptr) {
    std::int64_t next = kForever;
    for (FakeForm* form : forms) {
      if (!form->open)
        continue;
      for (const auto& [id, timer] : form->timers) {
        if (timer.enabled && timer.interval_ms > 0)
          next = std::min(next, timer.next_due);
      }
    }
    for (std::int64_t at : clicks)
      next = std::min(next, at);
    if (next == kForever || next > event_loop_limit_ms) {
      event_loop_stalled = true;  // a real loop would wait for ever here
      return;
    }
    if (next > now_ms)
      Advance(next - now_ms);
    DispatchDue();
  }
}

std::unique_ptr<Form> FakePlatform::CreateForm(FormEvents& events) {
  Check(FakeService::kCreateForm);
  ++forms_created;
  return std::make_unique<FakeForm>(*this, events, 0x7000 + forms_created);
}

namespace {
class FakePicture : public Picture {
 public:
  FakePicture(int width, int height, int density)
      : width_(width), height_(height), density_(density) {}
  int width() const override { return width_; }
  int height() const override { return height_; }
  int density() const override { return density_; }

 private:
  int width_;
  int height_;
  int density_;
};
}  // namespace

std::unique_ptr<Picture> FakePlatform::LoadPicture(const std::string& path, int density) {
  Check(FakeService::kLoadPicture);
  loaded_pictures.push_back(path);
  const auto it = pictures.find(path);
  if (it != pictures.end()) {
    // As the real backends do, from the picture's header.
    CheckPictureSize(it->second.first, it->second.second, density);
    return std::make_unique<FakePicture>(it->second.first, it->second.second, density);
  }
  Raise(files.count(path) != 0 ? kErrInvalidPicture : kErrFileNotFound);
}

ScreenMetrics FakePlatform::GetScreen() {
  Check(FakeService::kGetScreen);
  return screen;
}

FakeForm::FakeForm(FakePlatform& platform, FormEvents& form_events, WindowHandle handle)
    : events(form_events), platform_(platform), handle_(handle) {
  platform_.forms.push_back(this);
}

FakeForm::~FakeForm() {
  std::erase(platform_.forms, this);
}

void FakeForm::SetBounds(float l, float t, float w, float h) {
  left = l;
  top = t;
  width = w;
  height = h;
}

void FakeForm::SetFrame(int l, int t, int w, int h) {
  frame_left = l;
  frame_top = t;
  frame_width = w;
  frame_height = h;
}

void FakeForm::SetPicture(const Picture& picture, int l, int t) {
  has_picture = true;
  picture_left = l;
  picture_top = t;
  picture_width = picture.width();
  picture_height = picture.height();
  picture_density = picture.density();
}

void FakeForm::SetAccessibleName(const std::string& name) {
  accessible_name = name;
}

void FakeForm::Show() {
  visible = true;
  ++activations;
  events.OnActivate();
}

void FakeForm::SetTopmost(bool on) {
  platform_.Check(FakeService::kSetTopmost);
  topmost = on;
}

void FakeForm::SetTimer(int timer, std::uint32_t interval_ms, bool enabled) {
  Timer& t = timers[timer];
  t.interval_ms = interval_ms;
  t.enabled = enabled;
  t.next_due = platform_.now_ms + interval_ms;
}

void FakeForm::Close() {
  if (open)
    platform_.focus_log.emplace_back("close form");
  open = false;
  visible = false;
  timers.clear();
}

void FakePlatform::SetCurrentDrive(char drive) {
  Check(FakeService::kSetCurrentDrive);
  current_drive = drive;
}

void FakePlatform::SetCurrentDirectory(const std::string& path) {
  Check(FakeService::kSetCurrentDirectory);
  current_directory = path;
}

SystemTime FakePlatform::UtcNow() {
  Check(FakeService::kUtcNow);
  using namespace std::chrono;
  const milliseconds since_epoch(utc_ms);
  const sys_days days = floor<std::chrono::days>(sys_time<milliseconds>(since_epoch));
  const year_month_day date(days);
  const hh_mm_ss<milliseconds> time(since_epoch - days.time_since_epoch());
  SystemTime t;
  t.year = static_cast<std::uint16_t>(static_cast<int>(date.year()));
  t.month = static_cast<std::uint16_t>(static_cast<unsigned>(date.month()));
  t.day = static_cast<std::uint16_t>(static_cast<unsigned>(date.day()));
  t.hour = static_cast<std::uint16_t>(time.hours().count());
  t.minute = static_cast<std::uint16_t>(time.minutes().count());
  t.second = static_cast<std::uint16_t>(time.seconds().count());
  t.milliseconds = static_cast<std::uint16_t>(time.subseconds().count());
  return t;
}

void FakePlatform::EmitTrace(const std::string& line) {
  Check(FakeService::kEmitTrace);
  trace.push_back(line);
}

int FakePlatform::UserLanguage() {
  Check(FakeService::kUserLanguage);
  return language;
}

int FakePlatform::ShowMessageBox(const std::string& text, const std::string& title, int style) {
  Check(FakeService::kShowMessageBox);
  boxes.push_back({text, title, style});
  focus_log.emplace_back("box");
  return message_box_answer;
}

void FakePlatform::AllowForeground(std::uint32_t pid) {
  focus_log.push_back("allow " + std::to_string(pid));
}

void FakePlatform::EndProgram(int status) {
  ended = true;
  exit_status = status;
  throw ProgramEnded{status};
}

std::string DecodeLatin1(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

}  // namespace launcher
