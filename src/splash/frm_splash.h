// The splash form: a borderless picture in a frame, centred and topmost, with
// the two timers that end the launcher in splash mode.
#pragma once

#include <memory>

#include "diagnostics/error_handler.h"
#include "platform/platform.h"

namespace launcher {

// Reads the splash settings and shows the splash for a positive duration; on
// a failure shows the startup-error box and leaves gblnSplash False.
void DisplaySplash();

// Switches on the watch for the application's end, when the splash is loaded.
void EnableProcessWatch();

class FrmSplash : public FormEvents, public SplashWindowLink {
 public:
  static constexpr int kTmrCheckQvProcess = 1;
  static constexpr int kTmrQuit = 2;
  static constexpr std::uint32_t kCheckInterval = 100;

  // Loads the form (running Form_Load) unless it is loaded already.
  void Load();
  bool IsLoaded() const { return form_ != nullptr && form_->IsOpen(); }
  Form& form() { return *form_; }

  void Form_Load();
  void Form_Activate();
  void Form_Click();
  void imgSplash_Click();
  void tmrQuit_Timer();
  void tmrCheckQvProcess_Timer();

  // Timer state as set by the launcher (the form applies it).
  void SetQuitTimer(std::uint32_t interval_ms, bool enabled);
  void EnableCheckTimer();

  // FormEvents
  void OnActivate() override { Form_Activate(); }
  void OnClick() override { Form_Click(); }
  void OnTimer(int timer) override;

  // Drops the form objects; only when no event of theirs can be running.
  void Reset();

  // SplashWindowLink
  bool IsOpen() override { return IsLoaded(); }
  WindowHandle Handle() override;
  void LeaveTopmost() override;
  void Close() override;

 private:
  // Kept after closing: a form closed from inside its own event stays valid
  // until that event has returned.
  std::unique_ptr<Form> form_;
  std::uint32_t quit_interval_ = 0;
  bool quit_enabled_ = false;
  bool closing_ = false;
};

// The one splash form of the process.
FrmSplash& frmSplash();

// Destroys the splash form and its retired forms, for a fresh run in tests.
void ResetSplash();

}  // namespace launcher
