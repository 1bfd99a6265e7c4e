#include "splash/frm_splash.h"

#include <vector>

#include "core/launch.h"
#include "core/launcher_state.h"
#include "core/waits.h"
#include "diagnostics/trace.h"
#include "platform/picture_density.h"
#include "procmanager/process_list.h"
#include "settings/ini_reader.h"

namespace launcher {

namespace {

// The frame as designed, in pixels; the window takes exactly its size.
constexpr int kFrameWidth = 277;
constexpr int kFrameHeight = 85;
// The picture's top-left corner, in pixels from the window's edges.
constexpr int kPictureLeft = 4;
constexpr int kPictureTop = 4;

constexpr std::uint32_t kRearmInterval = 500;
constexpr std::int16_t kWindowAttempts = 60;

// Runs one statement of a handler whose failing statements are skipped.
template <typename Statement>
void Attempt(Statement statement) {
  try {
    statement();
  } catch (const RuntimeError&) {
    // Skipped by design: the handler goes on with its next statement.
  }
}

// The double-density picture beside the configured one where the screen's
// scale calls for it and it can stand in; else the configured picture, which
// the form scales. Anything wrong with the sharper one is traced, never shown.
std::unique_ptr<Picture> SharpestPicture(const std::string& path, std::unique_ptr<Picture> image) {
  float scale = 1;
  Attempt([&] { scale = Sys().GetScreen().scale; });
  if (scale <= kDoubleDensityFromScale)
    return image;
  const std::string sharp_path = DoubleDensityPath(path, Sys().PathSeparator());
  const std::string unused = "DisplaySplash: " + sharp_path + " not used, the picture is scaled: ";
  try {
    if (!Sys().FileExists(sharp_path)) {
      WriteTrace(unused + "no such file");
      return image;
    }
    std::unique_ptr<Picture> sharp = Sys().LoadPicture(sharp_path, 2);
    if (sharp->width() == 2 * image->width() && sharp->height() == 2 * image->height())
      return sharp;
    WriteTrace(unused + std::to_string(sharp->width()) + " x " + std::to_string(sharp->height()) +
               " pixels, not twice " + std::to_string(image->width()) + " x " +
               std::to_string(image->height()));
  } catch (const RuntimeError& failure) {
    Attempt([&] { WriteTrace(unused + failure.description()); });
  }
  return image;
}

// Forms closed while one of their events may still be running.
std::vector<std::unique_ptr<Form>>& RetiredForms() {
  static std::vector<std::unique_ptr<Form>> retired;
  return retired;
}

}  // namespace

FrmSplash& frmSplash() {
  static FrmSplash splash;
  return splash;
}

void FrmSplash::Load() {
  if (IsLoaded())
    return;
  if (form_ != nullptr)
    RetiredForms().push_back(std::move(form_));
  form_ = Sys().CreateForm(*this);
  quit_interval_ = 0;
  quit_enabled_ = false;
  closing_ = false;
  SetSplashWindowLink(this);
  Form_Load();
}

void FrmSplash::Form_Load() {
  Attempt([&] { form_->SetFrame(0, 0, kFrameWidth, kFrameHeight); });
  // A screen reader says what is starting; the caption stays empty.
  Attempt([&] { form_->SetAccessibleName(State().gstrAppName); });
  Attempt([&] {
    const ScreenMetrics screen = Sys().GetScreen();
    const float width = static_cast<float>(kFrameWidth) * screen.twips_per_pixel_x;
    const float height = static_cast<float>(kFrameHeight) * screen.twips_per_pixel_y;
    // Centred on the whole primary display, taskbar or not.
    const float top =
        (static_cast<float>(screen.height_px) * screen.twips_per_pixel_y - height) / 2;
    const float left = (static_cast<float>(screen.width_px) * screen.twips_per_pixel_x - width) / 2;
    form_->SetBounds(left, top, width, height);
  });
}

void FrmSplash::Form_Activate() {
  Attempt([&] { form_->SetTopmost(true); });
}

void FrmSplash::Form_Click() {
  Attempt([&] { tmrQuit_Timer(); });
}

void FrmSplash::imgSplash_Click() {
  Attempt([&] { tmrQuit_Timer(); });
}

void FrmSplash::OnTimer(int timer) {
  if (timer == kTmrQuit)
    tmrQuit_Timer();
  else if (timer == kTmrCheckQvProcess)
    tmrCheckQvProcess_Timer();
}

void FrmSplash::SetQuitTimer(std::uint32_t interval_ms, bool enabled) {
  quit_interval_ = interval_ms;
  quit_enabled_ = enabled;
  if (IsLoaded())
    form_->SetTimer(kTmrQuit, quit_interval_, quit_enabled_);
}

void FrmSplash::EnableCheckTimer() {
  if (IsLoaded())
    form_->SetTimer(kTmrCheckQvProcess, kCheckInterval, true);
}

// Only the first closing run waits. Once it has begun, tmrQuit is stopped and
// a later click only traces: so neither ticks nor clicks can start a nested
// wait, and the launcher ends at the latest one full wait after the first
// closing run began (sooner when the process watch sees the application go).
void FrmSplash::tmrQuit_Timer() {
  const LauncherState& g = State();
  Attempt([&] { WriteTrace("tmrQuit execute..."); });
  if (!g.gblnAppStarted) {
    Attempt([&] { SetQuitTimer(kRearmInterval, quit_enabled_); });
    return;
  }
  if (closing_)
    return;
  closing_ = true;
  Attempt([&] { SetQuitTimer(quit_interval_, false); });
  Attempt([&] { subWaitForQUARVENAppOpen(g.glngAppPID, g.gstrAppFileName, kWindowAttempts); });
  Attempt([&] { Close(); });
  Attempt([&] { WriteTrace("App Stop..."); });
  Sys().EndProgram(ExitStatus());
}

void FrmSplash::tmrCheckQvProcess_Timer() {
  const LauncherState& g = State();
  try {
    if (funIsAppRunning(g.glngAppPID, g.gstrAppFileName))
      return;
    WriteTrace("tmrCheckQvProcess: " + std::to_string(g.glngAppPID) +
               " no longer running, exiting...");
    Close();
    WriteTrace("App Stop...");
    Sys().EndProgram(ExitStatus());
  } catch (const RuntimeError& failure) {
    HandleError(failure, "QUARVENlauncher tmrCheckQvProcess", true, false);
  }
}

void FrmSplash::Reset() {
  form_.reset();
  RetiredForms().clear();
  quit_interval_ = 0;
  quit_enabled_ = false;
  closing_ = false;
}

void ResetSplash() {
  frmSplash().Reset();
  SetSplashWindowLink(nullptr);
}

WindowHandle FrmSplash::Handle() {
  return IsLoaded() ? form_->Handle() : 0;
}

void FrmSplash::LeaveTopmost() {
  if (IsLoaded())
    form_->SetTopmost(false);
}

void FrmSplash::Close() {
  if (IsLoaded())
    form_->Close();
}

void DisplaySplash() {
  LauncherState& g = State();
  FrmSplash& splash = frmSplash();
  try {
    const std::int16_t duration =
        AsInteger(GetINISettings(g.gstrIniFile, "resources", "splashDuration", std::int16_t{5}));
    g.gblnSplash = duration > 0;
    if (!g.gblnSplash)
      return;
    splash.Load();
    splash.SetQuitTimer(static_cast<std::uint32_t>(duration) * 1000, false);
    const std::string picture =
        AsText(GetINISettings(g.gstrIniFile, "resources", "splash", std::string()));
    const std::string path = g.gstrBinPath + NativePath(picture);
    // A NUL byte would cut the path short and open another file.
    if (path.find('\0') != std::string::npos)
      Raise(kErrBadFileName);
    const std::unique_ptr<Picture> image = SharpestPicture(path, Sys().LoadPicture(path, 1));
    splash.form().SetPicture(*image, kPictureLeft, kPictureTop);
    splash.form().Show();
    splash.SetQuitTimer(static_cast<std::uint32_t>(duration) * 1000, true);
    // Painted before the application's start takes the thread.
    Sys().PumpEvents();
  } catch (const RuntimeError& failure) {
    HandleError(failure, "QUARVENlauncher DisplaySplash", true, false);
    g.gblnSplash = false;
  }
}

void EnableProcessWatch() {
  frmSplash().EnableCheckTimer();
}

}  // namespace launcher
