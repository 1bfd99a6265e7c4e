// The one error routine: every failure is traced, then shown in the startup-error
// box or passed on to the caller as failure 4646.
#pragma once

#include <string>

#include "platform/platform.h"

namespace launcher {

// `source_name` says where the failure was caught. With `show_message` the
// splash is closed and the localized startup-error box is shown (not in silent
// mode); otherwise, unless `no_raise`, failure 4646 is raised with source
// `source_name` and the first failure's description. Returns "number - description".
std::string HandleError(const RuntimeError& failure,
                        const std::string& source_name,
                        bool show_message,
                        bool no_raise);

// A failure after which the run cannot go on and nothing can be shown, such
// as the loss of the display the splash lived on: traced as HandleError
// traces it, then "App Stop...", and the program ends with exit status 1. No
// box, and the splash is left alone: its window went with the display. The
// started application is not touched.
[[noreturn]] void EndOnFatalFailure(const RuntimeError& failure, const std::string& source_name);

// What the error routine and the message box need of the splash window. The
// splash registers itself while it is loaded.
class SplashWindowLink {
 public:
  virtual ~SplashWindowLink() = default;
  virtual bool IsOpen() = 0;
  // The splash's own window, left out of the window list.
  virtual WindowHandle Handle() = 0;
  // Takes the window out of the topmost band so that a message box is seen.
  virtual void LeaveTopmost() = 0;
  // Destroys the window and stops its timers.
  virtual void Close() = 0;
};

void SetSplashWindowLink(SplashWindowLink* link);
SplashWindowLink* GetSplashWindowLink();

}  // namespace launcher
