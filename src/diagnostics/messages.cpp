#include "diagnostics/messages.h"

#include "core/launcher_state.h"
#include "diagnostics/error_handler.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "resources/string_table.h"

namespace launcher {

std::string LoadResString(std::int32_t id,
                          const std::string& insert1,
                          const std::string& insert2,
                          const std::string& insert3,
                          const std::string& insert4) {
  try {
    const char* entry = FindString(id, Sys().UserLanguage());
    if (entry == nullptr)
      Raise(kErrResourceNotFound);
    std::string text = ReplaceAll(entry, "<resNewLine/>", "\r\n");
    text = ReplaceAll(text, "<resTab/>", "\t");
    text = ReplaceAll(text, "<resInsert1/>", insert1);
    text = ReplaceAll(text, "<resInsert2/>", insert2);
    text = ReplaceAll(text, "<resInsert3/>", insert3);
    return ReplaceAll(text, "<resInsert4/>", insert4);
  } catch (const RuntimeError& failure) {
    HandleError(failure, "QUARVENlauncher LoadResString", false, false);
    return {};
  }
}

namespace {

// The box takes C strings on every system: a NUL byte (from a display name
// in the settings, say) would cut the rest of its text off, details and all.
// It is shown as the replacement character instead.
std::string Showable(const std::string& text) {
  return ReplaceAll(text, std::string_view("\0", 1), "\xEF\xBF\xBD");
}

}  // namespace

int ShowMessage(const std::string& message, const std::string& title, int style) {
  const LauncherState& g = State();
  const std::string& shown_title = title.empty() ? g.gstrAppName : title;
  if (style == 0)
    style = kStyleExclamation;
  try {
    SplashWindowLink* splash = GetSplashWindowLink();
    if (g.gblnSplash && splash != nullptr && splash->IsOpen())
      splash->LeaveTopmost();
  } catch (const RuntimeError&) {
    // A splash that cannot leave the topmost band must not keep the box away.
  }
  if (g.gblnSilent)
    return 0;
  try {
    return Sys().ShowMessageBox(Showable(message), Showable(shown_title), style);
  } catch (const RuntimeError&) {
    return 0;
  }
}

}  // namespace launcher
