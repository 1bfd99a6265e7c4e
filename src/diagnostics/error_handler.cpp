#include "diagnostics/error_handler.h"

#include <cstdlib>

#include "core/launcher_state.h"
#include "diagnostics/messages.h"
#include "diagnostics/trace.h"

namespace launcher {

namespace {
SplashWindowLink* g_splash = nullptr;
}  // namespace

void SetSplashWindowLink(SplashWindowLink* link) {
  g_splash = link;
}

SplashWindowLink* GetSplashWindowLink() {
  return g_splash;
}

namespace {

std::string FailureLine(const std::string& source_name,
                        std::int32_t number,
                        const std::string& description,
                        const std::string& source) {
  return source_name + ": #" + std::to_string(number) + " | " + description + " | " + source;
}

}  // namespace

void EndOnFatalFailure(const RuntimeError& failure, const std::string& source_name) {
  WriteTrace(FailureLine(source_name, failure.number(), failure.description(), failure.source()));
  State().gblnFailureReported = true;
  WriteTrace("App Stop...");
  Sys().EndProgram(ExitStatus());
  // EndProgram never returns; a backend that broke that promise ends here.
  std::abort();
}

std::string HandleError(const RuntimeError& failure,
                        const std::string& source_name,
                        bool show_message,
                        bool no_raise) {
  // Copies first: what runs below may itself fail and replace the failure.
  const std::int32_t number = failure.number();
  const std::string description = failure.description();  // NOLINT(*-unnecessary-copy-*)
  const std::string source = failure.source();            // NOLINT(*-unnecessary-copy-*)

  WriteTrace(FailureLine(source_name, number, description, source));
  if (show_message) {
    State().gblnFailureReported = true;
    if (g_splash != nullptr && g_splash->IsOpen()) {
      // While the splash is the active window the launcher may still grant
      // itself the foreground; once it is gone, activation may have passed to
      // another program and the box would open behind it.
      Sys().AllowForeground(0);
      try {
        g_splash->LeaveTopmost();
      } catch (const RuntimeError&) {
        // The splash is closed next anyway; the box must still come up.
      }
      g_splash->Close();
    }
    const std::string& name = State().gstrAppName;
    const std::string details = source_name + ": " + description + " (" + source + ")";
    const std::string text = LoadResString(kStartupErrorText, name, details, "", "");
    const std::string title = LoadResString(kStartupErrorTitle, name, "", "", "");
    ShowMessage(text, title, kStyleCritical);
  } else if (!no_raise) {
    throw RuntimeError(kErrPassedOn, description, source_name);
  }
  return std::to_string(number) + " - " + description;
}

}  // namespace launcher
